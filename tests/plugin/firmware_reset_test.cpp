// Reset offering the firmware update: the plugin, the stand-in host and the simulated
// controller on virtual time, with the image this build carries. The fault matrix injects a
// failure at every chunk of the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "firmware/embedded_image.h"
#include "firmware/headless_ui.h"
#include "firmware/packed_image.h"
#include "plugin/plugin.h"
#include "sim/standin_host.h"

namespace kelvro::sim {
namespace {

using TK = TraceKind;
using Strings = std::vector<std::string>;

SimControllerOptions OlderController() {
  SimControllerOptions options;
  options.firmware_version = "01.20";
  options.flashed_version = "01.22";
  return options;
}

std::vector<uint8_t> CarriedImage() {
  const auto packed = EmbeddedPackedImage();
  return std::vector<uint8_t>(packed.begin(), packed.end() - 2);
}

// Chunks of the carried image: 256 bytes each, the last one rounded up to a multiple of 4.
size_t CarriedChunks() {
  return (CarriedImage().size() + 255) / 256;
}

// A started stand-in host whose plugin carries this build's image, with the old firmware
// on the controller.
struct Scenario {
  explicit Scenario(SimControllerOptions options = OlderController())
      : host(std::move(options)), image(EmbeddedPackedImage()) {
    host.DescribeMill();
    host.StartUp();
    host.plugin().firmware().Attach(&image, nullptr);
    // The longest single wait anyone makes in virtual time.
    host.platform().on_time = [this, last = host.platform().Now()](uint64_t now) mutable {
      longest_wait = std::max(longest_wait, now - last);
      last = now;
      host.controller().AdvanceTo(now);
    };
  }
  Strings Commands() {
    Strings names;
    for (const TraceEntry* e : host.controller().trace().Find(TK::kCommand))
      names.push_back(e->name);
    return names;
  }
  const Strings& Texts() { return host.platform().status_texts; }
  const RecordingProgressView& Dialog() { return host.plugin().firmware().headless().view(); }

