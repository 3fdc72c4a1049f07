// The simulated USB port: reads on virtual time, injected faults and the flash protocol.
#include <gtest/gtest.h>

#include <string>

#include "tests/sim/sim_test_util.h"

namespace kelvro::sim::test {
namespace {

std::vector<uint8_t> FlashBlock(uint32_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> p;
  PutLe32(p, static_cast<uint32_t>(data.size()));
  PutLe32(p, address);
  p.insert(p.end(), data.begin(), data.end());
  return p;
}

std::string Version(Rig& rig) {
  char text[6] = {};
  if (!rig.port.ControlIn(0xE0, reinterpret_cast<uint8_t*>(text), 5)) return "<failed>";
  return text;
}

// ---------------------------------------------------------------- opening

TEST(SimPort, OnePortAtATime) {
  ScriptedPlatform platform;
  SimController controller;
  SimUsbPort a(controller, platform);
  SimUsbPort b(controller, platform);
  EXPECT_EQ(a.Open(), UsbOpenResult::kOk);
  EXPECT_EQ(b.Open(), UsbOpenResult::kFailed);
  a.Close();
  EXPECT_EQ(b.Open(), UsbOpenResult::kOk);
  uint8_t cmd[4] = {0x14, 0xEB, 0, 0};
  uint32_t written = 0;
  EXPECT_FALSE(a.WritePipe(0x01, cmd, 4, &written));
  EXPECT_TRUE(b.WritePipe(0x01, cmd, 4, &written));
  EXPECT_EQ(written, 4u);
}

TEST(SimPort, FirmwareVersionIsConfigurable) {
  Rig plain;
  EXPECT_EQ(Version(plain), "01.22");
  SimControllerOptions options;
  options.firmware_version = "01.10";
  Rig old(options);
  EXPECT_EQ(Version(old), "01.10");
  uint8_t buffer[4];
  EXPECT_FALSE(old.port.ControlIn(0xE5, buffer, 4));
}

TEST(SimPort, UnknownPipesAndArgumentsFail) {
  Rig rig;
  uint8_t buffer[60];
  uint32_t written = 7;
  EXPECT_FALSE(rig.port.WritePipe(0x03, buffer, 4, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(rig.port.StartRead(0x82, buffer, 60));
  EXPECT_FALSE(rig.port.StartRead(0x81, nullptr, 60));
  EXPECT_FALSE(rig.port.ReadCompleted());
  EXPECT_FALSE(rig.port.WaitRead(10));
}

// ---------------------------------------------------------------- status reads

TEST(SimPort, ReadCompletesAfterOneMillisecond) {
  Rig rig;
  rig.port.set_read_latency_ms(1);
  uint8_t buffer[60] = {};
  ASSERT_TRUE(rig.port.StartRead(0x81, buffer, 60));
  EXPECT_FALSE(rig.port.ReadCompleted());
  uint32_t transferred = 99;
  EXPECT_FALSE(rig.port.ReadResult(&transferred));
  EXPECT_EQ(transferred, 0u);
  EXPECT_FALSE(rig.port.StartRead(0x81, buffer, 60));  // one read at a time
  rig.platform.Advance(1);
  EXPECT_TRUE(rig.port.ReadCompleted());
  EXPECT_TRUE(rig.port.ReadResult(&transferred));
  EXPECT_EQ(transferred, 60u);
  EXPECT_EQ(buffer[0], 0x3C);
}

TEST(SimPort, WaitReadMovesVirtualTimeToTheCompletion) {
  Rig rig;
  rig.port.set_read_latency_ms(1);
  uint8_t buffer[60] = {};
  rig.platform.Advance(10);
  ASSERT_TRUE(rig.port.StartRead(0x81, buffer, 60));
  EXPECT_TRUE(rig.port.WaitRead(1000));
  EXPECT_EQ(rig.platform.Now(), 11u);
}

TEST(SimPort, ReadDeliversTheStateWhenItWasStarted) {
  Rig rig;
  rig.port.set_read_latency_ms(1);
  ASSERT_TRUE(rig.Write(0x02, StepRecords(100, 0, 1000000, 0)));
  rig.platform.Advance(10);
  uint8_t buffer[60] = {};
  ASSERT_TRUE(rig.port.StartRead(0x81, buffer, 60));
  rig.platform.Advance(30);  // collected a tick later, as the service tick does
  uint32_t transferred = 0;
  ASSERT_TRUE(rig.port.ReadResult(&transferred));
  EXPECT_EQ(Le16(&buffer[40]), 90);
  EXPECT_EQ(Le32(&buffer[8]), 10);
  EXPECT_EQ(Le16(&buffer[56]), 9);
  EXPECT_EQ(static_cast<uint32_t>(Le32(&buffer[42])), 500000u);
  EXPECT_EQ(rig.controller.buffer_fill(), 60u);
}

TEST(SimPort, ShortReadGetsTheHeadOfTheReport) {
  Rig rig;
  const auto s = rig.Read(10);
  ASSERT_EQ(s.size(), 10u);
  EXPECT_EQ(s[0], 0x3C);
}

// ---------------------------------------------------------------- faults

TEST(SimFaults, DisconnectKillsTheHandleUntilReopened) {
  Rig rig;
  rig.port.set_read_latency_ms(5);
  uint8_t buffer[60] = {};
  ASSERT_TRUE(rig.port.StartRead(0x81, buffer, 60));
  rig.controller.Disconnect();
  EXPECT_TRUE(rig.port.ReadCompleted());  // the read ends, with an error
  uint32_t transferred = 99;
  EXPECT_FALSE(rig.port.ReadResult(&transferred));
  EXPECT_EQ(transferred, 0u);
  EXPECT_FALSE(rig.Command(0x14));
  EXPECT_FALSE(rig.port.StartRead(0x81, buffer, 60));
  EXPECT_EQ(Version(rig), "<failed>");
  EXPECT_EQ(rig.port.Open(), UsbOpenResult::kNoDevice);

  rig.controller.Reconnect();
  EXPECT_FALSE(rig.Command(0x14));  // the old handle stays dead
  EXPECT_EQ(rig.port.Open(), UsbOpenResult::kOk);
  EXPECT_TRUE(rig.Command(0x14));
  EXPECT_EQ(rig.Read().size(), 60u);
}

TEST(SimFaults, ReconnectWithRestartForgetsTheMachineState) {
  Rig rig;
  ASSERT_TRUE(rig.Write(0x02, StepRecords(60, 0, 1000000)));
  rig.Advance(60);
  ASSERT_TRUE(rig.Command(0x09, MotionConfig({})));
  rig.controller.Disconnect();
  rig.controller.Reconnect(true);
  EXPECT_EQ(rig.controller.position(0), 0);
  EXPECT_FALSE(rig.controller.motion_config().has_value());
}

TEST(SimFaults, LostReadNeverCompletes) {
  Rig rig;
  rig.controller.LoseStatusReads(1);
  uint8_t buffer[60] = {};
  ASSERT_TRUE(rig.port.StartRead(0x81, buffer, 60));
  EXPECT_FALSE(rig.port.WaitRead(100));
  EXPECT_EQ(rig.platform.Now(), 100u);  // the wait took its whole time
  rig.platform.Advance(5000);
  EXPECT_FALSE(rig.port.ReadCompleted());
  EXPECT_FALSE(rig.port.StartRead(0x81, buffer, 60));
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault, "StatusReadLost"), 1u);
  rig.port.Close();
  ASSERT_EQ(rig.port.Open(), UsbOpenResult::kOk);
  EXPECT_EQ(rig.Read().size(), 60u);
}

TEST(SimFaults, CorruptedReads) {
  Rig rig;
  rig.controller.CorruptStatusReads(1, StatusCorruption::kWrongMarker);
  auto s = rig.Read();
  ASSERT_EQ(s.size(), 60u);
  EXPECT_NE(s[0], 0x3C);
  rig.controller.CorruptStatusReads(2, StatusCorruption::kShortTransfer);
  EXPECT_EQ(rig.Read().size(), 20u);
  EXPECT_EQ(rig.Read().size(), 20u);
  s = rig.Read();
  ASSERT_EQ(s.size(), 60u);
  EXPECT_EQ(s[0], 0x3C);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault, "StatusReadCorrupted"), 3u);
}

