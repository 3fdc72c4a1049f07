// winusb.dll for tests under Wine: the six WinUSB entry points that kelvro_drv.dll takes,
// served by one simulated KELVRO controller that lives in this library and runs on real time.
//
// Wine's builtin winusb.dll aborts the process in WinUsb_Initialize, so the Windows-side
// tests put this library (and the setupapi.dll stand-in that reports the device) next to the
// program and run it with WINEDLLOVERRIDES="winusb,setupapi=n".
//
// Configuration, read once when the controller is first used:
//   KELVRO_SIM_FIRMWARE          firmware version text (default "01.22")
//   KELVRO_SIM_TRACE             file to which the controller's trace is appended as JSON
//                                lines as it is made, plus a summary line at every
//                                WinUsb_Free and when the process ends
//   KELVRO_SIM_FAIL_WRITE_AFTER  the Nth command write on pipe 0x01 fails (counted from 1)
//   KELVRO_SIM_NO_DEVICE=1       the controller is not on the bus
//   KELVRO_SIM_FLASHED_FIRMWARE  version text after a completed flash (default "01.22")
//   KELVRO_SIM_FLASH_REPLY_MS    time each flash command takes before its reply (default 0)
//   KELVRO_SIM_FLASH_FAULT       "erase", "chunk:N", "no-reply:N" or "never-returns"
//
// Status reads: the report is taken when the read starts and the read completes about 1 ms
// later, from a worker thread or from any later call, by filling the buffer, setting the
// OVERLAPPED's status and byte count and signalling its event, so that WaitForSingleObject
// and GetOverlappedResult see what they would see with the real driver. A read the
// controller loses never completes; a short one reports its real byte count. CancelIo on the
// device handle cannot reach this library, so a read in flight ends (cancelled) only when
// WinUsb_Free releases the interface.
//
// Extra exports for the tests and for the setupapi.dll stand-in: KelvroSim_DevicePresent,
// KelvroSim_Control (fault injection by a short text command), KelvroSim_Summary and
// KelvroSim_TraceJson.

// clang-format off
#include <windows.h>
#include <winusb.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim_controller.h"
#include "sim/sim_trace.h"

