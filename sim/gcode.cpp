#include "sim/gcode.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <optional>
#include <sstream>

namespace kelvro::sim {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kMaxWordValue = 1e9;  // larger numbers are mistakes, not coordinates
constexpr double kMaxDwellSeconds = 86400.0;
constexpr double kMillimetresPerInch = 25.4;
constexpr char kAxisLetters[kAxisCount + 1] = "XYZABC";

std::string Num(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.6g", value);
  return buffer;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

struct Word {
  char letter = 0;
  double value = 0.0;
  std::string text;  // as written, letter in upper case: "G99", "X-1.5"
};

// Splits one line into words, dropping comments. Messages carry no line prefix.
bool SplitWords(std::string_view line, std::vector<Word>* words, std::string* error) {
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    const char c = line[i];
    if (IsSpace(c)) {
      ++i;
      continue;
    }
    if (c == '(') {
      const size_t close = line.find(')', i + 1);
      if (close == std::string_view::npos) {
        *error = "comment not closed: '(' without ')'";
        return false;
      }
      i = close + 1;
      continue;
    }
    if (c == ';') break;
    const bool lower = c >= 'a' && c <= 'z';
    const bool upper = c >= 'A' && c <= 'Z';
    if (!lower && !upper) {
      char buffer[48];
      if (c > ' ' && c < 127) {
        std::snprintf(buffer, sizeof(buffer), "unexpected character '%c'", c);
      } else {
        std::snprintf(buffer, sizeof(buffer), "unexpected character 0x%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(c)));
      }
      *error = buffer;
      return false;
    }
    Word word;
    word.letter = lower ? static_cast<char>(c - 'a' + 'A') : c;
    ++i;
    while (i < n && IsSpace(line[i])) ++i;
    const size_t start = i;
    if (i < n && (line[i] == '+' || line[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && IsDigit(line[i])) ++i, ++digits;
    if (i < n && line[i] == '.') {
      ++i;
      while (i < n && IsDigit(line[i])) ++i, ++digits;
    }
    if (digits == 0) {
      *error = std::string("missing number after ") + word.letter;
      return false;
    }
    std::string_view number = line.substr(start, i - start);
    word.text = std::string(1, word.letter) + std::string(number);
    if (number.front() == '+') number.remove_prefix(1);
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), word.value,
                                           std::chars_format::fixed);
    if (ec != std::errc() || end != number.data() + number.size() ||
        !(std::fabs(word.value) <= kMaxWordValue)) {
      *error = "number out of range: " + word.text;
      return false;
    }
    words->push_back(std::move(word));
  }
  return true;
}

// G and M numbers as tenths (G28.1 = 281); -1 when the value is no such number.
int CodeOf(double value) {
  const double tenths = value * 10.0;
  const double rounded = std::round(tenths);
  // No code is above 1000; anything larger is unknown (and must not reach the conversion).
  if (!(value >= 0.0 && value <= 1000.0) || std::fabs(tenths - rounded) > 1e-6) return -1;
  return static_cast<int>(rounded);
}

bool IsSupportedG(int code) {
  switch (code) {
    case 0:
    case 10:
    case 20:
    case 30:
    case 40:
    case 170:
    case 200:
    case 210:
    case 280:
    case 310:
    case 400:
    case 490:
    case 540:
    case 800:
    case 900:
    case 910:
    case 940:
      return true;
    default:
      return false;
  }
}

bool IsSupportedM(int code) {
  switch (code) {
    case 20:
    case 30:
    case 40:
    case 50:
    case 100:
    case 110:
    case 300:
      return true;
    default:
      return false;
  }
}

// One word per group and line.
struct GroupWord {
  int code = -1;
  std::string text;
  bool set() const { return code >= 0; }
};

double NormalizeAngle(double angle) {  // into [0, 2π)
  double a = std::fmod(angle, kTwoPi);
  if (a < 0.0) a += kTwoPi;
  if (a >= kTwoPi) a = 0.0;
  return a;
}

class Interpreter {
 public:
  Interpreter(const Machine& machine, const Position& start)
      : machine_(machine), position_(start), inch_(machine.units == Units::kInch) {}

  // Interprets one line; messages carry no line prefix.
  bool Line(std::string_view text, int line, std::vector<Block>* out, bool* ended,
            std::string* error);

 private:
  double LengthFactor() const {
    const bool machine_inch = machine_.units == Units::kInch;
    if (inch_ == machine_inch) return 1.0;
    return inch_ ? kMillimetresPerInch : 1.0 / kMillimetresPerInch;
  }
  double AxisFactor(int axis) const {
    return (axis >= 3 && machine_.axes[axis].rotary) ? 1.0 : LengthFactor();
  }
  bool CheckAxesEnabled(uint32_t mask, std::string* error) const;

  const Machine& machine_;
  Position position_;
  int motion_ = -1;  // modal motion code in tenths, -1 = none yet
  bool inch_ = false;
  bool incremental_ = false;
  double feed_ = 0.0;  // program units per minute, 0 = not set
  double spindle_speed_ = 0.0;
};

bool Interpreter::CheckAxesEnabled(uint32_t mask, std::string* error) const {
  for (int k = 0; k < kAxisCount; ++k) {
    if ((mask & (1u << k)) && !machine_.axes[k].enabled) {
      *error = std::string("axis ") + kAxisLetters[k] + " is not enabled";
      return false;
    }
  }
  return true;
}

bool Interpreter::Line(std::string_view text, int line, std::vector<Block>* out, bool* ended,
                       std::string* error) {
  {
    size_t first = 0;
    while (first < text.size() && IsSpace(text[first])) ++first;
    size_t last = text.size();
    while (last > first && IsSpace(text[last - 1])) --last;
    if (text.substr(first, last - first) == "%") return true;  // tape start / end marker
  }
  std::vector<Word> words;
  if (!SplitWords(text, &words, error)) return false;
  if (words.empty()) return true;

  GroupWord motion, non_modal, units, distance, spindle, sync, end;
  std::optional<double> axis[kAxisCount], i_word, j_word, r_word, f_word, s_word, p_word, n_word;
  const auto set_group = [&](GroupWord& group, const Word& word, int code) {
    if (group.set()) {
      *error = group.text + " and " + word.text + " cannot share a line";
      return false;
    }
    group.code = code;
    group.text = word.text;
    return true;
  };
  const auto set_value = [&](std::optional<double>& slot, const Word& word) {
    if (slot) {
      *error = std::string(1, word.letter) + " appears twice";
      return false;
    }
    slot = word.value;
    return true;
  };

  for (const Word& word : words) {
    bool ok = true;
    switch (word.letter) {
      case 'G': {
        const int code = CodeOf(word.value);
        if (!IsSupportedG(code)) {
          *error = "unknown word " + word.text;
          return false;
        }
        switch (code) {
          case 0:
          case 10:
          case 20:
          case 30:
            ok = set_group(motion, word, code);
            break;
          case 40:
          case 280:
          case 310:
            ok = set_group(non_modal, word, code);
            break;
          case 200:
          case 210:
            ok = set_group(units, word, code);
            break;
          case 900:
          case 910:
            ok = set_group(distance, word, code);
            break;
          default:
            break;  // accepted, nothing to do
        }
        break;
      }
      case 'M': {
        const int code = CodeOf(word.value);
        if (!IsSupportedM(code)) {
          *error = "unknown word " + word.text;
          return false;
        }
        switch (code) {
          case 30:
          case 40:
          case 50:
            ok = set_group(spindle, word, code);
            break;
          case 100:
          case 110:
            ok = set_group(sync, word, code);
            break;
          default:
            ok = set_group(end, word, code);
            break;
        }
        break;
      }
      case 'X':
        ok = set_value(axis[0], word);
        break;
      case 'Y':
        ok = set_value(axis[1], word);
        break;
      case 'Z':
        ok = set_value(axis[2], word);
        break;
      case 'A':
        ok = set_value(axis[3], word);
        break;
      case 'B':
        ok = set_value(axis[4], word);
        break;
      case 'C':
        ok = set_value(axis[5], word);
        break;
      case 'I':
        ok = set_value(i_word, word);
        break;
      case 'J':
        ok = set_value(j_word, word);
        break;
      case 'R':
        ok = set_value(r_word, word);
        break;
      case 'F':
        ok = set_value(f_word, word);
        break;
      case 'S':
        ok = set_value(s_word, word);
        break;
      case 'P':
        ok = set_value(p_word, word);
        break;
      case 'N':
        ok = set_value(n_word, word);
        break;
      default:
        *error = "unknown word " + word.text;
        return false;
    }
    if (!ok) return false;
  }
  if (motion.set() && non_modal.set()) {
    *error = motion.text + " and " + non_modal.text + " cannot share a line";
    return false;
  }

  // Modes that shape this line's numbers.
  if (units.set()) inch_ = units.code == 200;
  if (distance.set()) incremental_ = distance.code == 910;

  Block base;
  base.line = line;
  base.from = position_;
  base.to = position_;

  if (f_word) {
    if (!(*f_word > 0.0)) {
      *error = "F must be above 0 (is " + Num(*f_word) + ")";
      return false;
    }
    feed_ = *f_word;
  }
  if (s_word) {
    if (*s_word < 0.0) {
      *error = "S must not be negative (is " + Num(*s_word) + ")";
      return false;
    }
    spindle_speed_ = *s_word;
  }
  if (spindle.set() || s_word) {
    Block block = base;
    block.kind = BlockKind::kSpindle;
    block.spindle = !spindle.set()       ? SpindleAction::kSpeed
                    : spindle.code == 30 ? SpindleAction::kClockwise
                    : spindle.code == 40 ? SpindleAction::kCounterClockwise
                                         : SpindleAction::kStop;
    block.spindle_speed = spindle_speed_;
    out->push_back(block);
  }

  const bool dwell = non_modal.code == 40;
  if (p_word && sync.set() && dwell) {
    *error = "P cannot serve both " + non_modal.text + " and " + sync.text;
    return false;
  }
  if (p_word && !sync.set() && !dwell) {
    *error = "P without G4, M10 or M11";
    return false;
  }
  if (sync.set()) {
    const double p = p_word.value_or(-1.0);
    if (p != std::floor(p) || p < 1.0 || p > kMachineOutputCount) {
      *error = sync.text + " needs P with an output number from 1 to " +
               std::to_string(kMachineOutputCount);
      return false;
    }
    Block block = base;
    block.kind = BlockKind::kSyncOutput;
    block.output = static_cast<int>(p);
    block.output_on = sync.code == 100;
    out->push_back(block);
  }
  if (dwell) {
    if (!p_word || *p_word < 0.0 || *p_word > kMaxDwellSeconds) {
      *error = non_modal.text + " needs P with the dwell in seconds (0 to " +
               Num(kMaxDwellSeconds) + ")";
      return false;
    }
    Block block = base;
    block.kind = BlockKind::kDwell;
    block.seconds = *p_word;
    out->push_back(block);
  }

  uint32_t named = 0;
  for (int k = 0; k < kAxisCount; ++k) {
    if (axis[k]) named |= 1u << k;
  }
  const bool arc_words = i_word || j_word || r_word;
  if (dwell && (named != 0 || arc_words)) {
    *error = non_modal.text + " takes no axis words";
    return false;
  }

  if (non_modal.code == 280 || non_modal.code == 310) {
    if (arc_words) {
      *error = "I, J and R need G2 or G3";
      return false;
    }
  }
  if (non_modal.code == 280) {
    Block block = base;
    block.kind = BlockKind::kHome;
    if (named == 0) {
      for (int k = 0; k < kAxisCount; ++k) {
        if (machine_.axes[k].enabled) named |= 1u << k;
      }
    }
    if (!CheckAxesEnabled(named, error)) return false;
    block.axis_mask = named;
    for (int k = 0; k < kAxisCount; ++k) {
      if (named & (1u << k)) block.to[k] = machine_.axes[k].home_position;
    }
    position_ = block.to;
    out->push_back(block);
  } else if (non_modal.code == 310 || motion.set() || named != 0 || arc_words) {
    const int mode = non_modal.code == 310 ? 310 : (motion.set() ? motion.code : motion_);
    if (motion.set()) motion_ = motion.code;
    if (mode < 0) {
      *error = "axis words without G0, G1, G2 or G3";
      return false;
    }
    const bool is_arc = mode == 20 || mode == 30;
    if (arc_words && !is_arc) {
      *error = "I, J and R need G2 or G3";
      return false;
    }
    const std::string mode_text = mode == 310 ? "G31" : "G" + std::to_string(mode / 10);
    if (named == 0 && !(is_arc && arc_words)) {
      if (mode == 310) {
        *error = "G31 needs a target: at least one axis word";
        return false;
      }
      // A motion word alone only selects the mode.
    } else {
      if (!CheckAxesEnabled(is_arc ? (named | 3u) : named, error)) return false;
      Block block = base;
      block.kind = mode == 310 ? BlockKind::kProbe : is_arc ? BlockKind::kArc : BlockKind::kMove;
      block.rapid = mode == 0;
      block.incremental = incremental_;
      block.axis_mask = named;
      for (int k = 0; k < kAxisCount; ++k) {
        if (axis[k]) block.words[k] = *axis[k] * AxisFactor(k);
      }
      if (mode != 0) {
        if (feed_ <= 0.0) {
          *error = mode_text + " without a feed rate (F)";
          return false;
        }
        block.feed = feed_ * LengthFactor();
      }
      if (mode == 310 && !machine_.probe.connected()) {
        *error = "G31 needs a probe input, and the machine has none (ProbePin)";
        return false;
      }
      block.to = ResolveTarget(block, position_);
      ArcGeometry arc;
      if (is_arc) {
        block.clockwise = mode == 20;
        if (r_word && (i_word || j_word)) {
          *error = mode_text + " takes I and J or R, not both";
          return false;
        }
        if (!r_word && !i_word && !j_word) {
          *error = mode_text + " needs I and J or R";
          return false;
        }
        block.radius_form = r_word.has_value();
        block.radius = r_word.value_or(0.0) * LengthFactor();
        block.offset_i = i_word.value_or(0.0) * LengthFactor();
        block.offset_j = j_word.value_or(0.0) * LengthFactor();
        if (!ResolveArc(block, block.from, block.to, &arc, error)) return false;
      }
      if (!CheckSoftLimits(machine_, block.from, block.to, is_arc ? &arc : nullptr, error))
        return false;
      position_ = block.to;
      out->push_back(block);
    }
  }

  if (end.set()) *ended = true;
  return true;
}

}  // namespace

Position ResolveTarget(const Block& block, const Position& current) {
  Position target = current;
  for (int k = 0; k < kAxisCount; ++k) {
    if (!(block.axis_mask & (1u << k))) continue;
    target[k] = block.incremental ? current[k] + block.words[k] : block.words[k];
  }
  return target;
}

bool ResolveArc(const Block& block, const Position& start, const Position& end, ArcGeometry* arc,
                std::string* error) {
  const double sx = start[0], sy = start[1], ex = end[0], ey = end[1];
  double cx = 0.0, cy = 0.0;
  if (block.radius_form) {
    const double r = block.radius;
    const double dx = ex - sx, dy = ey - sy;
    const double d = std::hypot(dx, dy);
    if (std::fabs(r) < 1e-9) {
      *error = "arc radius R is 0";
      return false;
    }
    if (d < 1e-9) {
      *error = "an arc given by R needs an end point apart from its start point";
      return false;
    }
    const double half = d / 2.0;
    if (std::fabs(r) < half - (0.005 + 1e-3 * half)) {
      *error = "arc radius " + Num(std::fabs(r)) + " is shorter than half the distance " + Num(d) +
               " to the end point";
      return false;
    }
    const double h = std::sqrt(std::max(0.0, r * r - half * half));
    // Clockwise arcs of up to half a circle turn about a centre right of the chord.
    const double side = (block.clockwise ? 1.0 : -1.0) * (r > 0.0 ? 1.0 : -1.0);
    cx = sx + dx / 2.0 + side * h * dy / d;
    cy = sy + dy / 2.0 - side * h * dx / d;
  } else {
    cx = sx + block.offset_i;
    cy = sy + block.offset_j;
  }
  const double rs = std::hypot(sx - cx, sy - cy);
  const double re = std::hypot(ex - cx, ey - cy);
  if (rs < 1e-9) {
    *error = "arc radius is 0 (the centre is the start point)";
    return false;
  }
  if (std::fabs(rs - re) > 0.005 + 1e-3 * rs) {
    *error = "arc end point is not on the circle (radius " + Num(rs) + " at the start, " + Num(re) +
             " at the end)";
    return false;
  }
  const double sa = std::atan2(sy - cy, sx - cx);
  const double ea = std::atan2(ey - cy, ex - cx);
  double sweep = 0.0;
  if (std::hypot(ex - sx, ey - sy) < 1e-9) {
    sweep = kTwoPi;  // end on the start: a full circle
  } else {
    sweep = NormalizeAngle(block.clockwise ? sa - ea : ea - sa);
    if (sweep == 0.0) sweep = kTwoPi;
  }
  arc->centre_x = cx;
  arc->centre_y = cy;
  arc->start_radius = rs;
  arc->end_radius = re;
  arc->start_angle = sa;
  arc->sweep = block.clockwise ? -sweep : sweep;
  return true;
}

void ArcExtent(const ArcGeometry& arc, double* min_x, double* max_x, double* min_y, double* max_y) {
  const double total = std::fabs(arc.sweep);
  const auto point = [&](double travelled, double* x, double* y) {
    const double f = total > 0.0 ? travelled / total : 0.0;
    const double r = arc.start_radius + (arc.end_radius - arc.start_radius) * f;
    const double a = arc.start_angle + (arc.sweep < 0.0 ? -travelled : travelled);
    *x = arc.centre_x + r * std::cos(a);
    *y = arc.centre_y + r * std::sin(a);
  };
  double x = 0.0, y = 0.0;
  point(0.0, &x, &y);
  *min_x = *max_x = x;
  *min_y = *max_y = y;
  const auto include = [&](double travelled) {
    point(travelled, &x, &y);
    *min_x = std::min(*min_x, x);
    *max_x = std::max(*max_x, x);
    *min_y = std::min(*min_y, y);
    *max_y = std::max(*max_y, y);
  };
  include(total);
  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    const double cardinal = quadrant * std::numbers::pi / 2.0;
    const double travelled =
        NormalizeAngle(arc.sweep < 0.0 ? arc.start_angle - cardinal : cardinal - arc.start_angle);
    if (travelled <= total) include(travelled);
  }
}

