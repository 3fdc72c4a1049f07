#include "sim/sim_trace.h"

#include <cstdio>

namespace kelvro::sim {

namespace {

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

const char* TraceKindName(TraceKind kind) {
  switch (kind) {
    case TraceKind::kCommand:
      return "command";
    case TraceKind::kSegment:
      return "segment";
    case TraceKind::kControl:
      return "control";
    case TraceKind::kRejected:
      return "rejected";
    case TraceKind::kFault:
      return "fault";
    case TraceKind::kPhaseMismatch:
      return "phase_mismatch";
    case TraceKind::kNote:
      return "note";
  }
  return "?";
}

std::string HexBytes(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0x0F];
  }
  return out;
}

std::string FormatTraceText(const TraceEntry& entry) {
  char head[64];
  std::snprintf(head, sizeof head, "%llu ms  pipe 0x%02X  ",
                static_cast<unsigned long long>(entry.t_ms), entry.pipe);
  std::string line = head;
  if (entry.kind != TraceKind::kCommand && entry.kind != TraceKind::kSegment &&
      entry.kind != TraceKind::kControl) {
    line += TraceKindName(entry.kind);
    line += ' ';
  }
  line += entry.name;
  if (entry.code >= 0) {
    char code[16];
    std::snprintf(code, sizeof code, " (0x%02X)", entry.code & 0xFF);
    line += code;
  }
  if (!entry.detail.empty()) {
    line += ": ";
    line += entry.detail;
  }
  if (!entry.payload.empty()) {
    line += "  ";
    line += HexBytes(entry.payload.data(), entry.payload.size());
  }
  return line;
}

std::string FormatTraceJson(const TraceEntry& entry) {
  std::string out = "{\"t_ms\":" + std::to_string(entry.t_ms);
  out += ",\"pipe\":" + std::to_string(entry.pipe);
  if (entry.code >= 0) out += ",\"code\":" + std::to_string(entry.code);
  out += ",\"name\":";
  AppendJsonString(out, entry.name);
  out += ",\"payload\":\"";
  out += HexBytes(entry.payload.data(), entry.payload.size());
  out += '"';
  if (entry.kind != TraceKind::kCommand && entry.kind != TraceKind::kSegment) {
    out += ",\"kind\":";
    AppendJsonString(out, TraceKindName(entry.kind));
    out += ",\"detail\":";
    AppendJsonString(out, entry.detail);
  }
  out += '}';
  return out;
}

void SimTrace::Add(TraceEntry entry) {
  if (sink) sink(entry);
  if (entry.kind == TraceKind::kSegment && !options_.keep_segments) return;
  if (options_.max_entries == 0) {
    ++dropped_;
    return;
  }
  while (entries_.size() >= options_.max_entries) {
    entries_.pop_front();
    ++dropped_;
  }
  entries_.push_back(std::move(entry));
}

void SimTrace::Clear() {
  entries_.clear();
  dropped_ = 0;
}

size_t SimTrace::Count(TraceKind kind, std::string_view name) const {
  size_t n = 0;
  for (const TraceEntry& e : entries_) {
    if (e.kind == kind && (name.empty() || e.name == name)) ++n;
  }
  return n;
}

std::vector<const TraceEntry*> SimTrace::Find(TraceKind kind, std::string_view name) const {
  std::vector<const TraceEntry*> found;
  for (const TraceEntry& e : entries_) {
    if (e.kind == kind && (name.empty() || e.name == name)) found.push_back(&e);
  }
  return found;
}

std::string SimTrace::Text() const {
  std::string out;
  for (const TraceEntry& e : entries_) {
    out += FormatTraceText(e);
    out += '\n';
  }
  return out;
}

std::string SimTrace::JsonLines() const {
  std::string out;
  for (const TraceEntry& e : entries_) {
    out += FormatTraceJson(e);
    out += '\n';
  }
  return out;
}

}  // namespace kelvro::sim