TEST(SimFaults, CorruptedHome4IsNotCountedAsDelivered) {
  Rig rig;
  ASSERT_TRUE(rig.Command(0x05, {0, 0}));
  rig.Advance(400);
  rig.controller.CorruptStatusReads(1, StatusCorruption::kShortTransfer);
  EXPECT_EQ(rig.Read().size(), 20u);
  rig.Advance(5);
  const auto s = rig.Read();
  EXPECT_EQ(s[2], 5);  // still HOME4 for the next good report
}

std::vector<int> FaultPattern(uint64_t seed) {
  Rig rig;
  rig.controller.SetStatusFaultRates(0.0, 0.3, seed);
  std::vector<int> pattern;
  for (int i = 0; i < 1000; ++i) {
    const auto s = rig.Read();
    pattern.push_back(s.size() == 60 && s[0] == 0x3C ? 0 : (s.size() < 60 ? 1 : 2));
  }
  return pattern;
}

TEST(SimFaults, RatedFaultsAreSeededAndDeterministic) {
  const auto a = FaultPattern(42);
  const auto b = FaultPattern(42);
  const auto c = FaultPattern(43);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  int bad = 0, short_reads = 0, marker = 0;
  for (int v : a) {
    bad += v != 0;
    short_reads += v == 1;
    marker += v == 2;
  }
  EXPECT_GT(bad, 220);
  EXPECT_LT(bad, 380);
  EXPECT_GT(short_reads, 50);
  EXPECT_GT(marker, 50);
}

