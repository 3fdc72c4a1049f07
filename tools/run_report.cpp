#include "tools/run_report.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "sim/json_text.h"

namespace kelvro::sim {
namespace {

constexpr const char* kAxisNames[kAxisCount] = {"X", "Y", "Z", "A", "B", "C"};
constexpr int kLabelWidth = 16;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// "label           first line\n                continuation\n"
void Section(std::string& out, const std::string& label, const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string head = i == 0 ? "  " + label : "";
    head.resize(kLabelWidth + 2, ' ');
    out += head + lines[i] + "\n";
  }
}

// Repeated texts in a row are shown once with their count.
std::vector<std::string> Collapse(const std::vector<std::string>& texts) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < texts.size();) {
    size_t j = i + 1;
    while (j < texts.size() && texts[j] == texts[i]) ++j;
    // A message's own line breaks would break the summary's columns.
    std::string text;
    for (char c : texts[i]) text += c == '\n' ? std::string("\\n") : std::string(1, c);
    std::string line = "\"" + text + "\"";
    if (j - i > 1) line += Format(" (%zu times)", j - i);
    lines.push_back(line);
    i = j;
  }
  if (lines.empty()) lines.push_back("none");
  return lines;
}

// The update dialog's texts for the terminal: line ends dropped, and a run of upload
// percentages shown as its first and last with their count.
std::vector<std::string> UpdateTextLines(const std::vector<std::string>& texts) {
  auto trimmed = [](std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
  };
  auto uploading = [](const std::string& text) { return text.rfind("Uploading ", 0) == 0; };
  std::vector<std::string> lines;
  for (size_t i = 0; i < texts.size();) {
    size_t j = i + 1;
    if (uploading(texts[i])) {
      while (j < texts.size() && uploading(texts[j])) ++j;
    }
    std::string line = "\"" + trimmed(texts[i]) + "\"";
    if (j - i > 1) line += Format(" ... \"%s\" (%zu texts)", trimmed(texts[j - 1]).c_str(), j - i);
    lines.push_back(line);
    i = j;
  }
  return lines;
}

bool FaultsInjected(const RunResult& r) {
  if (r.firmware && !r.firmware->faults.empty()) return true;
  return r.faults.timer_periods > 0 || r.faults.status_reads_lost > 0 ||
         r.faults.status_reads_corrupted > 0 || r.faults.disconnected_at_seconds.has_value();
}

std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  return Format("%.10g", value);
}

std::string JsonSteps(const std::array<int64_t, kAxisCount>& steps) {
  std::string out = "[";
  for (int k = 0; k < kAxisCount; ++k) {
    if (k) out += ", ";
    out += std::to_string(steps[k]);
  }
  return out + "]";
}

std::string JsonOptionalSeconds(const std::optional<double>& seconds) {
  return seconds ? JsonNumber(*seconds) : "null";
}

// "G54, G56" (or JSON strings with quote = "\"").
std::string WorkOffsetList(const std::vector<int>& used, const char* separator, const char* quote,
                           const char* none) {
  if (used.empty()) return none;
  std::string out;
  for (size_t i = 0; i < used.size(); ++i) {
    out += (i ? separator : "") + std::string(quote) + "G" + std::to_string(53 + used[i]) + quote;
  }
  return out;
}

const char* StatusName(RunStatus status) {
  switch (status) {
    case RunStatus::kCompleted:
      return "completed";
    case RunStatus::kBadInput:
      return "bad_input";
    case RunStatus::kIncomplete:
      return "incomplete";
  }
  return "incomplete";
}

double Seconds(uint64_t ms) {
  return static_cast<double>(ms) / 1000.0;
}

std::string TorchHeightText(const TorchHeightReport& h, const char* units) {
  if (h.ms == 0) return "not regulated";
  return Format(
      "%.3f to %.3f %s, mean %.3f, %.1f %% of %.3f s within 0.25 mm of the cutting "
      "height",
      h.min, h.max, units, h.mean(), 100.0 * h.within_share(), Seconds(h.ms));
}

std::string TorchHeightJson(const TorchHeightReport& h) {
  return "{\"min\": " + JsonNumber(h.min) + ", \"max\": " + JsonNumber(h.max) +
         ", \"mean\": " + JsonNumber(h.mean()) +
         ", \"within_0_25mm\": " + JsonNumber(h.within_share()) +
         ", \"regulated_ms\": " + std::to_string(h.ms) + "}";
}

}  // namespace

