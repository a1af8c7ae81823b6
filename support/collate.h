#pragma once
// The caseless collation of the user's locale, the order of sorted lists.

#include <string_view>

namespace dazi {

// -1, 0 or +1 as a sorts before, with or after b. Strings that differ only in
// letter case compare equal; a string sorts before every longer string that
// begins with it followed by a backslash; the order is a consistent total
// order.
int LocaleCompareCaseless(std::string_view a, std::string_view b);

// Whether LocaleCompareQuick can compare the text: where the collation lets
// it (POSIX, a UTF-8 or ASCII locale), a text of printable ASCII characters
// that the collation weighs one at a time, as it does letters and digits.
bool LocaleQuickComparable(std::string_view text);

// LocaleCompareCaseless(a, b) for two texts that LocaleQuickComparable
// accepts, by a table of weights instead of the collation's own comparison.
int LocaleCompareQuick(std::string_view a, std::string_view b);

}  // namespace dazi
