#pragma once
// The data of the precompiled quick collations, written at build time by
// support/collate_tables/generate_posix.cpp.

#include <cstddef>

#include "support/collate.h"

namespace dazi::collate_tables {

struct LocaleWeights {
  const char* locale;
  int weights;  // index into kWeights; -1 when the locale has no plain character
};

extern const char kIcuVersion[];  // the ICU they were made with
extern const QuickCollation kWeights[];
extern const LocaleWeights kLocales[];  // sorted by locale name
extern const size_t kLocaleCount;

}  // namespace dazi::collate_tables
