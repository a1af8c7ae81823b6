#pragma once
// The system's ICU, opened when the collation first needs it rather than when
// the program starts: a run whose names the precompiled quick collations
// decide never loads it. The program uses the ICU it was built against: its
// libraries by their versioned names (libicuuc.so.72) and its entry points by
// the names the ICU headers give them (ucol_open is ucol_open_72), looked up
// once into a table typed by the headers' own declarations.

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ucol.h>
#include <unicode/uset.h>

// The entry points the collation calls, by the library that holds them.
// clang-format off
#define DAZI_ICU_UC_FUNCTIONS(X) \
  X(ucnv_close) X(ucnv_open) X(ucnv_setToUCallBack) X(ucnv_toUChars) \
  X(UCNV_TO_U_CALLBACK_SUBSTITUTE) X(uset_close) X(uset_getItem) X(uset_getItemCount)
#define DAZI_ICU_I18N_FUNCTIONS(X) \
  X(ucol_close) X(ucol_getRules) X(ucol_getSortKey) X(ucol_getTailoredSet) X(ucol_open) \
  X(ucol_openRules) X(ucol_setAttribute) X(ucol_setStrength) X(ucol_strcoll) \
  X(ucol_strcollUTF8)
// clang-format on

namespace dazi {

// Members are named as the headers name the functions, so that icu.ucol_open
// reads like the call it stands for.
struct IcuLibrary {
#define DAZI_ICU_MEMBER(name) decltype(&::name) name = nullptr;
  DAZI_ICU_UC_FUNCTIONS(DAZI_ICU_MEMBER)
  DAZI_ICU_I18N_FUNCTIONS(DAZI_ICU_MEMBER)
#undef DAZI_ICU_MEMBER
};

// The table, filled on the first call. Where a library cannot be opened or
// lacks an entry point (missing, or of another ICU version), raises an
// ELibraryError naming it; the next call tries again.
const IcuLibrary& Icu();

}  // namespace dazi
