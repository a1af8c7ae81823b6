#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/list/string_list.h"
#include "support/list/test_directory.h"
#include "support/list/text_file.h"
#include "support/runtime/exceptions.h"
#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/report.h"
#include "support/text/paths.h"

namespace dazi {

std::string MakeTestDirectory() {
  char base[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof base, base);
  std::string root = std::string(base, length <= MAX_PATH ? length : 0) + "dazi-" +
                     std::to_string(GetCurrentProcessId()) + "-";
  for (unsigned n = GetTickCount();; ++n) {
    std::string path = root + std::to_string(n);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path + "\\";
    if (GetLastError() != ERROR_ALREADY_EXISTS) return "C:\\nonexistent\\";
  }
}

namespace {

HANDLE OpenElsewhere(const std::string& path, DWORD access, DWORD share) {
  return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

TEST(LoadFromTextFile, FailedOpenNamesTheSystemTextAndKeepsTheEntries) {
  TestDirectory directory;
  std::string busy = directory.Write("busy.env", "a\r\nb");
  HANDLE writer = OpenElsewhere(busy, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const std::pair<std::string, DWORD> cases[] = {
      {directory.Path() + "missing.env", ERROR_FILE_NOT_FOUND},
      {directory.Path(), ERROR_ACCESS_DENIED},
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
  TestDirectory directory;
  std::string path = directory.Write("read.env", "a\r\nb");
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
