// The line splitter of text files. Its lines must be those of a plain reading
// (cut at the first NUL, CR LF made LF, then CR made LF, split at LF, no empty
// line after a final line end), they replace whatever the list held, and no
// byte but the line ends is lost.

#include <vector>

#include "support/list/string_list.h"
#include "tests/fuzz/fuzz_check.h"

namespace dazi::fuzz {
namespace {

std::vector<std::string> ExpectedLines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string unified;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    unified += text[i] == '\r' ? '\n' : text[i];
  }
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = unified.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(unified.substr(start, end - start));
  }
  if (start < unified.size()) lines.push_back(unified.substr(start));
  return lines;
}

void Check(std::string_view text) {
  TStringList list;
  for (int i = 0; i < 7; ++i) list.Append("left over");
  TStrings& strings = list;
  strings.ReplaceWithLines(text);

  std::vector<std::string> lines;
  std::string together;
  for (int32_t i = 0; i < list.Count(); ++i) {
    lines.push_back(list.ItemAt(i));
    together += lines.back();
    FUZZ_CHECK(lines.back().find_first_of("\r\n", 0, 2) == std::string::npos);
  }
  FUZZ_CHECK(lines == ExpectedLines(text));
  FUZZ_CHECK(list.EntryRoom() >= list.Count());

  std::string kept(text.substr(0, text.find('\0')));
  std::erase_if(kept, [](char c) { return c == '\r' || c == '\n'; });
  FUZZ_CHECK(together == kept);
}

}  // namespace
}  // namespace dazi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dazi::fuzz::Input input(data, size);
  const bool mapped = input.Flag();
  const std::string_view text = input.Rest();
  if (mapped) {
    dazi::fuzz::Check(dazi::fuzz::OverAlphabet(text, std::string_view("\r\n\r\na \t\0", 8)));
  } else {
    dazi::fuzz::Check(text);
  }
  return 0;
}
