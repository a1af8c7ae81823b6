#include <algorithm>

#include "support/collate/tables/collate_tables.h"
#include "support/collate/tables/collate_tables_data.h"

namespace dazi {

const QuickCollation* PrecompiledQuickCollation(std::string_view locale, bool& found) {
  using collate_tables::kLocales;
  found = false;
  const auto* end = kLocales + collate_tables::kLocaleCount;
  const auto* at = std::lower_bound(
      kLocales, end, locale, [](const collate_tables::LocaleWeights& entry, std::string_view name) {
        return entry.locale < name;
      });
  if (at == end || at->locale != locale) return nullptr;
  found = true;
  return at->weights < 0 ? nullptr : &collate_tables::kWeights[at->weights];
}

}  // namespace dazi
