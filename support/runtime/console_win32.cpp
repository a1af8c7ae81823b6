#include <windows.h>

#include "support/runtime/console.h"

namespace dazi {

namespace {

class StdoutDevice : public OutputDevice {
 public:
  bool Open(bool& isCharDevice) override {
    handle_ = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    DWORD type = GetFileType(handle_);
    if (type == FILE_TYPE_UNKNOWN) {
      CloseHandle(handle_);
      return false;
    }
    isCharDevice = type == FILE_TYPE_CHAR;
    return true;
  }

  int Write(const char* bytes, size_t count) override {
    DWORD written = 0;
    if (WriteFile(handle_, bytes, static_cast<DWORD>(count), &written, nullptr)) return 0;
    return static_cast<int>(GetLastError());
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

OutputDevice& StandardOutputDevice() {
  static StdoutDevice device;
  return device;
}

}  // namespace dazi