TEST(SimFaults, RatedLossesAreAnsweredByALaterReport) {
  Rig rig;
  rig.controller.SetStatusFaultRates(0.5, 0.0, 7);
  const uint64_t start = rig.platform.Now();
  for (int i = 0; i < 200; ++i) ASSERT_EQ(rig.Read().size(), 60u) << "read " << i;
  // With p = 0.5 each read loses one report on average, each costing a 10 ms retry.
  const size_t dropped = rig.controller.trace().Count(TraceKind::kFault, "StatusReportDropped");
  EXPECT_GT(dropped, 140u);
  EXPECT_LT(dropped, 260u);
  EXPECT_EQ(rig.platform.Now() - start, 10 * dropped);
}

TEST(SimFaults, CountedLossesNeverComplete) {
  Rig rig;
  rig.controller.LoseStatusReads(1);
  EXPECT_TRUE(rig.Read().empty());
  EXPECT_TRUE(rig.port.read_in_flight());
}

TEST(SimFaults, FailedWriteFailsOnceOnItsPipe) {
  Rig rig;
  rig.controller.FailNextWrite(0x01);
  uint32_t written = 5;
  const auto frame = Frame(0x14, {});
  EXPECT_FALSE(rig.port.WritePipe(0x01, frame.data(), 4, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kCommand), 0u);
  EXPECT_TRUE(rig.Write(0x02, StepRecords(1, 0, 0)));  // the other pipe is unaffected
  EXPECT_TRUE(rig.Command(0x14));
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kCommand), 1u);

  rig.controller.FailNextWrite(0x02);
  EXPECT_FALSE(rig.Write(0x02, StepRecords(1, 0, 0)));
  EXPECT_EQ(rig.controller.segments_received(), 1u);
  EXPECT_EQ(rig.controller.segment_writes(), 1u);  // the failed write never arrived
}

TEST(SimFaults, FailedWriteCanSkipWritesOnItsPipe) {
  Rig rig;
  rig.controller.FailNextWrite(0x02, 2);
  EXPECT_TRUE(rig.Write(0x02, StepRecords(2, 0, 0)));
  EXPECT_TRUE(rig.Command(0x14));  // the command pipe does not count
  EXPECT_TRUE(rig.Write(0x02, StepRecords(1, 0, 0, 2)));
  EXPECT_FALSE(rig.Write(0x02, StepRecords(1, 0, 0, 3)));
  EXPECT_TRUE(rig.Write(0x02, StepRecords(1, 0, 0, 3)));
  EXPECT_EQ(rig.controller.segment_writes(), 3u);
  EXPECT_EQ(rig.controller.segments_received(), 4u);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault, "WriteFailed"), 1u);
}

