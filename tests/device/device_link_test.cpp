#include "device/device_link.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/scripted_platform.h"
#include "sim/scripted_usb_port.h"

namespace kelvro {
namespace {

using Bytes = std::vector<uint8_t>;
using sim::ScriptedUsbPort;

// A platform whose message box can run code while it is "on screen", as a modal box
// dispatching a timer tick would.
class HookedPlatform : public sim::ScriptedPlatform {
 public:
  std::function<void()> during_message_box;
  MessageBoxAnswer MessageBox(std::string_view text, MessageBoxKind kind) override {
    if (during_message_box) during_message_box();
    return ScriptedPlatform::MessageBox(text, kind);
  }
};

class DeviceLinkTest : public ::testing::Test {
 protected:
  DeviceLinkTest() { port.control_answers[0xE0] = {'0', '1', '.', '2', '2'}; }

  void OpenLink() {
    ASSERT_TRUE(link.Open());
    ASSERT_TRUE(link.IsOpen());
  }

  Bytes Report(uint8_t fill) {
    Bytes r(60, 0);
    r[0] = 0x3C;
    r[40] = fill;
    return r;
  }

  ScriptedUsbPort port;
  HookedPlatform platform;
  DeviceLink link{port, platform};
};

// ---- open, close, firmware version ----

TEST_F(DeviceLinkTest, VersionIsDefaultUntilFirstOpenThenTheDevicesText) {
  EXPECT_EQ(link.FirmwareVersion(), "00.00");
  OpenLink();
  EXPECT_EQ(link.FirmwareVersion(), "01.22");
  ASSERT_EQ(port.control_calls.size(), 1u);
  EXPECT_EQ(port.control_calls[0].request, 0xE0);
  EXPECT_EQ(port.control_calls[0].length, 5);
  link.Close();
  EXPECT_EQ(link.FirmwareVersion(), "01.22");  // kept after close
}

TEST_F(DeviceLinkTest, FailedVersionRequestFailsTheOpenAndClosesTheLink) {
  OpenLink();
  port.control_answers.clear();
  const int closes_before = port.close_calls;
  EXPECT_FALSE(link.Open());
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(port.is_open);
  EXPECT_GT(port.close_calls, closes_before);
  EXPECT_EQ(link.FirmwareVersion(), "01.22");  // the last good text stays
  // Commands after the failed open are dropped.
  EXPECT_FALSE(link.SendCommand(CommandCode::EndProbe));
  EXPECT_TRUE(port.writes.empty());
}

TEST_F(DeviceLinkTest, NoDeviceOrFailedOpenMeansNoLinkAndNoRequest) {
  for (UsbOpenResult result : {UsbOpenResult::kNoDevice, UsbOpenResult::kFailed}) {
    port.open_result = result;
    EXPECT_FALSE(link.Open());
    EXPECT_FALSE(link.IsOpen());
  }
  EXPECT_TRUE(port.control_calls.empty());
  EXPECT_EQ(link.FirmwareVersion(), "00.00");
  EXPECT_TRUE(platform.message_boxes.empty());
}

TEST_F(DeviceLinkTest, ReopeningReleasesThePortFirst) {
  OpenLink();
  const int closes = port.close_calls;
  OpenLink();
  EXPECT_EQ(port.open_calls, 2);
  EXPECT_EQ(port.close_calls, closes + 1);
}

// ---- commands ----

TEST_F(DeviceLinkTest, CommandWithoutPayloadIsExactlyFourBytes) {
  OpenLink();
  EXPECT_TRUE(link.SendCommand(CommandCode::EndProbe));
  EXPECT_TRUE(link.SendCommand(CommandCode::LatchZ, nullptr, 0));
  EXPECT_TRUE(link.SendCommand(CommandCode::Stop, payload::Stop()));
  ASSERT_EQ(port.writes.size(), 3u);
  EXPECT_EQ(port.writes[0].pipe, 0x01);
  EXPECT_EQ(port.writes[0].bytes, (Bytes{0x0D, 0xF2, 0x00, 0x00}));
  EXPECT_EQ(port.writes[1].bytes, (Bytes{0x14, 0xEB, 0x00, 0x00}));
  EXPECT_EQ(port.writes[2].bytes, (Bytes{0x0E, 0xF1, 0x00, 0x00}));
}

TEST_F(DeviceLinkTest, CommandIsHeaderThenPayloadOnTheCommandPipe) {
  OpenLink();
  EXPECT_TRUE(link.SendCommand(CommandCode::JogStart, payload::JogStart(1, -1, 0x01020304)));
  EXPECT_TRUE(link.SendCommand(CommandCode::Stop, payload::Stop(StopTarget::kSafe)));
  ASSERT_EQ(port.writes.size(), 2u);
  EXPECT_EQ(port.writes[0].pipe, 0x01);
  EXPECT_EQ(port.writes[0].bytes,
            (Bytes{0x02, 0xFD, 0x06, 0x00, 0x01, 0xFF, 0x04, 0x03, 0x02, 0x01}));
  EXPECT_EQ(port.writes[1].bytes, (Bytes{0x0E, 0xF1, 0x01, 0x00, 0x03}));
}

TEST_F(DeviceLinkTest, ClosedLinkDropsCommandsSilently) {
  EXPECT_FALSE(link.SendCommand(CommandCode::JogStop, payload::JogStop(0)));
  OpenLink();
  link.Close();
  EXPECT_FALSE(link.SendCommand(CommandCode::JogStop, payload::JogStop(0)));
  EXPECT_TRUE(port.writes.empty());
  EXPECT_TRUE(platform.message_boxes.empty());
}

TEST_F(DeviceLinkTest, FailedWriteReportsOnceClearsConnectedAndClosesTheLink) {
  OpenLink();
  link.set_connected(true);
  port.write_outcomes.push_back({false, 0});
  EXPECT_FALSE(link.SendCommand(CommandCode::ReleaseHold, payload::ReleaseHold()));
  EXPECT_EQ(platform.message_boxes, std::vector<std::string>{"Error writing to device!"});
  EXPECT_FALSE(link.connected());
  EXPECT_FALSE(link.IsOpen());
  EXPECT_FALSE(port.is_open);

  // Later commands are dropped without another message.
  EXPECT_FALSE(link.SendCommand(CommandCode::ReleaseHold, payload::ReleaseHold()));
  EXPECT_FALSE(link.SendCommand(CommandCode::EndProbe));
  EXPECT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(platform.message_boxes.size(), 1u);

  // A new open brings commands back.
  OpenLink();
  EXPECT_TRUE(link.SendCommand(CommandCode::EndProbe));
}

TEST_F(DeviceLinkTest, ShortWriteCountsAsFailedWrite) {
  OpenLink();
  link.set_connected(true);
  port.write_outcomes.push_back({true, 9});  // 10 bytes asked
  EXPECT_FALSE(link.SendCommand(CommandCode::Spindle, payload::Spindle(true, 1, 2, 1)));
  EXPECT_EQ(platform.message_boxes, std::vector<std::string>{"Error writing to device!"});
  EXPECT_FALSE(link.connected());
  EXPECT_FALSE(link.IsOpen());
}

TEST_F(DeviceLinkTest, TickDuringTheErrorBoxDoesNotDeadlockOrWrite) {
  OpenLink();
  bool reentered = false;
  platform.during_message_box = [&] {
    // A timer tick dispatched by the modal box runs on the same thread.
    reentered = true;
    EXPECT_FALSE(link.SendCommand(CommandCode::EndProbe));
    link.BatchBegin();
    const Bytes record(52, 1);
    link.BatchAppend(record.data(), record.size());
    EXPECT_FALSE(link.BatchFlush());
  };
  port.write_outcomes.push_back({false, 0});
  EXPECT_FALSE(link.SendCommand(CommandCode::EndProbe));
  EXPECT_TRUE(reentered);
  EXPECT_EQ(port.writes.size(), 1u);
}

TEST_F(DeviceLinkTest, OversizedOrNullPayloadIsRefusedWithoutTouchingTheLink) {
  OpenLink();
  link.set_connected(true);
  const Bytes too_big(DeviceLink::kTransmitBufferSize - 3, 0x55);
  EXPECT_FALSE(link.SendCommand(CommandCode::FlashWrite, too_big));
  EXPECT_FALSE(link.SendCommand(CommandCode::FlashWrite, nullptr, 8));
  EXPECT_TRUE(port.writes.empty());
  EXPECT_TRUE(link.IsOpen());
  EXPECT_TRUE(link.connected());
  EXPECT_TRUE(platform.message_boxes.empty());

  const Bytes largest(DeviceLink::kTransmitBufferSize - 4, 0x66);
  EXPECT_TRUE(link.SendCommand(CommandCode::FlashWrite, largest));
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0].bytes.size(), 10000u);
  EXPECT_EQ(port.writes[0].bytes[2], 0x0C);  // 9996 = 0x270C
  EXPECT_EQ(port.writes[0].bytes[3], 0x27);
}

