#pragma once
// The data of the precompiled quick collations, written at build time by
// support/collate/tables/generate_posix.cpp. They hold for every ICU that the
// program loads, whose major version, named in its libraries' and entry
// points' names, is the one they were made with (the written source checks
// that it is the one the program is built against).

#include <cstddef>

#include "support/collate/collate.h"

namespace dazi::collate_tables {

struct LocaleWeights {
  const char* locale;
  int weights;  // index into kWeights; -1 when the locale has no plain character
};

extern const QuickCollation kWeights[];
extern const LocaleWeights kLocales[];  // sorted by locale name
extern const size_t kLocaleCount;

}  // namespace dazi::collate_tables