TEST(SimFaults, FailedCommandFailsOnlyThatCommand) {
  Rig rig;
  // The second SetOutputs from now fails; other commands in between go through.
  rig.controller.FailNextCommand(0x06, 1);
  const std::vector<uint8_t> outputs(8, 0);
  EXPECT_TRUE(rig.Command(0x14));
  EXPECT_TRUE(rig.Command(0x06, outputs));
  EXPECT_TRUE(rig.Command(0x0C, {0, 0, 0, 0}));
  EXPECT_TRUE(rig.Write(0x02, StepRecords(1, 0, 0)));
  uint32_t written = 9;
  const auto frame = Frame(0x06, outputs);
  EXPECT_FALSE(
      rig.port.WritePipe(0x01, frame.data(), static_cast<uint32_t>(frame.size()), &written));
  EXPECT_EQ(written, 0u);
  // Only the commands that went through arrived.
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kCommand, "SetOutputs"), 1u);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kCommand), 3u);
  const auto faults = rig.controller.trace().Find(TraceKind::kFault, "WriteFailed");
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_EQ(faults[0]->code, 0x06);
  EXPECT_EQ(faults[0]->detail, "injected on SetOutputs");
  // The fault is used up: the next SetOutputs goes through.
  EXPECT_TRUE(rig.Command(0x06, outputs));
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kCommand, "SetOutputs"), 2u);
}

TEST(SimFaults, FailedCommandAndPipeFaultsAreIndependent) {
  Rig rig;
  rig.controller.FailNextCommand(0x0E);
  rig.controller.FailNextWrite(0x01, 1);
  EXPECT_TRUE(rig.Command(0x14));                 // first command write: the pipe fault counts it
  EXPECT_FALSE(rig.Command(0x0C, {0, 0, 0, 0}));  // the pipe fault
  EXPECT_FALSE(rig.Command(0x0E, {1}));           // the Stop fault
  EXPECT_TRUE(rig.Command(0x0E, {1}));
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault, "WriteFailed"), 2u);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kCommand), 2u);
}

// ---------------------------------------------------------------- flash

struct FlashRig : Rig {
  explicit FlashRig(SimControllerOptions options) : Rig(std::move(options)) {
    port.set_read_latency_ms(1);
  }
  // One reply byte, or -1 when none arrives within a second. The read's buffer outlives
  // the call, as a read left pending may complete later.
  int Reply() {
    if (!port.StartRead(0x81, &reply_byte, 1)) return -1;
    if (!port.WaitRead(1000)) return -1;
    uint32_t n = 0;
    if (!port.ReadResult(&n) || n != 1) return -1;
    return reply_byte;
  }
  uint8_t reply_byte = 0;
};

std::vector<uint8_t> TestImage(size_t n) {
  std::vector<uint8_t> image(n);
  for (size_t i = 0; i < n; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  return image;
}

// Sends the image in 256-byte chunks (the last padded with 0xFF to a multiple of 4) and
// returns the replies.
std::vector<int> Upload(FlashRig& rig, const std::vector<uint8_t>& image) {
  std::vector<int> replies;
  for (size_t sent = 0; sent < image.size();) {
    const size_t n = std::min<size_t>(256, image.size() - sent);
    std::vector<uint8_t> chunk(image.begin() + static_cast<std::ptrdiff_t>(sent),
                               image.begin() + static_cast<std::ptrdiff_t>(sent + n));
    while (chunk.size() % 4 != 0) chunk.push_back(0xFF);
    EXPECT_TRUE(rig.Command(0xF2, FlashBlock(static_cast<uint32_t>(4 + sent), chunk)));
    replies.push_back(rig.Reply());
    sent += chunk.size();
  }
  return replies;
}

std::vector<uint8_t> LengthWord(uint32_t n) {
  std::vector<uint8_t> d;
  PutLe32(d, n);
  return d;
}

TEST(SimFlash, FullUpdateRestartsWithTheNewVersion) {
  SimControllerOptions options;
  options.firmware_version = "01.10";
  FlashRig rig(options);
  ASSERT_TRUE(rig.Command(0x0E, {3}));
  EXPECT_EQ(rig.controller.mode(), SimMode::kSafe);
  ASSERT_TRUE(rig.Command(0xF1));
  EXPECT_EQ(rig.Reply(), 0x6F);
  EXPECT_EQ(Version(rig), "00.00");  // the loader, until the image is complete

  const auto image = TestImage(1002);
  const auto replies = Upload(rig, image);
  EXPECT_EQ(replies, std::vector<int>(4, 0x6F));
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(0, LengthWord(1002))));
  EXPECT_EQ(rig.Reply(), 0x6F);
  EXPECT_EQ(rig.controller.FlashedImage(), image);
  EXPECT_EQ(rig.controller.completed_flashes(), 1);

  rig.port.Close();
  rig.platform.Advance(2000);
  EXPECT_EQ(rig.port.Open(), UsbOpenResult::kNoDevice);
  rig.platform.Advance(1000);
  ASSERT_EQ(rig.port.Open(), UsbOpenResult::kOk);
  EXPECT_EQ(Version(rig), "01.22");
  const auto s = rig.Read();
  ASSERT_EQ(s.size(), 60u);
  EXPECT_EQ(s[0], 0x3C);
  EXPECT_EQ(s[1], 0);
}

