#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>

#include "device/wire.h"
#include "sim/sim_controller.h"

// The USB side of the simulated controller: who holds it open, status reads (with their
// injected losses and corruptions), control requests and the bus faults.

namespace kelvro::sim {

bool SimController::Claim(const void* owner) {
  if (!present_) return false;
  if (owner_ != nullptr && owner_ != owner && owner_generation_ == generation_) return false;
  owner_ = owner;
  owner_generation_ = generation_;
  return true;
}

void SimController::Release(const void* owner) {
  if (owner_ == owner) owner_ = nullptr;
}

bool SimController::ClaimedBy(const void* owner) const {
  return present_ && owner_ == owner && owner_generation_ == generation_;
}

bool SimController::TakeWriteFault(uint8_t pipe, const uint8_t* data, size_t length) {
  // Counts one write down on an armed fault; true when this write is the one that fails.
  auto due = [](std::optional<uint32_t>& armed) {
    if (!armed) return false;
    if (*armed > 0) {
      --*armed;
      return false;
    }
    armed.reset();
    return true;
  };
  const bool pipe_fails = due(fail_write_[pipe]);
  bool command_fails = false;
  int code = -1;
  if (pipe == 0x01 && data != nullptr && length > 0) {
    code = data[0];
    command_fails = due(fail_command_[data[0]]);
  }
  if (!pipe_fails && !command_fails) return false;
  std::string detail = "injected";
  if (code >= 0) {
    const char* name = CommandName(static_cast<uint8_t>(code));
    detail += std::string(" on ") + (name != nullptr ? name : "an unknown command");
  }
  Record(TraceKind::kFault, pipe, code, "WriteFailed", {}, detail);
  return true;
}

SimReadStart SimController::BeginStatusRead(uint32_t length) {
  SimReadStart r;
  if (ReplyReady()) {
    r.data.resize(length);
    r.data.resize(TakeReplyBytes(r.data.data(), length));
    return r;
  }
  // In the loader, and while a flash command is being carried out, the pipe carries only
  // flash replies: the read waits for the next one.
  if (flash_mode_ || !replies_.empty()) {
    r.kind = SimReadStart::Kind::kAwaitReply;
    return r;
  }
  bool lost = false;
  bool dropped = false;
  std::optional<StatusCorruption> corruption;
  if (lose_reads_ > 0) {
    --lose_reads_;
    lost = true;
  } else if (corrupt_reads_ > 0) {
    --corrupt_reads_;
    corruption = corrupt_kind_;
  } else if (lose_rate_ > 0.0 || corrupt_rate_ > 0.0) {
    auto uniform = [this] { return static_cast<double>(NextRandom() >> 11) * 0x1.0p-53; };
    if (uniform() < lose_rate_) {
      dropped = true;
    } else if (uniform() < corrupt_rate_) {
      corruption =
          (NextRandom() & 1) ? StatusCorruption::kShortTransfer : StatusCorruption::kWrongMarker;
    }
  }
  if (lost) {
    Record(TraceKind::kFault, 0x81, -1, "StatusReadLost", {}, "read never completes");
    r.kind = SimReadStart::Kind::kLost;
    return r;
  }
  if (dropped) {
    Record(TraceKind::kFault, 0x81, -1, "StatusReportDropped", {}, "answered by a later report");
    r.kind = SimReadStart::Kind::kDropped;
    r.retry_after_ms = std::max<uint32_t>(1, options_.dropped_report_retry_ms);
    return r;
  }
  const auto status = StatusBytes();
  ++status_reads_;
  const size_t n = std::min<size_t>(length, kSimStatusLength);
  r.data.assign(status.begin(), status.begin() + static_cast<std::ptrdiff_t>(n));
  if (!corruption) {
    MarkDelivered(status);
    if (on_report_delivered) on_report_delivered(status);
    return r;
  }
  if (*corruption == StatusCorruption::kWrongMarker) {
    if (!r.data.empty()) r.data[0] = 0x00;
    Record(TraceKind::kFault, 0x81, -1, "StatusReadCorrupted", {}, "wrong start marker");
  } else {
    r.data.resize(std::min<size_t>(r.data.size(), options_.short_transfer));
    Record(TraceKind::kFault, 0x81, -1, "StatusReadCorrupted", {},
           "short transfer of " + std::to_string(r.data.size()) + " bytes");
  }
  return r;
}

void SimController::MarkDelivered(const std::array<uint8_t, kSimStatusLength>& status) {
  if (status[2] == static_cast<uint8_t>(SimSequence::kHome4)) home4_delivered_ = true;
  if (status[3] & 0x01) resync_pending_ = false;
}

bool SimController::ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) {
  if (fail_control_requests_ > 0) {
    --fail_control_requests_;
    Record(TraceKind::kFault, 0x00, request, "ControlIn", {}, "injected failure");
    return false;
  }
  if (request == 0xE0) {
    // The loader answers "00.00" until a complete image has been committed.
    const std::string text = flash_mode_ ? "00.00" : firmware_version_;
    std::vector<uint8_t> reply(5, 0);
    std::copy_n(text.begin(), std::min<size_t>(5, text.size()), reply.begin());
    const size_t n = std::min<size_t>(length, reply.size());
    std::copy_n(reply.begin(), n, buffer);
    Record(TraceKind::kControl, 0x00, request, "GetFirmwareVersion",
           std::vector<uint8_t>(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(n)));
    return true;
  }
  if (request == 0xE2) {
    uint8_t reply[4];
    PutU32(reply, 0, static_cast<uint32_t>(latched_z_));
    const size_t n = std::min<size_t>(length, 4);
    std::copy_n(reply, n, buffer);
    Record(TraceKind::kControl, 0x00, request, "GetZPosition",
           std::vector<uint8_t>(reply, reply + n));
    return true;
  }
  Record(TraceKind::kRejected, 0x00, request, "ControlIn", {}, "unknown request");
  return false;
}

// ---------------------------------------------------------------- faults

void SimController::Disconnect() {
  if (!present_) return;
  present_ = false;
  ++generation_;
  replies_.clear();
  Record(TraceKind::kFault, 0x00, -1, "Disconnected", {}, "injected");
}

void SimController::Reconnect(bool restart) {
  const bool was_present = present_;
  present_ = true;
  if (restart) PowerOn();
  if (!was_present || restart) {
    Record(TraceKind::kNote, 0x00, -1, "Reconnected", {}, restart ? "after restart" : "");
  }
}

void SimController::CorruptStatusReads(uint32_t count, StatusCorruption kind) {
  corrupt_reads_ += count;
  corrupt_kind_ = kind;
}

void SimController::SetStatusFaultRates(double lose, double corrupt, uint64_t seed) {
  auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
  lose_rate_ = unit(lose);
  corrupt_rate_ = unit(corrupt);
  rng_state_ = seed;
}

void SimController::FailNextWrite(uint8_t pipe, uint32_t skip) {
  fail_write_[pipe] = skip;
}

void SimController::FailNextCommand(uint8_t code, uint32_t skip) {
  fail_command_[code] = skip;
}

uint64_t SimController::NextRandom() {
  // splitmix64: small, fully specified, the same on every platform.
  uint64_t z = (rng_state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace kelvro::sim
