// The production USB port (WinUsbPort) and the raw WinUSB / SetupAPI calls against the
// winusb.dll and setupapi.dll stand-ins, under Wine with WINEDLLOVERRIDES="winusb,setupapi=n".
//
// The stand-ins serve one simulated controller on real time, so the waits here are real but
// short (a status read completes about 1 ms after it starts). Faults are injected through the
// stand-in's KelvroSim_Control export; every test leaves the controller on the bus.
// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <winusb.h>
// clang-format on

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/winusb_port_win32.h"

namespace kelvro {
namespace {

const GUID kControllerInterface = {
    0x8F974853, 0x102C, 0x47CA, {0xB6, 0xEC, 0x61, 0x3E, 0x80, 0x0E, 0xAF, 0xAA}};
// Another device interface (HID), which the controller does not have.
const GUID kOtherInterface = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

constexpr uint32_t kStatusLength = 60;
constexpr uint8_t kStatusMarker = 0x3C;
constexpr DWORD kReadWaitMs = 200;

using ControlFn = BOOL(WINAPI*)(const char*);
using TextFn = DWORD(WINAPI*)(char*, DWORD);
using InitializeFn = BOOL(WINAPI*)(HANDLE, PWINUSB_INTERFACE_HANDLE);
using FreeFn = BOOL(WINAPI*)(WINUSB_INTERFACE_HANDLE);
using PipeFn = BOOL(WINAPI*)(WINUSB_INTERFACE_HANDLE, UCHAR, PUCHAR, ULONG, PULONG, LPOVERLAPPED);
using PolicyFn = BOOL(WINAPI*)(WINUSB_INTERFACE_HANDLE, UCHAR, ULONG, PULONG, PVOID);
using ControlTransferFn = BOOL(WINAPI*)(WINUSB_INTERFACE_HANDLE, WINUSB_SETUP_PACKET, PUCHAR, ULONG,
                                        PULONG, LPOVERLAPPED);

template <typename Fn>
Fn Entry(const char* name) {
  HMODULE module = LoadLibraryA("WinUsb.dll");
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The stand-in's own exports; missing when Wine's builtin winusb.dll was loaded instead.
struct Sim {
  ControlFn control = Entry<ControlFn>("KelvroSim_Control");
  TextFn summary = Entry<TextFn>("KelvroSim_Summary");
  TextFn trace = Entry<TextFn>("KelvroSim_TraceJson");

  bool loaded() const { return control && summary && trace; }
  bool Do(const char* command) const { return control(command) != FALSE; }
  static std::string Text(TextFn fn) {
    std::vector<char> buffer(fn(nullptr, 0));
    fn(buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::string(buffer.data());
  }
  std::string Summary() const { return Text(summary); }
  std::string Trace() const { return Text(trace); }
  // A counter of the summary line ("status_reads", ...).
  uint64_t Counter(const std::string& name) const {
    const std::string line = Summary();
    const std::string key = "\"" + name + "\":";
    const size_t at = line.find(key);
    if (at == std::string::npos) return UINT64_MAX;
    return std::stoull(line.substr(at + key.size()));
  }
};

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.loaded()) << "winusb.dll stand-in not loaded: run with "
                                  "WINEDLLOVERRIDES=\"winusb,setupapi=n\" from its folder";
  }
  // Whatever a test did, the controller is back on the bus for the next one.
  void TearDown() override {
    if (sim_.loaded()) sim_.Do("reconnect");
  }
  Sim sim_;
};

// ---------------------------------------------------------------- setupapi.dll

struct EnumCase {
  const char* what;
  const GUID* list_guid;
  const GUID* interface_guid;
  DWORD index;
  bool found;
};

TEST_F(StandinTest, SetupApiListsExactlyOneControllerInterface) {
  const EnumCase cases[] = {
      {"first controller interface", &kControllerInterface, &kControllerInterface, 0, true},
      {"second member", &kControllerInterface, &kControllerInterface, 1, false},
      {"far member", &kControllerInterface, &kControllerInterface, 1000, false},
      {"other interface in the controller's list", &kControllerInterface, &kOtherInterface, 0,
       false},
      {"list of another interface", &kOtherInterface, &kControllerInterface, 0, false},
  };
  for (const EnumCase& c : cases) {
    SCOPED_TRACE(c.what);
    HDEVINFO list =
        SetupDiGetClassDevsA(c.list_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    const BOOL ok = SetupDiEnumDeviceInterfaces(list, nullptr, c.interface_guid, c.index, &data);
    const DWORD error = GetLastError();
    EXPECT_EQ(ok != FALSE, c.found);
    if (c.found) {
      EXPECT_EQ(std::memcmp(&data.InterfaceClassGuid, &kControllerInterface, sizeof(GUID)), 0);
      EXPECT_EQ(data.Flags & SPINT_ACTIVE, static_cast<DWORD>(SPINT_ACTIVE));
    } else {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  }
}

TEST_F(StandinTest, SetupApiRefusesAWrongRecordSize) {
  HDEVINFO list = SetupDiGetClassDevsA(&kControllerInterface, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data;
  std::memset(&data, 0, sizeof(data));
  data.cbSize = sizeof(data) + 4;  // as a 64-bit caller would size it
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kControllerInterface, 0, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

TEST_F(StandinTest, SetupApiDetailReportsItsSizeThenThePath) {
  HDEVINFO list = SetupDiGetClassDevsA(&kControllerInterface, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA data;
  std::memset(&data, 0, sizeof(data));
  data.cbSize = sizeof(data);
  ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &kControllerInterface, 0, &data));

  // The size query: no record, no room, the size needed.
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(required, 5u);

  std::vector<uint8_t> memory(required + 16, 0xCC);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(memory.data());
  // The record's size field holds the size of the build's own layout: byte-packed in a
  // 32-bit program (4-byte size field + 1 character), 8 bytes in a 64-bit one.
  constexpr DWORD kOwnLayout = sizeof(void*) == 4 ? 5 : 8;
  constexpr DWORD kOtherLayout = sizeof(void*) == 4 ? 8 : 5;
  static_assert(kOwnLayout == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
  detail->cbSize = kOwnLayout;
  DWORD again = 0;
  EXPECT_FALSE(
      SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required - 1, &again, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(again, required);

  detail->cbSize = kOtherLayout;
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));

  detail->cbSize = kOwnLayout;
  SP_DEVINFO_DATA info;
  std::memset(&info, 0, sizeof(info));
  info.cbSize = sizeof(info);
  ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, &info));
  const std::string path(detail->DevicePath);
  // The size covers the 4-byte size field, the path and its terminating zero, no more.
  EXPECT_EQ(required, 4 + path.size() + 1);
  EXPECT_NE(info.DevInst, 0u);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));