// ---- status poll ----

TEST_F(DeviceLinkTest, FirstPollStartsTheReadAndALaterPollCollectsIt) {
  OpenLink();
  Bytes dest(60, 0xEE);
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  EXPECT_EQ(port.start_reads, 1);
  EXPECT_EQ(port.read_pipe, 0x81);
  EXPECT_EQ(port.read_length, 60u);
  EXPECT_TRUE(link.read_pending());

  // Not yet complete: nothing, and no second read.
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  EXPECT_EQ(port.start_reads, 1);

  port.CompleteRead(Report(123));
  EXPECT_TRUE(link.PollStatus(dest.data(), 60));
  EXPECT_EQ(dest, Report(123));
  EXPECT_FALSE(link.read_pending());

  // The next poll starts the next read.
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  EXPECT_EQ(port.start_reads, 2);
}

TEST_F(DeviceLinkTest, ShortOrFailedTransferIsNotDelivered) {
  OpenLink();
  struct Case {
    const char* name;
    Bytes bytes;
    bool ok;
  };
  const Bytes full = Report(7);
  const Case cases[] = {
      {"59 bytes", Bytes(full.begin(), full.end() - 1), true},
      {"no bytes", Bytes{}, true},
      {"failed transfer with 60 bytes", Report(7), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes dest(60, 0xEE);
    const int starts = port.start_reads;
    EXPECT_FALSE(link.PollStatus(dest.data(), 60));  // starts
    port.CompleteRead(c.bytes, c.ok);
    EXPECT_FALSE(link.PollStatus(dest.data(), 60));  // collects, drops
    EXPECT_EQ(dest, Bytes(60, 0xEE));
    EXPECT_FALSE(link.read_pending());
    EXPECT_EQ(port.start_reads, starts + 1);
  }
  // The link still works afterwards.
  Bytes dest(60);
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  port.CompleteRead(Report(9));
  EXPECT_TRUE(link.PollStatus(dest.data(), 60));
  EXPECT_EQ(dest[40], 9);
}

TEST_F(DeviceLinkTest, OneByteReplyThroughTheSamePoll) {
  OpenLink();
  uint8_t reply = 0;
  EXPECT_FALSE(link.PollStatus(&reply, 1));
  EXPECT_EQ(port.read_length, 1u);
  port.CompleteRead({0x6F});
  EXPECT_TRUE(link.PollStatus(&reply, 1));
  EXPECT_EQ(reply, 0x6F);
}

TEST_F(DeviceLinkTest, ReadThatCannotStartIsRetriedByTheNextPoll) {
  OpenLink();
  Bytes dest(60);
  port.start_read_ok = false;
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  EXPECT_FALSE(link.read_pending());
  port.start_read_ok = true;
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  EXPECT_EQ(port.start_reads, 2);
  EXPECT_TRUE(link.read_pending());
}

TEST_F(DeviceLinkTest, PollOnClosedLinkOrBadLengthDoesNothing) {
  Bytes dest(600);
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  OpenLink();
  EXPECT_FALSE(link.PollStatus(dest.data(), 513));
  EXPECT_FALSE(link.PollStatus(dest.data(), 0));
  EXPECT_FALSE(link.PollStatus(nullptr, 60));
  EXPECT_EQ(port.start_reads, 0);
}

TEST_F(DeviceLinkTest, CloseAbandonsThePendingRead) {
  OpenLink();
  Bytes dest(60);
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  link.Close();
  EXPECT_FALSE(link.read_pending());
  EXPECT_FALSE(port.read_in_flight());
  OpenLink();
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));  // starts afresh
  EXPECT_EQ(port.start_reads, 2);
}

