#include "support/runtime/report.h"

#include <cstring>

#include "support/text/text.h"

namespace dazi {

namespace {

// Appends bytes to a bounded output, cutting at the limit.
struct BoundedText {
  char* out;
  size_t size = 0;
  void Append(const char* text, size_t count) {
    size_t room = kReportLimit - size;
    if (count > room) count = room;
    std::memcpy(out + size, text, count);
    size += count;
  }
  void Append(const char* text) { Append(text, std::strlen(text)); }
};

// Upper-case hexadecimal digits, at least eight, into a buffer of 17 bytes.
void HexDigits(uint64_t value, char (&digits)[17]) {
  int count = 0;
  char reversed[16];
  do {
    reversed[count++] = "0123456789ABCDEF"[value & 15];
    value >>= 4;
  } while (value != 0);
  while (count < 8) reversed[count++] = '0';
  for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  digits[count] = '\0';
}

}  // namespace

const char* FullStopFor(const char* message) {
  size_t length = std::strlen(message);
  return length != 0 && message[length - 1] != '.' ? "." : "";
}

size_t FormatReport(const char* reportTemplate, const ReportFields& fields,
                    char (&out)[kReportLimit + 1]) {
  char address[17];
  HexDigits(fields.shownAddress, address);
  const char* strings[] = {fields.className, fields.moduleName, fields.message,
                           FullStopFor(fields.message)};
  size_t nextString = 0;
  BoundedText text{out};
  for (const char* p = reportTemplate; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 'p') {
      text.Append(address);
      ++p;
    } else if (p[0] == '%' && p[1] == 's') {
      if (nextString < 4) text.Append(strings[nextString++]);
      ++p;
    } else {
      text.Append(p, 1);
    }
  }
  out[text.size] = '\0';
  return text.size;
}

void FormatRuntimeErrorLine(int number, uint64_t address, char (&out)[30]) {
  std::memcpy(out, "Runtime error     at 00000000", 30);
  unsigned value = static_cast<unsigned>(number);
  for (int at = 16; at >= 0; --at) {
    out[at] = static_cast<char>('0' + value % 10);
    value /= 10;
    if (value == 0) break;
  }
  uint32_t bits = static_cast<uint32_t>(address);
  for (int at = 28; bits != 0 && at >= 21; --at, bits >>= 4)
    out[at] = "0123456789ABCDEF"[bits & 15];
}

std::string FillTemplate(std::string_view messageTemplate,
                         std::initializer_list<std::string_view> values) {
  std::string result;
  auto next = values.begin();
  for (size_t i = 0; i < messageTemplate.size(); ++i) {
    bool placeholder = messageTemplate[i] == '%' && i + 1 < messageTemplate.size() &&
                       (messageTemplate[i + 1] == 's' || messageTemplate[i + 1] == 'd');
    if (placeholder && next != values.end()) {
      result += *next++;
      ++i;
    } else {
      result += messageTemplate[i];
    }
  }
  return result;
}

std::string_view ModuleNameOf(std::string_view modulePath) {
  int cut = LastSeparatorIndex(NativePathStyle().trailing, modulePath);
  return modulePath.substr(static_cast<size_t>(cut)).substr(0, 260);
}

}  // namespace dazi