int ExitStatus(const RunResult& result) {
  if (result.status == RunStatus::kBadInput || !result.output_error.empty()) return 1;
  if (result.status != RunStatus::kCompleted || !result.PositionsMatch()) return 3;
  return 0;
}

std::string FormatSummary(const RunResult& r) {
  std::string out = "kelvro-sim: " + r.program_path + " on " + r.profile_label + "\n";

  std::string verdict;
  if (r.status == RunStatus::kCompleted) {
    verdict = r.PositionsMatch() ? "program executed to the end"
                                 : "program executed, but the machine ended elsewhere than planned";
  } else {
    verdict = "STOPPED: " + r.error;
  }
  Section(out, "result", {verdict});

  const double ratio = r.wall_seconds > 0.0 ? r.sim_seconds / r.wall_seconds : 0.0;
  Section(out, "time",
          {Format("%.3f s simulated in %.3f s wall time (%.0fx real time)", r.sim_seconds,
                  r.wall_seconds, ratio),
           r.planned_probing_seconds > 0.0
               ? Format("program planned to take %.3f s, plus up to %.3f s of probing",
                        r.planned_seconds, r.planned_probing_seconds)
               : Format("program planned to take %.3f s", r.planned_seconds)});
  std::vector<std::string> lines = {
      Format("%d of %d program lines executed", r.lines_executed, r.lines_planned)};
  if (!r.lines_missed.empty()) {
    std::string missed = "not executed: line";
    if (r.lines_missed.size() > 1) missed += "s";
    for (size_t i = 0; i < r.lines_missed.size(); ++i) {
      missed += (i ? ", " : " ") + std::to_string(r.lines_missed[i]);
    }
    if (r.lines_planned - r.lines_executed > static_cast<int>(r.lines_missed.size())) {
      missed += ", ...";
    }
    lines.push_back(missed);
  }
  Section(out, "lines", lines);
  std::vector<std::string> segments = {
      Format("%llu streamed, %llu executed, %llu dropped by the controller",
             static_cast<unsigned long long>(r.segments_streamed),
             static_cast<unsigned long long>(r.segments_executed),
             static_cast<unsigned long long>(r.segments_dropped))};
  if (r.segments_dropped_probing > 0) {
    segments.push_back(Format("(%llu of them the rest of probe moves after the contact)",
                              static_cast<unsigned long long>(r.segments_dropped_probing)));
  }
  if (r.phase_mismatches) {
    segments.push_back(Format("%llu start phases differed from the controller's position",
                              static_cast<unsigned long long>(r.phase_mismatches)));
  }
  Section(out, "segments", segments);
  if (r.fill_samples > 0) {
    Section(out, "queue fill",
            {Format("min %d, average %.1f, max %d segments (over %.3f s of steady streaming)",
                    r.fill_min, r.fill_average, r.fill_max,
                    static_cast<double>(r.fill_samples) / 1000.0)});
  } else {
    Section(out, "queue fill", {"no steady streaming (no move long enough to fill the queue)"});
  }
  std::vector<std::string> underruns = {Format("%d (%llu ms without a segment during a move)",
                                               r.underruns,
                                               static_cast<unsigned long long>(r.starved_ms))};
  for (const UnderrunReport& u : r.underrun_list) {
    underruns.push_back(Format("at %.3f s after line %d, %llu ms long, %.0f ms into the move%s",
                               u.at_seconds, u.line, static_cast<unsigned long long>(u.ms),
                               u.ms_since_move_start,
                               u.queue_was_full ? "" : " (queue still filling)"));
  }
  if (r.underruns > static_cast<int>(r.underrun_list.size())) underruns.push_back("...");
  Section(out, "underruns", underruns);

  const bool completed = r.status == RunStatus::kCompleted;
  std::vector<std::string> position = {
      completed ? "axis       planned      executed  (steps)"
                : "axis   program end       reached  (steps; the run stopped early)"};
  for (int k = 0; k < kAxisCount; ++k) {
    if (!r.axis_enabled[k] && r.planned_final_steps[k] == 0 && r.executed_final_steps[k] == 0) {
      continue;
    }
    const bool same = r.planned_final_steps[k] == r.executed_final_steps[k];
    position.push_back(Format(
        "%-4s %12lld  %12lld%s", kAxisNames[k], static_cast<long long>(r.planned_final_steps[k]),
        static_cast<long long>(r.executed_final_steps[k]), same || !completed ? "" : "  DIFFERS"));
  }
  Section(out, "final position", position);

  Section(out, "actions",
          {Format("%d spindle, %d coolant, %d dwell, %d homing, %zu probing, %d pause%s",
                  r.spindle_actions, r.coolant_actions, r.dwells, r.homings, r.probes.size(),
                  r.pauses, r.pauses == 1 ? "" : "s")});
  if (!r.tool_changes.empty()) {
    std::vector<std::string> changes;
    for (const int tool : r.tool_changes) {
      changes.push_back(Format("tool change to T%d (program stopped and resumed)", tool));
    }
    Section(out, "tool changes", changes);
  }
  Section(out, "work offsets", {WorkOffsetList(r.work_offsets_used, ", ", "", "none used")});
  if (!r.probes.empty()) {
    std::vector<std::string> probes;
    for (const ProbeReport& p : r.probes) {
      if (p.hit) {
        probes.push_back(Format("line %d: hit at X %.4f  Y %.4f  Z %.4f %s", p.line, p.result[0],
                                p.result[1], p.result[2], r.units.c_str()));
      } else {
        probes.push_back(Format("line %d: no contact", p.line));
      }
    }
    Section(out, "probes", probes);
  }

  std::vector<std::string> faults;
  if (!FaultsInjected(r)) {
    faults.push_back("none injected");
  } else {
    const FaultReport& f = r.faults;
    if (f.timer_periods > 0) {
      faults.push_back(Format("jitter: %llu timer periods from %u to %u ms, %llu stalls",
                              static_cast<unsigned long long>(f.timer_periods),
                              f.shortest_period_ms, f.longest_period_ms,
                              static_cast<unsigned long long>(f.stalls)));
    }
    if (f.status_reads_lost > 0 || f.status_reads_corrupted > 0) {
      faults.push_back(Format("status reports: %llu lost, %llu corrupted",
                              static_cast<unsigned long long>(f.status_reads_lost),
                              static_cast<unsigned long long>(f.status_reads_corrupted)));
    }
    if (f.disconnected_at_seconds) {
      faults.push_back(Format("controller unplugged at %.3f s", *f.disconnected_at_seconds));
    }
    if (r.firmware) {
      for (const std::string& fault : r.firmware->faults) {
        faults.push_back("firmware update: " + fault);
      }
    }
    faults.push_back(Format("plugin: at most %d tick%s in a row without a valid report",
                            f.max_missed_polls, f.max_missed_polls == 1 ? "" : "s"));
  }
  if (r.faults.link_closed_at_seconds) {
    faults.push_back(Format("plugin: closed the link at %.3f s", *r.faults.link_closed_at_seconds));
  }
  if (r.faults.estop_at_seconds) {
    faults.push_back(Format("host: E-stop at %.3f s (stop code %d)", *r.faults.estop_at_seconds,
                            r.faults.stop_code));
  }
  Section(out, "faults", faults);

  if (r.zcorr) {
    const ZCorrectionReport& z = *r.zcorr;
    Section(out, "Z correction",
            {Format("map %d x %d points, Z %.4f to %.4f after an offset of %.4f, maximum "
                    "correction %.4f",
                    z.cols, z.rows, z.z_min, z.z_max, z.norm_offset, z.max_correction),
             Format("plane %.6g x + %.6g y + %.6g z = %.6g, points %.4f above and %.4f below it",
                    z.plane[0], z.plane[1], z.plane[2], z.plane[3], z.dev_above, z.dev_below),
             Format("where the program holds Z: within %.3f steps of the corrected depth over %llu "
                    "segments once settled",
                    z.max_hold_error_steps, static_cast<unsigned long long>(z.hold_segments)),
             Format("where the program moves Z: lag of at most %.3f steps over %llu segments",
                    z.max_z_move_lag_steps, static_cast<unsigned long long>(z.z_move_segments)),
             Format("executed Z: speed up to %.4f steps/ms (limit %.4f), change of speed up to "
                    "%.4f steps/ms per ms (limit %.4f)",
                    z.max_z_speed, z.z_speed_limit, z.max_z_speed_change, z.z_acceleration_limit)});
  }
  if (r.laser) {
    const LaserReport& l = *r.laser;
    std::vector<std::string> lines{
        Format("beam on %.3f s, energy %.4f full-power seconds, power %.1f to %.1f %%", l.on_time_s,
               l.energy, l.power_min, l.power_max)};
    if (l.gray_correlation) {
      lines.push_back(
          Format("gray level and energy per cell correlate by %.4f", *l.gray_correlation));
    }
    Section(out, "laser", lines);
  }
  if (r.thc) {
    const ThcReport& t = *r.thc;
    const char* u = r.units.c_str();
    std::vector<std::string> lines{
        Format("%d torch start%s, %d ignition%s, %.3f s cut (the plugin's count and time)",
               t.torch_starts, t.torch_starts == 1 ? "" : "s", t.ignitions,
               t.ignitions == 1 ? "" : "s", t.cut_seconds),
        Format("THC Z offset %.3f to %.3f %s, arc %.1f to %.1f V while regulating", t.z_offset_min,
               t.z_offset_max, u, t.arc_volts_min, t.arc_volts_max),
        "torch height while regulating: " + TorchHeightText(t.torch_height, u),
        Format("voltage lock held the correction %.3f s, kerf detection %.3f s (torch over an "
               "earlier kerf %.3f s)",
               Seconds(t.locked_ms), Seconds(t.kerf_hold_ms), Seconds(t.kerf_crossing_ms))};
    for (const std::string& warning : t.warnings) lines.push_back("WARNING: " + warning);
    for (size_t i = 0; i < t.cuts.size(); ++i) {
      const ThcCutReport& c = t.cuts[i];
      std::string line = Format("cut %zu (line %d): ", i + 1, c.line);
      if (!c.arc_ok) {
        line += c.ignition_failed ? "IGNITION FAILED, no arc" : "no arc OK";
      } else {
        line += Format("arc OK after %llu ms, %.3f s cut, offset %.3f to %.3f %s",
                       static_cast<unsigned long long>(c.arc_ok_wait_ms), c.cut_seconds,
                       c.z_offset_min, c.z_offset_max, u);
      }
      if (c.regulated_piercing_ms > 0) {
        line += Format(", THC REGULATED %llu ms WHILE PIERCING",
                       static_cast<unsigned long long>(c.regulated_piercing_ms));
      }
      if (c.segments_before_arc_ok > 0) {
        line += Format(", %llu SEGMENTS BEFORE ARC OK",
                       static_cast<unsigned long long>(c.segments_before_arc_ok));
      }
      lines.push_back(line);
      if (c.torch_height.ms > 0) {
        lines.push_back(
            "  torch height: " + TorchHeightText(c.torch_height, u) +
            Format("; lock %.3f s, kerf %.3f s", Seconds(c.locked_ms), Seconds(c.kerf_hold_ms)));
      }
      if (c.arc_lost_seconds) {
        std::string lost = Format("  ARC LOST at %.3f s: ", *c.arc_lost_seconds);
        lost += c.arc_ok_off_report_ms
                    ? Format("the plugin saw arc OK go off %llu ms later, ",
                             static_cast<unsigned long long>(*c.arc_ok_off_report_ms))
                    : std::string("arc OK never went off for the plugin, ");
        lost += Format(
            "the THC held its offset, the machine went on %.3f %s without cutting "
            "until the torch stop",
            c.uncut_units, u);
        lines.push_back(lost);
      }
      if (c.z_read_back) {
        lines.push_back(Format("  Z read back: host Z %lld steps, torch at %lld%s",
                               static_cast<long long>(c.host_z_steps),
                               static_cast<long long>(c.controller_z_steps),
                               c.host_z_steps == c.controller_z_steps ? "" : "  DIFFERS"));
      }
    }
    if (!t.voltage_log_path.empty()) {
      lines.push_back(Format("voltage log %s: %llu rows for %llu reports with THC active%s",
                             t.voltage_log_path.c_str(),
                             static_cast<unsigned long long>(t.voltage_log_rows),
                             static_cast<unsigned long long>(t.thc_active_reports),
                             t.voltage_log_header_ok ? "" : ", NO HEADER"));
    }
    Section(out, "THC", lines);
  }
  if (r.firmware) {
    const FirmwareUpdateRunReport& fw = *r.firmware;
    std::vector<std::string> lines{
        Format("controller reported firmware %s, the plugin needs %s; answered %s",
               fw.controller_version.c_str(), fw.required_version.c_str(),
               fw.answered_yes ? "Yes" : "No")};
    if (fw.ran) {
      for (const std::string& line : UpdateTextLines(fw.texts)) lines.push_back(line);
      lines.push_back(Format("%d chunks, %llu bytes in %.3f s, %d reconnect attempt%s", fw.chunks,
                             static_cast<unsigned long long>(fw.bytes), fw.elapsed_ms / 1000.0,
                             fw.reconnect_attempts, fw.reconnect_attempts == 1 ? "" : "s"));
    }
    lines.push_back("result: " + fw.Result() +
                    (fw.version_after.empty()
                         ? std::string()
                         : ", controller now reports firmware " + fw.version_after));
    Section(out, "firmware update", lines);
  }
  if (!r.notes.empty()) Section(out, "notes", r.notes);
  Section(out, "status texts", Collapse(r.status_texts));
  Section(out, "message boxes", Collapse(r.message_boxes));
  Section(
      out, "settings",
      {r.profile_saved_to_given_file ? "saved by the plugin into " + r.profile_label
                                     : "saved by the plugin into a temporary copy (discarded)"});
  if (!r.output_error.empty()) Section(out, "output", {"ERROR: " + r.output_error});
  return out;
}

