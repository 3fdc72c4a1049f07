// A scripted USB port for tests and benchmarks: records every write per pipe, lets the test
// decide when the status read completes and with what (or answers every read at once with a
// standing report), answers control requests from a table and fails writes on demand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "device/usb_port.h"

namespace kelvro::sim {

class ScriptedUsbPort : public UsbPort {
 public:
  struct Write {
    uint8_t pipe;
    std::vector<uint8_t> bytes;
  };
  // How a write ends: the call's result and how many bytes it reports (-1 = all).
  struct WriteOutcome {
    bool ok = true;
    int64_t reported = -1;
  };
  struct ControlCall {
    uint8_t request;
    uint16_t length;
  };

  // ---- script ----
  UsbOpenResult open_result = UsbOpenResult::kOk;
  std::deque<WriteOutcome> write_outcomes;  // consumed per recorded write; success when empty
  int fail_writes_on_pipe = -1;             // the next write on this pipe fails and never arrives
  bool start_read_ok = true;
  // Missing request = failure. The firmware version answers "01.22".
  std::map<uint8_t, std::vector<uint8_t>> control_answers{
      {kRequestFirmwareVersion, {'0', '1', '.', '2', '2'}}};
  // When set, every started read completes at once with these bytes.
  std::optional<std::vector<uint8_t>> standing_report;
  // Off: writes are only counted in bytes_written (no allocation per write).
  bool record_writes = true;

  // ---- record ----
  bool is_open = false;
  int open_calls = 0;
  int close_calls = 0;
  std::vector<Write> writes;
  uint64_t bytes_written = 0;
  int start_reads = 0;
  uint8_t read_pipe = 0;
  uint32_t read_length = 0;
  std::vector<uint32_t> wait_calls;
  std::vector<ControlCall> control_calls;

  UsbOpenResult Open() override {
    ++open_calls;
    is_open = open_result == UsbOpenResult::kOk;
    return open_result;
  }

  void Close() override {
    ++close_calls;
    is_open = false;
    in_flight_ = false;
    completed_ = false;
    read_buffer_ = nullptr;
  }

  bool WritePipe(uint8_t pipe, const uint8_t* data, uint32_t length, uint32_t* written) override {
    *written = 0;
    if (!is_open) return false;
    if (fail_writes_on_pipe == pipe) {
      fail_writes_on_pipe = -1;
      return false;
    }
    if (record_writes) writes.push_back({pipe, std::vector<uint8_t>(data, data + length)});
    WriteOutcome outcome;
    if (!write_outcomes.empty()) {
      outcome = write_outcomes.front();
      write_outcomes.pop_front();
    }
    *written = outcome.reported < 0 ? length : static_cast<uint32_t>(outcome.reported);
    if (outcome.ok) bytes_written += *written;
    return outcome.ok;
  }

  bool StartRead(uint8_t pipe, uint8_t* buffer, uint32_t length) override {
    ++start_reads;
    if (!is_open || !start_read_ok) return false;
    read_pipe = pipe;
    read_length = length;
    read_buffer_ = buffer;
    in_flight_ = true;
    completed_ = false;
    if (standing_report) Complete(standing_report->data(), standing_report->size(), true);
    return true;
  }

  bool ReadCompleted() override { return in_flight_ && completed_; }

  bool WaitRead(uint32_t ms) override {
    wait_calls.push_back(ms);
    return in_flight_ && completed_;
  }

  bool ReadResult(uint32_t* transferred) override {
    *transferred = 0;
    if (!in_flight_ || !completed_) return false;
    in_flight_ = false;
    *transferred = transferred_;
    return result_ok_;
  }

  bool ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) override {
    control_calls.push_back({request, length});
    if (!is_open) return false;
    auto it = control_answers.find(request);
    if (it == control_answers.end()) return false;
    std::copy_n(it->second.begin(), std::min<size_t>(length, it->second.size()), buffer);
    return true;
  }

  // Completes the read in flight: `bytes` land in the reader's buffer (as much as fits),
  // the transfer reports `ok` and bytes.size() transferred.
  void CompleteRead(const std::vector<uint8_t>& bytes, bool ok = true) {
    Complete(bytes.data(), bytes.size(), ok);
  }

  bool read_in_flight() const { return in_flight_; }

  std::vector<Write> WritesOn(uint8_t pipe) const {
    std::vector<Write> out;
    for (const Write& w : writes) {
      if (w.pipe == pipe) out.push_back(w);
    }
    return out;
  }

 private:
  void Complete(const uint8_t* bytes, size_t size, bool ok) {
    if (!in_flight_) return;
    std::copy_n(bytes, std::min<size_t>(size, read_length), read_buffer_);
    transferred_ = static_cast<uint32_t>(size);
    result_ok_ = ok;
    completed_ = true;
  }

  bool in_flight_ = false;
  bool completed_ = false;
  bool result_ok_ = true;
  uint32_t transferred_ = 0;
  uint8_t* read_buffer_ = nullptr;
};

}  // namespace kelvro::sim
