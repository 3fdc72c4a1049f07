#include "device/winusb_port_win32.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <cstddef>
#include <cstring>

namespace kelvro {

namespace {

using WinUsbHandle = void*;

// Setup packet of a control transfer, passed by value to WinUsb_ControlTransfer.
#pragma pack(push, 1)
struct SetupPacket {
  UCHAR request_type;
  UCHAR request;
  USHORT value;
  USHORT index;
  USHORT length;
};
#pragma pack(pop)
static_assert(sizeof(SetupPacket) == 8, "setup packet is 8 bytes on the wire");

using InitializeFn = BOOL(WINAPI*)(HANDLE, WinUsbHandle*);
using FreeFn = BOOL(WINAPI*)(WinUsbHandle);
using PipeTransferFn = BOOL(WINAPI*)(WinUsbHandle, UCHAR, PUCHAR, ULONG, PULONG, LPOVERLAPPED);
using GetPipePolicyFn = BOOL(WINAPI*)(WinUsbHandle, UCHAR, ULONG, PULONG, PVOID);
using ControlTransferFn = BOOL(WINAPI*)(WinUsbHandle, SetupPacket, PUCHAR, ULONG, PULONG,
                                        LPOVERLAPPED);

// Device interface of the controller: {8F974853-102C-47CA-B6EC-613E800EAFAA}.
const GUID kInterfaceGuid = {
    0x8F974853, 0x102C, 0x47CA, {0xB6, 0xEC, 0x61, 0x3E, 0x80, 0x0E, 0xAF, 0xAA}};

constexpr size_t kPathSize = 260;
constexpr UCHAR kRequestTypeClassIn = 0xA0;  // device to host, class, device recipient
constexpr uint32_t kOutOfMemoryResult = 0x8007000E;
// Bounded wait for a cancelled status read to finish before its handle goes away.
constexpr DWORD kCancelWaitMs = 500;

// The size fields SetupAPI expects for the record layouts of this build (28 and 5 in the
// 32-bit plugin, where the detail record is byte-packed).
constexpr DWORD kInterfaceDataSize = sizeof(SP_DEVICE_INTERFACE_DATA);
constexpr DWORD kDetailDataSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
static_assert(sizeof(void*) != 4 || (kInterfaceDataSize == 28 && kDetailDataSize == 5),
              "32-bit SetupAPI record sizes");

uint32_t ResultFromError(DWORD error) {
  return 0x80070000u | (error & 0xFFFFu);
}

template <typename Fn>
Fn Entry(HMODULE module, const char* name) {
  // Through void* so that the compiler does not compare the generic FARPROC signature
  // with the real one.
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

enum class FindOutcome { kFound, kNoDevice, kFailed };

// Frees the device information list on every path out of discovery.
class DeviceInfoList {
 public:
  explicit DeviceInfoList(HDEVINFO info) : info_(info) {}
  ~DeviceInfoList() {
    if (info_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(info_);
  }
  DeviceInfoList(const DeviceInfoList&) = delete;
  DeviceInfoList& operator=(const DeviceInfoList&) = delete;
  HDEVINFO get() const { return info_; }

 private:
  HDEVINFO info_;
};

// Frees the LocalAlloc'd detail buffer on every path out of discovery.
class LocalBuffer {
 public:
  explicit LocalBuffer(size_t size) : memory_(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size)) {}
  ~LocalBuffer() {
    if (memory_ != nullptr) LocalFree(memory_);
  }
  LocalBuffer(const LocalBuffer&) = delete;
  LocalBuffer& operator=(const LocalBuffer&) = delete;
  void* get() const { return memory_; }

 private:
  HLOCAL memory_;
};

// Finds the first present device with the controller's interface and copies its path.
// Only member 0 is looked at: with several controllers attached, the first one is used.
FindOutcome FindDevice(char (&path)[kPathSize], uint32_t* result) {
  *result = 0;
  DeviceInfoList list(SetupDiGetClassDevsA(&kInterfaceGuid, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (list.get() == INVALID_HANDLE_VALUE) {
    *result = ResultFromError(GetLastError());
    return FindOutcome::kFailed;
  }

  SP_DEVICE_INTERFACE_DATA data;
  std::memset(&data, 0, sizeof(data));
  data.cbSize = kInterfaceDataSize;
  if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &kInterfaceGuid, 0, &data)) {
    const DWORD error = GetLastError();
    *result = ResultFromError(error);
    return error == ERROR_NO_MORE_ITEMS ? FindOutcome::kNoDevice : FindOutcome::kFailed;
  }

  // First call only learns the size; "insufficient buffer" is the expected answer.
  DWORD required = 0;
  if (SetupDiGetDeviceInterfaceDetailA(list.get(), &data, nullptr, 0, &required, nullptr)) {
    *result = ResultFromError(ERROR_INVALID_DATA);
    return FindOutcome::kFailed;
  }
  const DWORD size_error = GetLastError();
  if (size_error != ERROR_INSUFFICIENT_BUFFER) {
    *result = ResultFromError(size_error);
    return FindOutcome::kFailed;
  }
  if (required < kDetailDataSize) {
    *result = ResultFromError(ERROR_INVALID_DATA);
    return FindOutcome::kFailed;
  }

  LocalBuffer buffer(required);
  if (buffer.get() == nullptr) {
    *result = kOutOfMemoryResult;
    return FindOutcome::kFailed;
  }
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.get());
  detail->cbSize = kDetailDataSize;
  if (!SetupDiGetDeviceInterfaceDetailA(list.get(), &data, detail, required, nullptr, nullptr)) {
    *result = ResultFromError(GetLastError());
    return FindOutcome::kFailed;
  }

  // The path must fit the 260-character field whole: a cut path would open another
  // object or nothing.
  const size_t available = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  size_t length = 0;
  while (length < available && detail->DevicePath[length] != '\0') ++length;
  if (length >= kPathSize) {
    *result = ResultFromError(ERROR_FILENAME_EXCED_RANGE);
    return FindOutcome::kFailed;
  }
  std::memcpy(path, detail->DevicePath, length);
  path[length] = '\0';
  return FindOutcome::kFound;
}

}  // namespace

struct WinUsbPort::State {
  HMODULE library = nullptr;
  InitializeFn initialize = nullptr;
  FreeFn free = nullptr;
  PipeTransferFn write_pipe = nullptr;
  PipeTransferFn read_pipe = nullptr;
  GetPipePolicyFn get_pipe_policy = nullptr;  // taken with the others, never called
  ControlTransferFn control_transfer = nullptr;
  bool loaded = false;

