// Mask matching against a plain recursive matcher (memoised, so that long
// runs of stars stay cheap), for each way of cutting names into characters:
// byte by byte, UTF-8 sequences, and double-byte characters of a random
// lead-byte set. The character steps themselves must stay inside the text.

#include <map>
#include <utility>
#include <vector>

#include "support/text/mask_match.h"
#include "tests/fuzz/fuzz_check.h"

namespace dazi::fuzz {
namespace {

std::vector<std::string_view> Characters(std::string_view text, MaskCharStep step) {
  std::vector<std::string_view> chars;
  for (size_t pos = 0; pos < text.size();) {
    const size_t length = step(text, pos);
    FUZZ_CHECK(length >= 1 && length <= text.size() - pos);
    chars.push_back(text.substr(pos, length));
    pos += length;
  }
  return chars;
}

class Matcher {
 public:
  Matcher(std::vector<std::string_view> mask, std::vector<std::string_view> name)
      : mask_(std::move(mask)), name_(std::move(name)) {}

  bool Matches(size_t m, size_t n) {
    if (m == mask_.size()) return n == name_.size();
    const auto key = std::make_pair(m, n);
    if (auto known = seen_.find(key); known != seen_.end()) return known->second;
    bool result;
    if (mask_[m] == "*") {
      result = Matches(m + 1, n) || (n < name_.size() && Matches(m, n + 1));
    } else {
      result =
          n < name_.size() && (mask_[m] == "?" || mask_[m] == name_[n]) && Matches(m + 1, n + 1);
    }
    return seen_[key] = result;
  }

 private:
  std::vector<std::string_view> mask_;
  std::vector<std::string_view> name_;
  std::map<std::pair<size_t, size_t>, bool> seen_;
};

void Check(std::string_view mask, std::string_view name, MaskCharStep step) {
  Matcher matcher(Characters(mask, step), Characters(name, step));
  const bool expected = mask == "*.*" || matcher.Matches(0, 0);
  FUZZ_CHECK(MaskMatches(mask, name, step) == expected);
}

}  // namespace
}  // namespace dazi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dazi;
  fuzz::Input input(data, size);
  const bool mapped = input.Flag();
  CurrentTextLocale() = fuzz::LeadByteLocale(input, input.Flag());
  std::string mask(input.Text());
  std::string name(input.Text());
  if (mask.size() > 256 || name.size() > 256) return 0;
  if (mapped) {
    // Stars, marks and a few letters, one of them of two UTF-8 bytes and one
    // a likely lead byte.
    mask = fuzz::OverAlphabet(mask, "**?.aAb\xc3\xa9\x81");
    name = fuzz::OverAlphabet(name, "?.aAb\xc3\xa9\x81*");
  }
  for (MaskCharStep step : {StepSingleByte, StepUtf8, StepTextLocale})
    fuzz::Check(mask, name, step);
  return 0;
}