bool CheckSoftLimits(const Machine& machine, const Position& from, const Position& to,
                     const ArcGeometry* arc, std::string* error) {
  double arc_min[2] = {0, 0}, arc_max[2] = {0, 0};
  if (arc) ArcExtent(*arc, &arc_min[0], &arc_max[0], &arc_min[1], &arc_max[1]);
  for (int k = 0; k < kAxisCount; ++k) {
    if (!machine.SoftLimitsApply(k)) continue;
    const bool on_arc = arc && k < 2;
    if (!on_arc && to[k] == from[k]) continue;  // an axis that does not move is left alone
    const double lo = on_arc ? std::min(arc_min[k], to[k]) : to[k];
    const double hi = on_arc ? std::max(arc_max[k], to[k]) : to[k];
    const AxisConfig& axis = machine.axes[k];
    if (lo < axis.soft_min || hi > axis.soft_max) {
      const double reached = lo < axis.soft_min ? lo : hi;
      *error = std::string("move beyond the soft limits: ") + kAxisLetters[k] + " would reach " +
               Num(reached) + " (limits " + Num(axis.soft_min) + " to " + Num(axis.soft_max) + ")";
      return false;
    }
  }
  return true;
}

int32_t SyncOutputWord(int output, bool on) {
  return (on ? 47 : 48) | ((output + 7) << 8);
}

bool GcodeProgram::Parse(std::string_view text, const Machine& machine, std::string* error,
                         const Position& start) {
  blocks_.clear();
  Interpreter interpreter(machine, start);
  std::vector<Block> blocks;
  int line = 0;
  size_t pos = 0;
  bool ended = false;
  while (pos <= text.size() && !ended) {
    size_t next = text.find('\n', pos);
    if (next == std::string_view::npos) next = text.size();
    ++line;
    std::string message;
    if (!interpreter.Line(text.substr(pos, next - pos), line, &blocks, &ended, &message)) {
      if (error) *error = "line " + std::to_string(line) + ": " + message;
      return false;
    }
    pos = next + 1;
  }
  blocks_ = std::move(blocks);
  return true;
}

bool GcodeProgram::Load(const std::string& path, const Machine& machine, std::string* error,
                        const Position& start) {
  blocks_.clear();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = "part program \"" + path + "\" cannot be opened";
    return false;
  }
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) {
    if (error) *error = "part program \"" + path + "\" cannot be read";
    return false;
  }
  return Parse(content.str(), machine, error, start);
}

}  // namespace kelvro::sim
