#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/list/string_list.h"
#include "support/runtime/exceptions.h"
#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/report.h"
#include "support/text/paths.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using test_support::TempTree;

// Anything but a regular file fails to open, and promptly: a FIFO would wait
// for a writer and a device might never end. The entries stay.
TEST(LoadFromTextFile, OnlyARegularFileOpens) {
  TempTree tree;
  std::string fifo = tree.Text() + "fifo", huge = tree.Write("huge", "");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(truncate(huge.c_str(), off_t{1} << 31), 0);
  const std::pair<std::string, int> cases[] = {{fifo, ENOTSUP},
                                               {"/dev/zero", ENOTSUP},
                                               {tree.Text(), EISDIR},
                                               {huge, EFBIG},
                                               {tree.Text() + "missing.env", ENOENT}};
  for (const auto& [path, code] : cases) {
    TStringList list;
    list.Append("kept");
    try {
      list.LoadFromTextFile(path);
      ADD_FAILURE() << path;
    } catch (const EFOpenError& failure) {
      EXPECT_EQ(failure.Message(),
                FillTemplate(LoadMessage(DAZI_ID_FOPEN), {FullPathOf(path), std::strerror(code)}));
    }
    EXPECT_EQ(list.Count(), 1);
  }
}

TEST(LoadFromTextFile, BackslashesOfThePathAreSeparators) {
  TempTree tree;
  ASSERT_EQ(mkdir((tree.Text() + "sub").c_str(), 0700), 0);
  tree.Write("sub/dazi.env", "[FILES]\r\nx\r\n");
  TStringList list;
  list.LoadFromTextFile(tree.Text() + "sub\\dazi.env");
  EXPECT_EQ(list.Count(), 2);
}

}  // namespace
}  // namespace dazi