std::string FormatJson(const RunResult& r) {
  const FaultReport& f = r.faults;
  std::string out = "{\n";
  auto field = [&](const char* name, const std::string& value, bool last = false) {
    out += "  \"" + std::string(name) + "\": " + value + (last ? "\n" : ",\n");
  };
  field("status", JsonString(StatusName(r.status)));
  field("completed", r.status == RunStatus::kCompleted ? "true" : "false");
  field("error", JsonString(r.error));
  field("program", JsonString(r.program_path));
  field("profile", JsonString(r.profile_label));
  field("units", JsonString(r.units));
  field("sim_seconds", JsonNumber(r.sim_seconds));
  field("wall_seconds", JsonNumber(r.wall_seconds));
  field("planned_seconds", JsonNumber(r.planned_seconds));
  field("planned_probing_seconds", JsonNumber(r.planned_probing_seconds));
  field("lines", std::to_string(r.lines_executed));
  field("lines_planned", std::to_string(r.lines_planned));
  field("samples_written", std::to_string(r.samples_written));
  field("segments", std::to_string(r.segments_streamed));
  field("segments_executed", std::to_string(r.segments_executed));
  field("segments_dropped", std::to_string(r.segments_dropped));
  field("segments_dropped_probing", std::to_string(r.segments_dropped_probing));
  field("phase_mismatches", std::to_string(r.phase_mismatches));
  field("underruns", std::to_string(r.underruns));
  field("starved_ms", std::to_string(r.starved_ms));
  field("fill_min", std::to_string(r.fill_min));
  field("fill_average", JsonNumber(r.fill_average));
  field("fill_max", std::to_string(r.fill_max));
  field("fill_samples_ms", std::to_string(r.fill_samples));
  field("planned_final_steps", JsonSteps(r.planned_final_steps));
  field("executed_final_steps", JsonSteps(r.executed_final_steps));
  field("host_final_steps", JsonSteps(r.host_final_steps));
  field("positions_match", r.PositionsMatch() ? "true" : "false");
  field("spindle_actions", std::to_string(r.spindle_actions));
  field("coolant_actions", std::to_string(r.coolant_actions));
  field("dwells", std::to_string(r.dwells));
  field("homings", std::to_string(r.homings));
  field("pauses", std::to_string(r.pauses));
  std::string tools = "[";
  for (size_t i = 0; i < r.tool_changes.size(); ++i) {
    tools += (i ? ", " : "") + std::to_string(r.tool_changes[i]);
  }
  field("tool_changes", tools + "]");
  field("work_offsets_used", "[" + WorkOffsetList(r.work_offsets_used, ", ", "\"", "") + "]");
  field("notes", JsonStrings(r.notes));
  std::string probes = "[";
  for (size_t i = 0; i < r.probes.size(); ++i) {
    const ProbeReport& p = r.probes[i];
    if (i) probes += ", ";
    probes += "{\"line\": " + std::to_string(p.line) + ", \"hit\": " + (p.hit ? "true" : "false") +
              ", \"result\": [" + JsonNumber(p.result[0]) + ", " + JsonNumber(p.result[1]) + ", " +
              JsonNumber(p.result[2]) + ", " + JsonNumber(p.result[3]) + "]}";
  }
  field("probes", probes + "]");
  field("status_texts", JsonStrings(r.status_texts));
  field("message_boxes", JsonStrings(r.message_boxes));
  std::string faults = "{";
  faults += "\"timer_periods\": " + std::to_string(f.timer_periods);
  faults += ", \"stalls\": " + std::to_string(f.stalls);
  faults += ", \"shortest_period_ms\": " + std::to_string(f.shortest_period_ms);
  faults += ", \"longest_period_ms\": " + std::to_string(f.longest_period_ms);
  faults += ", \"status_reads_lost\": " + std::to_string(f.status_reads_lost);
  faults += ", \"status_reads_corrupted\": " + std::to_string(f.status_reads_corrupted);
  faults += ", \"max_missed_polls\": " + std::to_string(f.max_missed_polls);
  faults += ", \"disconnected_at_seconds\": " + JsonOptionalSeconds(f.disconnected_at_seconds);
  faults += ", \"link_closed_at_seconds\": " + JsonOptionalSeconds(f.link_closed_at_seconds);
  faults += ", \"estop_at_seconds\": " + JsonOptionalSeconds(f.estop_at_seconds);
  faults += ", \"stop_code\": " + std::to_string(f.stop_code) + "}";
  field("faults", faults);
  if (r.zcorr) {
    const ZCorrectionReport& z = *r.zcorr;
    std::string zcorr = "{";
    zcorr += "\"cols\": " + std::to_string(z.cols);
    zcorr += ", \"rows\": " + std::to_string(z.rows);
    zcorr += ", \"zmin\": " + JsonNumber(z.z_min);
    zcorr += ", \"zmax\": " + JsonNumber(z.z_max);
    zcorr += ", \"norm_offset\": " + JsonNumber(z.norm_offset);
    zcorr += ", \"max_correction\": " + JsonNumber(z.max_correction);
    zcorr += ", \"plane\": [" + JsonNumber(z.plane[0]) + ", " + JsonNumber(z.plane[1]) + ", " +
             JsonNumber(z.plane[2]) + ", " + JsonNumber(z.plane[3]) + "]";
    zcorr += ", \"dev_above\": " + JsonNumber(z.dev_above);
    zcorr += ", \"dev_below\": " + JsonNumber(z.dev_below);
    zcorr += ", \"max_hold_error_steps\": " + JsonNumber(z.max_hold_error_steps);
    zcorr += ", \"hold_segments\": " + std::to_string(z.hold_segments);
    zcorr += ", \"max_z_move_lag_steps\": " + JsonNumber(z.max_z_move_lag_steps);
    zcorr += ", \"z_move_segments\": " + std::to_string(z.z_move_segments);
    zcorr += ", \"max_z_speed\": " + JsonNumber(z.max_z_speed);
    zcorr += ", \"max_z_speed_change\": " + JsonNumber(z.max_z_speed_change);
    zcorr += ", \"z_speed_limit\": " + JsonNumber(z.z_speed_limit);
    zcorr += ", \"z_acceleration_limit\": " + JsonNumber(z.z_acceleration_limit) + "}";
    field("zcorr", zcorr);
  }
  if (r.laser) {
    const LaserReport& l = *r.laser;
    field("laser",
          "{\"on_time_s\": " + JsonNumber(l.on_time_s) + ", \"energy\": " + JsonNumber(l.energy) +
              ", \"power_min\": " + JsonNumber(l.power_min) +
              ", \"power_max\": " + JsonNumber(l.power_max) +
              (l.gray_correlation ? ", \"gray_correlation\": " + JsonNumber(*l.gray_correlation)
                                  : std::string()) +
              "}");
  }
  if (r.thc) {
    const ThcReport& t = *r.thc;
    std::string thc = "{";
    thc += "\"torch_starts\": " + std::to_string(t.torch_starts);
    thc += ", \"ignitions\": " + std::to_string(t.ignitions);
    thc += ", \"cut_seconds\": " + JsonNumber(t.cut_seconds);
    std::string waits = "[";
    std::string cuts = "[";
    for (size_t i = 0; i < t.cuts.size(); ++i) {
      const ThcCutReport& c = t.cuts[i];
      if (c.arc_ok) waits += (waits.size() > 1 ? ", " : "") + std::to_string(c.arc_ok_wait_ms);
      cuts += std::string(i ? ", " : "") + "{\"line\": " + std::to_string(c.line) +
              ", \"arc_ok\": " + (c.arc_ok ? "true" : "false") +
              ", \"arc_ok_wait_ms\": " + std::to_string(c.arc_ok_wait_ms) +
              ", \"segments_before_arc_ok\": " + std::to_string(c.segments_before_arc_ok) +
              ", \"cut_seconds\": " + JsonNumber(c.cut_seconds) +
              ", \"z_offset_min\": " + JsonNumber(c.z_offset_min) +
              ", \"z_offset_max\": " + JsonNumber(c.z_offset_max) +
              ", \"z_read_back\": " + (c.z_read_back ? "true" : "false") +
              ", \"host_z_steps\": " + std::to_string(c.host_z_steps) +
              ", \"latched_z_steps\": " + std::to_string(c.latched_z_steps) +
              ", \"controller_z_steps\": " + std::to_string(c.controller_z_steps) +
              ", \"torch_height\": " + TorchHeightJson(c.torch_height) +
              ", \"locked_ms\": " + std::to_string(c.locked_ms) +
              ", \"kerf_hold_ms\": " + std::to_string(c.kerf_hold_ms) +
              ", \"ignition_failed\": " + (c.ignition_failed ? "true" : "false") +
              ", \"arc_lost_seconds\": " +
              (c.arc_lost_seconds ? JsonNumber(*c.arc_lost_seconds) : std::string("null")) +
              ", \"uncut\": " + JsonNumber(c.uncut_units) +
              ", \"regulated_piercing_ms\": " + std::to_string(c.regulated_piercing_ms) + "}";
    }
    thc += ", \"arc_ok_waits_ms\": " + waits + "]";
    thc += ", \"z_offset_min\": " + JsonNumber(t.z_offset_min);
    thc += ", \"z_offset_max\": " + JsonNumber(t.z_offset_max);
    thc += ", \"arc_volts_min\": " + JsonNumber(t.arc_volts_min);
    thc += ", \"arc_volts_max\": " + JsonNumber(t.arc_volts_max);
    thc += ", \"thc_active_reports\": " + std::to_string(t.thc_active_reports);
    thc += ", \"voltage_log\": " + JsonString(t.voltage_log_path);
    thc += ", \"voltage_log_rows\": " + std::to_string(t.voltage_log_rows);
    thc += ", \"torch_height\": " + TorchHeightJson(t.torch_height);
    thc += ", \"locked_ms\": " + std::to_string(t.locked_ms);
    thc += ", \"kerf_hold_ms\": " + std::to_string(t.kerf_hold_ms);
    thc += ", \"kerf_crossing_ms\": " + std::to_string(t.kerf_crossing_ms);
    thc += ", \"warnings\": " + JsonStrings(t.warnings);
    thc += ", \"cuts\": " + cuts + "]}";
    field("thc", thc);
  }
  if (r.firmware) {
    const FirmwareUpdateRunReport& fw = *r.firmware;
    std::string firmware = "{";
    firmware += "\"result\": " + JsonString(fw.Result());
    firmware += ", \"controller_version\": " + JsonString(fw.controller_version);
    firmware += ", \"answered_yes\": " + std::string(fw.answered_yes ? "true" : "false");
    firmware += ", \"chunks\": " + std::to_string(fw.chunks);
    firmware += ", \"bytes\": " + std::to_string(fw.bytes);
    firmware += ", \"elapsed_ms\": " + std::to_string(fw.elapsed_ms);
    firmware += ", \"reconnect_attempts\": " + std::to_string(fw.reconnect_attempts);
    firmware += ", \"version_after\": " + JsonString(fw.version_after);
    firmware += ", \"faults\": " + JsonStrings(fw.faults);
    firmware += ", \"texts\": " + JsonStrings(fw.texts) + "}";
    field("firmware_update", firmware);
  }
  field("settings_saved_to_profile", r.profile_saved_to_given_file ? "true" : "false", true);
  return out + "}\n";
}

}  // namespace kelvro::sim
