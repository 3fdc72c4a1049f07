// The update dialog's flow: OK disabled from creation to the verdict whatever the outcome,
// the wait cursor while the steps run, one update per dialog, nothing sent without a dialog.
#include "firmware/firmware_update.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/firmware/update_rig.h"

namespace kelvro::test {
namespace {

using Kind = ProgressEvent::Kind;

struct Outcome {
  const char* name;
  std::function<void(sim::SimControllerOptions&, MemoryImageSource&)> setup;
  bool result;
  std::string heading;
};

class DialogFlow : public ::testing::TestWithParam<Outcome> {};

TEST_P(DialogFlow, OkStaysDisabledUntilTheVerdict) {
  const Outcome& o = GetParam();
  sim::SimControllerOptions options = OlderController();
  UpdateRig probe;  // only for its image
  MemoryImageSource image(probe.image.bytes());
  o.setup(options, image);
  UpdateRig rig(options);
  FirmwareUpdate update(rig.link, rig.platform);
  update.Attach(&image, nullptr);

  // Watch the OK button through every change the dialog sees.
  std::vector<std::pair<Kind, bool>> seen;
  update.headless().on_open = [&](RecordingProgressView& view) {
    view.on_event = [&](const ProgressEvent& e) { seen.emplace_back(e.kind, view.ok_enabled()); };
  };
  EXPECT_EQ(update.Run(), o.result);
  const RecordingProgressView& view = update.headless().view();
  EXPECT_EQ(view.heading(), o.heading);

  const auto& events = view.events();
  ASSERT_GE(events.size(), 6u);
  // Created: OK disabled first of all. Start: shown, wait cursor, then the steps.
  EXPECT_EQ(events[0].kind, Kind::kOkEnabled);
  EXPECT_EQ(events[0].value, 0);
  EXPECT_EQ(events[1].kind, Kind::kShown);
  EXPECT_EQ(events[2].kind, Kind::kBusy);
  EXPECT_EQ(events[2].value, 1);
  // The end: the verdict, then OK enabled, then the wait cursor gone.
  const size_t n = events.size();
  EXPECT_EQ(events[n - 3].kind, Kind::kHeading);
  EXPECT_EQ(events[n - 3].text, o.heading);
  EXPECT_EQ(events[n - 2].kind, Kind::kOkEnabled);
  EXPECT_EQ(events[n - 2].value, 1);
  EXPECT_EQ(events[n - 1].kind, Kind::kBusy);
  EXPECT_EQ(events[n - 1].value, 0);
  ASSERT_EQ(seen.size(), n);
  for (size_t i = 0; i + 2 < n; ++i) EXPECT_FALSE(seen[i].second) << "OK enabled at event " << i;
  EXPECT_TRUE(update.headless().closed_with_ok());
  EXPECT_EQ(update.report().result, o.result);
}

INSTANTIATE_TEST_SUITE_P(
    FirmwareUpdate, DialogFlow,
    ::testing::Values(
        Outcome{"Success", [](auto&, auto&) {}, true, "Update completed successfully."},
        Outcome{"MissingImage", [](auto&, auto& image) { image.set_missing(true); }, false,
                "Error loading packed firmware file."},
        Outcome{"DamagedImage", [](auto&, auto& image) { image.bytes().back() ^= 1; }, false,
                "Detected error in packed firmware file."},
        Outcome{"EraseRefused", [](auto& o, auto&) { o.flash_faults.wrong_erase_reply = true; },
                false, "Error! Updating firmware failed."},
        Outcome{"ChunkUnanswered", [](auto& o, auto&) { o.flash_faults.no_reply_to_write = 100; },
                false, "Error! Updating firmware failed."},
        Outcome{"NeverReturns", [](auto& o, auto&) { o.flash_faults.never_returns = true; }, false,
                "Error! Updating firmware failed."}),
    [](const auto& info) { return std::string(info.param.name); });

// A dialog that could not be created.
class BrokenDialog final : public FirmwareDialog {
 public:
  bool RunModal(void*, FirmwareDialogClient&) override { return false; }
};

TEST(FirmwareUpdate, NoDialogNoUpdate) {
  UpdateRig rig;
  BrokenDialog dialog;
  FirmwareUpdate update(rig.link, rig.platform);
  update.Attach(&rig.image, &dialog);
  EXPECT_FALSE(update.Run());
  EXPECT_EQ(rig.image.loads(), 0);
  EXPECT_EQ(rig.Commands(), 0u);
}

// A dialog whose start message arrives twice.
class DoubleStartDialog final : public FirmwareDialog {
 public:
  bool RunModal(void*, FirmwareDialogClient& client) override {
    client.OnCreated(view);
    client.OnStart(view);
    client.OnStart(view);
    owner_seen = true;
    return true;
  }
  RecordingProgressView view;
  bool owner_seen = false;
};

TEST(FirmwareUpdate, OneUpdatePerDialog) {
  UpdateRig rig(OlderController(), PackByHand(PatternImage(600)));
  DoubleStartDialog dialog;
  FirmwareUpdate update(rig.link, rig.platform);
  update.Attach(&rig.image, &dialog);
  EXPECT_TRUE(update.Run());
  EXPECT_EQ(rig.controller.trace().Count(sim::TraceKind::kCommand, "FlashErase"), 1u);
  EXPECT_EQ(rig.image.loads(), 1);
}

TEST(FirmwareUpdate, WithoutAnImageSourceTheImageIsNotFound) {
  UpdateRig rig;
  FirmwareUpdate update(rig.link, rig.platform);
  EXPECT_FALSE(update.Run());
  EXPECT_EQ(update.headless().view().heading(), "Error loading packed firmware file.");
  EXPECT_EQ(update.headless().runs(), 1);
  EXPECT_EQ(rig.Commands(), 0u);
}

TEST(FirmwareUpdate, ReportIsClearedByTheNextRun) {
  UpdateRig rig(OlderController(), PackByHand(PatternImage(600)));
  FirmwareUpdate update(rig.link, rig.platform);
  update.Attach(&rig.image, nullptr);
  ASSERT_TRUE(update.Run());
  EXPECT_EQ(update.report().chunks, 3);
  rig.image.set_missing(true);
  EXPECT_FALSE(update.Run());
  EXPECT_EQ(update.report().chunks, 0);
  EXPECT_FALSE(update.report().result);
}

}  // namespace
}  // namespace kelvro::test