namespace kelvro::sim {
namespace {

// NTSTATUS values as the OVERLAPPED record carries them.
constexpr ULONG_PTR kStatusSuccess = 0x00000000;
constexpr ULONG_PTR kStatusPending = 0x00000103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusDeviceNotConnected = 0xC000009D;

constexpr uint8_t kPipeCommand = 0x01;
constexpr uint8_t kPipeSegments = 0x02;
constexpr uint8_t kPipeStatus = 0x81;
constexpr uint8_t kRequestFirmwareVersion = 0xE0;
constexpr uint8_t kRequestZPosition = 0xE2;

constexpr uint64_t kReadLatencyMs = 1;
// A synchronous read (no OVERLAPPED) that the controller never answers gives up after this.
constexpr DWORD kSyncReadLimitMs = 5000;
constexpr ULONG kMaximumTransferSize = 4 * 1024 * 1024;
// Entries kept in memory; the trace file gets every entry.
constexpr size_t kKeptTraceEntries = 20000;

std::string Env(const char* name) {
  char value[1024];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
  if (n == 0 || n >= sizeof(value)) return {};
  return std::string(value, n);
}

// A JSON string literal (the version text comes from the environment).
std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Holds a critical section for one scope.
class Guard {
 public:
  explicit Guard(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Guard() { LeaveCriticalSection(&section_); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

// Appends lines to a file through the Win32 API (the C runtime may already be shutting down
// when the last summary is written at process exit).
class LineFile {
 public:
  explicit LineFile(const std::string& path) {
    if (path.empty()) return;
    file_ = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~LineFile() {
    if (is_open()) CloseHandle(file_);
  }
  LineFile(const LineFile&) = delete;
  LineFile& operator=(const LineFile&) = delete;

  bool is_open() const { return file_ != INVALID_HANDLE_VALUE; }
  void Write(std::string line) {
    if (!is_open()) return;
    line += '\n';
    DWORD written = 0;
    WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// Publishes a completion the way the I/O manager does: byte count first, then the status,
// then the event.
void CompleteOverlapped(LPOVERLAPPED overlapped, ULONG_PTR status, ULONG bytes) {
  overlapped->InternalHigh = bytes;
  MemoryBarrier();
  *reinterpret_cast<volatile ULONG_PTR*>(&overlapped->Internal) = status;
  MemoryBarrier();
  HANDLE event = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(overlapped->hEvent) &
                                          ~static_cast<ULONG_PTR>(1));
  if (event != nullptr) SetEvent(event);
}

struct PendingRead {
  PUCHAR buffer = nullptr;
  ULONG length = 0;
  LPOVERLAPPED overlapped = nullptr;
  SimReadStart::Kind kind = SimReadStart::Kind::kData;
  std::vector<uint8_t> data;
  uint64_t complete_at = 0;
};

// One WinUsb_Initialize: the device file it was made on and its reads in flight, oldest
// first (a bulk IN pipe completes its requests in order).
struct Interface {
  HANDLE device = INVALID_HANDLE_VALUE;
  std::deque<PendingRead> reads;
};

class SimDevice {
 public:
  SimDevice();
  ~SimDevice();
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  BOOL Initialize(HANDLE device, PWINUSB_INTERFACE_HANDLE handle);
  BOOL Free(WINUSB_INTERFACE_HANDLE handle);
  BOOL WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length,
                 PULONG transferred, LPOVERLAPPED overlapped);
  BOOL ReadPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length,
                PULONG transferred, LPOVERLAPPED overlapped);
  BOOL GetPipePolicy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, ULONG policy, PULONG value_length,
                     PVOID value);
  BOOL ControlTransfer(WINUSB_INTERFACE_HANDLE handle, WINUSB_SETUP_PACKET setup, PUCHAR buffer,
                       ULONG length, PULONG transferred, LPOVERLAPPED overlapped);

  bool Present();
  bool Control(const std::string& command);
  std::string Summary(bool final_line);
  std::string TraceJson();
  // Process exit: other threads are gone (possibly holding the lock); write the last summary
  // and answer nothing afterwards.
  void ProcessExit();
  bool worker_started() const { return worker_ != nullptr; }

 private:
  uint64_t Now();
  void Sync();
  void UpdateReads(Interface& itf);
  void CompleteRead(PendingRead& read, ULONG_PTR status);
  Interface* Find(WINUSB_INTERFACE_HANDLE handle);
  // The interface behind `handle` when a transfer may use it; else null, last error set.
  Interface* UsableInterface(WINUSB_INTERFACE_HANDLE handle);
  bool Usable(const Interface* itf) const;
  bool AnyReadInFlight() const;
  void EnsureWorker();
  static DWORD WINAPI WorkerMain(void* self);
  void WorkerLoop();
  std::string SummaryLocked(bool final_line);

  CRITICAL_SECTION lock_;
  SimController controller_;
  LineFile trace_file_;
  std::vector<Interface*> interfaces_;
  DWORD last_tick_ = 0;
  uint64_t elapsed_ms_ = 0;
  uint64_t fail_write_after_ = 0;
  HANDLE wake_ = nullptr;
  HANDLE worker_ = nullptr;
  std::atomic<bool> exiting_{false};

  uint64_t initialize_calls_ = 0;
  uint64_t initialized_ = 0;
  uint64_t freed_ = 0;
  uint64_t command_writes_ = 0;
  uint64_t segment_writes_ = 0;
  uint64_t write_failures_ = 0;
  uint64_t reads_started_ = 0;
  uint64_t reads_completed_ = 0;
  uint64_t reads_cancelled_ = 0;
  uint64_t control_requests_ = 0;
  uint64_t trace_commands_ = 0;
};

SimControllerOptions OptionsFromEnvironment() {
  SimControllerOptions options;
  const std::string firmware = Env("KELVRO_SIM_FIRMWARE");
  if (!firmware.empty()) options.firmware_version = firmware;
  const std::string flashed = Env("KELVRO_SIM_FLASHED_FIRMWARE");
  if (!flashed.empty()) options.flashed_version = flashed;
  const std::string reply_ms = Env("KELVRO_SIM_FLASH_REPLY_MS");
  if (!reply_ms.empty()) {
    options.flash_reply_ms = static_cast<uint32_t>(std::strtoul(reply_ms.c_str(), nullptr, 10));
  }
  // An unknown fault text injects nothing.
  ParseSimFlashFault(Env("KELVRO_SIM_FLASH_FAULT"), options.flash_faults);
  return options;
}

SimDevice::SimDevice()
    : controller_(OptionsFromEnvironment()), trace_file_(Env("KELVRO_SIM_TRACE")) {
  InitializeCriticalSection(&lock_);
  last_tick_ = GetTickCount();
  const std::string fail_after = Env("KELVRO_SIM_FAIL_WRITE_AFTER");
  if (!fail_after.empty()) fail_write_after_ = std::strtoull(fail_after.c_str(), nullptr, 10);

  SimTrace& trace = controller_.trace();
  trace.options().keep_segments = false;
  trace.options().max_entries = kKeptTraceEntries;
  trace.sink = [this](const TraceEntry& entry) {
    if (entry.kind == TraceKind::kCommand) ++trace_commands_;
    trace_file_.Write(FormatTraceJson(entry));
  };
  if (Env("KELVRO_SIM_NO_DEVICE") == "1") controller_.Disconnect();
}

SimDevice::~SimDevice() {
  for (Interface* itf : interfaces_) delete itf;
  if (wake_ != nullptr) CloseHandle(wake_);
  DeleteCriticalSection(&lock_);
}

uint64_t SimDevice::Now() {
  // Deltas of the 32-bit tick count, so that its wrap after 49 days does not matter.
  const DWORD tick = GetTickCount();
  elapsed_ms_ += static_cast<DWORD>(tick - last_tick_);
  last_tick_ = tick;
  return elapsed_ms_;
}

void SimDevice::Sync() {
  controller_.AdvanceTo(Now());
  for (Interface* itf : interfaces_) UpdateReads(*itf);
}

bool SimDevice::Usable(const Interface* itf) const {
  return controller_.ClaimedBy(itf);
}

Interface* SimDevice::Find(WINUSB_INTERFACE_HANDLE handle) {
  for (Interface* itf : interfaces_) {
    if (itf == handle) return itf;
  }
  return nullptr;
}

bool SimDevice::AnyReadInFlight() const {
  for (const Interface* itf : interfaces_) {
    if (!itf->reads.empty()) return true;
  }
  return false;
}

void SimDevice::CompleteRead(PendingRead& read, ULONG_PTR status) {
  ULONG bytes = 0;
  if (status == kStatusSuccess) {
    bytes = static_cast<ULONG>(std::min<size_t>(read.length, read.data.size()));
    if (bytes > 0) std::memcpy(read.buffer, read.data.data(), bytes);
    ++reads_completed_;
  } else if (status == kStatusCancelled) {
    ++reads_cancelled_;
  }
  CompleteOverlapped(read.overlapped, status, bytes);
}

void SimDevice::UpdateReads(Interface& itf) {
  while (!itf.reads.empty()) {
    PendingRead& read = itf.reads.front();
    if (!Usable(&itf)) {
      // The device left the bus under the read.
      CompleteRead(read, kStatusDeviceNotConnected);
      itf.reads.pop_front();
      continue;
    }
    // A lost read holds up the pipe: later requests queue behind it.
    if (read.kind == SimReadStart::Kind::kLost) return;
    // A report dropped on the bus: the read is answered by a later report.
    while (read.kind == SimReadStart::Kind::kDropped && controller_.now() >= read.complete_at) {
      SimReadStart retry = controller_.BeginStatusRead(read.length);
      read.kind = retry.kind;
      read.data = std::move(retry.data);
      read.complete_at +=
          retry.kind == SimReadStart::Kind::kDropped ? retry.retry_after_ms : kReadLatencyMs;
    }
    if (read.kind == SimReadStart::Kind::kDropped) return;
    if (read.kind == SimReadStart::Kind::kAwaitReply) {
      std::vector<uint8_t> bytes(read.length);
      const size_t n = controller_.TakeReplyBytes(bytes.data(), bytes.size());
      if (n == 0) return;
      bytes.resize(n);
      read.data = std::move(bytes);
      read.kind = SimReadStart::Kind::kData;
      read.complete_at = controller_.now() + kReadLatencyMs;
    }
    if (controller_.now() < read.complete_at) return;
    CompleteRead(read, kStatusSuccess);
    itf.reads.pop_front();
  }
}

void SimDevice::EnsureWorker() {
  if (worker_ != nullptr) return;
  // The worker runs code of this library: keep the library loaded for good.
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&SimDevice::WorkerMain), &self);
  wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  worker_ = CreateThread(nullptr, 0, &SimDevice::WorkerMain, this, 0, nullptr);
}

DWORD WINAPI SimDevice::WorkerMain(void* self) {
  static_cast<SimDevice*>(self)->WorkerLoop();
  return 0;
}

void SimDevice::WorkerLoop() {
  for (;;) {
    bool busy = false;
    {
      Guard guard(lock_);
      if (exiting_) return;
      Sync();
      busy = AnyReadInFlight();
    }
    WaitForSingleObject(wake_, busy ? 1 : INFINITE);
  }
}

BOOL SimDevice::Initialize(HANDLE device, PWINUSB_INTERFACE_HANDLE handle) {
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *handle = nullptr;
  if (device == nullptr || device == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  SetLastError(NO_ERROR);
  if (GetFileType(device) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Guard guard(lock_);
  if (exiting_) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  ++initialize_calls_;
  Sync();
  if (!controller_.present()) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  auto* itf = new Interface;
  itf->device = device;
  if (!controller_.Claim(itf)) {
    // WinUSB gives the device to one interface handle at a time.
    delete itf;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  interfaces_.push_back(itf);
  ++initialized_;
  *handle = itf;
  return TRUE;
}

BOOL SimDevice::Free(WINUSB_INTERFACE_HANDLE handle) {
  Guard guard(lock_);
  if (exiting_) return TRUE;
  Sync();
  Interface* itf = Find(handle);
  if (itf == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // Releasing the interface ends its reads in flight, as closing the handle does.
  for (PendingRead& read : itf->reads) CompleteRead(read, kStatusCancelled);
  controller_.Release(itf);
  interfaces_.erase(std::find(interfaces_.begin(), interfaces_.end(), itf));
  delete itf;
  ++freed_;
  if (trace_file_.is_open()) trace_file_.Write(SummaryLocked(false));
  return TRUE;
}

Interface* SimDevice::UsableInterface(WINUSB_INTERFACE_HANDLE handle) {
  if (exiting_) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return nullptr;
  }
  Sync();
  Interface* itf = Find(handle);
  if (itf == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!Usable(itf)) {
    SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return nullptr;
  }
  return itf;
}

BOOL SimDevice::WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length,
                          PULONG transferred, LPOVERLAPPED overlapped) {
  if (transferred != nullptr) *transferred = 0;
  Guard guard(lock_);
  Interface* itf = UsableInterface(handle);
  if (itf == nullptr) return FALSE;
  if ((buffer == nullptr && length > 0) || (pipe != kPipeCommand && pipe != kPipeSegments)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (pipe == kPipeCommand) {
    ++command_writes_;
    if (fail_write_after_ != 0 && command_writes_ == fail_write_after_) {
      controller_.FailNextWrite(kPipeCommand);
    }
  } else {
    ++segment_writes_;
  }
  if (controller_.TakeWriteFault(pipe)) {
    ++write_failures_;
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (pipe == kPipeCommand) {
    controller_.ReceiveCommandWrite(buffer, length);
  } else {
    controller_.ReceiveSegmentWrite(buffer, length);
  }
  // A flash command may have answered a read that waits for its reply.
  UpdateReads(*itf);
  if (transferred != nullptr) *transferred = length;
  if (overlapped != nullptr) CompleteOverlapped(overlapped, kStatusSuccess, length);
  return TRUE;
}

BOOL SimDevice::ReadPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length,
                         PULONG transferred, LPOVERLAPPED overlapped) {
  if (transferred != nullptr) *transferred = 0;
  OVERLAPPED own{};
  HANDLE own_event = nullptr;
  {
    Guard guard(lock_);
    Interface* itf = UsableInterface(handle);
    if (itf == nullptr) return FALSE;
    if (pipe != kPipeStatus || buffer == nullptr || length == 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (overlapped == nullptr) {
      // A synchronous read waits on a record of its own.
      own_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      if (own_event == nullptr) return FALSE;
      own.hEvent = own_event;
    }
    LPOVERLAPPED target = overlapped != nullptr ? overlapped : &own;
    target->Internal = kStatusPending;
    target->InternalHigh = 0;
    HANDLE event = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(target->hEvent) &
                                            ~static_cast<ULONG_PTR>(1));
    if (event != nullptr) ResetEvent(event);

    SimReadStart start = controller_.BeginStatusRead(length);
    ++reads_started_;
    PendingRead read;
    read.buffer = buffer;
    read.length = length;
    read.overlapped = target;
    read.kind = start.kind;
    read.data = std::move(start.data);
    read.complete_at =
        controller_.now() +
        (start.kind == SimReadStart::Kind::kDropped ? start.retry_after_ms : kReadLatencyMs);
    itf->reads.push_back(std::move(read));
    EnsureWorker();
    if (wake_ != nullptr) SetEvent(wake_);
    if (overlapped != nullptr) {
      SetLastError(ERROR_IO_PENDING);
      return FALSE;
    }
  }

  const bool done = WaitForSingleObject(own_event, kSyncReadLimitMs) == WAIT_OBJECT_0;
  {
    Guard guard(lock_);
    if (!done) {
      // Take the abandoned request out of its queue before its record goes away.
      for (Interface* itf : interfaces_) {
        auto& reads = itf->reads;
        reads.erase(std::remove_if(reads.begin(), reads.end(),
                                   [&](const PendingRead& r) { return r.overlapped == &own; }),
                    reads.end());
      }
    }
  }
  CloseHandle(own_event);
  if (!done) {
    SetLastError(ERROR_SEM_TIMEOUT);
    return FALSE;
  }
  if (own.Internal != kStatusSuccess) {
    SetLastError(own.Internal == kStatusCancelled ? ERROR_OPERATION_ABORTED
                                                  : ERROR_DEVICE_NOT_CONNECTED);
    return FALSE;
  }
  if (transferred != nullptr) *transferred = static_cast<ULONG>(own.InternalHigh);
  return TRUE;
}

BOOL SimDevice::GetPipePolicy(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, ULONG policy,
                              PULONG value_length, PVOID value) {
  Guard guard(lock_);
  if (Find(handle) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((pipe != kPipeCommand && pipe != kPipeSegments && pipe != kPipeStatus) ||
      value_length == nullptr || value == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ULONG number = 0;
  ULONG size = sizeof(UCHAR);
  switch (policy) {
    case SHORT_PACKET_TERMINATE:
    case AUTO_CLEAR_STALL:
    case IGNORE_SHORT_PACKETS:
    case AUTO_FLUSH:
    case RAW_IO:
    case RESET_PIPE_ON_RESUME:
      number = 0;
      break;
    case ALLOW_PARTIAL_READS:
      number = 1;
      break;
    case PIPE_TRANSFER_TIMEOUT:
      number = 0;  // no timeout
      size = sizeof(ULONG);
      break;
    case MAXIMUM_TRANSFER_SIZE:
      number = kMaximumTransferSize;
      size = sizeof(ULONG);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  if (*value_length < size) {
    *value_length = size;
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  if (size == sizeof(ULONG)) {
    std::memcpy(value, &number, sizeof(ULONG));
  } else {
    *static_cast<UCHAR*>(value) = static_cast<UCHAR>(number);
  }
  *value_length = size;
  return TRUE;
}

BOOL SimDevice::ControlTransfer(WINUSB_INTERFACE_HANDLE handle, WINUSB_SETUP_PACKET setup,
                                PUCHAR buffer, ULONG length, PULONG transferred,
                                LPOVERLAPPED overlapped) {
  if (transferred != nullptr) *transferred = 0;
  Guard guard(lock_);
  Interface* itf = UsableInterface(handle);
  if (itf == nullptr) return FALSE;
  const ULONG wanted = std::min<ULONG>(setup.Length, length);
  if (buffer == nullptr && wanted > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The controller answers class IN requests to the device only; anything else stalls.
  constexpr UCHAR kClassInToDevice = 0xA0;
  if (setup.RequestType != kClassInToDevice) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  ++control_requests_;
  std::vector<uint8_t> reply(wanted);
  if (!controller_.ControlIn(setup.Request, reply.data(), static_cast<uint16_t>(wanted))) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const ULONG reply_size = setup.Request == kRequestFirmwareVersion ? 5
                           : setup.Request == kRequestZPosition     ? 4
                                                                    : 0;
  const ULONG n = std::min(wanted, reply_size);
  if (n > 0) std::memcpy(buffer, reply.data(), n);
  if (transferred != nullptr) *transferred = n;
  if (overlapped != nullptr) CompleteOverlapped(overlapped, kStatusSuccess, n);
  return TRUE;
}

bool SimDevice::Present() {
  Guard guard(lock_);
  if (exiting_) return false;
  Sync();
  return controller_.present();
}

bool SimDevice::Control(const std::string& command) {
  std::istringstream in(command);
  std::string verb;
  in >> verb;
  long long number = 0;
  const bool has_number = static_cast<bool>(in >> number);
  const bool fits = has_number && number >= 0 && number <= 0xFFFFFFFFLL;
  const auto count = static_cast<uint32_t>(fits ? number : 0);

  Guard guard(lock_);
  if (exiting_) return false;
  Sync();
  if (verb == "lose_reads" && fits) {
    controller_.LoseStatusReads(count);
  } else if (verb == "short_reads" && fits) {
    controller_.CorruptStatusReads(count, StatusCorruption::kShortTransfer);
  } else if (verb == "corrupt_reads" && fits) {
    controller_.CorruptStatusReads(count, StatusCorruption::kWrongMarker);
  } else if (verb == "fail_write" && fits && count <= 0xFF) {
    controller_.FailNextWrite(static_cast<uint8_t>(count));
  } else if (verb == "estop" && fits && count <= 0xFF) {
    controller_.TriggerEstop(static_cast<uint8_t>(count));
  } else if (verb == "inputs" && fits && count <= 0xFFFF) {
    controller_.SetInputPins(static_cast<uint16_t>(count));
  } else if (verb == "line_word" && fits && count <= 0xFFFF) {
    controller_.SetLineWord(static_cast<uint16_t>(count));
  } else if (verb == "disconnect") {
    controller_.Disconnect();
  } else if (verb == "reconnect") {
    controller_.Reconnect(false);
  } else if (verb == "restart") {
    controller_.Reconnect(true);
  } else {
    return false;
  }
  // Faults that end reads (a disconnect) take effect at once.
  Sync();
  return true;
}

std::string SimDevice::SummaryLocked(bool final_line) {
  char text[768];
  std::snprintf(text, sizeof(text),
                "{\"summary\":true,\"final\":%s,\"t_ms\":%llu,\"status_reads\":%llu,"
                "\"reads_started\":%llu,\"reads_completed\":%llu,\"reads_cancelled\":%llu,"
                "\"commands\":%llu,\"command_writes\":%llu,\"segment_writes\":%llu,"
                "\"segments_received\":%llu,\"segments_executed\":%llu,\"write_failures\":%llu,"
                "\"control_requests\":%llu,\"initialize_calls\":%llu,\"initialized\":%llu,"
                "\"freed\":%llu,\"present\":%s,"
                "\"mode\":%u,\"firmware\":",
                final_line ? "true" : "false", static_cast<unsigned long long>(controller_.now()),
                static_cast<unsigned long long>(controller_.status_reads()),
                static_cast<unsigned long long>(reads_started_),
                static_cast<unsigned long long>(reads_completed_),
                static_cast<unsigned long long>(reads_cancelled_),
                static_cast<unsigned long long>(trace_commands_),
                static_cast<unsigned long long>(command_writes_),
                static_cast<unsigned long long>(segment_writes_),
                static_cast<unsigned long long>(controller_.segments_received()),
                static_cast<unsigned long long>(controller_.segments_executed()),
                static_cast<unsigned long long>(write_failures_),
                static_cast<unsigned long long>(control_requests_),
                static_cast<unsigned long long>(initialize_calls_),
                static_cast<unsigned long long>(initialized_),
                static_cast<unsigned long long>(freed_), controller_.present() ? "true" : "false",
                static_cast<unsigned>(controller_.mode()));
  return std::string(text) + JsonText(controller_.firmware_version()) + "}";
}

std::string SimDevice::Summary(bool final_line) {
  Guard guard(lock_);
  if (!exiting_) Sync();
  return SummaryLocked(final_line);
}

std::string SimDevice::TraceJson() {
  Guard guard(lock_);
  if (!exiting_) Sync();
  return controller_.trace().JsonLines();
}

void SimDevice::ProcessExit() {
  // A thread killed by the process exit may have left the lock taken; then go without it,
  // nothing else runs any more.
  const bool locked = TryEnterCriticalSection(&lock_) != FALSE;
  exiting_ = true;
  if (trace_file_.is_open()) trace_file_.Write(SummaryLocked(true));
  if (locked) LeaveCriticalSection(&lock_);
}

// The one controller of the process: the DLL's exports are free functions, so the instance
// is reached through here. It is created on first use.
std::atomic<SimDevice*> g_created{nullptr};

SimDevice& Device() {
  static SimDevice* const device = [] {
    auto* made = new SimDevice;
    g_created = made;
    return made;
  }();
  return *device;
}

DWORD CopyOut(const std::string& text, char* buffer, DWORD size) {
  const auto needed = static_cast<DWORD>(text.size() + 1);
  if (buffer != nullptr && size > 0) {
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return needed;
}

}  // namespace
}  // namespace kelvro::sim

using kelvro::sim::Device;

extern "C" {

WINBOOL WINAPI WinUsb_Initialize(HANDLE DeviceHandle, PWINUSB_INTERFACE_HANDLE InterfaceHandle) {
  return Device().Initialize(DeviceHandle, InterfaceHandle);
}

WINBOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE InterfaceHandle) {
  return Device().Free(InterfaceHandle);
}

WINBOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID,
                                PUCHAR Buffer, ULONG BufferLength, PULONG LengthTransferred,
                                LPOVERLAPPED Overlapped) {
  return Device().WritePipe(InterfaceHandle, PipeID, Buffer, BufferLength, LengthTransferred,
                            Overlapped);
}

WINBOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, PUCHAR Buffer,
                               ULONG BufferLength, PULONG LengthTransferred,
                               LPOVERLAPPED Overlapped) {
  return Device().ReadPipe(InterfaceHandle, PipeID, Buffer, BufferLength, LengthTransferred,
                           Overlapped);
}

WINBOOL WINAPI WinUsb_GetPipePolicy(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID,
                                    ULONG PolicyType, PULONG ValueLength, PVOID Value) {
  return Device().GetPipePolicy(InterfaceHandle, PipeID, PolicyType, ValueLength, Value);
}

WINBOOL WINAPI WinUsb_ControlTransfer(WINUSB_INTERFACE_HANDLE InterfaceHandle,
                                      WINUSB_SETUP_PACKET SetupPacket, PUCHAR Buffer,
                                      ULONG BufferLength, PULONG LengthTransferred,
                                      LPOVERLAPPED Overlapped) {
  return Device().ControlTransfer(InterfaceHandle, SetupPacket, Buffer, BufferLength,
                                  LengthTransferred, Overlapped);
}

// Whether the simulated controller is on the bus (asked by the setupapi.dll stand-in).
WINBOOL WINAPI KelvroSim_DevicePresent(void) {
  return Device().Present() ? TRUE : FALSE;
}

// Fault injection for tests: "lose_reads N", "short_reads N", "corrupt_reads N",
// "fail_write PIPE", "estop REASON", "disconnect", "reconnect", "restart".
WINBOOL WINAPI KelvroSim_Control(const char* command) {
  if (command == nullptr) return FALSE;
  return Device().Control(command) ? TRUE : FALSE;
}

// The summary line; returns the size it needs including the terminating zero.
DWORD WINAPI KelvroSim_Summary(char* buffer, DWORD size) {
  return kelvro::sim::CopyOut(Device().Summary(false), buffer, size);
}

// The kept trace entries as JSON lines (segments are not kept); returns the size it needs.
DWORD WINAPI KelvroSim_TraceJson(char* buffer, DWORD size) {
  return kelvro::sim::CopyOut(Device().TraceJson(), buffer, size);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason != DLL_PROCESS_DETACH) return TRUE;
  kelvro::sim::SimDevice* device = kelvro::sim::g_created;
  if (device == nullptr) return TRUE;
  device->ProcessExit();
  // Unloaded by FreeLibrary (never while the worker runs: it pins the library).
  if (reserved == nullptr && !device->worker_started()) delete device;
  return TRUE;
}

}  // extern "C"
