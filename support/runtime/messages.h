#pragma once
// The runtime support's message templates, held among the program's string
// resources (Windows) or in a built-in table converted to the locale's
// character set (POSIX). Ids are those of support/message_texts.h.

#include <string>

namespace dazi {

// The template with that id in the ANSI code page (the locale's character set
// on POSIX); empty when there is none.
std::string LoadMessage(int id);

// The EInOutError message for a code ("I/O エラー (%d)" for most codes).
std::string InOutErrorMessage(int code);

}  // namespace dazi