TEST_F(DeviceLinkTest, WaitStatusWaitsButDoesNotCollect) {
  OpenLink();
  EXPECT_FALSE(link.WaitStatus(1000));  // nothing pending: no wait at all
  EXPECT_TRUE(port.wait_calls.empty());

  Bytes dest(60);
  EXPECT_FALSE(link.PollStatus(dest.data(), 60));
  EXPECT_FALSE(link.WaitStatus(1000));
  ASSERT_EQ(port.wait_calls.size(), 1u);
  EXPECT_EQ(port.wait_calls[0], 1000u);

  port.CompleteRead(Report(5));
  EXPECT_TRUE(link.WaitStatus(1000));
  EXPECT_TRUE(link.read_pending());
  EXPECT_TRUE(link.PollStatus(dest.data(), 60));
  EXPECT_EQ(dest[40], 5);
}

// ---- control requests ----

TEST_F(DeviceLinkTest, ControlRequestPassesThrough) {
  OpenLink();
  port.control_answers[0xE2] = {0xFE, 0xFF, 0xFF, 0xFF};
  uint8_t z[4] = {};
  EXPECT_TRUE(link.ControlIn(0xE2, z, 4));
  EXPECT_EQ(z[0], 0xFE);
  EXPECT_EQ(z[3], 0xFF);
  EXPECT_FALSE(link.ControlIn(0x55, z, 4));
  link.Close();
  EXPECT_FALSE(link.ControlIn(0xE2, z, 4));
}

