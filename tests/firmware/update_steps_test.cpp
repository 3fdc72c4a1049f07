// The update steps against the simulated controller: what goes on the wire, the texts the
// dialog shows, the verdicts of every failure and the timeouts, all on virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/firmware/update_rig.h"

namespace kelvro::test {
namespace {

using sim::TraceKind;
using Strings = std::vector<std::string>;

constexpr char kFailed[] = "Error! Updating firmware failed.";

std::string Uploading(int percent) {
  char text[32];
  std::snprintf(text, sizeof(text), "Uploading %d %%\r\n", percent);
  return text;
}

// The dialog texts of a successful update of an image of `length` bytes, worked out from the
// chunk sizes: every chunk of 256 bytes, the last one rounded up to a multiple of 4.
Strings SuccessTexts(uint64_t length) {
  Strings texts{"Erase..."};
  int last = -1;
  for (uint64_t sent = 0; sent < length;) {
    const uint64_t take = std::min<uint64_t>(256, length - sent);
    sent += (take + 3) / 4 * 4;
    const int percent = static_cast<int>(std::min<uint64_t>(100, sent * 100 / length));
    if (percent != last) texts.push_back(Uploading(percent));
    last = percent;
  }
  texts.insert(texts.end(),
               {"Updating FLASH, please wait...", "Done.", "Update completed successfully."});
  return texts;
}

TEST(UpdateSteps, ImageOf93434BytesGoesAs364FullChunksAndOnePaddedOne) {
  const std::vector<uint8_t> image = PatternImage(93434);
  UpdateRig rig;
  ASSERT_TRUE(rig.Run());

  const auto writes = rig.Writes();
  ASSERT_EQ(writes.size(), 366u);  // 365 chunks and the length word
  for (size_t k = 0; k < 364; ++k) {
    const std::vector<uint8_t>& p = writes[k]->payload;
    ASSERT_EQ(p.size(), 8u + 256u) << k;
    EXPECT_EQ(PayloadU32(p, 0), 256u) << k;
    EXPECT_EQ(PayloadU32(p, 4), 4u + 256u * k) << k;
    EXPECT_TRUE(std::equal(p.begin() + 8, p.end(), image.begin() + 256 * k)) << k;
  }
  EXPECT_EQ(PayloadU32(writes[0]->payload, 4), 4u);
  EXPECT_EQ(PayloadU32(writes[1]->payload, 4), 260u);
  EXPECT_EQ(PayloadU32(writes[2]->payload, 4), 516u);
  const std::vector<uint8_t>& last = writes[364]->payload;
  ASSERT_EQ(last.size(), 8u + 252u);
  EXPECT_EQ(PayloadU32(last, 0), 252u);
  EXPECT_EQ(PayloadU32(last, 4), 4u + 256u * 364u);
  EXPECT_TRUE(std::equal(last.begin() + 8, last.end() - 2, image.begin() + 256 * 364));
  EXPECT_EQ(last[258], 0xFF);
  EXPECT_EQ(last[259], 0xFF);
  // The length word: length 4 at address 0, data 93434 = 0x00016CFA.
  EXPECT_EQ(writes[365]->payload,
            (std::vector<uint8_t>{4, 0, 0, 0, 0, 0, 0, 0, 0xFA, 0x6C, 0x01, 0}));

  EXPECT_EQ(rig.view.texts(), SuccessTexts(93434));
  EXPECT_EQ(rig.view.texts()[rig.view.texts().size() - 4], Uploading(100));
  EXPECT_EQ(rig.view.progress(), 100);
  EXPECT_EQ(rig.platform.sounds, std::vector<Sound>{Sound::kSuccess});

  EXPECT_EQ(rig.report().chunks, 365);
  EXPECT_EQ(rig.report().bytes, 93436u);
  EXPECT_EQ(rig.report().image_length, 93434u);
  EXPECT_TRUE(rig.report().committed);
  // The controller holds the image and its length and runs the flashed version.
  EXPECT_EQ(rig.controller.FlashedImage(), image);
  EXPECT_EQ(rig.controller.FlashLengthWord(), 93434u);
  EXPECT_TRUE(rig.link.IsOpen());
  EXPECT_EQ(rig.link.FirmwareVersion(), "01.22");
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kRejected), 0u);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kFault), 0u);
}

