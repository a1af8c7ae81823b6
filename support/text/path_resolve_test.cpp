#include "support/text/path_resolve.h"

#include <gtest/gtest.h>

namespace dazi {
namespace {

struct ResolveCase {
  const char* cwd;
  const char* path;
  const char* expected;
};

class ResolvePathTextTest : public testing::TestWithParam<ResolveCase> {};

TEST_P(ResolvePathTextTest, ResolvesByTextAlone) {
  const ResolveCase& c = GetParam();
  EXPECT_EQ(ResolvePathText(c.cwd, c.path), c.expected) << "cwd " << c.cwd << ", path " << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ResolvePathTextTest,
    testing::Values(
        ResolveCase{"/work", ".\\out", "/work/out"}, ResolveCase{"/work/x", "..\\b", "/work/b"},
        ResolveCase{"/work", "a/b\\c", "/work/a/b/c"}, ResolveCase{"/work", ".", "/work"},
        ResolveCase{"/work", "a/..", "/work"}, ResolveCase{"/work", "sub\\", "/work/sub/"},
        ResolveCase{"/work", "a/../", "/work/"}, ResolveCase{"/work", "...", "/work/..."},
        ResolveCase{"/work/", "a//b\\\\c", "/work/a/b/c"},
        // Absolute paths ignore the current directory.
        ResolveCase{"/work", "/abs//p/./q/../r", "/abs/p/r"}, ResolveCase{"/work", "\\abs", "/abs"},
        ResolveCase{"/work", "//", "/"},
        // ".." at the root stays there.
        ResolveCase{"/", "..", "/"}, ResolveCase{"/", "./", "/"},
        ResolveCase{"/work", "..\\..\\..\\a", "/a"}, ResolveCase{"/work", "/../x/", "/x/"},
        // No path, no absolute form.
        ResolveCase{"/work", "", ""}));

}  // namespace
}  // namespace dazi