// ---- segment batches ----

TEST_F(DeviceLinkTest, BatchIsOneRawWriteOnTheSegmentPipe) {
  OpenLink();
  Bytes all;
  link.BatchBegin();
  for (int r = 0; r < 75; ++r) {
    Bytes record(52);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(r * 3 + i);
    EXPECT_TRUE(link.BatchAppend(record.data(), record.size()));
    all.insert(all.end(), record.begin(), record.end());
  }
  EXPECT_EQ(link.batch_length(), 3900u);
  EXPECT_TRUE(link.BatchFlush());
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0].pipe, 0x02);
  EXPECT_EQ(port.writes[0].bytes, all);
  EXPECT_TRUE(port.WritesOn(0x01).empty());
}

TEST_F(DeviceLinkTest, BatchBeyondTheBufferIsRefused) {
  OpenLink();
  link.BatchBegin();
  const Bytes big(9996, 0x11);
  const Bytes five(5, 0x22);
  const Bytes four(4, 0x33);
  EXPECT_TRUE(link.BatchAppend(big.data(), big.size()));
  EXPECT_FALSE(link.BatchAppend(five.data(), five.size()));
  EXPECT_EQ(link.batch_length(), 9996u);
  EXPECT_TRUE(link.BatchAppend(four.data(), four.size()));
  EXPECT_EQ(link.batch_length(), 10000u);
  EXPECT_FALSE(link.BatchAppend(four.data(), 1));
  EXPECT_TRUE(link.BatchFlush());
  ASSERT_EQ(port.writes.size(), 1u);
  Bytes expected = big;
  expected.insert(expected.end(), four.begin(), four.end());
  EXPECT_EQ(port.writes[0].bytes, expected);

  // A huge count cannot wrap the bound check.
  link.BatchBegin();
  EXPECT_TRUE(link.BatchAppend(five.data(), 5));
  EXPECT_FALSE(link.BatchAppend(five.data(), SIZE_MAX - 2));
  EXPECT_EQ(link.batch_length(), 5u);
}

TEST_F(DeviceLinkTest, BatchBeginStartsOver) {
  OpenLink();
  const Bytes a(52, 0xA1);
  const Bytes b(52, 0xB2);
  link.BatchBegin();
  link.BatchAppend(a.data(), a.size());
  link.BatchBegin();
  link.BatchAppend(b.data(), b.size());
  EXPECT_TRUE(link.BatchFlush());
  ASSERT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(port.writes[0].bytes, b);
}

TEST_F(DeviceLinkTest, EmptyBatchOrClosedLinkWritesNothing) {
  OpenLink();
  link.BatchBegin();
  EXPECT_TRUE(link.BatchFlush());
  EXPECT_TRUE(port.writes.empty());

  const Bytes a(52, 0xA1);
  link.BatchAppend(a.data(), a.size());
  link.Close();
  EXPECT_FALSE(link.BatchFlush());
  EXPECT_TRUE(port.writes.empty());
}

TEST_F(DeviceLinkTest, CommandBetweenBeginAndFlushDropsTheOverwrittenBatch) {
  OpenLink();
  const Bytes a(52, 0xA1);
  link.BatchBegin();
  link.BatchAppend(a.data(), a.size());
  EXPECT_TRUE(link.SendCommand(CommandCode::ReleaseHold, payload::ReleaseHold()));
  EXPECT_EQ(link.batch_length(), 0u);
  EXPECT_TRUE(link.BatchFlush());
  EXPECT_TRUE(port.WritesOn(0x02).empty());
}

TEST_F(DeviceLinkTest, FailedBatchWriteClosesTheLinkQuietly) {
  OpenLink();
  link.set_connected(true);
  const Bytes a(104, 0xA1);
  for (ScriptedUsbPort::WriteOutcome outcome :
       {ScriptedUsbPort::WriteOutcome{false, 0}, ScriptedUsbPort::WriteOutcome{true, 52}}) {
    link.BatchBegin();
    link.BatchAppend(a.data(), a.size());
    port.write_outcomes.push_back(outcome);
    EXPECT_FALSE(link.BatchFlush());
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(port.is_open);
    // The watchdog of the service tick reports the loss; the link shows nothing itself.
    EXPECT_TRUE(platform.message_boxes.empty());
    EXPECT_TRUE(link.connected());
    OpenLink();
  }
}

}  // namespace
}  // namespace kelvro
