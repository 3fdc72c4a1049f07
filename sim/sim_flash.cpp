#include <algorithm>
#include <charconv>
#include <string>

#include "device/wire.h"
#include "sim/sim_controller.h"

// Flash programming: erase, block writes, the closing length word, the one-byte replies
// (each ready once the command has been carried out), the restart with the new firmware,
// and the faults injected on request.

namespace kelvro::sim {

namespace {

bool ParseIndex(std::string_view text, uint32_t& index) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), index);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseSimFlashFault(std::string_view text, SimFlashFaults& faults) {
  uint32_t index = 0;
  if (text == "erase") {
    faults.wrong_erase_reply = true;
  } else if (text == "never-returns") {
    faults.never_returns = true;
  } else if (text.starts_with("chunk:") && ParseIndex(text.substr(6), index)) {
    faults.wrong_reply_to_write = index;
  } else if (text.starts_with("no-reply:") && ParseIndex(text.substr(9), index)) {
    faults.no_reply_to_write = index;
  } else {
    return false;
  }
  return true;
}

void SimController::StepFlashRestart() {
  if (flash_leave_at_ && now_ms_ >= *flash_leave_at_) {
    flash_leave_at_.reset();
    present_ = false;
    ++generation_;
    replies_.clear();
    Record(TraceKind::kNote, 0x00, -1, "BusLeft", {}, "restarting with the new firmware");
    if (!flash_never_returns_) flash_return_at_ = now_ms_ + options_.flash_restart_ms;
  }
  if (flash_return_at_ && now_ms_ >= *flash_return_at_) {
    flash_return_at_.reset();
    present_ = true;
    PowerOn();
    firmware_version_ = options_.flashed_version;
    Record(TraceKind::kNote, 0x00, -1, "BusReturned", {}, "firmware " + firmware_version_);
  }
}

void SimController::OnFlashErase(const Payload& /*payload*/) {
  StopEverything();
  mode_ = SimMode::kSafe;
  flash_mode_ = true;
  flash_.assign(options_.flash_size, 0xFF);
  flash_written_.assign(options_.flash_size, false);
  flashed_length_ = 0;
  flash_writes_ = 0;
  QueueFlashReply(kSimFlashReplyOk, -1);
}

void SimController::OnFlashWrite(const Payload& payload) {
  const int64_t index = flash_writes_++;
  const SimFlashBlock block = ParseFlashBlock(payload);
  const uint32_t length = block.length;
  const uint32_t address = block.address;
  const uint8_t* data = block.data;
  auto fail = [&](const std::string& why) {
    Record(TraceKind::kFault, 0x01, sim_code::kFlashWrite, "FlashWrite", {}, why);
    QueueFlashReply(kSimFlashReplyError, index);
  };
  if (!flash_mode_) {
    fail("flash not erased");
    return;
  }
  if (address == 0 && length == 4) {
    // The closing write: the image length at address 0, accepted only when every byte of
    // the image has been written.
    const uint32_t image = GetU32(data, 0);
    const uint64_t end = uint64_t{4} + image;
    if (image == 0 || end > flash_.size()) {
      fail("image length " + std::to_string(image) + " out of range");
      return;
    }
    for (uint64_t a = 4; a < end; ++a) {
      if (!flash_written_[a]) {
        fail("image byte at address " + std::to_string(a) + " never written");
        return;
      }
    }
    std::copy(data, data + 4, flash_.begin());
    flashed_length_ = image;
    ++completed_flashes_;
    QueueFlashReply(kSimFlashReplyOk, index);
    // The reply goes out before the controller restarts.
    flash_leave_at_ = now_ms_ + options_.flash_reply_ms + options_.flash_disconnect_ms;
    return;
  }
  if (length == 0 || length % 4 != 0 || length > 256) {
    fail("block length " + std::to_string(length) + " invalid");
    return;
  }
  if (address % 4 != 0) {
    fail("address " + std::to_string(address) + " not a multiple of 4");
    return;
  }
  if (address < 4 || uint64_t{address} + length > flash_.size()) {
    fail("address " + std::to_string(address) + " out of range");
    return;
  }
  std::copy(data, data + length, flash_.begin() + address);
  std::fill(flash_written_.begin() + address, flash_written_.begin() + address + length, true);
  QueueFlashReply(kSimFlashReplyOk, index);
}

void SimController::QueueFlashReply(uint8_t reply, int64_t write_index) {
  const SimFlashFaults& faults = options_.flash_faults;
  const bool is_erase = write_index < 0;
  bool missing = !is_erase && faults.no_reply_to_write == write_index;
  bool wrong = is_erase ? faults.wrong_erase_reply : faults.wrong_reply_to_write == write_index;
  if (flash_fault_) {
    if (flash_fault_skip_ > 0) {
      --flash_fault_skip_;
    } else {
      missing = missing || *flash_fault_ == FlashReplyFault::kMissing;
      wrong = wrong || *flash_fault_ == FlashReplyFault::kWrongByte;
      flash_fault_.reset();
    }
  }
  if (missing) {
    Record(TraceKind::kFault, 0x81, -1, "FlashReplyMissing", {}, "injected");
    return;
  }
  if (wrong) {
    reply = kSimFlashReplyError;
    Record(TraceKind::kFault, 0x81, -1, "FlashReplyWrong", {}, "injected");
  }
  replies_.push_back({reply, now_ms_ + options_.flash_reply_ms});
}

bool SimController::ReplyReady() const {
  return !replies_.empty() && replies_.front().ready_at <= now_ms_;
}

std::optional<uint64_t> SimController::NextReplyReadyAt() const {
  if (replies_.empty()) return std::nullopt;
  return replies_.front().ready_at;
}

std::vector<uint8_t> SimController::FlashedImage() const {
  if (flashed_length_ == 0 || uint64_t{4} + flashed_length_ > flash_.size()) return {};
  return std::vector<uint8_t>(flash_.begin() + 4, flash_.begin() + 4 + flashed_length_);
}

uint32_t SimController::FlashLengthWord() const {
  return flashed_length_ == 0 || flash_.size() < 4 ? 0 : GetU32(flash_.data(), 0);
}

size_t SimController::TakeReplyBytes(uint8_t* buffer, size_t length) {
  size_t n = 0;
  while (n < length && ReplyReady()) {
    buffer[n++] = replies_.front().byte;
    replies_.pop_front();
  }
  return n;
}

void SimController::FailFlashReply(FlashReplyFault kind, uint32_t skip) {
  flash_fault_ = kind;
  flash_fault_skip_ = skip;
}

}  // namespace kelvro::sim