TEST(SimFlash, LoaderSendsNoStatusReports) {
  FlashRig rig({});
  ASSERT_TRUE(rig.Command(0xF1));
  EXPECT_EQ(rig.Reply(), 0x6F);
  EXPECT_EQ(rig.Reply(), -1);  // nothing more to say
}

TEST(SimFlash, WrongAndMissingReplies) {
  {
    FlashRig rig({});
    rig.controller.FailFlashReply(FlashReplyFault::kWrongByte);
    ASSERT_TRUE(rig.Command(0xF1));
    EXPECT_EQ(rig.Reply(), 0x65);
  }
  {
    FlashRig rig({});
    rig.controller.FailFlashReply(FlashReplyFault::kMissing, 1);
    ASSERT_TRUE(rig.Command(0xF1));
    EXPECT_EQ(rig.Reply(), 0x6F);
    ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, {1, 2, 3, 4})));
    EXPECT_EQ(rig.Reply(), -1);
    EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault, "FlashReplyMissing"), 1u);
    // The read stays pending; the next reply completes it.
    EXPECT_TRUE(rig.port.read_in_flight());
    ASSERT_TRUE(rig.Command(0xF2, FlashBlock(8, {5, 6, 7, 8})));
    EXPECT_TRUE(rig.port.WaitRead(1000));
    uint32_t n = 0;
    EXPECT_TRUE(rig.port.ReadResult(&n));
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(rig.reply_byte, 0x6F);
  }
}

TEST(SimFlash, RefusesWritesItCannotHonour) {
  FlashRig rig({});
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, {1, 2, 3, 4})));
  EXPECT_EQ(rig.Reply(), 0x65);  // not erased
  ASSERT_TRUE(rig.Command(0xF1));
  EXPECT_EQ(rig.Reply(), 0x6F);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, {1, 2, 3})));
  EXPECT_EQ(rig.Reply(), 0x65);  // not a multiple of 4
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, std::vector<uint8_t>(260, 0))));
  EXPECT_EQ(rig.Reply(), 0x65);  // longer than 256
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, {1, 2, 3, 4})));
  EXPECT_EQ(rig.Reply(), 0x6F);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(0, LengthWord(8))));
  EXPECT_EQ(rig.Reply(), 0x65);  // bytes 4..11 were not all written
  EXPECT_EQ(rig.controller.completed_flashes(), 0);
  rig.platform.Advance(5000);
  EXPECT_TRUE(rig.controller.present());
}

TEST(SimFlash, DeviceThatNeverComesBack) {
  FlashRig rig({});
  rig.controller.SetFlashNeverReturns(true);
  ASSERT_TRUE(rig.Command(0xF1));
  EXPECT_EQ(rig.Reply(), 0x6F);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, {9, 9, 9, 9})));
  EXPECT_EQ(rig.Reply(), 0x6F);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(0, LengthWord(4))));
  EXPECT_EQ(rig.Reply(), 0x6F);
  rig.port.Close();
  for (int attempt = 0; attempt < 62; ++attempt) {
    rig.platform.Advance(1000);
    EXPECT_EQ(rig.port.Open(), UsbOpenResult::kNoDevice) << attempt;
  }
}

TEST(SimFlash, RefusesUnalignedAddresses) {
  FlashRig rig({});
  ASSERT_TRUE(rig.Command(0xF1));
  EXPECT_EQ(rig.Reply(), 0x6F);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(6, {1, 2, 3, 4})));
  EXPECT_EQ(rig.Reply(), 0x65);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(8, {1, 2, 3, 4})));
  EXPECT_EQ(rig.Reply(), 0x6F);
}

TEST(SimFlash, RepliesComeWhenTheCommandIsCarriedOut) {
  SimControllerOptions options;
  options.flash_reply_ms = 300;
  FlashRig rig(options);
  const uint64_t sent = rig.platform.Now();
  ASSERT_TRUE(rig.Command(0xF1));
  EXPECT_EQ(rig.Reply(), 0x6F);
  EXPECT_EQ(rig.platform.Now() - sent, 301u);  // carried out, then 1 ms on the bus
  // A reply later than the wait: the read stays pending and takes it afterwards.
  rig.controller.options().flash_reply_ms = 1500;
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, {1, 2, 3, 4})));
  EXPECT_EQ(rig.Reply(), -1);
  EXPECT_TRUE(rig.port.WaitRead(1000));
  uint32_t n = 0;
  EXPECT_TRUE(rig.port.ReadResult(&n));
  EXPECT_EQ(rig.reply_byte, 0x6F);
}

