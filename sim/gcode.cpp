#include "sim/gcode.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "sim/drill_cycle.h"
#include "sim/gcode_words.h"

namespace kelvro::sim {
namespace {

constexpr double kMaxDwellSeconds = 86400.0;
constexpr double kMillimetresPerInch = 25.4;
// G73 retracts this much between pecks; G83 comes back down to this much above the depth
// reached (0.01 inch).
constexpr double kCycleClearanceMm = 0.254;
constexpr char kAxisLetters[kAxisCount + 1] = "XYZABC";
constexpr char kCentreLetters[3] = {'I', 'J', 'K'};  // centre words of X, Y, Z
constexpr uint32_t kXyzMask = 7u;
constexpr uint32_t kRotaryMask = 0x38u;  // A, B, C

// The groups of G words: one word of each group per line. kOff words switch off modes the
// interpreter never has on; they may stand together.
enum class GGroup {
  kNonModal,
  kMotion,
  kCancelCycle,
  kMachineCoordinates,
  kPlane,
  kUnits,
  kCutter,
  kLength,
  kCoordinates,
  kPath,
  kDistance,
  kArcDistance,
  kRetract,
  kFeedMode,
  kOff,
};

struct GDefinition {
  int code;  // tenths
  GGroup group;
  const char* refusal = nullptr;  // set: the word is known and refused with this reason
};

constexpr GDefinition kGWords[] = {
    {0, GGroup::kMotion},
    {10, GGroup::kMotion},
    {20, GGroup::kMotion},
    {30, GGroup::kMotion},
    {40, GGroup::kNonModal},
    {100, GGroup::kNonModal},
    {150, GGroup::kOff},
    {170, GGroup::kPlane},
    {180, GGroup::kPlane},
    {190, GGroup::kPlane},
    {200, GGroup::kUnits},
    {210, GGroup::kUnits},
    {280, GGroup::kNonModal},
    {281, GGroup::kNonModal},
    {300, GGroup::kNonModal},
    {310, GGroup::kNonModal},
    {400, GGroup::kCutter},
    {410, GGroup::kCutter, "cutter radius compensation is not simulated"},
    {420, GGroup::kCutter, "cutter radius compensation is not simulated"},
    {430, GGroup::kLength},
    {440, GGroup::kLength},
    {490, GGroup::kLength},
    {500, GGroup::kOff},
    {530, GGroup::kMachineCoordinates},
    {540, GGroup::kCoordinates},
    {550, GGroup::kCoordinates},
    {560, GGroup::kCoordinates},
    {570, GGroup::kCoordinates},
    {580, GGroup::kCoordinates},
    {590, GGroup::kCoordinates},
    {610, GGroup::kPath},
    {611, GGroup::kPath},
    {640, GGroup::kPath},
    {690, GGroup::kOff},
    {700, GGroup::kUnits},
    {710, GGroup::kUnits},
    {730, GGroup::kMotion},
    {800, GGroup::kCancelCycle},
    {810, GGroup::kMotion},
    {820, GGroup::kMotion},
    {830, GGroup::kMotion},
    {850, GGroup::kMotion},
    {890, GGroup::kMotion},
    {900, GGroup::kDistance},
    {901, GGroup::kArcDistance},
    {910, GGroup::kDistance},
    {911, GGroup::kArcDistance},
    {920, GGroup::kNonModal},
    {921, GGroup::kNonModal},
    {930, GGroup::kFeedMode, "inverse-time feed is not simulated"},
    {940, GGroup::kFeedMode},
    {950, GGroup::kFeedMode, "feed per revolution is not simulated"},
    {980, GGroup::kRetract},
    {990, GGroup::kRetract},
};

enum class MGroup { kFlow, kToolChange, kSpindle, kCoolant, kSync };

struct MDefinition {
  int code;  // tenths
  MGroup group;
};

constexpr MDefinition kMWords[] = {
    {0, MGroup::kFlow},        {10, MGroup::kFlow},    {20, MGroup::kFlow},
    {30, MGroup::kSpindle},    {40, MGroup::kSpindle}, {50, MGroup::kSpindle},
    {60, MGroup::kToolChange}, {70, MGroup::kCoolant}, {80, MGroup::kCoolant},
    {90, MGroup::kCoolant},    {100, MGroup::kSync},   {110, MGroup::kSync},
    {300, MGroup::kFlow},      {980, MGroup::kFlow},   {990, MGroup::kFlow},
};

bool IsCycle(int mode) {
  return mode == 730 || mode == 810 || mode == 820 || mode == 830 || mode == 850 || mode == 890;
}

std::string GText(int code) {
  return code % 10 == 0 ? "G" + std::to_string(code / 10)
                        : "G" + std::to_string(code / 10) + "." + std::to_string(code % 10);
}

// A G or M word of one group on a line.
struct Code {
  int code = -1;
  std::string text;
  bool set() const { return code >= 0; }
};

// The words of one line, sorted by what they do.
struct LineWords {
  Code motion, non_modal, cancel_cycle, machine_coordinates, plane, units, cutter, length,
      coordinates, path, distance, arc_distance, retract, feed_mode;
  Code flow, tool_change, spindle, sync, mist, flood, coolant_off;
  std::optional<Word> axis[kAxisCount], centre[3], r, f, s, p, q, l, t, h, n, o;
  size_t count = 0;

