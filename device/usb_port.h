// The USB port seam: what DeviceLink needs from the operating system's USB stack.
// Production: WinUSB + SetupAPI. Tests and simulation: a port wired to the simulated
// controller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelvro {

inline constexpr uint8_t kPipeCommand = 0x01;
inline constexpr uint8_t kPipeSegments = 0x02;
inline constexpr uint8_t kPipeStatus = 0x81;

inline constexpr uint8_t kRequestFirmwareVersion = 0xE0;
inline constexpr uint8_t kRequestZPosition = 0xE2;

enum class UsbOpenResult { kOk, kNoDevice, kFailed };

// The device interface path under which the simulated controller is found: the native
// simulated port reports it, and under Wine the stand-in setupapi.dll reports it (a named
// pipe that the stand-in serves, so that CreateFileA opens it). Windows names the interface
// of a real USB device "\\?\usb#vid_...#{interface GUID}", whatever the device reports
// about itself, so no real controller is ever found under this path.
inline constexpr std::string_view kSimulatedControllerPath =
    "\\\\.\\pipe\\kelvro-simulated-controller";

// True only for the simulated controller's path (compared without regard to letter case, as
// Windows compares paths). An empty or unknown path is a real controller's.
constexpr bool IsSimulatedControllerPath(std::string_view path) {
  if (path.size() != kSimulatedControllerPath.size()) return false;
  for (size_t i = 0; i < path.size(); ++i) {
    char c = path[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kSimulatedControllerPath[i]) return false;
  }
  return true;
}

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

  // Interface path of the open device; empty while none is open, and for a port that cannot
  // tell.
  virtual std::string_view DevicePath() const { return {}; }
};

}  // namespace kelvro
