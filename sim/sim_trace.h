// The simulated controller's trace: every command, segment record and control request it
// received, plus the faults, rejected frames and notes it raised, each with its virtual time.
//
// Entries print as one readable line each or as JSON lines. Long runs stream hundreds of
// thousands of segments, so the number of kept entries is bounded (oldest dropped first) and
// segment entries can be left out entirely; a sink sees every entry as it is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvro::sim {

enum class TraceKind {
  kCommand,        // a well-formed command frame on pipe 0x01
  kSegment,        // one 52-byte segment record on pipe 0x02
  kControl,        // a control IN request on the default pipe
  kRejected,       // a frame or write the controller refused
  kFault,          // something went wrong inside the controller (overflow, injected fault)
  kPhaseMismatch,  // a segment's start phase differs from the controller's own fraction
  kNote,           // a command accepted on the wire but ignored in the present state
};

const char* TraceKindName(TraceKind kind);

struct TraceEntry {
  uint64_t t_ms = 0;
  TraceKind kind = TraceKind::kCommand;
  uint8_t pipe = 0;
  int code = -1;  // command or request code; -1 when the entry has none
  std::string name;
  std::vector<uint8_t> payload;
  std::string detail;
};

// "123 ms  pipe 0x01  JogStart (0x02)  01ff00100000"
std::string FormatTraceText(const TraceEntry& entry);
// {"t_ms":123,"pipe":1,"code":2,"name":"JogStart","payload":"01ff00100000"}
// Entries other than commands and segments also carry "kind" and "detail".
std::string FormatTraceJson(const TraceEntry& entry);
std::string HexBytes(const uint8_t* data, size_t length);

struct SimTraceOptions {
  bool keep_segments = true;
  size_t max_entries = 200000;
};

class SimTrace {
 public:
  SimTraceOptions& options() { return options_; }
  const SimTraceOptions& options() const { return options_; }

  // True when a segment entry would be kept or seen by the sink (so it is worth building).
  bool WantsSegments() const { return options_.keep_segments || static_cast<bool>(sink); }
  void Add(TraceEntry entry);
  void Clear();

  const std::deque<TraceEntry>& entries() const { return entries_; }
  uint64_t dropped() const { return dropped_; }

  size_t Count(TraceKind kind, std::string_view name = {}) const;
  std::vector<const TraceEntry*> Find(TraceKind kind, std::string_view name = {}) const;

  std::string Text() const;
  std::string JsonLines() const;

  // Sees every entry, kept or not (e.g. to stream a long run to a file).
  std::function<void(const TraceEntry&)> sink;

 private:
  SimTraceOptions options_;
  std::deque<TraceEntry> entries_;
  uint64_t dropped_ = 0;
};

}  // namespace kelvro::sim
