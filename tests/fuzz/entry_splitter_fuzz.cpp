// The entry-field splitter over arbitrary lines. What a line's structure
// dictates is worked out here on its own terms: one field more than the
// commas that separate before the first separating semicolon, every field
// trimmed, nothing but blanks gained or lost up to that semicolon, and an
// even number of quotes in every field that a separator closed.

#include <algorithm>

#include "config/entry_splitter.h"
#include "tests/fuzz/fuzz_check.h"

namespace dazi::fuzz {
namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string WithoutBlanks(std::string_view text) {
  std::string kept;
  std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
               [](char c) { return !IsBlank(c); });
  return kept;
}

void Check(std::string_view line) {
  size_t separatingCommas = 0;
  size_t entryEnd = line.size();
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && line[i] == ',') {
      ++separatingCommas;
    } else if (!quoted && line[i] == ';') {
      entryEnd = i;
      break;
    }
  }

  TStringList fields;
  fields.Append("left over");
  fields.Append("from the line before");
  SplitEntry(fields, line);

  FUZZ_CHECK(static_cast<size_t>(fields.Count()) == separatingCommas + 1);
  std::string joined;
  for (int32_t i = 0; i < fields.Count(); ++i) {
    const std::string_view field = fields[i];
    FUZZ_CHECK(field.empty() || (!IsBlank(field.front()) && !IsBlank(field.back())));
    if (i + 1 < fields.Count()) FUZZ_CHECK(std::count(field.begin(), field.end(), '"') % 2 == 0);
    if (i > 0) joined += ',';
    joined += field;
  }
  FUZZ_CHECK(WithoutBlanks(joined) == WithoutBlanks(line.substr(0, entryEnd)));
}

}  // namespace
}  // namespace dazi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dazi::fuzz::Input input(data, size);
  const bool mapped = input.Flag();
  const std::string_view line = input.Rest();
  if (mapped) {
    dazi::fuzz::Check(dazi::fuzz::OverAlphabet(line, ",;\" \tab\r\x01"));
  } else {
    dazi::fuzz::Check(line);
  }
  return 0;
}