  uint32_t AxisMask() const {
    uint32_t mask = 0;
    for (int k = 0; k < kAxisCount; ++k) {
      if (axis[k]) mask |= 1u << k;
    }
    return mask;
  }
  bool HasCentre() const { return centre[0] || centre[1] || centre[2]; }

  Code* GroupOf(GGroup group) {
    switch (group) {
      case GGroup::kNonModal:
        return &non_modal;
      case GGroup::kMotion:
        return &motion;
      case GGroup::kCancelCycle:
        return &cancel_cycle;
      case GGroup::kMachineCoordinates:
        return &machine_coordinates;
      case GGroup::kPlane:
        return &plane;
      case GGroup::kUnits:
        return &units;
      case GGroup::kCutter:
        return &cutter;
      case GGroup::kLength:
        return &length;
      case GGroup::kCoordinates:
        return &coordinates;
      case GGroup::kPath:
        return &path;
      case GGroup::kDistance:
        return &distance;
      case GGroup::kArcDistance:
        return &arc_distance;
      case GGroup::kRetract:
        return &retract;
      case GGroup::kFeedMode:
        return &feed_mode;
      case GGroup::kOff:
        break;
    }
    return nullptr;
  }
  Code* GroupOf(MGroup group, int code) {
    switch (group) {
      case MGroup::kFlow:
        return &flow;
      case MGroup::kToolChange:
        return &tool_change;
      case MGroup::kSpindle:
        return &spindle;
      case MGroup::kSync:
        return &sync;
      case MGroup::kCoolant:
        break;
    }
    // M7 and M8 may stand together; M9 switches both off.
    return code == 70 ? &mist : code == 80 ? &flood : &coolant_off;
  }
};

bool SetCode(Code* slot, const Word& word, int code, std::string* error) {
  if (slot->set()) {
    *error = slot->text + " and " + word.text + " cannot share a line";
    return false;
  }
  slot->code = code;
  slot->text = word.text;
  return true;
}

bool ReadLine(const std::vector<Word>& words, LineWords* w, std::string* error) {
  w->count = words.size();
  for (const Word& word : words) {
    std::optional<Word>* slot = nullptr;
    switch (word.letter) {
      case 'G': {
        const int code = CodeOf(word.value);
        const GDefinition* found = nullptr;
        for (const GDefinition& d : kGWords) {
          if (d.code == code) found = &d;
        }
        if (!found) {
          *error = "unknown word " + word.text;
          return false;
        }
        if (found->refusal) {
          *error = word.text + " " + found->refusal;
          return false;
        }
        if (Code* group = w->GroupOf(found->group)) {
          if (!SetCode(group, word, code, error)) return false;
        }
        continue;
      }
      case 'M': {
        const int code = CodeOf(word.value);
        const MDefinition* found = nullptr;
        for (const MDefinition& d : kMWords) {
          if (d.code == code) found = &d;
        }
        if (!found) {
          *error = "unknown word " + word.text;
          return false;
        }
        if (!SetCode(w->GroupOf(found->group, code), word, code, error)) return false;
        continue;
      }
      case 'X':
      case 'Y':
      case 'Z':
        slot = &w->axis[word.letter - 'X'];
        break;
      case 'A':
      case 'B':
      case 'C':
        slot = &w->axis[3 + word.letter - 'A'];
        break;
      case 'I':
      case 'J':
      case 'K':
        slot = &w->centre[word.letter - 'I'];
        break;
      case 'R':
        slot = &w->r;
        break;
      case 'F':
        slot = &w->f;
        break;
      case 'S':
        slot = &w->s;
        break;
      case 'P':
        slot = &w->p;
        break;
      case 'Q':
        slot = &w->q;
        break;
      case 'L':
        slot = &w->l;
        break;
      case 'T':
        slot = &w->t;
        break;
      case 'H':
        slot = &w->h;
        break;
      case 'N':
        slot = &w->n;
        break;
      case 'O':
        slot = &w->o;
        break;
      default:
        *error = "unknown word " + word.text;
        return false;
    }
    if (*slot) {
      *error = word.text + ": " + std::string(1, word.letter) + " appears twice";
      return false;
    }
    *slot = word;
  }
  if (w->coolant_off.set() && (w->mist.set() || w->flood.set())) {
    *error = (w->mist.set() ? w->mist.text : w->flood.text) + " and " + w->coolant_off.text +
             " cannot share a line";
    return false;
  }
  return true;
}

// A whole number from min to max, or a message naming the word.
bool WholeNumber(const Word& word, int64_t min, int64_t max, const std::string& what,
                 int64_t* value, std::string* error) {
  if (word.value != std::floor(word.value) || word.value < static_cast<double>(min) ||
      word.value > static_cast<double>(max)) {
    *error = word.text + ": " + what + " is a whole number from " + std::to_string(min) + " to " +
             std::to_string(max);
    return false;
  }
  *value = static_cast<int64_t>(word.value);
  return true;
}

std::string TooManyBlocks() {
  return "the program makes more than " + std::to_string(kMaxBlocks) +
         " moves and actions by here, more than kelvro-sim runs";
}

const char* PlaneName(ArcPlane plane) {
  switch (plane) {
    case ArcPlane::kZX:
      return "the ZX plane (G18)";
    case ArcPlane::kYZ:
      return "the YZ plane (G19)";
    case ArcPlane::kXY:
      break;
  }
  return "the XY plane (G17)";
}

// What a line asks of the program's flow after it has acted.
enum class Flow { kNext, kEnd, kCall, kReturn };

struct LineOutcome {
  Flow flow = Flow::kNext;
  int64_t program = 0;  // kCall: the O number
  int64_t repeats = 1;  // kCall: L
};

class Interpreter {
 public:
  Interpreter(const Machine& machine, const Position& start, std::vector<Block>* out,
              std::vector<int>* work_offsets_used, std::vector<std::string>* notes)
      : machine_(machine),
        out_(out),
        work_offsets_used_(work_offsets_used),
        notes_(notes),
        position_(start),
        inch_(machine.units == Units::kInch),
        work_offsets_(machine.work_offsets) {}

