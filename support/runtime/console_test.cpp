#include "support/runtime/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dazi {
namespace {

class RecordingDevice : public OutputDevice {
 public:
  bool available = true;
  bool charDevice = false;
  int failWith = 0;
  int opens = 0;
  std::vector<std::string> writes;

  bool Open(bool& isCharDevice) override {
    ++opens;
    isCharDevice = charDevice;
    return available;
  }
  int Write(const char* bytes, size_t count) override {
    writes.emplace_back(bytes, count);
    return failWith;
  }
};

TEST(OutputChannel, ConsoleLineIsOneWriteOfTextAndLineEnd) {
  RecordingDevice device;
  device.charDevice = true;
  OutputChannel channel(device);
  channel.WriteLine("Done.");
  ASSERT_EQ(device.writes.size(), 1u);
  EXPECT_EQ(device.writes[0], "Done.\r\n");
  channel.WriteLine("");
  EXPECT_EQ(device.writes.back(), "\r\n");
}

// The rename run prints an empty view after every path that was renamed;
// the sanitized build stops on any copy from its null pointer.
TEST(OutputChannel, EmptyViewWithoutStorageWritesOnlyTheLineEnd) {
  RecordingDevice device;
  device.charDevice = true;
  OutputChannel channel(device);
  channel.WriteText(std::string_view());
  EXPECT_TRUE(channel.IsOpen());
  EXPECT_EQ(channel.Fill(), 0u);
  channel.WriteLine(std::string_view());
  EXPECT_EQ(device.writes, std::vector<std::string>{"\r\n"});
}

TEST(OutputChannel, PipeWritesOnlyFullBuffersUntilTheRest) {
  RecordingDevice device;
  OutputChannel channel(device);
  channel.WriteText(std::string(300, 'x'));
  channel.FlushOutput();
  ASSERT_EQ(device.writes.size(), 2u);
  EXPECT_EQ(device.writes[0].size(), 128u);
  EXPECT_EQ(device.writes[1].size(), 128u);
  EXPECT_EQ(channel.Fill(), 44u);
  channel.WriteRest();
  EXPECT_EQ(device.writes.back().size(), 44u);
  EXPECT_EQ(channel.Fill(), 0u);
}

TEST(OutputChannel, TextFillingTheRoomExactlyIsWrittenAtOnce) {
  RecordingDevice device;
  OutputChannel channel(device);
  channel.WriteText(std::string(100, 'a'));
  channel.WriteText(std::string(28, 'b'));
  ASSERT_EQ(device.writes.size(), 1u);
  EXPECT_EQ(channel.Fill(), 0u);
}

TEST(OutputChannel, ConsoleFlushWritesPartialLine) {
  RecordingDevice device;
  device.charDevice = true;
  OutputChannel channel(device);
  channel.WriteText("abc");
  EXPECT_TRUE(device.writes.empty());
  channel.FlushOutput();
  ASSERT_EQ(device.writes.size(), 1u);
  EXPECT_EQ(device.writes[0], "abc");
}

TEST(OutputChannel, MissingOutputDropsTextAndRetriesOpening) {
  RecordingDevice device;
  device.available = false;
  OutputChannel channel(device);
  channel.WriteLine("lost");
  channel.WriteText("lost too");
  EXPECT_FALSE(channel.IsOpen());
  EXPECT_GE(device.opens, 2);
  EXPECT_EQ(channel.PendingIoError(), OutputChannel::kOpenFailed);
  EXPECT_TRUE(device.writes.empty());
}

TEST(OutputChannel, FailedWriteIsRememberedAndDropsTheRest) {
  RecordingDevice device;
  device.failWith = 28;
  OutputChannel channel(device);
  channel.WriteText(std::string(300, 'x'));
  EXPECT_EQ(device.writes.size(), 1u);
  EXPECT_EQ(channel.Fill(), 0u);
  EXPECT_EQ(channel.TakePendingIoError(), 28);
  EXPECT_EQ(channel.PendingIoError(), 0);
}

TEST(OutputChannel, FlushOnClosedChannelNeitherOpensNorRecords) {
  RecordingDevice device;
  OutputChannel channel(device);
  channel.FlushOutput();
  EXPECT_EQ(device.opens, 0);
  EXPECT_EQ(channel.PendingIoError(), 0);
}

}  // namespace
}  // namespace dazi
