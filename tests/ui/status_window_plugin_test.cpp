// The plugin driving the status window: the menu command opens it once, the tick's reports
// reach it with the host's values, Update shows it offline when the controller is gone,
// StopPlug ends it, and goes on without a window that does not answer.
#include <gtest/gtest.h>

#include "plugin/plugin.h"
#include "sim/standin_host.h"
#include "sim/status_window_standin.h"
#include "tests/ui/threaded_status_window.h"

namespace kelvro::test {
namespace {

class StatusWindowPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();
    host.StartUp();
    host.plugin().SetStatusWindowThread(&window);
    ASSERT_EQ(host.Reset(), 0xFFFF);
  }
  void OpenCommand() { host.plugin().Notify(host.plugin().menu_base() + 1); }

  sim::HostOf<Plugin> host;
  sim::InlineStatusWindow window;
};

TEST_F(StatusWindowPluginTest, MenuCommandOpensOnceAndReportsReachTheWindow) {
  host.controller().SetInputPins(0x0005);
  host.controller().SetLineWord(0x8001);
  host.controller().SetAnalogRaw(65535);
  host.Run(200);
  EXPECT_EQ(window.opens(), 0);
  OpenCommand();
  OpenCommand();
  EXPECT_EQ(window.opens(), 1);
  EXPECT_EQ(window.activations(), 1);
  host.Run(200);
  ASSERT_NE(window.view(), nullptr);
  const StatusView& view = *window.view();
  EXPECT_GT(window.shown(), 0);
  EXPECT_EQ(view.Text(IDC_STATUS_LINK), "Online, mode= IDLE");
  EXPECT_EQ(view.Text(IDC_STATUS_SEQUENCE), "Sequence: NONE");
  EXPECT_EQ(view.Text(IDC_STATUS_ANALOG), "Analog: 3.300 V");
  EXPECT_EQ(view.Text(IDC_STATUS_THREADING), "Threading: OFF");
  EXPECT_EQ(view.indicator().in_word(), 0x0005);
  EXPECT_EQ(view.indicator().out_word(), 0x8001);
}

TEST_F(StatusWindowPluginTest, UnpluggedControllerShowsOfflineAndTheCountersStay) {
  OpenCommand();
  host.Run(200);
  ASSERT_NE(window.view(), nullptr);
  ASSERT_TRUE(window.view()->online());
  const std::string x = window.view()->Text(IDC_STATUS_COUNTER_X);
  host.controller().Disconnect();
  host.Run(1000);
  const StatusView& view = *window.view();
  EXPECT_FALSE(view.online());
  EXPECT_EQ(view.Text(IDC_STATUS_LINK), "OFFLINE, press RESET");
  EXPECT_EQ(view.Text(IDC_STATUS_BUFFER), "");
  EXPECT_EQ(view.Text(IDC_STATUS_COUNTER_X), x);
  EXPECT_TRUE(view.indicator().offline());
}

TEST_F(StatusWindowPluginTest, ClosedAndOpenedAgainStartsFresh) {
  OpenCommand();
  host.Run(100);
  window.Close();
  host.Run(100);
  const int shown = window.shown();
  OpenCommand();
  EXPECT_EQ(window.opens(), 2);
  host.Run(100);
  EXPECT_GT(window.shown(), shown);
  EXPECT_EQ(window.view()->Text(IDC_STATUS_LINK), "Online, mode= IDLE");
}

TEST_F(StatusWindowPluginTest, StopPlugGoesOnWithoutAWindowThatDoesNotAnswer) {
  ThreadedWindow thread;
  host.plugin().SetStatusWindowThread(&thread);
  host.plugin().status_window().set_stop_wait_ms(5);
  OpenCommand();
  thread.CloseGate();
  host.Run(100);
  host.StopPlug();
  EXPECT_STREQ(host.planner().status_text,
               "The status window did not close; the plugin stopped without it.");
  thread.Join();
  EXPECT_TRUE(thread.shown().empty());
}

TEST_F(StatusWindowPluginTest, StopPlugClosesTheWindow) {
  OpenCommand();
  host.Run(100);
  host.StopPlug();
  EXPECT_FALSE(window.Running());
  EXPECT_STRNE(host.planner().status_text,
               "The status window did not close; the plugin stopped without it.");
}

}  // namespace
}  // namespace kelvro::test
