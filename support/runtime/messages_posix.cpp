#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/text/codeset_posix.h"

namespace dazi {

namespace {

struct MessageEntry {
  int id;
  const char* text;
};

constexpr MessageEntry kMessages[] = {
    {DAZI_ID_REPORT, DAZI_TEXT_REPORT},
    {DAZI_ID_OUT_OF_MEMORY, DAZI_TEXT_OUT_OF_MEMORY},
    {DAZI_ID_LIST_INDEX, DAZI_TEXT_LIST_INDEX},
    {DAZI_ID_FOPEN, DAZI_TEXT_FOPEN},
    {DAZI_ID_LIBRARY, DAZI_TEXT_LIBRARY},
    {DAZI_ID_IO_FILE_NOT_FOUND, DAZI_TEXT_IO_FILE_NOT_FOUND},
    {DAZI_ID_IO_INVALID_NAME, DAZI_TEXT_IO_INVALID_NAME},
    {DAZI_ID_IO_TOO_MANY_FILES, DAZI_TEXT_IO_TOO_MANY_FILES},
    {DAZI_ID_IO_ACCESS_DENIED, DAZI_TEXT_IO_ACCESS_DENIED},
    {DAZI_ID_IO_READ_PAST_END, DAZI_TEXT_IO_READ_PAST_END},
    {DAZI_ID_IO_DISK_FULL, DAZI_TEXT_IO_DISK_FULL},
    {DAZI_ID_IO_INVALID_INPUT, DAZI_TEXT_IO_INVALID_INPUT},
    {DAZI_ID_IO_ERROR, DAZI_TEXT_IO_ERROR},
    {DAZI_ID_ACCESS_VIOLATION, DAZI_TEXT_ACCESS_VIOLATION},
    {DAZI_ID_STACK_OVERFLOW, DAZI_TEXT_STACK_OVERFLOW},
    {DAZI_ID_PRIVILEGE, DAZI_TEXT_PRIVILEGE},
    {DAZI_ID_DIV_BY_ZERO, DAZI_TEXT_DIV_BY_ZERO},
    {DAZI_ID_INT_OVERFLOW, DAZI_TEXT_INT_OVERFLOW},
    {DAZI_ID_RANGE_ERROR, DAZI_TEXT_RANGE_ERROR},
    {DAZI_ID_ZERO_DIVIDE, DAZI_TEXT_ZERO_DIVIDE},
    {DAZI_ID_OVERFLOW, DAZI_TEXT_OVERFLOW},
    {DAZI_ID_UNDERFLOW, DAZI_TEXT_UNDERFLOW},
    {DAZI_ID_INVALID_OP, DAZI_TEXT_INVALID_OP},
    {DAZI_ID_EXTERNAL, DAZI_TEXT_EXTERNAL},
};

// The templates are written in UTF-8; a locale with another character set
// gets them converted, with '?' for what it cannot show.
std::string ToLocaleCharset(const char* utf8) {
  if (LocaleCodeset() != Codeset::Other) return utf8;
  const char* codeset = nl_langinfo(CODESET);
  iconv_t converter = iconv_open(codeset, "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string result;
  char* in = const_cast<char*>(utf8);
  size_t inLeft = std::strlen(utf8);
  while (inLeft > 0) {
    char chunk[256];
    char* out = chunk;
    size_t outLeft = sizeof chunk;
    size_t done = iconv(converter, &in, &inLeft, &out, &outLeft);
    result.append(chunk, sizeof chunk - outLeft);
    if (done == static_cast<size_t>(-1) && errno != E2BIG) {
      result += '?';
      do {  // skip the rest of the character that cannot be shown
        ++in;
        --inLeft;
      } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
    }
  }
  iconv_close(converter);
  return result;
}

}  // namespace

std::string LoadMessage(int id) {
  for (const MessageEntry& entry : kMessages) {
    if (entry.id == id) return ToLocaleCharset(entry.text);
  }
  return std::string();
}

}  // namespace dazi
