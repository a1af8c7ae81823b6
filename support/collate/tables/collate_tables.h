#pragma once
// Quick collations made when the program is built, one for each locale that
// ICU knows, so that a run whose texts are all plain sorts them without
// building the collator at all.

#include <string_view>

#include "support/collate/collate.h"

namespace dazi {

// The quick collation that IcuCollation(locale, "UTF-8") makes, as made when
// the program was built; null when that one has no plain character or when the
// locale was not among those made. found tells whether the answer is known
// without the collator (every case but the last).
const QuickCollation* PrecompiledQuickCollation(std::string_view locale, bool& found);

}  // namespace dazi
