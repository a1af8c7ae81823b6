#pragma once
// Matching of entry names against a search mask, as the POSIX directory
// search needs it: '*' stands for any run of characters including none, '?'
// for exactly one character, and "*.*" for every name. Letter case counts;
// callers upper-case mask and name alike first.

#include <cstddef>
#include <string_view>

namespace dazi {

// Number of bytes of the character that starts at pos (at least 1).
using MaskCharStep = size_t (*)(std::string_view text, size_t pos);

size_t StepSingleByte(std::string_view text, size_t pos);
// One UTF-8 sequence; a malformed or cut-off one counts byte by byte.
size_t StepUtf8(std::string_view text, size_t pos);
// A double-byte character of the text locale counts as one.
size_t StepTextLocale(std::string_view text, size_t pos);

bool MaskMatches(std::string_view mask, std::string_view name, MaskCharStep step = StepSingleByte);

}  // namespace dazi
