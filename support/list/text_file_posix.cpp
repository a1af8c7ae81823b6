#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/list/text_file.h"
#include "support/text/posix_path.h"
#include "support/text/text.h"

namespace dazi {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { close(fd_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

TextFileRead NotOpened(int code) {
  TextFileRead result;
  result.errorCode = code;
  return result;
}

}  // namespace

TextFileRead ReadTextFile(const std::string& path) {
  const std::string native = ToSystemPath(path);
  // Without O_NONBLOCK a FIFO would wait here for a writer.
  int fd = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return NotOpened(errno);
  Descriptor file(fd);
  struct stat info;
  if (fstat(fd, &info) != 0) return NotOpened(errno);
  // A FIFO, a socket or a device would wait or never end.
  if (S_ISDIR(info.st_mode)) return NotOpened(EISDIR);
  if (!S_ISREG(info.st_mode)) return NotOpened(ENOTSUP);
  if (info.st_size > INT32_MAX - 1) return NotOpened(EFBIG);

  TextFileRead result;
  result.opened = true;
  size_t size = static_cast<size_t>(info.st_size);
  result.text.resize(size);
  size_t delivered = 0;
  while (delivered < size) {
    ssize_t count = read(fd, result.text.data() + delivered, size - delivered);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    delivered += static_cast<size_t>(count);
  }
  // A file that shrank meanwhile, or a failed read, keeps what came.
  result.text.resize(delivered);
  return result;
}

std::string SystemErrorText(int code) {
  return std::string(TrimSystemText(std::strerror(code)));
}

}  // namespace dazi
