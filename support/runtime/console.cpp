#include "support/runtime/console.h"

#include <cstring>

namespace dazi {

namespace {
constexpr std::string_view kLineEnd = "\r\n";
}

bool OutputChannel::EnsureOpen() {
  if (open_) return true;
  fill_ = 0;
  bool isCharDevice = false;
  if (!device_.Open(isCharDevice)) {
    pendingIoError_ = kOpenFailed;
    return false;
  }
  writeThrough_ = isCharDevice;
  open_ = true;
  return true;
}

bool OutputChannel::WriteOut() {
  if (fill_ == 0) return true;
  int error = device_.Write(buffer_, fill_);
  fill_ = 0;
  if (error != 0) pendingIoError_ = error;
  return error == 0;
}

void OutputChannel::WriteText(std::string_view text) {
  if (!EnsureOpen()) return;
  while (text.size() >= kBufferSize - fill_) {
    size_t room = kBufferSize - fill_;
    std::memcpy(buffer_ + fill_, text.data(), room);
    fill_ = kBufferSize;
    text.remove_prefix(room);
    if (!WriteOut()) return;
  }
  // An empty view may have no storage at all, and memcpy must not be given
  // a null pointer even for no bytes.
  if (!text.empty()) std::memcpy(buffer_ + fill_, text.data(), text.size());
  fill_ += text.size();
}

void OutputChannel::WriteLine(std::string_view text) {
  WriteText(text);
  WriteText(kLineEnd);
  FlushOutput();
}

void OutputChannel::FlushOutput() {
  if (open_ && writeThrough_) WriteOut();
}

void OutputChannel::WriteRest() {
  if (open_) WriteOut();
}

int OutputChannel::TakePendingIoError() {
  int code = pendingIoError_;
  pendingIoError_ = 0;
  return code;
}

OutputChannel& StandardOutput() {
  static OutputChannel channel(StandardOutputDevice());
  return channel;
}

void WriteText(std::string_view text) {
  StandardOutput().WriteText(text);
}
void WriteLine(std::string_view text) {
  StandardOutput().WriteLine(text);
}
void FlushOutput() {
  StandardOutput().FlushOutput();
}

}  // namespace dazi
