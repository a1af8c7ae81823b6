#include "support/text/mask_match.h"

#include <vector>

#include "support/text/text.h"

namespace dazi {

namespace {

std::vector<std::string_view> SplitCharacters(std::string_view text, MaskCharStep step) {
  std::vector<std::string_view> chars;
  for (size_t pos = 0; pos < text.size();) {
    size_t length = step(text, pos);
    if (length == 0 || length > text.size() - pos) length = 1;
    chars.push_back(text.substr(pos, length));
    pos += length;
  }
  return chars;
}

}  // namespace

size_t StepSingleByte(std::string_view, size_t) {
  return 1;
}

size_t StepUtf8(std::string_view text, size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 1;
  if (length > text.size() - pos) return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

size_t StepTextLocale(std::string_view text, size_t pos) {
  return ByteKindAt(text, pos) == ByteKind::Lead && pos + 1 < text.size() ? 2 : 1;
}

bool MaskMatches(std::string_view mask, std::string_view name, MaskCharStep step) {
  if (mask == "*.*") return true;
  const std::vector<std::string_view> m = SplitCharacters(mask, step);
  const std::vector<std::string_view> n = SplitCharacters(name, step);
  // Greedy walk that goes back to the last '*' on a mismatch and lets it take
  // one more character; linear in practice, quadratic at worst.
  size_t mi = 0, ni = 0;
  size_t starAt = m.size(), resumeAt = 0;
  while (ni < n.size()) {
    if (mi < m.size() && m[mi] == "*") {
      starAt = mi++;
      resumeAt = ni;
    } else if (mi < m.size() && (m[mi] == "?" || m[mi] == n[ni])) {
      ++mi;
      ++ni;
    } else if (starAt != m.size()) {
      mi = starAt + 1;
      ni = ++resumeAt;
    } else {
      return false;
    }
  }
  while (mi < m.size() && m[mi] == "*") ++mi;
  return mi == m.size();
}

}  // namespace dazi