  // Interprets one line; messages carry no line prefix.
  bool Line(std::string_view text, int line, LineOutcome* outcome, std::string* error);

 private:
  double LengthFactor() const {
    const bool machine_inch = machine_.units == Units::kInch;
    if (inch_ == machine_inch) return 1.0;
    return inch_ ? kMillimetresPerInch : 1.0 / kMillimetresPerInch;
  }
  double AxisFactor(int axis) const {
    return (axis >= 3 && machine_.axes[axis].rotary) ? 1.0 : LengthFactor();
  }
  double ToolOffset(int axis) const { return axis == 2 ? tool_offset_ : 0.0; }
  // Machine minus program coordinate of an axis.
  double Offset(int axis) const {
    return work_offsets_[coordinates_][axis] + g92_[axis] + ToolOffset(axis);
  }
  Position Offsets() const {
    Position offsets;
    for (int k = 0; k < kAxisCount; ++k) offsets[k] = Offset(k);
    return offsets;
  }
  // An absolute program coordinate as written, in machine coordinates.
  double ToMachine(int axis, double value) const { return value * AxisFactor(axis) + Offset(axis); }
  bool CheckAxesEnabled(uint32_t mask, std::string* error) const;
  void UseWorkOffset();
  Block Base(int line) const;
  // Checks the block against the soft limits, then appends it and moves on to its end.
  bool Emit(const Block& block, const ArcGeometry* arc, std::string* error);
  // A straight move to `target`, absolute or as an increment (so that it moves by as much
  // from wherever the machine really is); nothing when it goes nowhere.
  bool MoveTo(const Position& target, bool rapid, bool incremental, int line, std::string* error);

  bool CheckWordUse(const LineWords& w, int mode, bool cycle_line, std::string* error) const;
  bool RunSettings(const LineWords& w, int line, std::string* error);
  bool RunNonModal(const LineWords& w, int line, std::string* error);
  bool RunMotion(const LineWords& w, int mode, int line, std::string* error);
  bool RunCycle(const LineWords& w, int mode, int line, std::string* error);
  bool RunReturn(const LineWords& w, int line, std::string* error);
  bool RunFlow(const LineWords& w, int line, LineOutcome* outcome, std::string* error);

  const Machine& machine_;
  std::vector<Block>* out_;
  std::vector<int>* work_offsets_used_;
  std::vector<std::string>* notes_;

  Position position_;  // machine coordinates, as planned
  int motion_ = -1;    // modal motion code in tenths, -1 = none yet
  bool inch_ = false;
  bool incremental_ = false;
  bool arc_centres_absolute_ = false;
  ArcPlane plane_ = ArcPlane::kXY;
  double feed_ = 0.0;  // program units per minute, 0 = not set
  double spindle_speed_ = 0.0;
  bool retract_to_r_ = false;  // G99

  int coordinates_ = 0;  // G54 = 0 .. G59 = 5
  std::array<Position, kWorkOffsetCount> work_offsets_;
  Position g92_{};
  double tool_offset_ = 0.0;  // Z, machine units
  int selected_tool_ = 0;
  int tool_in_spindle_ = 0;

  // Drilling-cycle words kept from line to line (machine units, not yet offset).
  std::optional<double> cycle_z_, cycle_r_, cycle_q_, cycle_p_;

