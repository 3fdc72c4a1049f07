// The fixture of the Z correction scenario tests: the plugin in the stand-in host's mill with
// the simulated controller, a map loaded through the settings' file name, and a program fed
// through the host's ring.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/wire.h"
#include "host/host_fields.h"
#include "plugin/plugin.h"
#include "sim/standin_host.h"
#include "tests/zcorr/z_map_test_support.h"
#include "zcorr/z_correction.h"

namespace kelvro {

using test::GridText;
using test::TempDir;

// The stand-in host's mill: 1000 steps per unit on every axis, Z at 50 units/s and
// 500 units/s^2, so the follower may move 50 steps per ms and change speed by 0.5 steps per ms
// per ms.
constexpr double kSteps = 1000.0;
constexpr double kVMax = 50.0;
constexpr double kAMax = 0.5;

class ZCorrectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host.DescribeMill();
    host.planner().plugin_move_feed = 20.0;
    host.StartUp();
    ASSERT_EQ(host.Reset(), 0xFFFF);
    host.Run(300);
    host.controller().trace().Clear();
    host.platform().status_texts.clear();
  }
  ZCorrection& zcorr() { return host.plugin().zcorrection(); }
  PluginSettings& settings() { return host.plugin().settings(); }

  // A map over X, Y in [0, 100] (units) with the given height function, loaded through the
  // settings' file name as the page would.
  void LoadMap(const std::function<double(double, double)>& z, int normal = kZNormalNone) {
    std::vector<double> xs, ys;
    for (int i = 0; i <= 10; ++i) xs.push_back(i * 10.0);
    for (int i = 0; i <= 10; ++i) ys.push_back(i * 10.0);
    settings().z_file_name = test::WriteFile(dir, "map.txt", GridText(xs, ys, z));
    settings().z_normal = normal;
    ASSERT_TRUE(zcorr().Reload());
  }
  // Runs timer ticks until correction is active (or fails after `max_ms`).
  bool RunUntilActive(uint64_t max_ms = 5000) {
    return host.RunUntil([&] { return zcorr().active(); }, max_ms);
  }
  size_t Count(std::string_view name) {
    return host.controller().trace().Count(sim::TraceKind::kCommand, name);
  }
  bool SawStatus(std::string_view text) {
    for (const std::string& t : host.platform().status_texts) {
      if (t == text) return true;
    }
    return false;
  }
  // Streams a straight XY move at constant Z through the host's ring, one entry per ms.
  void PushXYMove(double x0, double y0, double x1, double y1, double z, int ms, int line = 1) {
    for (int i = 1; i <= ms; ++i) {
      const double f = static_cast<double>(i) / ms;
      ASSERT_TRUE(host.PushRingEntry(
          {(x0 + (x1 - x0) * f) * kSteps, (y0 + (y1 - y0) * f) * kSteps, z * kSteps, 0, 0, 0},
          line));
    }
  }

  // Feeds `program` (six targets in steps per ms) through the host's ring as the host plans
  // ahead, with the flush flag once all of it is written, and runs until the controller has
  // executed it and rests (false after `max_ms`).
  bool RunProgram(const std::vector<std::array<double, kAxisCount>>& program,
                  uint64_t max_ms = 60000) {
    size_t written = 0;
    host.before_update = [&] {
      while (written < program.size() && host.RingPending() < 2000) {
        host.PushRingEntry(program[written++], 1);
      }
      host.planner().flush = written == program.size() ? 1 : 0;
    };
    const bool done = host.RunUntil(
        [&] {
          return written == program.size() && host.RingPending() == 0 &&
                 host.controller().buffer_fill() == 0 &&
                 host.controller().mode() == sim::SimMode::kIdle;
        },
        max_ms);
    host.before_update = nullptr;
    return done;
  }
  // The Z distance of every segment the controller received since the trace was cleared, in
  // steps: that millisecond's Z speed.
  std::vector<double> ZSpeeds() {
    std::vector<double> speeds;
    for (const sim::TraceEntry* e :
         host.controller().trace().Find(sim::TraceKind::kSegment, "Segment")) {
      speeds.push_back(static_cast<int32_t>(GetU32(e->payload.data(), 20)) / 1e6);
    }
    return speeds;
  }

  TempDir dir;
  sim::HostOf<Plugin> host;
};

}  // namespace kelvro
