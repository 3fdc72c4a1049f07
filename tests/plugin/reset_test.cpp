// Connecting: Reset against the simulated controller, healthy and failing.
#include <gtest/gtest.h>

#include <memory>

#include "device/wire.h"
#include "plugin/plugin.h"
#include "sim/standin_host.h"

namespace kelvro::sim {
namespace {

using TK = TraceKind;

constexpr char kNotFound[] =
    "Motion controller not found!\nPlease make sure that device is connected.";
constexpr char kUpdateQuestion[] =
    "KELVRO firmware must be updated to work properly with this plugin version.\n\n"
    "Do you want to update firmware now?";

class ResetTest : public ::testing::Test {
 protected:
  explicit ResetTest(SimControllerOptions options = {}) : host(std::move(options)) {}
  void SetUp() override {
    host.DescribeMill();
    host.StartUp();
  }
  std::vector<std::string> Commands() {
    std::vector<std::string> names;
    for (const TraceEntry* e : host.controller().trace().Find(TK::kCommand))
      names.push_back(e->name);
    return names;
  }
  const std::vector<std::string>& Boxes() { return host.platform().message_boxes; }
  const std::vector<std::string>& Texts() { return host.platform().status_texts; }
  HostOf<Plugin> host;
};

TEST_F(ResetTest, HealthyControllerReceivesBothBlocksAndIsConnected) {
  // What the blocks must hold, built from a copy of the host's tuning before Reset.
  auto machine = std::make_unique<HostMachineState>(host.machine());
  auto planner = std::make_unique<HostPlanner>(host.planner());
  PluginSettings settings = host.plugin().settings();
  const ControllerConfig expected = BuildControllerConfig(*machine, *planner, settings);

  EXPECT_EQ(host.Reset(), 0xFFFF);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Texts().back(), "USB controller connected.");
  EXPECT_TRUE(host.plugin().link().connected());
  EXPECT_EQ(host.machine().estop, 0);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"LoadMotionConfig", "LoadIoConfig"}));

  const auto motion = host.controller().trace().Find(TK::kCommand, "LoadMotionConfig");
  const auto io = host.controller().trace().Find(TK::kCommand, "LoadIoConfig");
  ASSERT_EQ(motion.size(), 1u);
  ASSERT_EQ(io.size(), 1u);
  EXPECT_EQ(motion[0]->payload,
            std::vector<uint8_t>(expected.motion.begin(), expected.motion.end()));
  EXPECT_EQ(io[0]->payload, std::vector<uint8_t>(expected.io.begin(), expected.io.end()));
  // A few fields by hand: X steps 1000, X velocity 50 * 1000 * 4096, Y soft max 1000 * 1000.
  EXPECT_EQ(GetI32(motion[0]->payload.data(), 0), 1000);
  EXPECT_EQ(GetI32(motion[0]->payload.data(), 4), 204800000);
  EXPECT_EQ(GetI32(motion[0]->payload.data(), 34 + 16), 1000000);
  // The firmware version was asked for once.
  EXPECT_EQ(host.controller().trace().Count(TK::kControl), 1u);
}

TEST_F(ResetTest, NoDeviceShowsOneMessageAndLeavesTheHostInEstop) {
  host.controller().Disconnect();
  EXPECT_EQ(host.Reset(), 0xFFFF);
  EXPECT_EQ(Boxes(), std::vector<std::string>{kNotFound});
  EXPECT_EQ(Texts().back(), "Error opening hardware!");
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_FALSE(host.plugin().link().connected());
  EXPECT_TRUE(Commands().empty());
}

TEST_F(ResetTest, LatchedLimitOverrideSetsConfigurationFlagBit2) {
  host.machine().limit_override_latch = 1;
  host.Reset();
  const auto motion = host.controller().trace().Find(TK::kCommand, "LoadMotionConfig");
  ASSERT_EQ(motion.size(), 1u);
  EXPECT_EQ(motion[0]->payload[253] & 0x04, 0x04);
}

