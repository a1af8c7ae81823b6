#include <windows.h>

#include <cstdint>
#include <string>

#include "support/list/text_file.h"

namespace dazi {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { CloseHandle(handle_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// The file pointer moved as asked, as a 64-bit position; -1 when the call
// failed (a device or a pipe has no position).
int64_t MoveFilePointer(HANDLE handle, int64_t distance, DWORD method) {
  LONG high = static_cast<LONG>(distance >> 32);
  DWORD low = SetFilePointer(handle, static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  return (static_cast<int64_t>(high) << 32) | low;
}

}  // namespace

TextFileRead ReadTextFile(const std::string& path) {
  TextFileRead result;
  HANDLE opened = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    result.errorCode = static_cast<int>(GetLastError());
    return result;
  }
  Handle file(opened);
  int64_t position = MoveFilePointer(opened, 0, FILE_CURRENT);
  int64_t size = MoveFilePointer(opened, 0, FILE_END);
  if (position >= 0) position = MoveFilePointer(opened, position, FILE_BEGIN);
  int64_t count = position >= 0 && size > position ? size - position : 0;
  if (count > INT32_MAX - 1) {
    result.errorCode = ERROR_FILE_TOO_LARGE;
    return result;
  }
  result.opened = true;
  result.text.resize(static_cast<size_t>(count));
  DWORD delivered = 0;
  if (count > 0)
    ReadFile(opened, result.text.data(), static_cast<DWORD>(count), &delivered, nullptr);
  // A short or failed read keeps what it delivered.
  if (delivered < count) result.text.resize(delivered);
  return result;
}

std::string SystemErrorText(int code) {
  char buffer[256];
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  return std::string(TrimSystemText(std::string_view(buffer, length)));
}

}  // namespace dazi
