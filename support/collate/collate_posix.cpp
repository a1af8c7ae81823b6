#include <cstdlib>
#include <string>

#include "support/collate/collate.h"
#include "support/collate/icu/icu_collation.h"
#include "support/collate/tables/collate_tables.h"

namespace dazi {

namespace {

struct UserLocale {
  std::string collation;
  std::string charset;
};

const UserLocale& UserLocaleOf() {
  static const UserLocale user{
      CollationLocaleOf(std::getenv("LC_ALL"), std::getenv("LC_COLLATE"), std::getenv("LANG")),
      UserCharset()};
  return user;
}

// Built when a comparison first needs it: a run whose texts are all plain
// sorts them with the precompiled quick collation alone.
const IcuCollation& UserCollation() {
  static const IcuCollation collation(UserLocaleOf().collation, UserLocaleOf().charset);
  return collation;
}

// The precompiled quick collation of the user's locale; found tells whether
// it is known without the collator.
const QuickCollation* PrecompiledUserQuickCollation(bool& found) {
  found = false;
  const UserLocale& user = UserLocaleOf();
  if (!IsUtf8Charset(user.charset)) return nullptr;
  return PrecompiledQuickCollation(user.collation, found);
}

}  // namespace

int LocaleCompareCaseless(std::string_view a, std::string_view b) {
  return UserCollation().Compare(a, b);
}

const QuickCollation* LocaleQuickCollation() {
  bool found = false;
  const QuickCollation* precompiled = PrecompiledUserQuickCollation(found);
  return found ? precompiled : UserCollation().Quick();
}

bool LocaleQuickCollationReady() {
  bool found = false;
  PrecompiledUserQuickCollation(found);
  return found;
}

}  // namespace dazi
