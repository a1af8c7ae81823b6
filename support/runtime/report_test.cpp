#include "support/runtime/report.h"

#include <gtest/gtest.h>

#include <string>

#include "support/runtime/message_texts.h"

namespace dazi {
namespace {

std::string Report(const ReportFields& fields, const char* reportTemplate = DAZI_TEXT_REPORT) {
  char out[kReportLimit + 1];
  size_t length = FormatReport(reportTemplate, fields, out);
  EXPECT_EQ(length, std::string(out).size());
  return std::string(out, length);
}

TEST(FailureReport, LayoutOfClassModuleAddressMessageAndFullStop) {
  EXPECT_EQ(Report({"EOutOfMemory", "DAZI.exe", 0x1A2B, "メモリが足りません"}),
            "EOutOfMemory がモジュール DAZI.exe の 00001A2B で発生しました。\r\n"
            "メモリが足りません.\r\n");
}

struct FullStopCase {
  const char* message;
  const char* stop;
};

class FullStopRule : public testing::TestWithParam<FullStopCase> {};

TEST_P(FullStopRule, AddsFullStopOnlyWhereMissing) {
  EXPECT_STREQ(FullStopFor(GetParam().message), GetParam().stop);
}

INSTANTIATE_TEST_SUITE_P(Messages, FullStopRule,
                         testing::Values(FullStopCase{"", ""}, FullStopCase{"done.", ""},
                                         FullStopCase{"は開けません", "."},
                                         FullStopCase{"終わり。", "."}, FullStopCase{"x", "."}));

TEST(FailureReport, AddressHasEightUpperCaseDigitsAtLeast) {
  EXPECT_NE(Report({"E", "m", 0, ""}).find(" 00000000 "), std::string::npos);
  EXPECT_NE(Report({"E", "m", 0xABCDEF01, ""}).find(" ABCDEF01 "), std::string::npos);
}

TEST(FailureReport, LongTextIsCutAt1023Bytes) {
  std::string message(5000, 'x');
  std::string report = Report({"EFOpenError", "DAZI.exe", 1, message.c_str()});
  EXPECT_EQ(report.size(), kReportLimit);
  EXPECT_EQ(report.substr(0, 12), "EFOpenError ");
}

struct RuntimeErrorCase {
  int number;
  uint64_t address;
  const char* line;
};

class RuntimeErrorLine : public testing::TestWithParam<RuntimeErrorCase> {};

TEST_P(RuntimeErrorLine, FillsTemplateFromTheRight) {
  char out[30];
  FormatRuntimeErrorLine(GetParam().number, GetParam().address, out);
  EXPECT_EQ(std::string(out, 30), std::string(GetParam().line, 29) + '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, RuntimeErrorLine,
    testing::Values(RuntimeErrorCase{217, 0x401A2C, "Runtime error 217 at 00401A2C"},
                    RuntimeErrorCase{5, 0, "Runtime error   5 at 00000000"},
                    RuntimeErrorCase{255, 0xFFFFFFFF, "Runtime error 255 at FFFFFFFF"},
                    RuntimeErrorCase{1234, 0x10, "Runtime error1234 at 00000010"}));

TEST(MessageTemplate, FillsPlaceholdersInOrder) {
  EXPECT_EQ(FillTemplate("リストのインデックスが範囲を超えています (%d)", {"-1"}),
            "リストのインデックスが範囲を超えています (-1)");
  EXPECT_EQ(FillTemplate("ファイル \"%s\". %s は開けません", {"C:\\a.env", "denied"}),
            "ファイル \"C:\\a.env\". denied は開けません");
  EXPECT_EQ(FillTemplate("100%", {}), "100%");
}

TEST(ModuleName, IsTheLastComponent) {
  EXPECT_EQ(ModuleNameOf("C:\\tools\\DAZI.exe"), "DAZI.exe");
  EXPECT_EQ(ModuleNameOf("DAZI.exe"), "DAZI.exe");
}

}  // namespace
}  // namespace dazi
