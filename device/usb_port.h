// The USB port seam: what DeviceLink needs from the operating system's USB stack.
// Production: WinUSB + SetupAPI. Tests and simulation: a port wired to the simulated
// controller.
#pragma once

#include <cstdint>

namespace kelvro {

inline constexpr uint8_t kPipeCommand = 0x01;
inline constexpr uint8_t kPipeSegments = 0x02;
inline constexpr uint8_t kPipeStatus = 0x81;

inline constexpr uint8_t kRequestFirmwareVersion = 0xE0;
inline constexpr uint8_t kRequestZPosition = 0xE2;

enum class UsbOpenResult { kOk, kNoDevice, kFailed };

class UsbPort {
 public:
  virtual ~UsbPort() = default;

  // Finds the first device with the controller's interface and opens it.
  virtual UsbOpenResult Open() = 0;
  // Releases the device; abandons a read in flight. Safe when nothing is open.
  virtual void Close() = 0;

  // Synchronous bulk OUT transfer; reports the bytes written.
  virtual bool WritePipe(uint8_t pipe, const uint8_t* data, uint32_t length, uint32_t* written) = 0;

  // Starts an overlapped bulk IN transfer into `buffer` (which must stay valid until the
  // read is collected or the port is closed). False when the read could not be started.
  virtual bool StartRead(uint8_t pipe, uint8_t* buffer, uint32_t length) = 0;
  // Tests without waiting whether the started read has completed.
  virtual bool ReadCompleted() = 0;
  // Waits up to `ms` for the started read to complete.
  virtual bool WaitRead(uint32_t ms) = 0;
  // Result of the completed read: true when the transfer succeeded; `transferred` gets
  // the number of bytes received.
  virtual bool ReadResult(uint32_t* transferred) = 0;

  // Class control IN request (bmRequestType 0xA0, value 0, index 0).
  virtual bool ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) = 0;
};

}  // namespace kelvro
