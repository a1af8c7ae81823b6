#include "support/fs/parked_name.h"

#include <gtest/gtest.h>

namespace dazi {
namespace {

TEST(ParkedName, NamesItsEntryAndNothingElse) {
  for (const char* name : {"abc.sys", "I386", "~DZ~x", "a b", "~"}) {
    EXPECT_EQ(NameOfParked(ParkedName(name)), name) << name;
  }
  for (const char* plain : {"abc.sys", "~DZ~", "~DZ", "x~DZ~y", "~dz~abc", ""}) {
    EXPECT_TRUE(NameOfParked(plain).empty()) << plain;
  }
}

}  // namespace
}  // namespace dazi
