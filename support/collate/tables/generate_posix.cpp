// Writes the C++ source of the precompiled quick collations (see
// support/collate/tables/collate_tables.h) to the file named by its argument: every locale that ICU
// lists, legacy names included, with the weights that IcuCollation gives it. Locales with the same
// collation rules share one build of the collator, and equal weights are written once.

#include <unicode/uloc.h>
#include <unicode/uversion.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/collate/icu/icu_collation.h"
#include "support/collate/icu/icu_library.h"
#include "support/collate/tables/collate_tables.h"

namespace dazi {

// The generator is what makes the tables, so it has none.
const QuickCollation* PrecompiledQuickCollation(std::string_view, bool& found) {
  found = false;
  return nullptr;
}

// It is linked against ICU, whose functions the collation calls directly.
const IcuLibrary& Icu() {
#define DAZI_ICU_LINKED(name) .name = &::name,
  static const IcuLibrary icu{DAZI_ICU_UC_FUNCTIONS(DAZI_ICU_LINKED)
                                  DAZI_ICU_I18N_FUNCTIONS(DAZI_ICU_LINKED)};
#undef DAZI_ICU_LINKED
  return icu;
}

namespace {

std::vector<std::string> AvailableLocales() {
  std::vector<std::string> names{"root"};
  UErrorCode status = U_ZERO_ERROR;
  UEnumeration* all = uloc_openAvailableByType(ULOC_AVAILABLE_WITH_LEGACY_ALIASES, &status);
  while (const char* name = U_SUCCESS(status) ? uenum_next(all, nullptr, &status) : nullptr) {
    names.emplace_back(name);
  }
  uenum_close(all);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

std::u16string RulesOf(const std::string& locale) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(locale.c_str(), &status);
  if (U_FAILURE(status)) return u"?failed";
  int32_t length = 0;
  const UChar* rules = ucol_getRules(collator, &length);
  std::u16string result(rules, static_cast<size_t>(length));
  ucol_close(collator);
  return result;
}

// The weights as the text of an array initialiser; empty for none.
std::string WeightsText(const QuickCollation* quick) {
  if (quick == nullptr) return std::string();
  std::string text;
  for (uint8_t weight : quick->weight) text += std::to_string(weight) + ",";
  return text;
}

}  // namespace
}  // namespace dazi

int main(int argc, char** argv) {
  using namespace dazi;
  if (argc != 2) return 2;
  std::map<std::u16string, std::string> weightsOfRules;
  std::map<std::string, int> indexOfWeights;
  std::vector<std::string> tables;
  std::vector<std::pair<std::string, int>> entries;  // -1: no plain character
  for (const std::string& locale : AvailableLocales()) {
    const std::u16string rules = RulesOf(locale);
    auto known = weightsOfRules.find(rules);
    if (known == weightsOfRules.end()) {
      const IcuCollation collation(locale, "UTF-8");
      known = weightsOfRules.emplace(rules, WeightsText(collation.Quick())).first;
    }
    int index = -1;
    if (!known->second.empty()) {
      auto [at, added] = indexOfWeights.emplace(known->second, static_cast<int>(tables.size()));
      if (added) tables.push_back(known->second);
      index = at->second;
    }
    entries.emplace_back(locale, index);
  }
  // Written beside the target and renamed when complete, so that a failed
  // run leaves no file that the build would take for up to date.
  const std::string partial = std::string(argv[1]) + ".partial";
  std::FILE* out = std::fopen(partial.c_str(), "w");
  if (out == nullptr) return 1;
  std::fprintf(out, "// Made by dazi_collate_tables at build time; do not edit.\n");
  std::fprintf(out, "#include <unicode/uvernum.h>\n\n");
  std::fprintf(out, "#include \"support/collate/tables/collate_tables_data.h\"\n\n");
  std::fprintf(out, "static_assert(U_ICU_VERSION_MAJOR_NUM == %d, \"made with ICU %s\");\n\n",
               U_ICU_VERSION_MAJOR_NUM, U_ICU_VERSION);
  std::fprintf(out, "namespace dazi::collate_tables {\n\n");
  std::fprintf(out, "const QuickCollation kWeights[] = {\n");
  for (const std::string& table : tables) std::fprintf(out, "    {{%s}},\n", table.c_str());
  std::fprintf(out, "};\n\nconst LocaleWeights kLocales[] = {\n");
  for (const auto& [locale, index] : entries)
    std::fprintf(out, "    {\"%s\", %d},\n", locale.c_str(), index);
  std::fprintf(out,
               "};\n\nconst size_t kLocaleCount = %zu;\n\n}  // namespace dazi::collate_tables\n",
               entries.size());
  const bool failed = std::ferror(out) != 0;
  if (std::fclose(out) != 0 || failed) return 1;
  return std::rename(partial.c_str(), argv[1]) == 0 ? 0 : 1;
}