TEST(UpdateSteps, ProgressMovesOnlyWhenTheWholePercentChanges) {
  UpdateRig rig;
  ASSERT_TRUE(rig.Run());
  std::vector<int> positions;
  for (const ProgressEvent& e : rig.view.events()) {
    if (e.kind == ProgressEvent::Kind::kProgress) positions.push_back(e.value);
  }
  // 0 from the start, then one position per whole percent reached: 0, 0 (first chunk), 1, ...
  ASSERT_GE(positions.size(), 3u);
  EXPECT_EQ(positions.front(), 0);
  EXPECT_EQ(positions.back(), 100);
  for (size_t i = 2; i < positions.size(); ++i) EXPECT_EQ(positions[i], positions[i - 1] + 1) << i;
  EXPECT_EQ(positions.size(), 102u);
}

// Short images: padding, and percentages that never pass 100.
struct SmallImage {
  size_t length;
  std::vector<std::pair<uint32_t, uint32_t>> chunks;  // length, address
  Strings uploading;
};

class SmallImages : public ::testing::TestWithParam<SmallImage> {};

TEST_P(SmallImages, ArePaddedAndNeverShowMoreThan100Percent) {
  const SmallImage& c = GetParam();
  const std::vector<uint8_t> image = PatternImage(c.length);
  UpdateRig rig(OlderController(), PackByHand(image));
  ASSERT_TRUE(rig.Run());
  const auto writes = rig.Writes();
  ASSERT_EQ(writes.size(), c.chunks.size() + 1);
  for (size_t k = 0; k < c.chunks.size(); ++k) {
    EXPECT_EQ(PayloadU32(writes[k]->payload, 0), c.chunks[k].first) << k;
    EXPECT_EQ(PayloadU32(writes[k]->payload, 4), c.chunks[k].second) << k;
  }
  // Padding bytes are 0xFF.
  const std::vector<uint8_t>& last = writes[c.chunks.size() - 1]->payload;
  const size_t data_in_last = c.length - 256 * (c.chunks.size() - 1);
  for (size_t i = 8 + data_in_last; i < last.size(); ++i) EXPECT_EQ(last[i], 0xFF) << i;
  EXPECT_EQ(PayloadU32(writes.back()->payload, 8), c.length);
  Strings uploading;
  for (const std::string& t : rig.view.texts()) {
    if (t.starts_with("Uploading")) uploading.push_back(t);
  }
  EXPECT_EQ(uploading, c.uploading);
  EXPECT_EQ(rig.controller.FlashedImage(), image);
}

INSTANTIATE_TEST_SUITE_P(
    UpdateSteps, SmallImages,
    ::testing::Values(
        SmallImage{1, {{4, 4}}, {Uploading(100)}}, SmallImage{4, {{4, 4}}, {Uploading(100)}},
        SmallImage{6, {{8, 4}}, {Uploading(100)}}, SmallImage{256, {{256, 4}}, {Uploading(100)}},
        SmallImage{257, {{256, 4}, {4, 260}}, {Uploading(99), Uploading(100)}},
        SmallImage{
            513, {{256, 4}, {256, 260}, {4, 516}}, {Uploading(49), Uploading(99), Uploading(100)}}),
    [](const auto& info) { return "Length" + std::to_string(info.param.length); });

// ---------------------------------------------------------------- the image

struct DamagedImage {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> damage;
};

class DamagedImages : public ::testing::TestWithParam<DamagedImage> {};

TEST_P(DamagedImages, StopBeforeAnyCommand) {
  std::vector<uint8_t> packed = PackByHand(PatternImage(93434));
  GetParam().damage(packed);
  UpdateRig rig(OlderController(), packed);
  EXPECT_FALSE(rig.Run());
  EXPECT_EQ(rig.view.texts(), Strings{"Detected error in packed firmware file."});
  EXPECT_EQ(rig.view.heading(), "Detected error in packed firmware file.");
  EXPECT_EQ(rig.view.step(), "Updating 0%");
  EXPECT_EQ(rig.Commands(), 0u);
  EXPECT_TRUE(rig.platform.sounds.empty());
  EXPECT_EQ(rig.controller.firmware_version(), "01.20");
  EXPECT_FALSE(rig.controller.flashing());
}