  bool open = false;
  HANDLE device = INVALID_HANDLE_VALUE;
  WinUsbHandle interface_handle = nullptr;
  char path[kPathSize] = {};
  HANDLE read_event = nullptr;
  OVERLAPPED overlap{};
  bool read_in_flight = false;
  uint32_t last_find_result = 0;
};

WinUsbPort::WinUsbPort() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.library = LoadLibraryA("WinUsb.dll");
  if (s.library == nullptr) return;
  s.initialize = Entry<InitializeFn>(s.library, "WinUsb_Initialize");
  s.free = Entry<FreeFn>(s.library, "WinUsb_Free");
  s.write_pipe = Entry<PipeTransferFn>(s.library, "WinUsb_WritePipe");
  s.read_pipe = Entry<PipeTransferFn>(s.library, "WinUsb_ReadPipe");
  s.get_pipe_policy = Entry<GetPipePolicyFn>(s.library, "WinUsb_GetPipePolicy");
  s.control_transfer = Entry<ControlTransferFn>(s.library, "WinUsb_ControlTransfer");
  s.loaded = s.initialize && s.free && s.write_pipe && s.read_pipe && s.get_pipe_policy &&
             s.control_transfer;
}

WinUsbPort::~WinUsbPort() {
  Close();
  // WinUsb.dll stays loaded: this object lives as long as the plugin library, and
  // FreeLibrary while the library itself is being unloaded is not safe.
}

bool WinUsbPort::loaded() const {
  return state_->loaded;
}

uint32_t WinUsbPort::last_find_result() const {
  return state_->last_find_result;
}

std::string_view WinUsbPort::DevicePath() const {
  return state_->open ? std::string_view(state_->path) : std::string_view();
}

