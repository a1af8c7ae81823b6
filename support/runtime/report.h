#pragma once
// Formatting of the failure report and of the run-time error line. Both work
// in caller-provided buffers and allocate nothing, so that exhausted memory can
// still be reported.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dazi {

inline constexpr size_t kReportLimit = 1023;

struct ReportFields {
  const char* className;
  const char* moduleName;
  uint64_t shownAddress;
  const char* message;
};

// Fills the report template (%s %s %p %s %s) into out, which has room for
// kReportLimit bytes plus a terminating zero; returns the length.
size_t FormatReport(const char* reportTemplate, const ReportFields& fields,
                    char (&out)[kReportLimit + 1]);

// "." when the message is not empty and does not end in a full stop.
const char* FullStopFor(const char* message);

// The 30 bytes of the run-time error line: 29 characters and a zero byte.
void FormatRuntimeErrorLine(int number, uint64_t address, char (&out)[30]);

// Fills %d and %s of a message template, in order, with the given texts.
std::string FillTemplate(std::string_view messageTemplate,
                         std::initializer_list<std::string_view> values);

// The last path component after a backslash or slash, at most 260 bytes.
std::string_view ModuleNameOf(std::string_view modulePath);

}  // namespace dazi
