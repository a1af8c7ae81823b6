#pragma once
// The caseless collation of the user's locale, the order of sorted lists.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace dazi {

// -1, 0 or +1 as a sorts before, with or after b. Strings that differ only in
// letter case compare equal; a string sorts before every longer string that
// begins with it followed by a backslash; the order is a consistent total
// order.
int LocaleCompareCaseless(std::string_view a, std::string_view b);

// Weights of single bytes by which texts of plain characters compare exactly
// as LocaleCompareCaseless compares them, so that a long sort can compare
// such texts without calling it. A text is plain when every byte of it has a
// weight; a byte without one weighs 0.
struct QuickCollation {
  std::array<uint8_t, 256> weight{};

  bool Takes(std::string_view text) const {
    for (char c : text) {
      if (weight[static_cast<unsigned char>(c)] == 0) return false;
    }
    return true;
  }

  // LocaleCompareCaseless(a, b) for two texts that it takes: their bytes'
  // weights compared one by one, the shorter text first when one begins the
  // other. Equal bytes weigh the same, so only differing ones are looked up.
  int Compare(std::string_view a, std::string_view b) const {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = EqualBeginning(a, b, common); i < common; ++i) {
      if (a[i] == b[i]) continue;
      const int x = weight[static_cast<unsigned char>(a[i])];
      const int y = weight[static_cast<unsigned char>(b[i])];
      if (x != y) return x < y ? -1 : 1;
    }
    return (a.size() > b.size()) - (a.size() < b.size());
  }

  // The number of equal bytes at the start of two texts, up to common,
  // compared eight at a time.
  static size_t EqualBeginning(std::string_view a, std::string_view b, size_t common) {
    size_t i = 0;
    for (uint64_t x, y; i + 8 <= common; i += 8) {
      std::memcpy(&x, a.data() + i, 8);
      std::memcpy(&y, b.data() + i, 8);
      if (x == y) continue;
      const int bits = std::endian::native == std::endian::little ? std::countr_zero(x ^ y)
                                                                  : std::countl_zero(x ^ y);
      return i + static_cast<size_t>(bits / 8);
    }
    while (i < common && a[i] == b[i]) ++i;
    return i;
  }
};

// The user's quick collation; null where the platform has none or no
// character is plain (on Windows, and in locales of other character sets).
const QuickCollation* LocaleQuickCollation();

// Whether LocaleQuickCollation is at hand without building anything (its
// weights were made when the program was built), so that short lists can use
// it too.
bool LocaleQuickCollationReady();

}  // namespace dazi
