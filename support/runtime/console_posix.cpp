#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/runtime/console.h"
#include "support/runtime/process.h"

namespace dazi {

namespace {

class StdoutDevice : public OutputDevice {
 public:
  bool Open(bool& isCharDevice) override {
    struct stat info;
    if (platform::StandardHandleMissing(1) || fstat(1, &info) != 0) return false;
    isCharDevice = S_ISCHR(info.st_mode);
    return true;
  }

  int Write(const char* bytes, size_t count) override {
    while (count > 0) {
      ssize_t written = write(1, bytes, count);
      if (written < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      bytes += written;
      count -= static_cast<size_t>(written);
    }
    return 0;
  }
};

}  // namespace

OutputDevice& StandardOutputDevice() {
  static StdoutDevice device;
  return device;
}

}  // namespace dazi
