#pragma once
// Reading a whole text file for the string list, through the platform. The
// functions report failure only by their results; the list raises.

#include <string>
#include <string_view>

namespace dazi {

struct TextFileRead {
  bool opened = false;
  int errorCode = 0;  // the system's code when the file could not be opened
  std::string text;   // the bytes the read delivered
};

// Opens the file read-only (others may read it meanwhile, not write it),
// measures it and reads it with one request. Anything that is not a file that
// can be read to its end counts as not opened, as do files of 2 GiB or more.
TextFileRead ReadTextFile(const std::string& path);

// The system's text for an error code, without the blanks, control bytes and
// full stops at its end; empty when the system has none.
std::string SystemErrorText(int code);

// Removes trailing bytes from 0 to 32 and full stops.
inline std::string_view TrimSystemText(std::string_view text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.'))
    text.remove_suffix(1);
  return text;
}

}  // namespace dazi