  HostOf<Plugin> host;
  MemoryImageSource image;
  uint64_t longest_wait = 0;
};

class FirmwareReset : public ::testing::Test, public Scenario {};

TEST_F(FirmwareReset, YesUpdatesTheControllerAndConnects) {
  EXPECT_EQ(host.Reset(), 0xFFFF);

  // Stop 3 (mode SAFE), then the update, then the configuration of the new firmware.
  Strings expected{"Stop", "FlashErase"};
  expected.insert(expected.end(), CarriedChunks() + 1, "FlashWrite");
  expected.insert(expected.end(), {"LoadMotionConfig", "LoadIoConfig"});
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(host.controller().trace().Find(TK::kCommand, "Stop")[0]->payload,
            std::vector<uint8_t>{3});

  EXPECT_EQ(Texts().back(), "USB controller connected.");
  EXPECT_TRUE(host.plugin().link().connected());
  EXPECT_EQ(host.machine().estop, 0);
  EXPECT_EQ(host.plugin().link().FirmwareVersion(), "01.22");
  EXPECT_EQ(Dialog().heading(), "Update completed successfully.");

  // The controller holds the carried image byte for byte and its length at address 0.
  EXPECT_EQ(host.controller().FlashedImage(), CarriedImage());
  EXPECT_EQ(host.controller().FlashLengthWord(), CarriedImage().size());
  EXPECT_EQ(host.plugin().firmware().report().chunks, static_cast<int>(CarriedChunks()));
  // Virtual time: the erase and every write answered 1 ms later, 2000 ms before the first
  // attempt, which finds the controller still away (it left 20 ms after the length word
  // and returns 2500 ms later), and the second attempt 1000 ms after it.
  const uint64_t writes = CarriedChunks() + 1;
  EXPECT_EQ(host.plugin().firmware().report().elapsed_ms, 1 + writes + 2000 + 1000);
  EXPECT_EQ(host.plugin().firmware().report().reconnect_attempts, 2);

  // The machine runs afterwards.
  host.Run(500);
  EXPECT_TRUE(host.plugin().link().connected());
  EXPECT_EQ(host.machine().estop, 0);
}

TEST_F(FirmwareReset, DrainWaitsHalfASecondBetweenStopAndErase) {
  host.Reset();
  const uint64_t stop = host.controller().trace().Find(TK::kCommand, "Stop")[0]->t_ms;
  const uint64_t erase = host.controller().trace().Find(TK::kCommand, "FlashErase")[0]->t_ms;
  // 100 ms, then five polls 100 ms apart.
  EXPECT_GE(erase - stop, 600u);
  EXPECT_LE(erase - stop, 601u);
}

TEST_F(FirmwareReset, TimersDuringTheUpdateSendNothing) {
  host.plugin().Update();  // the 25 ms timer exists
  int ticks = 0;
  host.platform().on_dispatch = [&] {
    host.plugin().OnTimer();
    ++ticks;
  };
  host.Reset();
  EXPECT_GT(ticks, 300);
  Strings expected{"Stop", "FlashErase"};
  expected.insert(expected.end(), CarriedChunks() + 1, "FlashWrite");
  expected.insert(expected.end(), {"LoadMotionConfig", "LoadIoConfig"});
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(Texts().back(), "USB controller connected.");
}

TEST_F(FirmwareReset, DamagedImageNeverReachesTheController) {
  image.bytes()[1000] ^= 0x01;
  host.Reset();
  EXPECT_EQ(Dialog().heading(), "Detected error in packed firmware file.");
  EXPECT_EQ(Commands(), Strings{"Stop"});
  EXPECT_EQ(Texts().back(), "Firmware NOT updated.");
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_FALSE(host.plugin().link().IsOpen());
  EXPECT_EQ(host.controller().firmware_version(), "01.20");
}

TEST_F(FirmwareReset, AfterASuccessfulUpdateTheNextResetAsksNothing) {
  host.Reset();
  host.platform().message_boxes.clear();
  host.Reset();
  EXPECT_TRUE(host.platform().message_boxes.empty());
  EXPECT_EQ(Texts().back(), "USB controller connected.");
  EXPECT_EQ(host.controller().completed_flashes(), 1);
}

// ---------------------------------------------------------------- which controller is offered

constexpr const char* kUpdateQuestion =
    "KELVRO firmware must be updated to work properly with this plugin version.\n\n"
    "Do you want to update firmware now?";
// The interface path Windows gives a real USB controller.
constexpr const char* kRealControllerPath =
    "\\\\?\\usb#vid_1d50&pid_60e9#kv0042#{8f974853-102c-47ca-b6ec-613e800eafaa}";

struct Offer {
  const char* name;
  bool test_image;          // the carried image is the repository's test image
  const char* device_path;  // null: the simulated controller's own path
  bool updates;
};

// The test image goes only into the simulated controller; controller firmware into any.
const Offer kOffers[] = {
    {"TestImageSimulatedController", true, nullptr, true},
    {"TestImageSimulatedPathInCapitals", true, "\\\\.\\PIPE\\KELVRO-Simulated-Controller", true},
    {"TestImageRealController", true, kRealControllerPath, false},
    {"TestImageLookalikePath", true, "\\\\.\\pipe\\kelvro-simulated-controller2", false},
    {"TestImageUnknownPath", true, "", false},
    {"FirmwareRealController", false, kRealControllerPath, true},
    {"FirmwareSimulatedController", false, nullptr, true},
};

class UpdateOffer : public ::testing::TestWithParam<Offer> {};

TEST_P(UpdateOffer, TestImageNeverReachesARealController) {
  const Offer& offer = GetParam();
  const CarriedImageInfo carried{"label", "image.bin", CarriedImage().size(), 0, offer.test_image};
  Scenario run;
  if (offer.device_path != nullptr) run.host.port().set_device_path(offer.device_path);
  run.host.plugin().firmware().SetCarriedImage(carried);
  run.host.platform().message_boxes.clear();
  EXPECT_EQ(run.host.Reset(), 0xFFFF);

  if (offer.updates) {
    EXPECT_EQ(run.host.platform().message_boxes, Strings{kUpdateQuestion});
    EXPECT_EQ(run.host.controller().FlashedImage(), CarriedImage());
    EXPECT_EQ(run.Texts().back(), "USB controller connected.");
    EXPECT_EQ(run.host.machine().estop, 0);
    return;
  }
  // Refused before the question, with nothing sent; Reset goes on as after "No".
  EXPECT_EQ(run.host.platform().message_boxes,
            Strings{std::string(FirmwareUpdate::kNoFirmwareCarried)});
  EXPECT_EQ(run.Commands(), Strings{});
  EXPECT_EQ(run.host.plugin().firmware().headless().runs(), 0);
  EXPECT_EQ(run.host.controller().completed_flashes(), 0);
  EXPECT_EQ(run.host.controller().firmware_version(), "01.20");
  EXPECT_EQ(run.Texts().back(), "USB controller NOT connected.");
  EXPECT_EQ(run.host.machine().estop, 1);
  EXPECT_FALSE(run.host.plugin().link().IsOpen());
  // The update itself refuses too, should anything else call it.
  ASSERT_TRUE(run.host.plugin().link().Open());
  EXPECT_FALSE(run.host.plugin().firmware().Run());
  EXPECT_EQ(run.Commands(), Strings{});
}

INSTANTIATE_TEST_SUITE_P(FirmwareReset, UpdateOffer, ::testing::ValuesIn(kOffers),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- the fault matrix

struct Injected {
  const char* name;
  // Sets the fault for write `index` (the erase when the kind has no index).
  void (*set)(SimFlashFaults&, uint32_t index);
  bool per_write;
  const char* step;
  // The update's time when the fault hits write `index` of `writes`: the controller answers
  // every command 1 ms after it arrives.
  uint64_t (*elapsed_ms)(uint32_t index, uint32_t writes);
};

const Injected kFaults[] = {
    {"WrongReply", [](SimFlashFaults& f, uint32_t i) { f.wrong_reply_to_write = i; }, true,
     "ERROR uploading!", [](uint32_t i, uint32_t) -> uint64_t { return 1 + i + 1; }},
    {"NoReply", [](SimFlashFaults& f, uint32_t i) { f.no_reply_to_write = i; }, true,
     "ERROR reading status!", [](uint32_t i, uint32_t) -> uint64_t { return 1 + i + 1000; }},
    {"WrongEraseReply", [](SimFlashFaults& f, uint32_t) { f.wrong_erase_reply = true; }, false,
     "ERROR erasing!", [](uint32_t, uint32_t) -> uint64_t { return 1; }},
    {"NeverReturns", [](SimFlashFaults& f, uint32_t) { f.never_returns = true; }, false,
     "Time out in operation!",
     [](uint32_t, uint32_t writes) -> uint64_t { return 1 + writes + 2000 + 60 * 1000; }},
};

class FaultMatrix : public ::testing::TestWithParam<Injected> {};

TEST_P(FaultMatrix, EveryFailureEndsInTheFailureVerdict) {
  const Injected& fault = GetParam();
  // Every image chunk and the length word after them.
  const uint32_t writes = static_cast<uint32_t>(CarriedChunks()) + 1;
  const uint32_t runs = fault.per_write ? writes : 1;
  for (uint32_t index = 0; index < runs; ++index) {
    SCOPED_TRACE(std::string(fault.name) + " at write " + std::to_string(index));
    SimControllerOptions options = OlderController();
    fault.set(options.flash_faults, index);
    Scenario run(options);
    EXPECT_EQ(run.host.Reset(), 0xFFFF);

    const FirmwareUpdateReport& report = run.host.plugin().firmware().report();
    EXPECT_FALSE(report.result);
    EXPECT_EQ(run.Dialog().step(), fault.step);
    EXPECT_EQ(run.Dialog().heading(), "Error! Updating firmware failed.");
    EXPECT_TRUE(run.host.plugin().firmware().headless().closed_with_ok());
    EXPECT_EQ(run.Texts().back(), "Firmware NOT updated.");
    EXPECT_EQ(run.host.machine().estop, 1);
    EXPECT_FALSE(run.host.plugin().link().IsOpen());
    EXPECT_FALSE(run.host.plugin().link().connected());
    EXPECT_EQ(run.host.controller().trace().Count(TK::kCommand, "LoadMotionConfig"), 0u);
    if (fault.per_write) {
      EXPECT_EQ(run.host.controller().trace().Count(TK::kCommand, "FlashWrite"), index + 1);
    }

    // No wait longer than the update's own: 1000 ms per reply, 2000 ms before reconnecting
    // and 1000 ms between 60 attempts.
    EXPECT_LE(run.longest_wait, 2000u);
    const uint64_t replies = 1 + report.chunks + (report.committed || index + 1 == writes ? 1 : 0);
    const uint64_t bound = replies * 1000 + (report.committed ? 2000 + 60 * 1000 : 0);
    EXPECT_LE(report.elapsed_ms, bound);
    EXPECT_EQ(report.elapsed_ms, fault.elapsed_ms(index, writes));
    if (::testing::Test::HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(FirmwareReset, FaultMatrix, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvro::sim
