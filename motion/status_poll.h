// The status read on the link and the queue-fill bookkeeping around it.
//
// One read is always in flight; each tick collects the one started on the tick before and
// starts the next. A report's queue fill was read when its transfer started, so it cannot
// contain the segments sent after that: the poll remembers how many segments had been
// streamed when the read that delivered the last report began, and the streaming adds
// everything sent since.
#pragma once

#include <array>
#include <cstdint>

#include "device/commands.h"
#include "device/device_link.h"

namespace kelvro {

class StatusPoll {
 public:
  explicit StatusPoll(DeviceLink& link) : link_(link) {}

  // Collects the read in flight and starts the next; true when a complete transfer of a
  // report's length arrived (its bytes are in bytes(), not yet checked).
  bool Poll();
  const std::array<uint8_t, kStatusPacketSize>& bytes() const { return bytes_; }

  // A segment record went into a batch.
  void CountStreamedSegment() { ++streamed_total_; }
  // The controller's queue as far as the plugin can know it: `reported_fill` of the last
  // report plus every segment streamed after that report's read was started.
  int QueueFill(uint16_t reported_fill) const;
  // After a Reset: the controller's queue was emptied by the new configuration, and a read
  // from the old connection tells nothing.
  void AfterReset();

  // Something changed the controller's state outside the reports (the Z read-back): reports
  // from reads started before now describe the controller as it was.
  void MarkReportsStale() {
    stale_through_ = reads_started_;
    marked_ = true;
  }
  // The last delivered report came from a read started before the last such mark.
  bool ReportPredatesMark() const { return marked_ && report_read_ <= stale_through_; }

 private:
  void BeginTrackedRead();

  DeviceLink& link_;
  std::array<uint8_t, kStatusPacketSize> bytes_{};
  // Segments streamed since load, and that count when the status read that delivered the
  // last report was started.
  uint64_t streamed_total_ = 0;
  uint64_t read_start_mark_ = 0;
  uint64_t report_mark_ = 0;
  bool read_tracked_ = false;
  // Reads numbered in the order they were started: the read in flight, the one that
  // delivered the last report, and the last one started before a stale mark.
  uint64_t reads_started_ = 0;
  uint64_t current_read_ = 0;
  uint64_t report_read_ = 0;
  uint64_t stale_through_ = 0;
  bool marked_ = false;
};

}  // namespace kelvro
