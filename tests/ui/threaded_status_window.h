// Test doubles for the status window across threads: reports numbered so that each field
// tells which report it came from, and the window's thread as a plain thread with a message
// queue of wakes and a quit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "ui/status_view.h"
#include "ui/status_window.h"

namespace kelvro::test {

// Every field from the report's number, each by its own rule, so that a report put
// together from two posted ones matches neither.
inline StatusSnapshot NumberedReport(uint32_t n) {
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

}  // namespace kelvro::test
