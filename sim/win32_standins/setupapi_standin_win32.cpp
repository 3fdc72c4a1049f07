// setupapi.dll for tests under Wine: device-interface discovery that reports the simulated
// KELVRO controller of the winusb.dll stand-in.
//
// Wine's builtin setupapi knows no device for the controller's interface GUID. This library
// answers the four calls kelvro_drv.dll makes (A variants) with exactly one device for
// {8F974853-102C-47CA-B6EC-613E800EAFAA} while the controller is on the bus, and none for any
// other interface. The winusb.dll stand-in serves the transfers; the device file is only
// opened and closed.
//
// The device path is the simulated controller's (kSimulatedControllerPath): a named pipe that
// this library serves, so that CreateFileA opens it for overlapped reading and writing, and
// by which the plugin tells the simulated controller from a real one. KELVRO_SIM_DEVICE_PATH
// names another path instead, for a controller the plugin is to take for a real one (it must
// be a path CreateFileA opens, such as the null device \\.\NUL).
//
// The controller is on the bus unless KELVRO_SIM_NO_DEVICE=1 or, when the winusb.dll stand-in
// is loaded, its KelvroSim_DevicePresent says otherwise.

// The exports are defined here, not imported.
#define _SETUPAPI_

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "device/usb_port.h"

namespace kelvro::sim {
namespace {

// The controller's device interface.
const GUID kControllerInterface = {
    0x8F974853, 0x102C, 0x47CA, {0xB6, 0xEC, 0x61, 0x3E, 0x80, 0x0E, 0xAF, 0xAA}};
// Setup class of USB devices, reported in SP_DEVINFO_DATA.
const GUID kUsbDeviceClass = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

constexpr DWORD kDeviceInstance = 1;

// One device information list: the devices that matched when it was made, and the path of
// the controller's interface.
struct DeviceList {
  bool has_controller = false;
  std::string path;
};

// The server end of the simulated controller's device file. A client's CreateFileA takes a
// listening instance of the pipe; every discovery that hands out the path keeps one
// listening, and instances whose client has closed its end are closed here.
class DevicePipe {
 public:
  DevicePipe() { InitializeCriticalSection(&lock_); }
  DevicePipe(const DevicePipe&) = delete;
  DevicePipe& operator=(const DevicePipe&) = delete;

  void KeepOneListening() {
    EnterCriticalSection(&lock_);
    bool listening = false;
    for (auto it = instances_.begin(); it != instances_.end();) {
      DWORD available = 0;
      const bool connected = PeekNamedPipe(*it, nullptr, 0, nullptr, &available, nullptr);
      const DWORD error = connected ? NO_ERROR : GetLastError();
      if (!connected && error == ERROR_PIPE_LISTENING) listening = true;
      if (!connected && error != ERROR_PIPE_LISTENING) {
        CloseHandle(*it);
        it = instances_.erase(it);
      } else {
        ++it;
      }
    }
    if (!listening) {
      const std::string name(kelvro::kSimulatedControllerPath);
      HANDLE instance = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_BYTE | PIPE_REJECT_REMOTE_CLIENTS,
                                         PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
      if (instance != INVALID_HANDLE_VALUE) instances_.push_back(instance);
    }
    LeaveCriticalSection(&lock_);
  }

