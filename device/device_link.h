// DeviceLink: the plugin's one path to the controller.
//
// Four kinds of transfer over a UsbPort: framed commands on pipe 0x01, raw segment batches
// on pipe 0x02, a never-blocking status read on pipe 0x81 (one read always in flight,
// collected by a later poll) and class control IN requests. Command writes and batch
// flushes are serialised by one recursive lock; a failed command write closes the link
// and tells the user once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>

#include "device/commands.h"
#include "device/usb_port.h"
#include "host/platform.h"

namespace kelvro {

inline constexpr std::string_view kWriteErrorMessage = "Error writing to device!";

class DeviceLink {
 public:
  // Shared by commands (4-byte header + payload) and segment batches.
  static constexpr size_t kTransmitBufferSize = 10000;
  static constexpr size_t kReceiveBufferSize = 512;
  static constexpr size_t kMaxCommandPayload = kTransmitBufferSize - kCommandHeaderSize;

  DeviceLink(UsbPort& port, UserMessages& messages);
  ~DeviceLink();
  DeviceLink(const DeviceLink&) = delete;
  DeviceLink& operator=(const DeviceLink&) = delete;

  // Opens the device and reads its firmware version text. False when no device could be
  // opened or the version request failed (the link is then closed again).
  bool Open();
  // Releases the device and abandons a read in flight. Safe at any time.
  void Close();
  bool IsOpen() const { return open_; }

  // Frames and writes one command on the command pipe. On a closed link nothing is sent
  // and nothing is reported. A failed write clears the connected flag, closes the link
  // and shows "Error writing to device!". A payload that does not fit the transmit buffer
  // (or a null payload with a length) is refused without touching the link.
  bool SendCommand(CommandCode code, const uint8_t* payload, size_t length);
  bool SendCommand(CommandCode code, std::span<const uint8_t> payload) {
    return SendCommand(code, payload.data(), payload.size());
  }
  bool SendCommand(CommandCode code) { return SendCommand(code, nullptr, 0); }

  // Never blocks. Without a read in flight it starts one for `length` bytes and returns
  // false; with one in flight it returns true only when that read has completed with at
  // least `length` bytes, which are then copied to `dest`. A completed read that failed
  // or came up short is dropped (false) and the next poll starts a new one.
  bool PollStatus(uint8_t* dest, size_t length);
  // Waits up to `ms` for the read in flight; does not collect it (the next poll does).
  bool WaitStatus(uint32_t ms);
  bool read_pending() const { return read_pending_; }

  // One class control IN request; not locked and not guarded by the open state.
  bool ControlIn(uint8_t request, uint8_t* buffer, uint16_t length);

  // Segment batch in the transmit buffer, written without header on pipe 0x02.
  void BatchBegin() { batch_length_ = 0; }
  // Refuses (returns false, appends nothing) when the bytes would not fit the buffer.
  bool BatchAppend(const uint8_t* bytes, size_t count);
  // Writes the whole batch in one transfer. A failed or short write closes the link (the
  // segments are lost, so nothing more may be streamed after them); the connected flag
  // and the message box are left to the service tick's watchdog.
  bool BatchFlush();
  size_t batch_length() const { return batch_length_; }

  // Interface path of the open device (see UsbPort::DevicePath).
  std::string_view DevicePath() const { return port_.DevicePath(); }

  // Firmware version text as last read at a successful open; "00.00" before that.
  std::string_view FirmwareVersion() const;

  // The plugin's connected flag: the link is open and the controller configured.
  bool connected() const { return connected_; }
  void set_connected(bool connected) { connected_ = connected; }

 private:
  UsbPort& port_;
  UserMessages& messages_;
  std::recursive_mutex lock_;

  bool open_ = false;
  bool connected_ = false;
  bool read_pending_ = false;
  size_t batch_length_ = 0;
  std::array<char, 6> firmware_version_{'0', '0', '.', '0', '0', '\0'};
  std::array<uint8_t, kReceiveBufferSize> receive_{};
  std::array<uint8_t, kTransmitBufferSize> transmit_{};
};

}  // namespace kelvro