UsbOpenResult WinUsbPort::Open() {
  Close();
  State& s = *state_;
  if (!s.loaded) return UsbOpenResult::kFailed;

  switch (FindDevice(s.path, &s.last_find_result)) {
    case FindOutcome::kFound:
      break;
    case FindOutcome::kNoDevice:
      return UsbOpenResult::kNoDevice;
    case FindOutcome::kFailed:
      return UsbOpenResult::kFailed;
  }

  HANDLE device =
      CreateFileA(s.path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (device == INVALID_HANDLE_VALUE) return UsbOpenResult::kFailed;

  WinUsbHandle interface_handle = nullptr;
  if (!s.initialize(device, &interface_handle)) {
    CloseHandle(device);
    return UsbOpenResult::kFailed;
  }

  // Manual-reset, initially clear, unnamed: signalled when the status read completes.
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    s.free(interface_handle);
    CloseHandle(device);
    return UsbOpenResult::kFailed;
  }
  ResetEvent(event);
  std::memset(&s.overlap, 0, sizeof(s.overlap));
  s.overlap.hEvent = event;

  s.device = device;
  s.interface_handle = interface_handle;
  s.read_event = event;
  s.read_in_flight = false;
  s.open = true;
  return UsbOpenResult::kOk;
}

void WinUsbPort::Close() {
  State& s = *state_;
  if (s.open) {
    if (s.read_in_flight) {
      // Let the abandoned read finish before its buffer and record can be reused.
      CancelIo(s.device);
      WaitForSingleObject(s.read_event, kCancelWaitMs);
    }
    s.free(s.interface_handle);
    CloseHandle(s.device);
  }
  if (s.read_event != nullptr) CloseHandle(s.read_event);
  s.read_event = nullptr;
  s.overlap.hEvent = nullptr;
  s.interface_handle = nullptr;
  s.device = INVALID_HANDLE_VALUE;
  s.read_in_flight = false;
  s.open = false;
}

bool WinUsbPort::WritePipe(uint8_t pipe, const uint8_t* data, uint32_t length, uint32_t* written) {
  State& s = *state_;
  if (written != nullptr) *written = 0;
  if (!s.open) return false;
  ULONG transferred = 0;
  // WinUSB takes a non-const buffer but does not write to it on an OUT pipe.
  const BOOL ok = s.write_pipe(s.interface_handle, pipe, const_cast<PUCHAR>(data), length,
                               &transferred, nullptr);
  if (written != nullptr) *written = transferred;
  return ok != FALSE;
}

bool WinUsbPort::StartRead(uint8_t pipe, uint8_t* buffer, uint32_t length) {
  State& s = *state_;
  if (!s.open || s.read_in_flight) return false;
  ResetEvent(s.read_event);
  std::memset(&s.overlap, 0, sizeof(s.overlap));
  s.overlap.hEvent = s.read_event;
  const BOOL ok = s.read_pipe(s.interface_handle, pipe, buffer, length, nullptr, &s.overlap);
  if (!ok && GetLastError() != ERROR_IO_PENDING) return false;
  s.read_in_flight = true;
  return true;
}

bool WinUsbPort::ReadCompleted() {
  State& s = *state_;
  if (!s.open || !s.read_in_flight) return false;
  return WaitForSingleObject(s.read_event, 0) == WAIT_OBJECT_0;
}

bool WinUsbPort::WaitRead(uint32_t ms) {
  State& s = *state_;
  if (!s.open || !s.read_in_flight) return false;
  return WaitForSingleObject(s.read_event, ms) == WAIT_OBJECT_0;
}

bool WinUsbPort::ReadResult(uint32_t* transferred) {
  State& s = *state_;
  if (transferred != nullptr) *transferred = 0;
  if (!s.open || !s.read_in_flight) return false;
  DWORD count = 0;
  const BOOL ok = GetOverlappedResult(s.device, &s.overlap, &count, FALSE);
  if (!ok && GetLastError() == ERROR_IO_INCOMPLETE) return false;  // still in flight
  s.read_in_flight = false;
  if (transferred != nullptr) *transferred = count;
  return ok != FALSE;
}

bool WinUsbPort::ControlIn(uint8_t request, uint8_t* buffer, uint16_t length) {
  State& s = *state_;
  if (!s.open) return false;
  const SetupPacket setup = {kRequestTypeClassIn, request, 0, 0, length};
  ULONG transferred = 0;
  // Only an exact TRUE counts as success.
  return s.control_transfer(s.interface_handle, setup, buffer, length, &transferred, nullptr) ==
         TRUE;
}

}  // namespace kelvro