 private:
  CRITICAL_SECTION lock_;
  std::vector<HANDLE> instances_;
};

// Never destroyed: a client may still hold the pipe open while the process exits.
DevicePipe& Pipe() {
  static DevicePipe* const pipe = new DevicePipe;
  return *pipe;
}

std::string ControllerPath() {
  char value[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableA("KELVRO_SIM_DEVICE_PATH", value, sizeof(value));
  if (n > 0 && n < sizeof(value)) return std::string(value, n);
  return std::string(kelvro::kSimulatedControllerPath);
}

// The lists handed out and not yet destroyed, so that a stale or foreign handle is refused
// instead of being read.
class LiveLists {
 public:
  LiveLists() { InitializeCriticalSection(&lock_); }
  ~LiveLists() { DeleteCriticalSection(&lock_); }
  LiveLists(const LiveLists&) = delete;
  LiveLists& operator=(const LiveLists&) = delete;

  void Add(DeviceList* list) {
    EnterCriticalSection(&lock_);
    lists_.push_back(list);
    LeaveCriticalSection(&lock_);
  }
  bool Contains(const void* handle) {
    EnterCriticalSection(&lock_);
    const bool found = std::find(lists_.begin(), lists_.end(), handle) != lists_.end();
    LeaveCriticalSection(&lock_);
    return found;
  }
  bool Remove(const void* handle) {
    EnterCriticalSection(&lock_);
    const auto it = std::find(lists_.begin(), lists_.end(), handle);
    const bool found = it != lists_.end();
    if (found) lists_.erase(it);
    LeaveCriticalSection(&lock_);
    return found;
  }

 private:
  CRITICAL_SECTION lock_;
  std::vector<DeviceList*> lists_;
};

// Never destroyed: a call during process exit still finds it.
LiveLists& Lists() {
  static LiveLists* const lists = new LiveLists;
  return *lists;
}

bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

bool ControllerPresent() {
  char value[8] = {};
  const DWORD n = GetEnvironmentVariableA("KELVRO_SIM_NO_DEVICE", value, sizeof(value));
  if (n > 0 && n < sizeof(value) && std::strcmp(value, "1") == 0) return false;
  // Ask the winusb.dll stand-in when it is the winusb.dll of this process.
  HMODULE winusb = GetModuleHandleA("winusb.dll");
  if (winusb == nullptr) return true;
  using PresentFn = BOOL(WINAPI*)();
  const auto present = reinterpret_cast<PresentFn>(
      reinterpret_cast<void*>(GetProcAddress(winusb, "KelvroSim_DevicePresent")));
  return present == nullptr || present() != FALSE;
}

DeviceList* ListFrom(HDEVINFO handle) {
  if (!Lists().Contains(handle)) return nullptr;
  return static_cast<DeviceList*>(handle);
}

// The interface record's reserved field names the list it was enumerated from.
ULONG_PTR InterfaceTag(const DeviceList* list) {
  return reinterpret_cast<ULONG_PTR>(list) ^ 0x5A5A5A5A;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace
}  // namespace kelvro::sim

using namespace kelvro::sim;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(CONST GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                     DWORD Flags) {
  (void)Enumerator;
  (void)hwndParent;
  if (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  auto* list = new DeviceList;
  // The controller is listed by its device interface only; as a setup class it is not one.
  const bool wanted =
      (Flags & DIGCF_DEVICEINTERFACE) != 0 &&
      ((Flags & DIGCF_ALLCLASSES) != 0 || SameGuid(*ClassGuid, kControllerInterface));
  list->has_controller = wanted && ControllerPresent();
  if (list->has_controller) list->path = ControllerPath();
  Lists().Add(list);
  SetLastError(NO_ERROR);
  return list;
}

WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                           CONST GUID* InterfaceClassGuid, DWORD MemberIndex,
                                           PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
  DeviceList* list = ListFrom(DeviceInfoSet);
  if (list == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (InterfaceClassGuid == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (DeviceInterfaceData == nullptr ||
      DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (DeviceInfoData != nullptr && DeviceInfoData->DevInst != kDeviceInstance) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  if (!list->has_controller || MemberIndex != 0 ||
      !SameGuid(*InterfaceClassGuid, kControllerInterface)) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  DeviceInterfaceData->InterfaceClassGuid = kControllerInterface;
  DeviceInterfaceData->Flags = SPINT_ACTIVE;
  DeviceInterfaceData->Reserved = InterfaceTag(list);
  SetLastError(NO_ERROR);
  return TRUE;
}

WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailA(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
    DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData) {
  DeviceList* list = ListFrom(DeviceInfoSet);
  if (list == nullptr) return Fail(ERROR_INVALID_HANDLE);
  if (DeviceInterfaceData == nullptr ||
      DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
      DeviceInterfaceData->Reserved != InterfaceTag(list) || !list->has_controller) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // No record means a size query, which must then say it has no room.
  if (DeviceInterfaceDetailData == nullptr && DeviceInterfaceDetailDataSize != 0) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (DeviceInterfaceDetailData != nullptr &&
      DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  const DWORD required =
      static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                         list->path.size() + 1);  // includes the terminating zero
  if (RequiredSize != nullptr) *RequiredSize = required;
  if (DeviceInterfaceDetailDataSize < required) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // The path is handed out to be opened: the pipe must have an instance to open.
  if (kelvro::IsSimulatedControllerPath(list->path)) Pipe().KeepOneListening();
  std::memcpy(DeviceInterfaceDetailData->DevicePath, list->path.c_str(), list->path.size() + 1);
  if (DeviceInfoData != nullptr) {
    DeviceInfoData->ClassGuid = kUsbDeviceClass;
    DeviceInfoData->DevInst = kDeviceInstance;
    DeviceInfoData->Reserved = 0;
  }
  SetLastError(NO_ERROR);
  return TRUE;
}

WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
  if (!Lists().Remove(DeviceInfoSet)) return Fail(ERROR_INVALID_HANDLE);
  delete static_cast<DeviceList*>(DeviceInfoSet);
  SetLastError(NO_ERROR);
  return TRUE;
}

}  // extern "C"
