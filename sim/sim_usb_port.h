// The USB port seam wired to a SimController on virtual time.
//
// Every call first brings the controller up to the current virtual time. A status read takes
// its content when it is started (the state at that moment) and completes `read_latency_ms`
// later (1 ms by default; 0 completes at once). WaitRead blocks the way the real port does:
// through the wait hook it moves virtual time forward (to the read's completion, or by the
// whole timeout when the read will not complete); without a hook it only answers whether
// the read completes within the timeout, without moving time.
//
// A read that the controller loses never completes; one that is corrupted reports its real
// (short) byte count. When the device leaves the bus, open handles die: writes and control
// requests fail and a read in flight completes with failure. One port at a time may hold the
// controller open.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/usb_port.h"
#include "sim/sim_controller.h"

namespace kelvro::sim {

class ScriptedPlatform;

class SimUsbPort final : public UsbPort {
 public:
  SimUsbPort(SimController& controller, std::function<uint64_t()> now,
             std::function<void(uint32_t ms)> wait = {});
  // Time from the platform's virtual clock; waits advance it.
  SimUsbPort(SimController& controller, ScriptedPlatform& platform);
  ~SimUsbPort() override;

  UsbOpenResult Open() override;
  void Close() override;
  bool WritePipe(uint8_t pipe, const uint8_t* data, uint32_t length, uint32_t* written) override;
  bool StartRead(uint8_t pipe, uint8_t* buffer, uint32_t length) override;
  bool ReadCompleted() override;
  bool WaitRead(uint32_t ms) override;
  bool ReadResult(uint32_t* transferred) override;
  bool ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) override;
  std::string_view DevicePath() const override {
    return open_ ? std::string_view(device_path_) : std::string_view();
  }

  // The interface path under which the controller is found: the simulated controller's by
  // default; a test that wants the plugin to take it for a real controller gives another.
  void set_device_path(std::string_view path) { device_path_ = path; }
  void set_read_latency_ms(uint32_t ms) { read_latency_ms_ = ms; }
  bool is_open() const { return open_; }
  bool read_in_flight() const { return read_.state == ReadState::kInFlight; }

 private:
  enum class ReadState { kNone, kInFlight, kDone };
  struct Read {
    ReadState state = ReadState::kNone;
    SimReadStart::Kind kind = SimReadStart::Kind::kData;
    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    std::vector<uint8_t> data;
    uint64_t complete_at = 0;
    bool success = false;
    uint32_t transferred = 0;
  };

  uint64_t Now() const { return now_ ? now_() : 0; }
  void Sync();
  bool Usable() const;
  void UpdateRead();
  void Complete(bool success);
  // When the read in flight next changes (completes, or takes a flash reply); nothing for
  // a read that never completes.
  std::optional<uint64_t> NextReadEvent() const;

  SimController& controller_;
  std::function<uint64_t()> now_;
  std::function<void(uint32_t)> wait_;
  uint32_t read_latency_ms_ = 1;
  std::string device_path_{kSimulatedControllerPath};
  bool open_ = false;
  uint64_t open_generation_ = 0;
  Read read_;
};

}  // namespace kelvro::sim
