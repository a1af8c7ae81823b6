#pragma once
// Buffered standard output. Text is gathered in a 128-byte buffer; on a
// character device (a console) every line and every FlushOutput reaches the
// screen at once, otherwise the bytes leave in pieces of 128 and at the end.
// Failures are never raised: the last one is kept in PendingIoError.

#include <cstddef>
#include <string_view>

namespace dazi {

class OutputDevice {
 public:
  virtual ~OutputDevice() = default;
  // Opens standard output; false when there is none. Sets isCharDevice.
  virtual bool Open(bool& isCharDevice) = 0;
  // Writes the bytes once; 0 on success, otherwise the system's error code.
  virtual int Write(const char* bytes, size_t count) = 0;
};

class OutputChannel {
 public:
  static constexpr size_t kBufferSize = 128;
  static constexpr int kOpenFailed = 105;

  explicit OutputChannel(OutputDevice& device) : device_(device) {}

  void WriteText(std::string_view text);
  void WriteLine(std::string_view text);
  void FlushOutput();
  // Writes whatever waits in the buffer, console or not (process end, report).
  void WriteRest();

  bool IsOpen() const { return open_; }
  size_t Fill() const { return fill_; }
  int PendingIoError() const { return pendingIoError_; }
  int TakePendingIoError();

 private:
  bool EnsureOpen();
  bool WriteOut();

  OutputDevice& device_;
  bool open_ = false;
  bool writeThrough_ = false;
  char buffer_[kBufferSize] = {};
  size_t fill_ = 0;
  int pendingIoError_ = 0;
};

// The process's standard output, and the channel over it.
OutputDevice& StandardOutputDevice();  // defined per platform
OutputChannel& StandardOutput();
void WriteText(std::string_view text);
void WriteLine(std::string_view text);
void FlushOutput();

}  // namespace dazi
