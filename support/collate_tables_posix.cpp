#include <unicode/uversion.h>

#include <algorithm>
#include <cstring>

#include "support/collate_tables.h"
#include "support/collate_tables_data.h"

namespace dazi {

namespace {

bool SameIcuRunning() {
  UVersionInfo running;
  u_getVersion(running);
  char text[U_MAX_VERSION_STRING_LENGTH];
  u_versionToString(running, text);
  return std::strcmp(text, collate_tables::kIcuVersion) == 0;
}

}  // namespace

const QuickCollation* PrecompiledQuickCollation(std::string_view locale, bool& found) {
  using collate_tables::kLocales;
  found = false;
  static const bool usable = SameIcuRunning();
  if (!usable) return nullptr;
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
