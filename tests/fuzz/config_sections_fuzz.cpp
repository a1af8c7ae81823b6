// A whole configuration text through both section passes, with handlers that
// record what they are given. The record must match a plain reading of the
// rules of a section (header, other header, comment, blank, entry), must not
// change when line ends are spelled differently, and every entry carries its
// guard field last.

#include <vector>

#include "config/config_file.h"
#include "config/entry_splitter.h"
#include "tests/fuzz/fuzz_check.h"

namespace dazi::fuzz {
namespace {

constexpr std::string_view kGuard = "\r\n\r\n";

struct Entry {
  std::string name;
  std::vector<std::string> fields;
  bool operator==(const Entry&) const = default;
};

std::vector<std::string> Items(const TStringList& list) {
  std::vector<std::string> items;
  for (int32_t i = 0; i < list.Count(); ++i) items.push_back(list.ItemAt(i));
  return items;
}

std::vector<Entry> Recorded(std::string_view text, std::string_view header) {
  TStringList lines;
  lines.ReplaceWithLines(text);
  std::vector<Entry> entries;
  ReadSectionLines(lines, header, [&entries](const std::string& name, const TStringList& fields) {
    entries.push_back({name, Items(fields)});
  });
  return entries;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

// The lines of the text: up to its first NUL, split at CR LF, CR and LF.
std::vector<std::string_view> Lines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::vector<Entry> Expected(std::string_view text, std::string_view header) {
  std::vector<Entry> entries;
  bool inside = false;
  for (std::string_view line : Lines(text)) {
    const std::string_view t = Trimmed(line);
    std::string upper(t);
    for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    if (upper.starts_with(header)) {
      inside = true;
    } else if (inside && !t.empty() && t[0] == '[') {
      break;
    } else if (inside && !t.empty() && t[0] != ';') {
      TStringList fields;
      SplitEntry(fields, line);
      Entry entry{std::string(Trimmed(fields[0])), Items(fields)};
      entry.fields.emplace_back(kGuard);
      if (!entry.name.empty() && entry.name[0] == '"') {
        entry.name = entry.name.size() > 2 ? entry.name.substr(1, entry.name.size() - 2) : "";
      }
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

// The text with every run of line-end bytes made one LF: only blank lines
// differ, and those mean nothing.
std::string OneLineEndEach(std::string_view text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool lineEnd = text[i] == '\r' || text[i] == '\n';
    if (!lineEnd) {
      result += text[i];
    } else if (result.empty() || result.back() != '\n') {
      result += '\n';
    }
  }
  return result;
}

void Check(std::string_view text) {
  for (std::string_view header : {"[DIRECTORIES]", "[FILES]"}) {
    const std::vector<Entry> recorded = Recorded(text, header);
    FUZZ_CHECK(recorded == Expected(text, header));
    FUZZ_CHECK(recorded == Recorded(OneLineEndEach(text), header));
    for (const Entry& entry : recorded) {
      FUZZ_CHECK(entry.fields.size() >= 2 && entry.fields.back() == kGuard);
      FUZZ_CHECK(entry.name.size() <= entry.fields[0].size());
    }
  }
}

}  // namespace
}  // namespace dazi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dazi::fuzz::Check(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
