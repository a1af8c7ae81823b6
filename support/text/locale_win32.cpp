#include <windows.h>

#include <string>

#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi {

namespace {

bool IsWesternLanguage(unsigned primary) {
  static constexpr unsigned kWestern[] = {0x00, 0x06, 0x07, 0x09, 0x0A, 0x0B,
                                          0x0C, 0x10, 0x13, 0x14, 0x16, 0x1D};
  for (unsigned language : kWestern) {
    if (language == primary) return true;
  }
  return false;
}

void FillLeadBytes(LCID localeId, TextLocale& locale) {
  // Zeroed so that a failed query leaves an empty text and GetACP() decides.
  char codePageText[7] = {};
  GetLocaleInfoA(localeId, LOCALE_IDEFAULTANSICODEPAGE, codePageText, sizeof codePageText);
  codePageText[sizeof codePageText - 1] = '\0';
  int32_t codePage = ToIntDef(codePageText, static_cast<int32_t>(GetACP()));

  CPINFO info = {};
  if (!GetCPInfo(static_cast<UINT>(codePage), &info)) return;
  for (int pair = 0; pair + 1 < MAX_LEADBYTES; pair += 2) {
    BYTE low = info.LeadByte[pair];
    BYTE high = info.LeadByte[pair + 1];
    if (low == 0 && high == 0) break;
    for (int byte = low; byte <= high; ++byte) locale.leadByteSet[byte] = true;
  }
}

bool AnyLeadByte(const TextLocale& locale) {
  for (bool lead : locale.leadByteSet) {
    if (lead) return true;
  }
  return false;
}

}  // namespace

void InitTextLocale() {
  LCID localeId = GetThreadLocale();
  if (localeId == 0) localeId = 0x0409;
  unsigned primary = (localeId & 0xFFFF) == 0 ? 0x09 : localeId & 0x3FF;

  TextLocale& locale = CurrentTextLocale();
  locale.leadByteSet.fill(false);
  locale.doubleByteMode = false;

  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    if (IsWesternLanguage(primary)) return;
    FillLeadBytes(localeId, locale);
    locale.doubleByteMode = AnyLeadByte(locale);
  } else {
    locale.doubleByteMode = GetSystemMetrics(SM_DBCSENABLED) != 0;
    FillLeadBytes(localeId, locale);
  }
}

std::string LocaleUpperCase(std::string_view text) {
  std::string result(text);
  if (!result.empty()) CharUpperBuffA(result.data(), static_cast<DWORD>(result.size()));
  return result;
}

bool LocaleEqual(std::string_view a, std::string_view b, bool ignoreCase) {
  // An empty view may carry a null pointer, which CompareStringA rejects.
  const char* first = a.empty() ? "" : a.data();
  const char* second = b.empty() ? "" : b.data();
  return CompareStringA(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, first,
                        static_cast<int>(a.size()), second,
                        static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace dazi