  // The path opens the way the port opens it.
  HANDLE device =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(device, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
  CloseHandle(device);
}

TEST_F(StandinTest, SetupApiRefusesDestroyedAndForeignLists) {
  HDEVINFO list = SetupDiGetClassDevsA(&kControllerInterface, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(list));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SP_DEVICE_INTERFACE_DATA data;
  std::memset(&data, 0, sizeof(data));
  data.cbSize = sizeof(data);
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(list, nullptr, &kControllerInterface, 0, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  int not_a_list = 0;
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(&not_a_list));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// ---------------------------------------------------------------- WinUsbPort

TEST_F(StandinTest, PortOpensAndServesBothControlRequests) {
  WinUsbPort port;
  ASSERT_TRUE(port.loaded());
  ASSERT_EQ(port.Open(), UsbOpenResult::kOk);
  EXPECT_EQ(port.last_find_result(), 0u);
  // Found under the simulated controller's path, which the plugin tells from a real one's.
  EXPECT_TRUE(IsSimulatedControllerPath(port.DevicePath())) << port.DevicePath();

  std::array<uint8_t, 5> version{};
  ASSERT_TRUE(port.ControlIn(0xE0, version.data(), 5));
  EXPECT_EQ(std::string(version.begin(), version.end()), "01.22");

  std::array<uint8_t, 4> z{0xAA, 0xAA, 0xAA, 0xAA};
  ASSERT_TRUE(port.ControlIn(0xE2, z.data(), 4));
  EXPECT_EQ(z, (std::array<uint8_t, 4>{0, 0, 0, 0}));  // nothing latched yet

  uint8_t unknown[4] = {};
  EXPECT_FALSE(port.ControlIn(0x55, unknown, sizeof(unknown)));
  port.Close();
  EXPECT_FALSE(port.ControlIn(0xE0, version.data(), 5));  // closed
  EXPECT_EQ(port.DevicePath(), "");
}

TEST_F(StandinTest, StatusReadsCompleteThroughTheEventOneAtATime) {
  WinUsbPort port;
  ASSERT_EQ(port.Open(), UsbOpenResult::kOk);
  const uint64_t before = sim_.Counter("status_reads");
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    std::array<uint8_t, 512> buffer{};
    ASSERT_TRUE(port.StartRead(0x81, buffer.data(), kStatusLength));
    EXPECT_FALSE(port.StartRead(0x81, buffer.data(), kStatusLength));  // one in flight
    ASSERT_TRUE(port.WaitRead(kReadWaitMs));
    EXPECT_TRUE(port.ReadCompleted());
    uint32_t transferred = 0;
    ASSERT_TRUE(port.ReadResult(&transferred));
    EXPECT_EQ(transferred, kStatusLength);
    EXPECT_EQ(buffer[0], kStatusMarker);
    EXPECT_EQ(buffer[kStatusLength], 0);  // nothing past the requested length
  }
  EXPECT_EQ(sim_.Counter("status_reads"), before + 5);
}

TEST_F(StandinTest, WritesReachTheController) {
  WinUsbPort port;
  ASSERT_EQ(port.Open(), UsbOpenResult::kOk);
  // SetForcedInputs (15): code, NOT code, length 4 little-endian, payload.
  const uint8_t frame[] = {0x0F, 0xF0, 0x04, 0x00, 0x01, 0x02, 0x03, 0x04};
  uint32_t written = 0;
  ASSERT_TRUE(port.WritePipe(0x01, frame, sizeof(frame), &written));
  EXPECT_EQ(written, sizeof(frame));
  EXPECT_NE(sim_.Trace().find("\"name\":\"SetForcedInputs\",\"payload\":\"01020304\""),
            std::string::npos);

  const uint64_t segments = sim_.Counter("segments_received");
  std::array<uint8_t, 2 * 52> records{};
  ASSERT_TRUE(port.WritePipe(0x02, records.data(), records.size(), &written));
  EXPECT_EQ(written, records.size());
  EXPECT_EQ(sim_.Counter("segments_received"), segments + 2);

  EXPECT_FALSE(port.WritePipe(0x81, frame, sizeof(frame), &written));  // an IN pipe
}

TEST_F(StandinTest, InjectedWriteFailureFailsOneWrite) {
  WinUsbPort port;
  ASSERT_EQ(port.Open(), UsbOpenResult::kOk);
  const uint8_t frame[] = {0x0D, 0xF2, 0x00, 0x00};  // EndProbe, no payload
  ASSERT_TRUE(sim_.Do("fail_write 1"));
  uint32_t written = 99;
  EXPECT_FALSE(port.WritePipe(0x01, frame, sizeof(frame), &written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(port.WritePipe(0x01, frame, sizeof(frame), &written));
  EXPECT_EQ(written, sizeof(frame));
}

TEST_F(StandinTest, ShortTransferReportsFewerBytes) {
  WinUsbPort port;
  ASSERT_EQ(port.Open(), UsbOpenResult::kOk);
  ASSERT_TRUE(sim_.Do("short_reads 1"));
  std::array<uint8_t, 512> buffer{};
  ASSERT_TRUE(port.StartRead(0x81, buffer.data(), kStatusLength));
  ASSERT_TRUE(port.WaitRead(kReadWaitMs));
  uint32_t transferred = 0;
  ASSERT_TRUE(port.ReadResult(&transferred));
  EXPECT_GT(transferred, 0u);
  EXPECT_LT(transferred, kStatusLength);
  EXPECT_EQ(buffer[transferred], 0);  // the rest of the buffer untouched
}

TEST_F(StandinTest, LostReadNeverCompletesAndCloseEndsIt) {
  WinUsbPort port;
  ASSERT_EQ(port.Open(), UsbOpenResult::kOk);
  const uint64_t cancelled = sim_.Counter("reads_cancelled");
  ASSERT_TRUE(sim_.Do("lose_reads 1"));
  std::array<uint8_t, 512> buffer{};
  ASSERT_TRUE(port.StartRead(0x81, buffer.data(), kStatusLength));
  EXPECT_FALSE(port.WaitRead(50));
  EXPECT_FALSE(port.ReadCompleted());
  uint32_t transferred = 0;
  EXPECT_FALSE(port.ReadResult(&transferred));  // still in flight
  port.Close();
  EXPECT_EQ(sim_.Counter("reads_cancelled"), cancelled + 1);

  // The device is usable again after the abandoned read.
  ASSERT_EQ(port.Open(), UsbOpenResult::kOk);
  ASSERT_TRUE(port.StartRead(0x81, buffer.data(), kStatusLength));
  ASSERT_TRUE(port.WaitRead(kReadWaitMs));
  ASSERT_TRUE(port.ReadResult(&transferred));
  EXPECT_EQ(transferred, kStatusLength);
}

TEST_F(StandinTest, DisconnectEndsTheReadAndHidesTheDevice) {
  WinUsbPort port;
  ASSERT_EQ(port.Open(), UsbOpenResult::kOk);
  ASSERT_TRUE(sim_.Do("lose_reads 1"));  // a read that only the disconnect can end
  std::array<uint8_t, 512> buffer{};
  ASSERT_TRUE(port.StartRead(0x81, buffer.data(), kStatusLength));
  ASSERT_TRUE(sim_.Do("disconnect"));
  ASSERT_TRUE(port.WaitRead(kReadWaitMs));
  uint32_t transferred = 99;
  EXPECT_FALSE(port.ReadResult(&transferred));
  EXPECT_EQ(transferred, 0u);
  const uint8_t frame[] = {0x0D, 0xF2, 0x00, 0x00};
  uint32_t written = 0;
  EXPECT_FALSE(port.WritePipe(0x01, frame, sizeof(frame), &written));
  uint8_t version[5] = {};
  EXPECT_FALSE(port.ControlIn(0xE0, version, 5));
  port.Close();

  EXPECT_EQ(port.Open(), UsbOpenResult::kNoDevice);
  EXPECT_EQ(port.last_find_result(), 0x80070000u | ERROR_NO_MORE_ITEMS);

  ASSERT_TRUE(sim_.Do("reconnect"));
  EXPECT_EQ(port.Open(), UsbOpenResult::kOk);
}

TEST_F(StandinTest, OnePortAtATimeHoldsTheDevice) {
  WinUsbPort first;
  WinUsbPort second;
  ASSERT_EQ(first.Open(), UsbOpenResult::kOk);
  EXPECT_EQ(second.Open(), UsbOpenResult::kFailed);
  first.Close();
  EXPECT_EQ(second.Open(), UsbOpenResult::kOk);
}

// ---------------------------------------------------------------- raw WinUSB calls

// Discovery, open and WinUsb_Initialize by hand, as a driver other than WinUsbPort would.
class RawWinUsb : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    ASSERT_TRUE(initialize_ && free_ && write_ && read_ && policy_ && control_);
    HDEVINFO list = SetupDiGetClassDevsA(&kControllerInterface, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(list, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data;
    std::memset(&data, 0, sizeof(data));
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(list, nullptr, &kControllerInterface, 0, &data));
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(list, &data, nullptr, 0, &required, nullptr);
    std::vector<uint8_t> memory(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(memory.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(list, &data, detail, required, nullptr, nullptr));
    SetupDiDestroyDeviceInfoList(list);
    device_ = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(device_, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(initialize_(device_, &handle_));
    ASSERT_NE(handle_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) free_(handle_);
    if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
    StandinTest::TearDown();
  }

  InitializeFn initialize_ = Entry<InitializeFn>("WinUsb_Initialize");
  FreeFn free_ = Entry<FreeFn>("WinUsb_Free");
  PipeFn write_ = Entry<PipeFn>("WinUsb_WritePipe");
  PipeFn read_ = Entry<PipeFn>("WinUsb_ReadPipe");
  PolicyFn policy_ = Entry<PolicyFn>("WinUsb_GetPipePolicy");
  ControlTransferFn control_ = Entry<ControlTransferFn>("WinUsb_ControlTransfer");
  HANDLE device_ = INVALID_HANDLE_VALUE;
  WINUSB_INTERFACE_HANDLE handle_ = nullptr;
};

TEST_F(RawWinUsb, OverlappedReadWorksWithGetOverlappedResult) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);  // set: the read must reset it
  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof(overlapped));
  overlapped.hEvent = event;
  std::array<uint8_t, 64> buffer{};
  EXPECT_FALSE(read_(handle_, 0x81, buffer.data(), kStatusLength, nullptr, &overlapped));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  ASSERT_EQ(WaitForSingleObject(event, kReadWaitMs), WAIT_OBJECT_0);
  DWORD count = 0;
  ASSERT_TRUE(GetOverlappedResult(device_, &overlapped, &count, FALSE));
  EXPECT_EQ(count, kStatusLength);
  EXPECT_EQ(buffer[0], kStatusMarker);
  CloseHandle(event);
}

TEST_F(RawWinUsb, SynchronousReadReturnsTheReport) {
  std::array<uint8_t, 64> buffer{};
  ULONG transferred = 0;
  ASSERT_TRUE(read_(handle_, 0x81, buffer.data(), kStatusLength, &transferred, nullptr));
  EXPECT_EQ(transferred, kStatusLength);
  EXPECT_EQ(buffer[0], kStatusMarker);
}

TEST_F(RawWinUsb, ControlTransferReportsTheBytesMoved) {
  std::array<uint8_t, 16> buffer{};
  ULONG transferred = 0;
  WINUSB_SETUP_PACKET setup = {0xA0, 0xE0, 0, 0, 16};  // asks for more than the reply
  ASSERT_TRUE(control_(handle_, setup, buffer.data(), 16, &transferred, nullptr));
  EXPECT_EQ(transferred, 5u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 5), "01.22");
  setup.Length = 3;  // asks for less
  ASSERT_TRUE(control_(handle_, setup, buffer.data(), 16, &transferred, nullptr));
  EXPECT_EQ(transferred, 3u);
  const WINUSB_SETUP_PACKET vendor_out = {0x40, 0xE0, 0, 0, 0};
  EXPECT_FALSE(control_(handle_, vendor_out, nullptr, 0, &transferred, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
}

TEST_F(RawWinUsb, PipePoliciesHaveTheirSizes) {
  struct PolicyCase {
    ULONG policy;
    ULONG size;
    ULONG value;
  };
  const PolicyCase cases[] = {
      {SHORT_PACKET_TERMINATE, 1, 0},
      {AUTO_CLEAR_STALL, 1, 0},
      {PIPE_TRANSFER_TIMEOUT, 4, 0},
      {IGNORE_SHORT_PACKETS, 1, 0},
      {ALLOW_PARTIAL_READS, 1, 1},
      {AUTO_FLUSH, 1, 0},
      {RAW_IO, 1, 0},
  };
  for (const PolicyCase& c : cases) {
    SCOPED_TRACE(c.policy);
    ULONG value = 0xFFFFFFFF;
    ULONG length = sizeof(value);
    ASSERT_TRUE(policy_(handle_, 0x81, c.policy, &length, &value));
    EXPECT_EQ(length, c.size);
    const ULONG mask = c.size == 1 ? 0xFFu : 0xFFFFFFFFu;
    EXPECT_EQ(value & mask, c.value);
  }
  ULONG value = 0;
  ULONG length = 1;  // too small for a ULONG policy
  EXPECT_FALSE(policy_(handle_, 0x81, PIPE_TRANSFER_TIMEOUT, &length, &value));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(length, 4u);
}

TEST_F(RawWinUsb, UnknownHandlesAndPipesAreRefused) {
  int not_a_handle = 0;
  std::array<uint8_t, 64> buffer{};
  ULONG transferred = 0;
  EXPECT_FALSE(write_(&not_a_handle, 0x01, buffer.data(), 4, &transferred, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(read_(&not_a_handle, 0x81, buffer.data(), 60, &transferred, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(free_(&not_a_handle));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(read_(handle_, 0x01, buffer.data(), 60, &transferred, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  WINUSB_INTERFACE_HANDLE second = nullptr;
  EXPECT_FALSE(initialize_(INVALID_HANDLE_VALUE, &second));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace kelvro
