#include "sim/sim_usb_port.h"

#include <algorithm>

#include "sim/scripted_platform.h"

namespace kelvro::sim {

SimUsbPort::SimUsbPort(SimController& controller, std::function<uint64_t()> now,
                       std::function<void(uint32_t)> wait)
    : controller_(controller), now_(std::move(now)), wait_(std::move(wait)) {}

SimUsbPort::SimUsbPort(SimController& controller, ScriptedPlatform& platform)
    : SimUsbPort(
          controller, [&platform] { return platform.Now(); },
          [&platform](uint32_t ms) { platform.Advance(ms); }) {}

SimUsbPort::~SimUsbPort() {
  Close();
}

void SimUsbPort::Sync() {
  controller_.AdvanceTo(Now());
}

bool SimUsbPort::Usable() const {
  return open_ && controller_.present() && controller_.generation() == open_generation_ &&
         controller_.ClaimedBy(this);
}

UsbOpenResult SimUsbPort::Open() {
  Sync();
  Close();
  if (!controller_.present()) return UsbOpenResult::kNoDevice;
  if (!controller_.Claim(this)) return UsbOpenResult::kFailed;
  open_ = true;
  open_generation_ = controller_.generation();
  read_ = {};
  return UsbOpenResult::kOk;
}

void SimUsbPort::Close() {
  if (!open_) return;
  controller_.Release(this);
  open_ = false;
  read_ = {};  // a read in flight is abandoned with the handle
}

bool SimUsbPort::WritePipe(uint8_t pipe, const uint8_t* data, uint32_t length, uint32_t* written) {
  if (written != nullptr) *written = 0;
  Sync();
  if (!Usable()) return false;
  if (data == nullptr && length > 0) return false;
  if (pipe != kPipeCommand && pipe != kPipeSegments) return false;
  if (controller_.TakeWriteFault(pipe, data, length)) return false;
  if (pipe == kPipeCommand) {
    controller_.ReceiveCommandWrite(data, length);
  } else {
    controller_.ReceiveSegmentWrite(data, length);
  }
  if (written != nullptr) *written = length;
  return true;
}

bool SimUsbPort::StartRead(uint8_t pipe, uint8_t* buffer, uint32_t length) {
  Sync();
  if (!Usable() || pipe != kPipeStatus || buffer == nullptr || length == 0) return false;
  UpdateRead();
  if (read_.state == ReadState::kInFlight) return false;
  SimReadStart start = controller_.BeginStatusRead(length);
  read_ = {};
  read_.state = ReadState::kInFlight;
  read_.kind = start.kind;
  read_.buffer = buffer;
  read_.length = length;
  read_.data = std::move(start.data);
  read_.complete_at = Now() + (start.kind == SimReadStart::Kind::kDropped ? start.retry_after_ms
                                                                          : read_latency_ms_);
  UpdateRead();
  return true;
}

void SimUsbPort::Complete(bool success) {
  read_.state = ReadState::kDone;
  read_.success = success;
  if (!success) {
    read_.transferred = 0;
    return;
  }
  const uint32_t n = std::min<uint32_t>(read_.length, static_cast<uint32_t>(read_.data.size()));
  std::copy_n(read_.data.begin(), n, read_.buffer);
  read_.transferred = n;
}

void SimUsbPort::UpdateRead() {
  if (read_.state != ReadState::kInFlight) return;
  if (!Usable()) {
    // The device went away under the read: it ends with an error.
    Complete(false);
    return;
  }
  // A dropped report: the bus asks again and gets the controller's report of that moment.
  while (read_.kind == SimReadStart::Kind::kDropped && Now() >= read_.complete_at) {
    SimReadStart retry = controller_.BeginStatusRead(read_.length);
    read_.kind = retry.kind;
    read_.data = std::move(retry.data);
    read_.complete_at =
        read_.complete_at +
        (retry.kind == SimReadStart::Kind::kDropped ? retry.retry_after_ms : read_latency_ms_);
  }
  if (read_.kind == SimReadStart::Kind::kAwaitReply) {
    std::vector<uint8_t> bytes(read_.length);
    const size_t n = controller_.TakeReplyBytes(bytes.data(), bytes.size());
    if (n == 0) return;
    bytes.resize(n);
    read_.data = std::move(bytes);
    read_.kind = SimReadStart::Kind::kData;
    read_.complete_at = Now() + read_latency_ms_;
  }
  if (read_.kind == SimReadStart::Kind::kData && Now() >= read_.complete_at) Complete(true);
}

bool SimUsbPort::ReadCompleted() {
  Sync();
  UpdateRead();
  return read_.state == ReadState::kDone;
}

std::optional<uint64_t> SimUsbPort::NextReadEvent() const {
  switch (read_.kind) {
    case SimReadStart::Kind::kData:
    case SimReadStart::Kind::kDropped:
      return read_.complete_at;
    case SimReadStart::Kind::kAwaitReply:
      // The read takes the reply when it is ready and completes one latency later.
      return controller_.NextReplyReadyAt();
    case SimReadStart::Kind::kLost:
      return std::nullopt;
  }
  return std::nullopt;
}

bool SimUsbPort::WaitRead(uint32_t ms) {
  Sync();
  UpdateRead();
  const uint64_t deadline = Now() + ms;
  while (read_.state == ReadState::kInFlight) {
    const uint64_t now = Now();
    const std::optional<uint64_t> event = NextReadEvent();
    const bool in_time = event.has_value() && *event <= deadline;
    if (!wait_) {
      // No clock to move: answer as if the wait had taken place.
      if (!in_time || read_.kind != SimReadStart::Kind::kData) return false;
      Complete(true);
      return true;
    }
    if (!in_time) {
      if (deadline > now) wait_(static_cast<uint32_t>(deadline - now));
      Sync();
      UpdateRead();
      break;
    }
    if (*event > now) wait_(static_cast<uint32_t>(*event - now));
    Sync();
    UpdateRead();
    // Time did not move and nothing changed: waiting longer would not help.
    if (Now() == now && read_.state == ReadState::kInFlight && NextReadEvent() == event) break;
  }
  return read_.state == ReadState::kDone;
}

bool SimUsbPort::ReadResult(uint32_t* transferred) {
  if (transferred != nullptr) *transferred = 0;
  Sync();
  UpdateRead();
  if (read_.state != ReadState::kDone) return false;
  if (transferred != nullptr) *transferred = read_.transferred;
  return read_.success;
}

bool SimUsbPort::ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) {
  Sync();
  if (!Usable() || (buffer == nullptr && length > 0)) return false;
  return controller_.ControlIn(request, buffer, length);
}

}  // namespace kelvro::sim
