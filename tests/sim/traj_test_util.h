// Shared helpers of the trajectory tests: a machine built in code, parsing that must succeed,
// and collecting every sample of a plan.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/gcode.h"
#include "sim/machine_profile.h"
#include "sim/motion_planner.h"

namespace kelvro::sim::test {

// X, Y, Z with different limits so that each axis can be the limiting one. Soft limits wide
// enough for every test that does not test them.
inline Machine TestMachine() {
  Machine m;
  const double steps[3] = {1000.0, 800.0, 2000.0};
  const double vel[3] = {50.0, 40.0, 20.0};
  const double acc[3] = {500.0, 400.0, 200.0};
  for (int k = 0; k < 3; ++k) {
    m.axes[k].enabled = true;
    m.axes[k].steps_per_unit = steps[k];
    m.axes[k].velocity = vel[k];
    m.axes[k].acceleration = acc[k];
    m.axes[k].soft_min = -1000.0;
    m.axes[k].soft_max = 1000.0;
  }
  m.probe.pin = 5;
  return m;
}

inline std::vector<Block> ParseOk(const std::string& text, const Machine& machine,
                                  const Position& start = {}) {
  GcodeProgram program;
  std::string error;
  EXPECT_TRUE(program.Parse(text, machine, &error, start)) << error;
  return program.TakeBlocks();
}

// Every sample of the plan; events are passed over as they come (recorded in *events).
inline std::vector<Sample> AllSamples(MotionPlanner& planner,
                                      std::vector<Block>* events = nullptr) {
  std::vector<Sample> samples;
  Sample sample;
  for (;;) {
    const MotionPlanner::Item item = planner.Next(&sample);
    if (item == MotionPlanner::Item::kSample) {
      samples.push_back(sample);
    } else if (item == MotionPlanner::Item::kEvent) {
      if (events) events->push_back(*planner.PendingEvent());
      planner.ConsumeEvent();
    } else {
      break;
    }
  }
  return samples;
}

inline std::vector<Sample> PlanSamples(const std::string& text, const Machine& machine,
                                       PlannerOptions options = {}) {
  MotionPlanner planner(machine, ParseOk(text, machine, options.start), options);
  return AllSamples(planner);
}

}  // namespace kelvro::sim::test