TEST_F(ResetTest, ResetClearsSequencesAndTheStopCode) {
  host.machine().stop_code = 4;
  host.machine().threading_active = 1;
  host.machine().homing_in_progress = 1;
  host.planner().alternative_homing = 1;
  host.planner().motion_in_progress[0] = 1;
  host.planner().motion_in_progress[1] = 1;
  host.Reset();
  EXPECT_EQ(host.machine().stop_code, 0);
  EXPECT_EQ(host.machine().threading_active, 0);
  EXPECT_EQ(host.machine().homing_in_progress, 0);
  EXPECT_EQ(host.planner().alternative_homing, 0);
  EXPECT_EQ(host.planner().motion_in_progress[0], 0);
  EXPECT_EQ(host.planner().motion_in_progress[1], 0);
  EXPECT_TRUE(host.plugin().tick().decoder().resync_requested());
}

TEST_F(ResetTest, SecondResetClosesAndReopensTheLink) {
  host.Reset();
  host.Run(200);
  host.controller().trace().Clear();
  host.Reset();
  EXPECT_EQ(host.controller().trace().Count(TK::kCommand, "LoadMotionConfig"), 1u);
  EXPECT_EQ(host.controller().trace().Count(TK::kControl), 1u);
  EXPECT_TRUE(host.plugin().link().connected());
}

TEST_F(ResetTest, FailedConfigurationWriteEndsInConnectionLoss) {
  host.controller().FailNextWrite(kPipeCommand);
  host.Reset();
  // The transport reports the failure once and closes the link; the I/O map is dropped.
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Error writing to device!"});
  EXPECT_EQ(host.controller().trace().Count(TK::kCommand, "LoadIoConfig"), 0u);
  EXPECT_FALSE(host.plugin().link().IsOpen());
  // Nothing claims a connection the controller was never configured on.
  for (const std::string& text : Texts()) EXPECT_NE(text, "USB controller connected.");
  // The host learns of the loss within the watchdog's time and is put into E-stop.
  host.Run(1000);
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_EQ(Texts().back(), "ERROR! Connection closed!");
}

struct OtherFirmware : ResetTest {
  OtherFirmware() : ResetTest(Options()) {}
  static SimControllerOptions Options() {
    SimControllerOptions options;
    options.firmware_version = "01.20";
    return options;
  }
};

TEST_F(OtherFirmware, AnsweringNoLeavesTheLinkClosedAndTheHostInEstop) {
  host.platform().yes_no_answers = {MessageBoxAnswer::kNo};
  EXPECT_EQ(host.Reset(), 0xFFFF);
  EXPECT_EQ(Boxes(), std::vector<std::string>{kUpdateQuestion});
  EXPECT_EQ(Texts().back(), "USB controller NOT connected.");
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_FALSE(host.plugin().link().IsOpen());
  EXPECT_FALSE(host.plugin().link().connected());
  EXPECT_TRUE(Commands().empty());
}

TEST_F(OtherFirmware, AnsweringYesStopsTheControllerBeforeTheUpdate) {
  host.platform().yes_no_answers = {MessageBoxAnswer::kYes};
  host.Reset();
  const auto stops = host.controller().trace().Find(TK::kCommand, "Stop");
  ASSERT_EQ(stops.size(), 1u);
  EXPECT_EQ(stops[0]->payload, std::vector<uint8_t>{3});
  // This plugin has no image attached, so the update cannot load one and the controller
  // stays disconnected.
  EXPECT_EQ(host.plugin().firmware().headless().view().heading(),
            "Error loading packed firmware file.");
  EXPECT_EQ(Texts().back(), "Firmware NOT updated.");
  EXPECT_EQ(host.machine().estop, 1);
  EXPECT_EQ(host.controller().trace().Count(TK::kCommand, "LoadMotionConfig"), 0u);
}

}  // namespace
}  // namespace kelvro::sim
