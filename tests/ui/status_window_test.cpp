// The status window fed across threads: thousands of reports posted while the window's
// thread shows them (each one it shows is one that was posted, whole), reports after the
// stop began dropped, and the stop going on within its bound when the window's thread does
// not answer.
#include <gtest/gtest.h>

#include "tests/ui/threaded_status_window.h"

namespace kelvro::test {
namespace {

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

}  // namespace
}  // namespace kelvro::test
