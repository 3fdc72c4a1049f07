// The status window fed across threads: thousands of reports posted while the window's
// thread shows them (each one it shows is one that was posted, whole), reports after the
// stop began dropped, and the stop going on within its bound when the window's thread does
// not answer. Then the plugin driving the window: the menu command opens it once, the tick's
// reports reach it with the host's values, Update shows it offline, StopPlug ends it.
#include "ui/status_window.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "plugin/plugin.h"
#include "sim/standin_host.h"
#include "sim/status_window_standin.h"
#include "ui/status_view.h"

namespace kelvro {
namespace {

// Every field from the report's number, each by its own rule, so that a report put
// together from two posted ones matches neither.
StatusSnapshot NumberedReport(uint32_t n) {
  StatusSnapshot s;
  StatusPacket& p = s.packet;
  p.mode = static_cast<uint8_t>(n % 7);
  p.sequence = static_cast<uint8_t>((n / 7) % 9);
  p.flags = static_cast<uint8_t>(n * 13);
  p.inputs = static_cast<uint16_t>(n * 3);
  p.line_word = static_cast<uint16_t>(~n);
  for (size_t k = 0; k < p.positions.size(); ++k) {
    p.positions[k] = static_cast<int32_t>(n * (k + 2)) - 5000;
  }
  p.thc_z_offset = static_cast<int32_t>(n ^ 0x5A5A);
  p.index_period = n * 7;
  p.buffer_fill = static_cast<uint16_t>(n % 1001);
  p.timestamp = n;
  p.enc1 = -static_cast<int32_t>(n);
  p.enc2 = static_cast<int32_t>(n * 11);
  p.ring_index = static_cast<uint16_t>(n * 5);
  p.analog_raw = static_cast<uint16_t>(n * 17);
  s.threading = (n & 1) != 0;
  s.zcorr_active = (n & 2) != 0;
  s.z_original = n * 0.25;
  s.spindle_axis = (n & 4) != 0;
  return s;
}

// A window's thread as a plain thread: a message queue of wakes and a quit, a view that
// shows what it takes from the feed, and a gate the test closes to keep the thread from
// answering.
class ThreadedWindow final : public StatusWindowThread {
 public:
  ~ThreadedWindow() override {
    OpenGate();
    if (thread_.joinable()) {
      Push(kQuit);
      thread_.join();
    }
  }

  bool Running() override {
    const std::lock_guard<std::mutex> hold(lock_);
    return started_ && !finished_;
  }
  void Open(void* /*owner*/, std::shared_ptr<StatusFeed> feed) override {
    if (Running()) return;
    if (thread_.joinable()) thread_.join();
    {
      const std::lock_guard<std::mutex> hold(lock_);
      started_ = true;
      finished_ = false;
    }
    thread_ = std::thread([this, feed] { Loop(*feed); });
  }
  void Wake() override { Push(kWake); }
  bool Stop(uint32_t wait_ms) override {
    Push(kQuit);
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(wait_ms), [&] { return finished_; });
  }

  void CloseGate() {
    const std::lock_guard<std::mutex> hold(lock_);
    gate_open_ = false;
  }
  void OpenGate() {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      gate_open_ = true;
    }
    changed_.notify_all();
  }
  void Join() {
    OpenGate();
    if (thread_.joinable()) thread_.join();
  }
  // Waits until the window has shown report `n` or the offline view.
  void WaitUntilShown(uint32_t n) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return !shown_.empty() && shown_.back().packet.timestamp == n; });
  }
  void WaitUntilOffline() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return offline_views_ > 0; });
  }
  // Read after Join.
  const std::vector<StatusSnapshot>& shown() const { return shown_; }
  int offline_views() const { return offline_views_; }

 private:
  enum Message { kWake, kQuit };

  void Push(Message message) {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      queue_.push_back(message);
    }
    changed_.notify_all();
  }

  void Loop(StatusFeed& feed) {
    StatusView view;
    for (;;) {
      Message message;
      {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [&] { return gate_open_ && !queue_.empty(); });
        message = queue_.front();
        queue_.pop_front();
      }
      if (message == kQuit) break;
      if (const std::optional<StatusUpdate> update = feed.Take()) {
        if (update->online) {
          view.ShowOnline(update->snapshot);
        } else {
          view.ShowOffline();
        }
        {
          const std::lock_guard<std::mutex> hold(lock_);
          if (update->online) {
            shown_.push_back(update->snapshot);
          } else {
            ++offline_views_;
          }
        }
        changed_.notify_all();
      }
    }
    {
      const std::lock_guard<std::mutex> hold(lock_);
      finished_ = true;
    }
    changed_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Message> queue_;
  bool gate_open_ = true;
  bool started_ = false;
  bool finished_ = false;
  std::thread thread_;
  std::vector<StatusSnapshot> shown_;
  int offline_views_ = 0;
};

TEST(StatusWindowThreadsTest, EveryShownReportIsOnePostedWhole) {
  constexpr uint32_t kReports = 20000;
  ThreadedWindow thread;
  StatusWindow window;
  window.Attach(&thread);
  window.Open(nullptr);
  StatusSnapshot report;
  for (uint32_t n = 1; n <= kReports; ++n) {
    // The tick's own buffer, overwritten for every report, as the window's source.
    report = NumberedReport(n);
    window.OnStatus(report);
  }
  // The newest report always reaches the window.
  thread.WaitUntilShown(kReports);
  EXPECT_TRUE(window.Stop());
  thread.Join();
  ASSERT_FALSE(thread.shown().empty());
  uint32_t previous = 0;
  for (const StatusSnapshot& shown : thread.shown()) {
    const uint32_t n = shown.packet.timestamp;
    ASSERT_GT(n, previous);
    ASSERT_LE(n, kReports);
    ASSERT_EQ(EncodeStatusPacket(shown.packet), EncodeStatusPacket(NumberedReport(n).packet)) << n;
    ASSERT_EQ(shown, NumberedReport(n)) << n;
    previous = n;
  }
}

TEST(StatusWindowThreadsTest, StopGoesOnWithinItsBoundWhenTheWindowDoesNotAnswer) {
  ThreadedWindow thread;
  StatusWindow window;
  window.Attach(&thread);
  window.set_stop_wait_ms(5);
  window.Open(nullptr);
  thread.CloseGate();
  window.OnStatus(NumberedReport(1));
  EXPECT_FALSE(window.Stop());
  EXPECT_TRUE(thread.Running());
  // Posted after the stop began: dropped, like the one still waiting.
  window.OnStatus(NumberedReport(2));
  window.FollowLink(false);
  thread.Join();
  EXPECT_TRUE(thread.shown().empty());
  EXPECT_EQ(thread.offline_views(), 0);
  EXPECT_FALSE(thread.Running());
}

TEST(StatusWindowThreadsTest, OfflineOnceWhenTheLinkIsGone) {
  ThreadedWindow thread;
  StatusWindow window;
  window.Attach(&thread);
  window.Open(nullptr);
  window.FollowLink(false);  // nothing shown yet: stays as it is
  window.OnStatus(NumberedReport(3));
  window.FollowLink(true);
  window.FollowLink(false);
  thread.WaitUntilOffline();
  window.FollowLink(false);
  EXPECT_TRUE(window.Stop());
  thread.Join();
  // The report may have been replaced by the offline view before the thread took it.
  EXPECT_LE(thread.shown().size(), 1u);
  EXPECT_EQ(thread.offline_views(), 1);
}

// ---- The plugin driving the window ----

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
}  // namespace kelvro
