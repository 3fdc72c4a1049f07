#include "device/device_link.h"

#include <cstring>

namespace kelvro {

DeviceLink::DeviceLink(UsbPort& port, UserMessages& messages) : port_(port), messages_(messages) {}

DeviceLink::~DeviceLink() {
  Close();
}

bool DeviceLink::Open() {
  // Reopening an open link releases it first instead of opening the device twice.
  Close();
  if (port_.Open() != UsbOpenResult::kOk) return false;
  open_ = true;

  // Read into a scratch buffer so that a failed request keeps the last good version text.
  std::array<uint8_t, kFirmwareVersionLength> text{};
  if (!port_.ControlIn(static_cast<uint8_t>(ControlRequest::GetFirmwareVersion), text.data(),
                       kFirmwareVersionLength)) {
    Close();
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) firmware_version_[i] = static_cast<char>(text[i]);
  firmware_version_[kFirmwareVersionLength] = '\0';
  return true;
}

void DeviceLink::Close() {
  // The port tolerates a close when nothing is open; closing also ends a read in flight.
  port_.Close();
  open_ = false;
  read_pending_ = false;
}

bool DeviceLink::SendCommand(CommandCode code, const uint8_t* payload, size_t length) {
  if (!open_) return false;
  if (length > kMaxCommandPayload || (payload == nullptr && length != 0)) return false;

  std::lock_guard<std::recursive_mutex> guard(lock_);
  // The command overwrites the start of the shared buffer, so a batch collected so far is
  // no longer intact; drop it rather than let a later flush send mixed bytes.
  batch_length_ = 0;
  PutCommandHeader(transmit_.data(), code, static_cast<uint16_t>(length));
  if (length != 0) std::memcpy(transmit_.data() + kCommandHeaderSize, payload, length);

  const auto total = static_cast<uint32_t>(length + kCommandHeaderSize);
  uint32_t written = 0;
  if (port_.WritePipe(kPipeCommand, transmit_.data(), total, &written) && written == total) {
    return true;
  }
  connected_ = false;
  Close();
  // Shown with the lock held, so no other write can slip in while the user reads it.
  messages_.MessageBox(kWriteErrorMessage, MessageBoxKind::kOk);
  return false;
}

bool DeviceLink::PollStatus(uint8_t* dest, size_t length) {
  if (!open_ || dest == nullptr || length == 0 || length > kReceiveBufferSize) return false;

  if (!read_pending_) {
    // A read that could not be started is not marked pending, so the next poll retries
    // instead of waiting for a completion that never comes.
    read_pending_ = port_.StartRead(kPipeStatus, receive_.data(), static_cast<uint32_t>(length));
    return false;
  }
  if (!port_.ReadCompleted()) return false;

  read_pending_ = false;
  // A failed or short transfer would hand stale buffer bytes to the decoder.
  uint32_t transferred = 0;
  if (!port_.ReadResult(&transferred) || transferred < length) return false;
  std::memcpy(dest, receive_.data(), length);
  return true;
}

bool DeviceLink::WaitStatus(uint32_t ms) {
  if (!open_ || !read_pending_) return false;
  return port_.WaitRead(ms);
}

bool DeviceLink::ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) {
  if (buffer == nullptr && length != 0) return false;
  return port_.ControlIn(request, buffer, length);
}

bool DeviceLink::BatchAppend(const uint8_t* bytes, size_t count) {
  if (bytes == nullptr && count != 0) return false;
  if (count > kTransmitBufferSize - batch_length_) return false;
  if (count != 0) std::memcpy(transmit_.data() + batch_length_, bytes, count);
  batch_length_ += count;
  return true;
}

bool DeviceLink::BatchFlush() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!open_) return false;
  // Nothing collected: nothing to send (no zero-length transfer on the segment pipe).
  if (batch_length_ == 0) return true;
  const auto total = static_cast<uint32_t>(batch_length_);
  uint32_t written = 0;
  if (port_.WritePipe(kPipeSegments, transmit_.data(), total, &written) && written == total) {
    return true;
  }
  // Lost segments leave the controller's path short; streaming further segments after them
  // would move the machine along a wrong path, so the link goes down.
  Close();
  return false;
}

std::string_view DeviceLink::FirmwareVersion() const {
  size_t n = 0;
  while (n < kFirmwareVersionLength && firmware_version_[n] != '\0') ++n;
  return std::string_view(firmware_version_.data(), n);
}

}  // namespace kelvro
