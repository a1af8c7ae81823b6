#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/list/string_list.h"
#include "support/list/text_file.h"
#include "support/runtime/exceptions.h"
#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/report.h"
#include "support/text/paths.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using test_support::TempTree;

HANDLE OpenElsewhere(const std::string& path, DWORD access, DWORD share) {
  return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

TEST(LoadFromTextFile, FailedOpenNamesTheSystemTextAndKeepsTheEntries) {
  TempTree tree;
  std::string busy = tree.Write("busy.env", "a\r\nb");
  HANDLE writer = OpenElsewhere(busy, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const std::pair<std::string, DWORD> cases[] = {
      {tree.Text() + "missing.env", ERROR_FILE_NOT_FOUND},
      {tree.Text(), ERROR_ACCESS_DENIED},
      {busy, ERROR_SHARING_VIOLATION}};
  for (const auto& [path, code] : cases) {
    std::string reason = SystemErrorText(static_cast<int>(code));
    ASSERT_FALSE(reason.empty());
    EXPECT_TRUE(reason.back() != '.' && static_cast<unsigned char>(reason.back()) > 32);
    TStringList list;
    list.Append("kept");
    try {
      list.LoadFromTextFile(path);
      ADD_FAILURE() << path;
    } catch (const EFOpenError& failure) {
      EXPECT_EQ(failure.Message(),
                FillTemplate(LoadMessage(DAZI_ID_FOPEN), {FullPathOf(path), reason}));
    }
    EXPECT_EQ(list.Count(), 1);
  }
  CloseHandle(writer);
}

TEST(LoadFromTextFile, ReadersElsewhereDoNotHinderAndTheFileIsClosedAfterwards) {
  TempTree tree;
  std::string path = tree.Write("read.env", "a\r\nb");
  HANDLE reader = OpenElsewhere(path, GENERIC_READ, FILE_SHARE_READ);
  TStringList list;
  list.LoadFromTextFile(path);
  EXPECT_EQ(list.Count(), 2);
  CloseHandle(reader);
  HANDLE alone = OpenElsewhere(path, GENERIC_READ | GENERIC_WRITE, 0);
  EXPECT_NE(alone, INVALID_HANDLE_VALUE);
  CloseHandle(alone);
}

}  // namespace
}  // namespace dazi