  bool noted_mist_ = false;
  bool noted_flood_ = false;
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

void Interpreter::UseWorkOffset() {
  const int number = coordinates_ + 1;
  if (std::find(work_offsets_used_->begin(), work_offsets_used_->end(), number) ==
      work_offsets_used_->end()) {
    work_offsets_used_->push_back(number);
  }
}

Block Interpreter::Base(int line) const {
  Block block;
  block.line = line;
  block.from = position_;
  block.to = position_;
  block.offset = Offsets();
  return block;
}

bool Interpreter::Emit(const Block& block, const ArcGeometry* arc, std::string* error) {
  if (!CheckSoftLimits(machine_, block.from, block.to, arc, error)) return false;
  position_ = block.to;
  out_->push_back(block);
  return true;
}

bool Interpreter::MoveTo(const Position& target, bool rapid, bool incremental, int line,
                         std::string* error) {
  Block block = Base(line);
  block.kind = BlockKind::kMove;
  block.rapid = rapid;
  block.incremental = incremental;
  for (int k = 0; k < kAxisCount; ++k) {
    if (target[k] == position_[k]) continue;
    block.axis_mask |= 1u << k;
    block.words[k] = incremental ? target[k] - position_[k] : target[k];
  }
  if (block.axis_mask == 0) return true;
  if (!CheckAxesEnabled(block.axis_mask, error)) return false;
  if (!rapid) block.feed = feed_ * LengthFactor();
  block.to = ResolveTarget(block, position_);
  return Emit(block, nullptr, error);
}

bool Interpreter::CheckWordUse(const LineWords& w, int mode, bool cycle_line,
                               std::string* error) const {
  const bool dwell = w.non_modal.code == 40;
  const bool g10 = w.non_modal.code == 100;
  const bool call = w.flow.code == 980;
  const bool arc_line = !w.non_modal.set() && (mode == 20 || mode == 30);
  const std::string cycle_text = GText(mode);
  const auto check = [&](const std::optional<Word>& word, const std::vector<std::string>& users,
                         const char* without) {
    if (!word) return true;
    if (users.size() > 1) {
      *error = word->text + " cannot serve both " + users[0] + " and " + users[1];
      return false;
    }
    if (users.empty()) {
      *error = word->text + " without " + without;
      return false;
    }
    return true;
  };
  std::vector<std::string> p_users, l_users;
  if (dwell) p_users.push_back(w.non_modal.text);
  if (g10) {
    p_users.push_back(w.non_modal.text);
    l_users.push_back(w.non_modal.text);
  }
  if (cycle_line) {
    p_users.push_back(cycle_text);
    l_users.push_back(cycle_text);
  }
  if (call) {
    p_users.push_back(w.flow.text);
    l_users.push_back(w.flow.text);
  }
  if (w.sync.set()) p_users.push_back(w.sync.text);
  if (!check(w.p, p_users, "G4, G10, a drilling cycle, M98, M10 or M11")) return false;
  if (!check(w.l, l_users, "G10, a drilling cycle or M98")) return false;
  if (!check(w.q, cycle_line ? std::vector<std::string>{cycle_text} : std::vector<std::string>{},
             "a drilling cycle (G73 or G83)")) {
    return false;
  }
  if (!check(w.h,
             w.length.code == 430 || w.length.code == 440 ? std::vector<std::string>{w.length.text}
                                                          : std::vector<std::string>{},
             "G43 or G44")) {
    return false;
  }
  if (dwell && w.AxisMask() != 0) {
    *error = w.non_modal.text + " takes no axis words";
    return false;
  }
  if (w.non_modal.code == 921 && w.AxisMask() != 0) {
    *error = w.non_modal.text + " takes no axis words";
    return false;
  }
  if (w.HasCentre() && !arc_line) {
    for (const auto& centre : w.centre) {
      if (centre) {
        *error = centre->text + ": I, J and K need G2 or G3";
        break;
      }
    }
    return false;
  }
  if (w.r && !arc_line && !cycle_line) {
    *error = w.r->text + ": R needs G2, G3 or a drilling cycle";
    return false;
  }
  if (w.machine_coordinates.set() && w.AxisMask() != 0 && mode != 0 && mode != 10) {
    *error = w.machine_coordinates.text + " needs G0 or G1";
    return false;
  }
  return true;
}

bool Interpreter::RunSettings(const LineWords& w, int line, std::string* error) {
  const Block base = Base(line);
  if (w.f) {
    if (!(w.f->value > 0.0)) {
      *error = "F must be above 0 (is " + NumberText(w.f->value) + ")";
      return false;
    }
    feed_ = w.f->value;
  }
  if (w.s) {
    if (w.s->value < 0.0) {
      *error = "S must not be negative (is " + NumberText(w.s->value) + ")";
      return false;
    }
    spindle_speed_ = w.s->value;
  }
  if (w.t) {
    int64_t tool = 0;
    if (!WholeNumber(*w.t, 0, kMaxTool, "a tool number", &tool, error)) return false;
    selected_tool_ = static_cast<int>(tool);
  }
  if (w.tool_change.set()) {
    Block block = base;
    block.kind = BlockKind::kToolChange;
    block.tool = selected_tool_;
    tool_in_spindle_ = selected_tool_;
    out_->push_back(block);
  }
  if (w.spindle.set() || w.s) {
    Block block = base;
    block.kind = BlockKind::kSpindle;
    block.spindle = !w.spindle.set()       ? SpindleAction::kSpeed
                    : w.spindle.code == 30 ? SpindleAction::kClockwise
                    : w.spindle.code == 40 ? SpindleAction::kCounterClockwise
                                           : SpindleAction::kStop;
    block.spindle_speed = spindle_speed_;
    out_->push_back(block);
  }
  const auto coolant = [&](CoolantAction action, int output, const Code& code, const char* what,
                           bool* noted) {
    Block block = base;
    block.kind = BlockKind::kCoolant;
    block.coolant = action;
    block.output = output;
    out_->push_back(block);
    if (output == 0 && !*noted) {
      *noted = true;
      notes_->push_back("line " + std::to_string(line) + ": " + code.text +
                        " switches nothing: the machine has no " + what);
    }
  };
  if (w.mist.set()) {
    coolant(CoolantAction::kMist, machine_.mist_output, w.mist, "mist output (MistOutput)",
            &noted_mist_);
  }
  if (w.flood.set()) {
    coolant(CoolantAction::kFlood, machine_.flood_output, w.flood, "flood output (FloodOutput)",
            &noted_flood_);
  }
  if (w.coolant_off.set()) {
    Block block = base;
    block.kind = BlockKind::kCoolant;
    block.coolant = CoolantAction::kOff;
    out_->push_back(block);
  }
  if (w.sync.set()) {
    const double p = w.p ? w.p->value : -1.0;
    if (p != std::floor(p) || p < 1.0 || p > kMachineOutputCount) {
      *error = w.sync.text + " needs P with an output number from 1 to " +
               std::to_string(kMachineOutputCount);
      return false;
    }
    Block block = base;
    block.kind = BlockKind::kSyncOutput;
    block.output = static_cast<int>(p);
    block.output_on = w.sync.code == 100;
    out_->push_back(block);
  }
  if (w.non_modal.code == 40) {
    if (!w.p || w.p->value < 0.0 || w.p->value > kMaxDwellSeconds) {
      *error = w.non_modal.text + " needs P with the dwell in seconds (0 to " +
               NumberText(kMaxDwellSeconds) + ")";
      return false;
    }
    Block block = base;
    block.kind = BlockKind::kDwell;
    block.seconds = w.p->value;
    out_->push_back(block);
  }

  // Modes, in the host's order: plane, units, cutter compensation, tool length, work offset,
  // path mode, distances, retract mode.
  if (w.plane.set()) {
    plane_ = w.plane.code == 170   ? ArcPlane::kXY
             : w.plane.code == 180 ? ArcPlane::kZX
                                   : ArcPlane::kYZ;
  }
  if (w.units.set()) inch_ = w.units.code == 200 || w.units.code == 700;
  if (w.length.set()) {
    if (w.length.code == 490) {
      tool_offset_ = 0.0;
    } else {
      int64_t tool = tool_in_spindle_;
      if (w.h && !WholeNumber(*w.h, 0, kMaxTool, "a tool length number", &tool, error)) {
        return false;
      }
      const double length = machine_.tool_lengths[static_cast<size_t>(tool)];
      tool_offset_ = w.length.code == 430 ? length : -length;
    }
  }
  if (w.coordinates.set()) coordinates_ = (w.coordinates.code - 540) / 10;
  if (w.distance.set()) incremental_ = w.distance.code == 910;
  if (w.arc_distance.set()) arc_centres_absolute_ = w.arc_distance.code == 901;
  if (w.retract.set()) retract_to_r_ = w.retract.code == 990;
  return true;
}

bool Interpreter::RunReturn(const LineWords& w, int line, std::string* error) {
  const bool g30 = w.non_modal.code == 300;
  const Position& reference = g30 ? machine_.g30_position : machine_.g28_position;
  const uint32_t named = w.AxisMask();
  if (!CheckAxesEnabled(named, error)) return false;
  Position target = position_;
  if (named == 0) {
    for (int k = 0; k < kAxisCount; ++k) {
      if (machine_.axes[k].enabled) target[k] = reference[k];
    }
    return MoveTo(target, true, false, line, error);
  }
  // Through the given point (current coordinates) ...
  for (int k = 0; k < kAxisCount; ++k) {
    if (!w.axis[k]) continue;
    const double value = w.axis[k]->value;
    target[k] = incremental_ ? position_[k] + value * AxisFactor(k) : ToMachine(k, value);
  }
  if (!incremental_) UseWorkOffset();
  if (!MoveTo(target, true, incremental_, line, error)) return false;
  // ... to the stored position, in machine coordinates.
  for (int k = 0; k < kAxisCount; ++k) {
    if (w.axis[k]) target[k] = reference[k];
  }
  return MoveTo(target, true, false, line, error);
}

bool Interpreter::RunNonModal(const LineWords& w, int line, std::string* error) {
  const uint32_t named = w.AxisMask();
  switch (w.non_modal.code) {
    case 100: {  // G10
      if (!w.l || (w.l->value != 2.0 && w.l->value != 20.0)) {
        *error = w.non_modal.text + " needs L2 or L20 (work offsets)";
        return false;
      }
      const int mode = static_cast<int>(w.l->value);
      int64_t system = 0;
      if (!w.p) {
        *error = w.non_modal.text + " L" + std::to_string(mode) + " needs P1 to P6 (G54 to G59)";
        return false;
      }
      if (!WholeNumber(*w.p, 1, kWorkOffsetCount, "the work offset", &system, error)) {
        return false;
      }
      if (!CheckAxesEnabled(named, error)) return false;
      Position& offset = work_offsets_[static_cast<size_t>(system - 1)];
      for (int k = 0; k < kAxisCount; ++k) {
        if (!w.axis[k]) continue;
        const double value = w.axis[k]->value * AxisFactor(k);
        offset[k] = mode == 2 ? value : position_[k] - g92_[k] - ToolOffset(k) - value;
      }
      return true;
    }
    case 280:  // G28
    case 300:  // G30
      return RunReturn(w, line, error);
    case 281: {  // G28.1: reference the axes
      Block block = Base(line);
      block.kind = BlockKind::kHome;
      uint32_t axes = named;
      if (axes == 0) {
        for (int k = 0; k < kAxisCount; ++k) {
          if (machine_.axes[k].enabled) axes |= 1u << k;
        }
      }
      if (!CheckAxesEnabled(axes, error)) return false;
      block.axis_mask = axes;
      for (int k = 0; k < kAxisCount; ++k) {
        if (axes & (1u << k)) block.to[k] = machine_.axes[k].home_position;
      }
      position_ = block.to;
      out_->push_back(block);
      return true;
    }
    case 920: {  // G92
      if (named == 0) {
        *error = w.non_modal.text + " needs at least one axis word";
        return false;
      }
      if (!CheckAxesEnabled(named, error)) return false;
      for (int k = 0; k < kAxisCount; ++k) {
        if (!w.axis[k]) continue;
        g92_[k] = position_[k] - work_offsets_[coordinates_][k] - ToolOffset(k) -
                  w.axis[k]->value * AxisFactor(k);
      }
      return true;
    }
    case 921:  // G92.1
      g92_ = {};
      return true;
    default:
      return true;
  }
}

bool Interpreter::RunMotion(const LineWords& w, int mode, int line, std::string* error) {
  const uint32_t named = w.AxisMask();
  const bool probe = mode == 310;
  const bool is_arc = mode == 20 || mode == 30;
  const bool machine_coordinates = w.machine_coordinates.set();
  const std::string mode_text = GText(mode);
  if (named == 0 && !(is_arc && (w.HasCentre() || w.r))) {
    if (probe) {
      *error = "G31 needs a target: at least one axis word";
      return false;
    }
    return true;  // a motion word alone only selects the mode
  }
  if (mode < 0) {
    for (const auto& word : w.axis) {
      if (word) {
        *error = word->text + ": axis words without G0, G1, G2 or G3";
        break;
      }
    }
    return false;
  }
  const PlaneAxes axes = AxesOf(plane_);
  const uint32_t plane_mask = (1u << axes.first) | (1u << axes.second);
  if (!CheckAxesEnabled(is_arc ? (named | plane_mask) : named, error)) return false;
  Block block = Base(line);
  block.kind = probe ? BlockKind::kProbe : is_arc ? BlockKind::kArc : BlockKind::kMove;
  block.rapid = mode == 0;
  block.incremental = incremental_ && !machine_coordinates;
  block.axis_mask = named;
  for (int k = 0; k < kAxisCount; ++k) {
    if (!w.axis[k]) continue;
    const double value = w.axis[k]->value;
    block.words[k] = machine_coordinates ? value * AxisFactor(k)
                     : incremental_      ? value * AxisFactor(k)
                                         : ToMachine(k, value);
  }
  if (mode != 0) {
    if (feed_ <= 0.0) {
      *error = mode_text + " without a feed rate (F)";
      return false;
    }
    // A move of rotary axes alone is fed in degrees per minute, whatever the units.
    bool rotary_only = !is_arc;
    for (int k = 0; k < kAxisCount; ++k) {
      if ((named & (1u << k)) && !(k >= 3 && machine_.axes[k].rotary)) rotary_only = false;
    }
    block.feed = feed_ * (rotary_only ? 1.0 : LengthFactor());
  }
  if (probe && !machine_.probe.connected()) {
    *error = "G31 needs a probe input, and the machine has none (ProbePin)";
    return false;
  }
  block.to = ResolveTarget(block, position_);
  if (!machine_coordinates && !block.incremental) UseWorkOffset();
  ArcGeometry arc;
  if (is_arc) {
    block.clockwise = mode == 20;
    block.plane = plane_;
    const char first = kCentreLetters[std::min(axes.first, axes.second)];
    const char second = kCentreLetters[std::max(axes.first, axes.second)];
    const std::string pair = std::string(1, first) + " and " + second;
    if (w.centre[axes.normal]) {
      *error = std::string(1, kCentreLetters[axes.normal]) + " is not used by arcs in " +
               PlaneName(plane_);
      return false;
    }
    if (w.r && w.HasCentre()) {
      *error = mode_text + " takes " + pair + " or R, not both";
      return false;
    }
    if (!w.r && !w.HasCentre()) {
      *error = mode_text + " needs " + pair + " or R";
      return false;
    }
    block.radius_form = w.r.has_value();
    block.radius = w.r ? w.r->value * LengthFactor() : 0.0;
    if (!block.radius_form && arc_centres_absolute_) {
      if (!w.centre[axes.first] || !w.centre[axes.second]) {
        *error = mode_text + " with absolute centres (G90.1) needs both " + pair;
        return false;
      }
      block.centre_absolute = true;
      block.offset_first =
          ToMachine(axes.first, w.centre[axes.first]->value) - position_[axes.first];
      block.offset_second =
          ToMachine(axes.second, w.centre[axes.second]->value) - position_[axes.second];
      UseWorkOffset();
    } else {
      block.offset_first =
          w.centre[axes.first] ? w.centre[axes.first]->value * LengthFactor() : 0.0;
      block.offset_second =
          w.centre[axes.second] ? w.centre[axes.second]->value * LengthFactor() : 0.0;
    }
    if (!ResolveArc(block, block.from, block.to, &arc, error)) return false;
  }
  return Emit(block, is_arc ? &arc : nullptr, error);
}

bool Interpreter::RunCycle(const LineWords& w, int mode, int line, std::string* error) {
  const std::string text = GText(mode);
  if (plane_ != ArcPlane::kXY) {
    *error = text + " needs the XY plane (G17)";
    return false;
  }
  if (w.AxisMask() & kRotaryMask) {
    *error = text + " takes no A, B or C words";
    return false;
  }
  const double factor = LengthFactor();
  if (w.axis[2]) cycle_z_ = w.axis[2]->value * factor;
  if (w.r) cycle_r_ = w.r->value * factor;
  if (w.q) cycle_q_ = w.q->value * factor;
  if (w.p) cycle_p_ = w.p->value;
  if (!cycle_z_) {
    *error = text + " needs Z (the hole bottom)";
    return false;
  }
  if (!cycle_r_) {
    *error = text + " needs R (the retract plane)";
    return false;
  }
  const bool pecking = mode == 730 || mode == 830;
  if (pecking && !(cycle_q_.value_or(0.0) > 0.0)) {
    *error = text + " needs Q above 0 (the peck depth)";
    return false;
  }
  const bool dwelling = mode == 820 || mode == 890;
  if (dwelling && cycle_p_ && !(*cycle_p_ >= 0.0 && *cycle_p_ <= kMaxDwellSeconds)) {
    *error =
        text + " needs P with the dwell in seconds (0 to " + NumberText(kMaxDwellSeconds) + ")";
    return false;
  }
  if (feed_ <= 0.0) {
    *error = text + " without a feed rate (F)";
    return false;
  }
  int64_t repeats = 1;
  if (w.l && !WholeNumber(*w.l, 1, kMaxRepeats, "the number of holes", &repeats, error)) {
    return false;
  }
  if (!CheckAxesEnabled(kXyzMask, error)) return false;

  DrillCycle cycle;
  cycle.code = mode / 10;
  cycle.retract_z = incremental_ ? position_[2] + *cycle_r_ : *cycle_r_ + Offset(2);
  cycle.bottom_z = incremental_ ? cycle.retract_z + *cycle_z_ : *cycle_z_ + Offset(2);
  cycle.peck = cycle_q_.value_or(0.0);
  cycle.dwell_seconds = dwelling ? cycle_p_.value_or(0.0) : 0.0;
  cycle.retract_to_r = retract_to_r_;
  cycle.clearance =
      machine_.units == Units::kInch ? kCycleClearanceMm / kMillimetresPerInch : kCycleClearanceMm;
  if (cycle.bottom_z > cycle.retract_z) {
    *error = text + ": the hole bottom Z is above the retract plane R";
    return false;
  }
  if (!incremental_) UseWorkOffset();
  for (int64_t hole = 0; hole < repeats; ++hole) {
    if (out_->size() > kMaxBlocks) {
      *error = TooManyBlocks();
      return false;
    }
    for (int k = 0; k < 2; ++k) {
      const double value = w.axis[k] ? w.axis[k]->value : 0.0;
      const double here = position_[k];
      const double target = incremental_ ? here + value * factor
                            : w.axis[k]  ? ToMachine(k, value)
                                         : here;
      (k == 0 ? cycle.x : cycle.y) = target;
    }
    std::vector<CycleStep> steps;
    if (!ExpandDrillCycle(cycle, position_, &steps, error)) return false;
    for (const CycleStep& step : steps) {
      if (step.kind == CycleStep::Kind::kDwell) {
        Block block = Base(line);
        block.kind = BlockKind::kDwell;
        block.seconds = step.seconds;
        out_->push_back(block);
      } else if (!MoveTo(step.target, step.kind == CycleStep::Kind::kRapid, incremental_, line,
                         error)) {
        return false;
      }
    }
  }
  return true;
}

bool Interpreter::RunFlow(const LineWords& w, int line, LineOutcome* outcome, std::string* error) {
  switch (w.flow.code) {
    case 0:
    case 10: {
      Block block = Base(line);
      block.kind = BlockKind::kPause;
      block.optional_stop = w.flow.code == 10;
      out_->push_back(block);
      return true;
    }
    case 20:
    case 300:
      outcome->flow = Flow::kEnd;
      return true;
    case 980: {
      if (!w.p) {
        *error = w.flow.text + " needs P with the number of the subprogram (its O label)";
        return false;
      }
      if (!WholeNumber(*w.p, 0, 99999999, "a subprogram number", &outcome->program, error)) {
        return false;
      }
      outcome->repeats = 1;
      if (w.l &&
          !WholeNumber(*w.l, 1, kMaxRepeats, "the number of calls", &outcome->repeats, error)) {
        return false;
      }
      outcome->flow = Flow::kCall;
      return true;
    }
    case 990:
      outcome->flow = Flow::kReturn;
      return true;
    default:
      return true;
  }
}

bool Interpreter::Line(std::string_view text, int line, LineOutcome* outcome, std::string* error) {
  *outcome = LineOutcome{};
  if (IsPercentLine(text)) return true;  // tape start / end marker
  std::vector<Word> words;
  if (!SplitWords(text, &words, error)) return false;
  if (words.empty()) return true;
  LineWords w;
  if (!ReadLine(words, &w, error)) return false;
  if (w.o) {
    // A program number or a subprogram's label: it does nothing where it stands.
    if (w.count != (w.n ? 2u : 1u)) {
      *error = w.o->text + " must stand on a line of its own";
      return false;
    }
    int64_t number = 0;
    return WholeNumber(*w.o, 0, 99999999, "a program number", &number, error);
  }
  if (w.motion.set() && w.non_modal.set()) {
    *error = w.motion.text + " and " + w.non_modal.text + " cannot share a line";
    return false;
  }
  if (w.machine_coordinates.set() && w.non_modal.set()) {
    *error = w.machine_coordinates.text + " and " + w.non_modal.text + " cannot share a line";
    return false;
  }
  const int mode = w.non_modal.code == 310 ? 310
                   : w.motion.set()        ? w.motion.code
                   : w.cancel_cycle.set()  ? -1
                                           : motion_;
  const bool takes_axes = w.non_modal.set() && w.non_modal.code != 40 && w.non_modal.code != 921;
  const bool cycle_line =
      IsCycle(mode) && !takes_axes && (w.motion.set() || (w.AxisMask() & kXyzMask) != 0);
  if (!CheckWordUse(w, mode, cycle_line, error)) return false;
  if (!RunSettings(w, line, error)) return false;
  if (w.non_modal.set() && !RunNonModal(w, line, error)) return false;

  if (w.cancel_cycle.set() || (w.motion.set() && !IsCycle(w.motion.code))) {
    cycle_z_.reset();
    cycle_r_.reset();
    cycle_q_.reset();
    cycle_p_.reset();
  }
  if (w.cancel_cycle.set()) motion_ = -1;
  if (w.motion.set()) motion_ = w.motion.code;
  if (cycle_line) {
    if (!RunCycle(w, mode, line, error)) return false;
  } else if (mode == 310 || !takes_axes) {
    if (!RunMotion(w, mode, line, error)) return false;
  }
  return RunFlow(w, line, outcome, error);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t next = text.find('\n', pos);
    if (next == std::string_view::npos) next = text.size();
    lines.push_back(text.substr(pos, next - pos));
    pos = next + 1;
  }
  return lines;
}

// The lines (from 0) of every O label: a line whose first word after N is O.
std::map<double, std::vector<size_t>> FindLabels(const std::vector<std::string_view>& lines) {
  std::map<double, std::vector<size_t>> labels;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::vector<Word> words;
    std::string ignored;
    if (!SplitWords(lines[i], &words, &ignored) || words.empty()) continue;
    const size_t first = words[0].letter == 'N' ? 1 : 0;
    if (first < words.size() && words[first].letter == 'O') {
      labels[words[first].value].push_back(i);
    }
  }
  return labels;
}

}  // namespace

