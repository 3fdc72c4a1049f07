// The production USB port: WinUSB (loaded at run time) over a device found through SetupAPI.
//
// Windows headers stay out of this header (their MessageBox macro would collide with the
// platform seam); the handles live in an opaque state record.
#pragma once

#include <cstdint>
#include <memory>

#include "device/usb_port.h"

namespace kelvro {

class WinUsbPort final : public UsbPort {
 public:
  // Loads WinUsb.dll and takes its entry points. A missing library or entry point is not
  // an error here; Open() then fails cleanly.
  WinUsbPort();
  ~WinUsbPort() override;
  WinUsbPort(const WinUsbPort&) = delete;
  WinUsbPort& operator=(const WinUsbPort&) = delete;

  // True when WinUsb.dll and all six entry points were found.
  bool loaded() const;
  // Result of the last discovery: 0 on success, else 0x80070000 | (Win32 error & 0xFFFF)
  // (0x8007000E when the detail buffer could not be allocated).
  uint32_t last_find_result() const;

  UsbOpenResult Open() override;
  void Close() override;
  bool WritePipe(uint8_t pipe, const uint8_t* data, uint32_t length, uint32_t* written) override;
  bool StartRead(uint8_t pipe, uint8_t* buffer, uint32_t length) override;
  bool ReadCompleted() override;
  bool WaitRead(uint32_t ms) override;
  bool ReadResult(uint32_t* transferred) override;
  bool ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) override;
  std::string_view DevicePath() const override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kelvro
