#include <windows.h>

#include <string_view>

#include "support/collate/collate.h"

namespace dazi {

int LocaleCompareCaseless(std::string_view a, std::string_view b) {
  // An empty text is passed as a text of length 0, never as a null pointer.
  const char* first = a.empty() ? "" : a.data();
  const char* second = b.empty() ? "" : b.data();
  int result = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, first,
                              static_cast<int>(a.size()), second, static_cast<int>(b.size()));
  if (result != 0) return result - 2;
  // The call failed: its 0 must not be read as "less than". The bytes decide.
  int bytes = a.compare(b);
  return (bytes > 0) - (bytes < 0);
}

// Every comparison goes to the platform.
const QuickCollation* LocaleQuickCollation() {
  return nullptr;
}

bool LocaleQuickCollationReady() {
  return false;
}

}  // namespace dazi