bool GcodeProgram::Parse(std::string_view text, const Machine& machine, std::string* error,
                         const Position& start) {
  blocks_.clear();
  work_offsets_used_.clear();
  notes_.clear();
  std::vector<Block> blocks;
  std::vector<int> used;
  std::vector<std::string> notes;
  Interpreter interpreter(machine, start, &blocks, &used, &notes);
  const std::vector<std::string_view> lines = SplitLines(text);
  const std::map<double, std::vector<size_t>> labels = FindLabels(lines);

  struct Call {
    size_t back = 0;   // the line after the call
    size_t body = 0;   // the subprogram's first line
    int64_t left = 0;  // runs still to come after this one
    int line = 0;
    std::string word;  // "M98 P100"
  };
  std::vector<Call> calls;
  size_t index = 0;
  int64_t lines_run = 0;
  std::string message;
  int failed_line = 0;
  while (index < lines.size()) {
    const int line = static_cast<int>(index) + 1;
    LineOutcome outcome;
    if (++lines_run > kMaxLinesRun) {
      message = "the program runs more than " + std::to_string(kMaxLinesRun) +
                " lines (subprograms and repeats counted), more than kelvro-sim runs";
    } else if (!interpreter.Line(lines[index], line, &outcome, &message)) {
      // message set
    } else if (blocks.size() > kMaxBlocks) {
      message = TooManyBlocks();
    }
    if (!message.empty()) {
      failed_line = line;
      break;
    }
    if (outcome.flow == Flow::kEnd) break;
    if (outcome.flow == Flow::kReturn) {
      if (calls.empty()) {
        message = "M99 outside a subprogram";
        failed_line = line;
        break;
      }
      Call& call = calls.back();
      if (call.left > 0) {
        --call.left;
        index = call.body;
      } else {
        index = call.back;
        calls.pop_back();
      }
      continue;
    }
    if (outcome.flow == Flow::kCall) {
      const std::string word = "M98 P" + std::to_string(outcome.program);
      const std::string label = "O" + std::to_string(outcome.program);
      const auto found = labels.find(static_cast<double>(outcome.program));
      if (found == labels.end()) {
        message = word + ": there is no " + label + " in this file";
      } else if (found->second.size() > 1) {
        message = word + ": " + label + " stands on more than one line (lines " +
                  std::to_string(found->second[0] + 1) + " and " +
                  std::to_string(found->second[1] + 1) + ")";
      } else if (calls.size() >= static_cast<size_t>(kMaxSubprogramDepth)) {
        message = word + ": subprograms called more than " + std::to_string(kMaxSubprogramDepth) +
                  " deep";
      }
      if (!message.empty()) {
        failed_line = line;
        break;
      }
      calls.push_back(Call{index + 1, found->second[0] + 1, outcome.repeats - 1, line, word});
      index = found->second[0] + 1;
      continue;
    }
    ++index;
  }
  if (message.empty() && !calls.empty() && index >= lines.size()) {
    failed_line = calls.back().line;
    message = calls.back().word + ": the file ends inside the subprogram, which has no M99";
  }
  if (!message.empty()) {
    if (error) *error = "line " + std::to_string(failed_line) + ": " + message;
    return false;
  }
  blocks_ = std::move(blocks);
  work_offsets_used_ = std::move(used);
  notes_ = std::move(notes);
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
