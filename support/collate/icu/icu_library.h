#pragma once
// The system's ICU, opened when the collation first needs it rather than when
// the program starts: a run whose names the precompiled quick collations
// decide never loads it. Distributions ship different major versions of ICU,
// and each names its libraries (libicuuc.so.72) and entry points (ucol_open_72)
// by it, so the program looks for them by version, newest first, and takes the
// first pair that loads. The table of entry points is typed by the
// declarations of the ICU headers the program is built with; the C functions
// it calls keep their signatures from version to version.

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

// The table, filled on the first call and the same for the rest of the run.
// Where no version's pair loads with all its entry points, raises an
// ELibraryError naming the library of the newest version that came furthest
// (or libicuuc.so where none was found); the next call tries again.
const IcuLibrary& Icu();

}  // namespace dazi
