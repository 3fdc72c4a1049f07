// Part-program interpreter of the stand-in host: reads the dialect that CAM post-processors
// write for the host (RS274 as Mach3 takes it) into a list of blocks in machine units and
// machine coordinates, checked against the machine (enabled axes, soft limits, probe input).
// Everything it does not simulate is refused with the line number and the word.
//
// Layout: words of a letter and a number, packed or spaced, any case ("G00G21g17"); N line
// numbers; comments in parentheses and after ';'; lines holding only '%'. An O word on a
// line of its own is a program number or the label of a subprogram.
//
// Words, in the order they act on one line:
//   F         feed, program units per minute (degrees per minute for rotary axes alone)
//   S         spindle speed (rpm)
//   T         selects the tool for the next M6
//   M6        tool change: the host stops, the operator changes to the selected tool, the
//             program goes on
//   M3 M4 M5  spindle clockwise, counter-clockwise, stop
//   M7 M8 M9  mist on, flood on, both off (on the machine's MistOutput and FloodOutput)
//   M10 M11 P synchronous output P (1..6) on / off, carried with the motion
//   G4 P      dwell, P in seconds
//   G17 G18 G19          arc plane XY, ZX, YZ
//   G20 G21 (G70 G71)    inch, millimetre program units (for this line's numbers already)
//   G40                  no cutter radius compensation (G41 and G42 are refused)
//   G43 H G44 H G49      tool length offset +length / -length of tool H (without H: the tool
//                        in the spindle), or none; lengths from the machine's tool table
//   G54 .. G59           work offsets 1..6
//   G61 G61.1 G64        path modes, accepted: every move starts and ends at rest
//   G90 G91              absolute, incremental distances
//   G90.1 G91.1          absolute, incremental arc centres (I J K)
//   G98 G99              drilling cycles return to the start height or to R
//   G15 G50 G69          polar coordinates, scaling, rotation off (accepted: never on)
//   G94                  feed per minute (G93 inverse time and G95 per revolution are
//                        refused)
//   G10 L2 P X..         work offset P (1..6) set to the given machine position;
//   G10 L20 P X..        ... set so that the current position has the given coordinates
//   G28 X.. / G30 X..    rapid through the given point (current coordinates) to the stored
//                        G28 / G30 position, named axes only; without axis words every
//                        enabled axis goes straight there
//   G28.1 X..            reference (home) the named axes; all enabled axes when none is named
//   G92 X.. / G92.1      offset so that the current position has the given coordinates /
//                        offset cleared
//   G0 G1                rapid, feed move; G53 with them: the axis words are machine
//                        coordinates, for this line only
//   G2 G3                arc clockwise, counter-clockwise in the plane: centre by I J K
//                        (the plane's two) or radius R (negative: more than half a circle);
//                        other axes move linearly along the arc (helix)
//   G31 X..              probe towards the target at the current feed
//   G73 G81 G82 G83 G85 G89 X Y Z R Q P L
//                        drilling cycles in the XY plane (see drill_cycle.h); Z, R, Q and P
//                        are kept from line to line while a cycle is on; L repeats
//   G80                  drilling cycle off (may share a line with G0 or G1)
//   M0 M1                pause (the operator resumes at once)
//   M98 P L              call subprogram O<P> of this file L times; M99 returns
//   M2 M30               program end (the rest of the file is not read)
// Axis words X Y Z A B C; A, B and C are degrees where the machine has them rotary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/arc_geometry.h"
#include "sim/gcode_block.h"
#include "sim/machine_profile.h"

namespace kelvro::sim {

inline constexpr size_t kMaxBlocks = 1000000;     // interpreted blocks of one program
inline constexpr int64_t kMaxLinesRun = 5000000;  // lines carried out, repeats counted
inline constexpr int kMaxSubprogramDepth = 16;    // subprograms calling subprograms
inline constexpr int64_t kMaxRepeats = 99999;     // L

class GcodeProgram {
 public:
  // Interprets the whole program. `start` is the machine position (units) when it begins.
  // On failure returns false with "line N: ..." and keeps no blocks.
  bool Parse(std::string_view text, const Machine& machine, std::string* error,
             const Position& start = {});
  bool Load(const std::string& path, const Machine& machine, std::string* error,
            const Position& start = {});

  const std::vector<Block>& blocks() const { return blocks_; }
  std::vector<Block> TakeBlocks() { return std::move(blocks_); }
  // The work offsets (1..6 for G54..G59) the program positioned the machine in, in the
  // order of first use.
  const std::vector<int>& work_offsets_used() const { return work_offsets_used_; }
  // What the program does that the machine cannot show, said once each ("line 12: M8
  // switches nothing: ...").
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  std::vector<Block> blocks_;
  std::vector<int> work_offsets_used_;
  std::vector<std::string> notes_;
};

}  // namespace kelvro::sim