TEST(SimFlash, LengthWordIsKeptAtAddressZero) {
  FlashRig rig({});
  ASSERT_TRUE(rig.Command(0xF1));
  EXPECT_EQ(rig.Reply(), 0x6F);
  EXPECT_EQ(rig.controller.FlashLengthWord(), 0u);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, {9, 8, 7, 6})));
  EXPECT_EQ(rig.Reply(), 0x6F);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(0, LengthWord(3))));
  EXPECT_EQ(rig.Reply(), 0x6F);
  EXPECT_EQ(rig.controller.FlashLengthWord(), 3u);
  EXPECT_EQ(rig.controller.FlashedImage(), (std::vector<uint8_t>{9, 8, 7}));
  EXPECT_EQ(rig.controller.flash_writes(), 2u);
}

struct OptionFault {
  const char* text;
  std::vector<int> replies;  // to the erase and three writes
};

class FlashFaultOptions : public ::testing::TestWithParam<OptionFault> {};

TEST_P(FlashFaultOptions, HitTheNamedCommand) {
  SimControllerOptions options;
  ASSERT_TRUE(ParseSimFlashFault(GetParam().text, options.flash_faults));
  FlashRig rig(options);
  std::vector<int> replies;
  ASSERT_TRUE(rig.Command(0xF1));
  replies.push_back(rig.Reply());
  for (uint32_t k = 0; k < 3; ++k) {
    ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4 + 4 * k, {1, 2, 3, 4})));
    replies.push_back(rig.Reply());
  }
  EXPECT_EQ(replies, GetParam().replies);
}

INSTANTIATE_TEST_SUITE_P(SimFlash, FlashFaultOptions,
                         ::testing::Values(OptionFault{"erase", {0x65, 0x6F, 0x6F, 0x6F}},
                                           OptionFault{"chunk:0", {0x6F, 0x65, 0x6F, 0x6F}},
                                           OptionFault{"chunk:2", {0x6F, 0x6F, 0x6F, 0x65}},
                                           OptionFault{"no-reply:2", {0x6F, 0x6F, 0x6F, -1}}));

TEST(SimFlash, NeverReturnsFromTheOptions) {
  SimControllerOptions options;
  ASSERT_TRUE(ParseSimFlashFault("never-returns", options.flash_faults));
  FlashRig rig(options);
  ASSERT_TRUE(rig.Command(0xF1));
  EXPECT_EQ(rig.Reply(), 0x6F);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(4, {1, 2, 3, 4})));
  EXPECT_EQ(rig.Reply(), 0x6F);
  ASSERT_TRUE(rig.Command(0xF2, FlashBlock(0, LengthWord(4))));
  EXPECT_EQ(rig.Reply(), 0x6F);
  rig.port.Close();
  rig.platform.Advance(100000);
  EXPECT_EQ(rig.port.Open(), UsbOpenResult::kNoDevice);
}

TEST(SimFlash, FaultTexts) {
  struct Case {
    const char* text;
    bool ok;
  };
  for (const Case& c : {Case{"erase", true}, Case{"never-returns", true}, Case{"chunk:12", true},
                        Case{"no-reply:0", true}, Case{"chunk:", false}, Case{"chunk:x", false},
                        Case{"chunk:12x", false}, Case{"no-reply:-1", false}, Case{"", false},
                        Case{"Erase", false}, Case{"chunk:99999999999", false}}) {
    SimFlashFaults faults;
    EXPECT_EQ(ParseSimFlashFault(c.text, faults), c.ok) << c.text;
  }
  SimFlashFaults faults;
  ASSERT_TRUE(ParseSimFlashFault("chunk:12", faults));
  ASSERT_TRUE(ParseSimFlashFault("no-reply:7", faults));
  EXPECT_EQ(faults.wrong_reply_to_write, 12u);
  EXPECT_EQ(faults.no_reply_to_write, 7u);
  EXPECT_FALSE(faults.wrong_erase_reply);
  EXPECT_FALSE(faults.never_returns);
}

}  // namespace
}  // namespace kelvro::sim::test