INSTANTIATE_TEST_SUITE_P(
    UpdateSteps, DamagedImages,
    ::testing::Values(
        DamagedImage{"LastChecksumByte", [](std::vector<uint8_t>& p) { p.back() ^= 0x01; }},
        DamagedImage{"FirstChecksumByte", [](std::vector<uint8_t>& p) { p[p.size() - 2] ^= 0x80; }},
        DamagedImage{"ImageByte", [](std::vector<uint8_t>& p) { p[40000] ^= 0x10; }},
        DamagedImage{"FirstImageByte", [](std::vector<uint8_t>& p) { p[0] ^= 0xFF; }},
        DamagedImage{"Truncated", [](std::vector<uint8_t>& p) { p.pop_back(); }},
        DamagedImage{"OnlyAChecksum", [](std::vector<uint8_t>& p) { p.resize(2); }},
        DamagedImage{"OneByte", [](std::vector<uint8_t>& p) { p.resize(1); }},
        DamagedImage{"Empty", [](std::vector<uint8_t>& p) { p.clear(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateSteps, MissingImageStopsBeforeAnyCommand) {
  UpdateRig rig;
  rig.image.set_missing(true);
  EXPECT_FALSE(rig.Run());
  EXPECT_EQ(rig.view.texts(), Strings{"Error loading packed firmware file."});
  EXPECT_EQ(rig.Commands(), 0u);
  EXPECT_TRUE(rig.platform.sounds.empty());
}

TEST(UpdateSteps, NoImageSourceAtAll) {
  UpdateRig rig;
  FirmwareUpdateSteps steps(rig.link, rig.platform, rig.platform, rig.platform, nullptr);
  EXPECT_FALSE(steps.Run(rig.view));
  EXPECT_EQ(rig.view.heading(), "Error loading packed firmware file.");
  EXPECT_EQ(rig.Commands(), 0u);
}

// ---------------------------------------------------------------- failures

struct Failure {
  const char* name;
  std::function<void(sim::SimControllerOptions&)> setup;
  std::string step;  // the text of 1033 at the end
  size_t writes;     // FlashWrite commands the controller received
  bool committed;
};

class Failures : public ::testing::TestWithParam<Failure> {};

TEST_P(Failures, EndInTheFailureVerdict) {
  const Failure& f = GetParam();
  sim::SimControllerOptions options = OlderController();
  f.setup(options);
  UpdateRig rig(options);
  EXPECT_FALSE(rig.Run());
  EXPECT_EQ(rig.view.step(), f.step);
  EXPECT_EQ(rig.view.heading(), kFailed);
  EXPECT_EQ(rig.view.texts().back(), kFailed);
  EXPECT_EQ(rig.view.texts()[rig.view.texts().size() - 2], f.step);
  EXPECT_EQ(rig.platform.sounds, std::vector<Sound>{Sound::kFailure});
  EXPECT_EQ(rig.Writes().size(), f.writes);
  EXPECT_EQ(rig.report().committed, f.committed);
  EXPECT_FALSE(rig.report().result);
  EXPECT_EQ(rig.controller.trace().Count(TraceKind::kCommand, "FlashErase"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    UpdateSteps, Failures,
    ::testing::Values(
        Failure{"WrongEraseReply", [](auto& o) { o.flash_faults.wrong_erase_reply = true; },
                "ERROR erasing!", 0, false},
        Failure{"EraseReplyTooLate", [](auto& o) { o.flash_reply_ms = 1000; },
                "ERROR reading status!", 0, false},
        Failure{"NoReplyToFirstChunk", [](auto& o) { o.flash_faults.no_reply_to_write = 0; },
                "ERROR reading status!", 1, false},
        Failure{"WrongReplyToChunk5", [](auto& o) { o.flash_faults.wrong_reply_to_write = 5; },
                "ERROR uploading!", 6, false},
        Failure{"WrongReplyToLastChunk", [](auto& o) { o.flash_faults.wrong_reply_to_write = 364; },
                "ERROR uploading!", 365, false},
        Failure{"WrongReplyToLengthWord",
                [](auto& o) { o.flash_faults.wrong_reply_to_write = 365; }, "ERROR uploading!", 366,
                false},
        Failure{"NoReplyToLengthWord", [](auto& o) { o.flash_faults.no_reply_to_write = 365; },
                "ERROR reading status!", 366, false},
        Failure{"NeverReturns", [](auto& o) { o.flash_faults.never_returns = true; },
                "Time out in operation!", 366, true},
        Failure{"ReturnsTooLate", [](auto& o) { o.flash_restart_ms = 2000 + 60 * 1000; },
                "Time out in operation!", 366, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateSteps, ReplyWithinTheSecondIsTaken) {
  sim::SimControllerOptions options = OlderController();
  options.flash_reply_ms = 999;  // plus 1 ms on the bus: exactly the 1000 ms wait
  UpdateRig rig(options, PackByHand(PatternImage(600)));
  EXPECT_TRUE(rig.Run());
  EXPECT_EQ(rig.view.heading(), "Update completed successfully.");
}

TEST(UpdateSteps, FailedEraseSendStopsWithSendingError) {
  UpdateRig rig;
  rig.controller.FailNextWrite(0x01);
  EXPECT_FALSE(rig.Run());
  EXPECT_EQ(rig.view.step(), "ERROR sending command!");
  EXPECT_EQ(rig.view.heading(), kFailed);
  EXPECT_EQ(rig.platform.message_boxes, Strings{"Error writing to device!"});
  EXPECT_EQ(rig.Commands(), 0u);
  EXPECT_FALSE(rig.link.IsOpen());
}

TEST(UpdateSteps, FailedChunkSendEndsInReadingError) {
  UpdateRig rig;
  // After the third chunk has been acknowledged, the fourth write fails.
  rig.platform.on_dispatch = [&] {
    if (rig.platform.dispatches == 3) rig.controller.FailNextWrite(0x01);
  };
  EXPECT_FALSE(rig.Run());
  EXPECT_EQ(rig.view.step(), "ERROR reading status!");
  EXPECT_EQ(rig.platform.message_boxes, Strings{"Error writing to device!"});
  EXPECT_EQ(rig.Writes().size(), 3u);
  EXPECT_EQ(rig.report().chunks, 4);  // the fourth was handed to the link
}

TEST(UpdateSteps, NoReplyWaitsOneSecondAndNoMore) {
  sim::SimControllerOptions options = OlderController();
  options.flash_faults.no_reply_to_write = 10;
  UpdateRig rig(options);
  EXPECT_FALSE(rig.Run());
  const uint64_t wrote = rig.Writes().back()->t_ms;
  EXPECT_EQ(rig.platform.Now() - wrote, 1000u);
}

TEST(UpdateSteps, ReconnectWaitsTwoSecondsThenTriesOncePerSecond) {
  sim::SimControllerOptions options = OlderController();
  options.flash_disconnect_ms = 20;
  options.flash_restart_ms = 10500;  // back 10,520 ms after the length word
  UpdateRig rig(options, PackByHand(PatternImage(1000)));
  ASSERT_TRUE(rig.Run());
  // The link closes when the length word's reply arrives (1 ms after the write); it opens
  // again at the attempt 2000 + 9 x 1000 ms later, the first after the controller's return.
  const uint64_t closed = rig.Writes().back()->t_ms + 1;
  const auto versions = rig.controller.trace().Find(TraceKind::kControl, "GetFirmwareVersion");
  ASSERT_FALSE(versions.empty());
  EXPECT_EQ(versions.back()->t_ms, closed + 11000);
  EXPECT_EQ(rig.report().reconnect_attempts, 10);
  // One dispatch per chunk and one per failed attempt.
  EXPECT_EQ(rig.platform.dispatches, 4 + 9);
}

TEST(UpdateSteps, ControllerThatNeverReturnsIsGivenSixtyAttempts) {
  sim::SimControllerOptions options = OlderController();
  options.flash_faults.never_returns = true;
  UpdateRig rig(options, PackByHand(PatternImage(1000)));
  const uint64_t start = rig.platform.Now();
  EXPECT_FALSE(rig.Run());
  EXPECT_EQ(rig.report().reconnect_attempts, 60);
  EXPECT_EQ(rig.view.step(), "Time out in operation!");
  // 4 chunks, the length word and the erase take 1 ms each on the bus.
  EXPECT_EQ(rig.platform.Now() - start, 6u + 2000u + 60u * 1000u);
  EXPECT_EQ(rig.report().elapsed_ms, 6u + 2000u + 60u * 1000u);
  EXPECT_FALSE(rig.link.IsOpen());
}

TEST(UpdateSteps, StatusReadLeftInFlightIsNotTakenForTheEraseReply) {
  UpdateRig rig(OlderController(), PackByHand(PatternImage(600)));
  // As after the drain before the update: a 60-byte status read is in flight.
  uint8_t status[60];
  rig.link.PollStatus(status, sizeof(status));
  ASSERT_TRUE(rig.link.read_pending());
  rig.platform.Advance(100);
  EXPECT_TRUE(rig.Run());
  EXPECT_EQ(rig.view.heading(), "Update completed successfully.");
}

TEST(UpdateSteps, FlashCommandsReachTheControllerInOrder) {
  UpdateRig rig(OlderController(), PackByHand(PatternImage(1000)));
  ASSERT_TRUE(rig.Run());
  Strings names;
  for (const auto* e : rig.controller.trace().Find(TraceKind::kCommand)) names.push_back(e->name);
  EXPECT_EQ(names, (Strings{"FlashErase", "FlashWrite", "FlashWrite", "FlashWrite", "FlashWrite",
                            "FlashWrite"}));
}

}  // namespace
}  // namespace kelvro::test
