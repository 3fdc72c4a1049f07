// The summary of a run: its JSON (parsed back by an independent reader), the text for a
// person, the exit status and the plot.
#include <gtest/gtest.h>

#include "sim/json_text.h"
#include "tests/tools/json_reader.h"
#include "tests/tools/simtool_test_util.h"
#include "tools/plot.h"
#include "tools/run_report.h"

namespace kelvro::sim::test {
namespace {

using Type = JsonValue::Type;

TEST(JsonString, Escapes) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"two\nlines\ttab\r", "\"two\\nlines\\ttab\\r\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
      {"\x1f", "\"\\u001f\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},  // UTF-8 passes through
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.in), c.out) << c.in;
}

TEST(Json, FieldsOfARealRunArePresentAndTyped) {
  TempDir dir;
  // Ends in G55, whose offset the default machine leaves at 0: X 1, Y 1 in machine
  // coordinates.
  const RunResult r = RunText(dir,
                              "G0 X2 Y1\nM3 S500\nG4 P0.2\nM5\nT3 M6\nM0\nM8\nM9\n"
                              "G55 G0 X1 Y1\n");
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  JsonValue json;
  std::string error;
  ASSERT_TRUE(ParseJson(FormatJson(r), &json, &error)) << error;
  ASSERT_EQ(json.type, Type::kObject);

  const std::pair<const char*, Type> fields[] = {
      {"sim_seconds", Type::kNumber},
      {"wall_seconds", Type::kNumber},
      {"lines", Type::kNumber},
      {"segments", Type::kNumber},
      {"underruns", Type::kNumber},
      {"fill_min", Type::kNumber},
      {"fill_max", Type::kNumber},
      {"planned_final_steps", Type::kArray},
      {"executed_final_steps", Type::kArray},
      {"status_texts", Type::kArray},
      {"message_boxes", Type::kArray},
      {"completed", Type::kBool},
      {"faults", Type::kObject},
      {"probes", Type::kArray},
      {"status", Type::kString},
      {"tool_changes", Type::kArray},
      {"pauses", Type::kNumber},
      {"work_offsets_used", Type::kArray},
      {"coolant_actions", Type::kNumber},
      {"notes", Type::kArray},
  };
  for (const auto& [name, type] : fields) {
    ASSERT_TRUE(json.Has(name)) << name;
    EXPECT_EQ(json[name].type, type) << name;
  }
  for (const char* name : {"lines", "segments", "underruns", "fill_min", "fill_max"}) {
    EXPECT_TRUE(json[name].integral) << name;
  }
  for (const char* name : {"planned_final_steps", "executed_final_steps"}) {
    ASSERT_EQ(json[name].items.size(), 6u) << name;
    for (const JsonValue& v : json[name].items) {
      EXPECT_EQ(v.type, Type::kNumber);
      EXPECT_TRUE(v.integral);
    }
  }
  for (const JsonValue& v : json["status_texts"].items) EXPECT_EQ(v.type, Type::kString);
  // The values are the run's.
  EXPECT_EQ(json["planned_final_steps"].items[0].number, 1000.0);
  EXPECT_EQ(json["executed_final_steps"].items[1].number, 1000.0);
  EXPECT_EQ(json["segments"].number, static_cast<double>(r.segments_streamed));
  EXPECT_EQ(json["lines"].number, 9.0);
  ASSERT_EQ(json["tool_changes"].items.size(), 1u);
  EXPECT_EQ(json["tool_changes"].items[0].number, 3.0);
  EXPECT_EQ(json["pauses"].number, 1.0);
  EXPECT_EQ(json["coolant_actions"].number, 2.0);
  ASSERT_EQ(json["work_offsets_used"].items.size(), 2u);
  EXPECT_EQ(json["work_offsets_used"].items[0].text, "G54");
  EXPECT_EQ(json["work_offsets_used"].items[1].text, "G55");
  EXPECT_TRUE(json["notes"].items.empty());
  EXPECT_NEAR(json["sim_seconds"].number, r.sim_seconds, 1e-6);
  EXPECT_TRUE(json["completed"].boolean);
  EXPECT_EQ(json["status"].text, "completed");
  ASSERT_FALSE(json["status_texts"].items.empty());
  EXPECT_EQ(json["status_texts"].items[0].text, r.status_texts[0]);
  EXPECT_EQ(json["faults"]["link_closed_at_seconds"].type, Type::kNull);
}

TEST(Json, StoppedRunCarriesTheReason) {
  RunResult r;
  r.status = RunStatus::kIncomplete;
  r.error = "the host is in E-stop; last status: \"ERROR! Connection closed!\"";
  r.faults.link_closed_at_seconds = 3.5;
  r.status_texts = {"a \"quoted\" text"};
  JsonValue json;
  std::string error;
  ASSERT_TRUE(ParseJson(FormatJson(r), &json, &error)) << error;
  EXPECT_FALSE(json["completed"].boolean);
  EXPECT_EQ(json["status"].text, "incomplete");
  EXPECT_EQ(json["error"].text, r.error);
  EXPECT_EQ(json["status_texts"].items[0].text, "a \"quoted\" text");
  EXPECT_EQ(json["faults"]["link_closed_at_seconds"].number, 3.5);
}

TEST(Json, FirmwareUpdateObject) {
  RunResult r;
  FirmwareUpdateRunReport fw;
  fw.controller_version = "01.20";
  fw.ran = true;
  fw.chunks = 101;
  fw.bytes = 25856;
  fw.texts = {"Erase...", "Uploading 0 %\r\n", "ERROR uploading!"};
  fw.faults = {"a wrong reply to write 100"};
  r.firmware = fw;
  JsonValue json;
  std::string error;
  ASSERT_TRUE(ParseJson(FormatJson(r), &json, &error)) << error;
  const JsonValue& object = json["firmware_update"];
  EXPECT_EQ(object["result"].text, "failed");
  EXPECT_EQ(object["chunks"].number, 101);
  EXPECT_EQ(object["bytes"].number, 25856);
  ASSERT_EQ(object["texts"].items.size(), 3u);
  EXPECT_EQ(object["texts"].items[1].text, "Uploading 0 %\r\n");
  EXPECT_EQ(object["faults"].items[0].text, "a wrong reply to write 100");
  // A run without an update has no such object.
  ASSERT_TRUE(ParseJson(FormatJson(RunResult{}), &json, &error)) << error;
  EXPECT_EQ(json.members.count("firmware_update"), 0u);
}

TEST(Json, ThcObjectWithItsCuts) {
  RunResult r;
  ThcReport thc;
  thc.torch_starts = 2;
  thc.ignitions = 2;
  thc.cut_seconds = 7.25;
  ThcCutReport first;
  first.line = 8;
  first.arc_ok = true;
  first.arc_ok_wait_ms = 275;
  first.z_offset_min = -0.25;
  first.z_offset_max = 0.5;
  ThcCutReport second = first;
  second.line = 20;
  second.arc_ok_wait_ms = 300;
  ThcCutReport dark;  // no arc: no wait to list
  dark.line = 30;
  thc.cuts = {first, second, dark};
  thc.z_offset_min = -0.25;
  thc.z_offset_max = 0.5;
  r.thc = thc;
  JsonValue json;
  std::string error;
  ASSERT_TRUE(ParseJson(FormatJson(r), &json, &error)) << error;
  const JsonValue& object = json["thc"];
  EXPECT_EQ(object["ignitions"].number, 2);
  EXPECT_EQ(object["cut_seconds"].number, 7.25);
  ASSERT_EQ(object["arc_ok_waits_ms"].items.size(), 2u);
  EXPECT_EQ(object["arc_ok_waits_ms"].items[0].number, 275);
  EXPECT_EQ(object["arc_ok_waits_ms"].items[1].number, 300);
  EXPECT_EQ(object["z_offset_min"].number, -0.25);
  EXPECT_EQ(object["z_offset_max"].number, 0.5);
  ASSERT_EQ(object["cuts"].items.size(), 3u);
  EXPECT_EQ(object["cuts"].items[2]["line"].number, 30);
  EXPECT_FALSE(object["cuts"].items[2]["arc_ok"].boolean);
  ASSERT_TRUE(ParseJson(FormatJson(RunResult{}), &json, &error)) << error;
  EXPECT_EQ(json.members.count("thc"), 0u);
}

TEST(Summary, FirmwareUpdateTextsInOrder) {
  RunResult r;
  FirmwareUpdateRunReport fw;
  fw.controller_version = "01.20";
  fw.required_version = "01.22";
  fw.answered_yes = true;
  fw.ran = true;
  fw.updated = true;
  fw.chunks = 365;
  fw.bytes = 93436;
  fw.elapsed_ms = 3367;
  fw.reconnect_attempts = 2;
  fw.version_after = "01.22";
  fw.texts = {"Firmware update in progress, please wait...",
              "Erase...",
              "Uploading 0 %\r\n",
              "Uploading 1 %\r\n",
              "Uploading 100 %\r\n",
              "Done."};
  r.firmware = fw;
  r.message_boxes = {"line one\nline two"};
  const std::string text = FormatSummary(r);
  const char* expected[] = {
      "  firmware update controller reported firmware 01.20, the plugin needs 01.22; answered "
      "Yes\n"
      "                  \"Firmware update in progress, please wait...\"\n"
      "                  \"Erase...\"\n"
      "                  \"Uploading 0 %\" ... \"Uploading 100 %\" (3 texts)\n"
      "                  \"Done.\"\n"
      "                  365 chunks, 93436 bytes in 3.367 s, 2 reconnect attempts\n"
      "                  result: updated, controller now reports firmware 01.22\n",
      // A message's line breaks stay inside its line of the summary.
      "  message boxes   \"line one\\nline two\"\n",
  };
  for (const char* line : expected) EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

TEST(ExitStatus, Table) {
  RunResult completed;
  completed.status = RunStatus::kCompleted;
  EXPECT_EQ(ExitStatus(completed), 0);

  RunResult elsewhere = completed;
  elsewhere.executed_final_steps[2] = 1;
  EXPECT_EQ(ExitStatus(elsewhere), 3);

  RunResult stopped;
  stopped.status = RunStatus::kIncomplete;
  EXPECT_EQ(ExitStatus(stopped), 3);

  RunResult bad;
  bad.status = RunStatus::kBadInput;
  EXPECT_EQ(ExitStatus(bad), 1);

  RunResult unwritten = completed;
  unwritten.output_error = "writing the JSON summary failed";
  EXPECT_EQ(ExitStatus(unwritten), 1);
}

TEST(Summary, ShowsWhatAPersonNeeds) {
  RunResult r;
  r.status = RunStatus::kCompleted;
  r.program_path = "part.nc";
  r.profile_label = "machine.xml";
  r.sim_seconds = 20.0;
  r.wall_seconds = 0.5;
  r.planned_seconds = 18.0;
  r.lines_planned = 12;
  r.lines_executed = 12;
  r.segments_streamed = 18000;
  r.segments_executed = 18000;
  r.fill_samples = 15000;
  r.fill_min = 801;
  r.fill_average = 850.25;
  r.fill_max = 899;
  r.axis_enabled = {true, true, true, false, false, false};
  r.planned_final_steps = {1000, -2000, 0, 0, 0, 0};
  r.executed_final_steps = {1000, -2000, 0, 0, 0, 0};
  r.status_texts = {"USB controller connected.", "Same", "Same", "Same"};
  r.profile_saved_to_given_file = true;
  const std::string text = FormatSummary(r);
  const char* expected[] = {
      "kelvro-sim: part.nc on machine.xml\n",
      "  result          program executed to the end\n",
      "  time            20.000 s simulated in 0.500 s wall time (40x real time)\n",
      "  lines           12 of 12 program lines executed\n",
      "  segments        18000 streamed, 18000 executed, 0 dropped by the controller\n",
      "  queue fill      min 801, average 850.2, max 899 segments (over 15.000 s of steady "
      "streaming)\n",
      "  underruns       0 (0 ms without a segment during a move)\n",
      "                  X            1000          1000\n",
      "                  Y           -2000         -2000\n",
      "  faults          none injected\n",
      "  status texts    \"USB controller connected.\"\n"
      "                  \"Same\" (3 times)\n",
      "  message boxes   none\n",
      "  settings        saved by the plugin into machine.xml\n",
  };
  for (const char* line : expected) EXPECT_NE(text.find(line), std::string::npos) << line << text;
  EXPECT_EQ(text.find("  A "), std::string::npos) << "disabled axes are not listed";
  EXPECT_EQ(text.find("DIFFERS"), std::string::npos);

  r.executed_final_steps[1] = -1999;
  EXPECT_NE(FormatSummary(r).find("-1999  DIFFERS"), std::string::npos);
}

TEST(Summary, FaultsAndWhatThePluginDid) {
  RunResult r;
  r.status = RunStatus::kIncomplete;
  r.error = "the host is in E-stop";
  r.faults.timer_periods = 700;
  r.faults.shortest_period_ms = 15;
  r.faults.longest_period_ms = 540;
  r.faults.stalls = 2;
  r.faults.status_reads_lost = 1;
  r.faults.status_reads_corrupted = 4;
  r.faults.max_missed_polls = 21;
  r.faults.disconnected_at_seconds = 5.0;
  r.faults.link_closed_at_seconds = 5.45;
  r.faults.estop_at_seconds = 5.45;
  r.underruns = 1;
  r.starved_ms = 120;
  r.underrun_list.push_back(UnderrunReport{2.5, 120, 7, 100.0, false});
  const std::string text = FormatSummary(r);
  const char* expected[] = {
      "  result          STOPPED: the host is in E-stop\n",
      "jitter: 700 timer periods from 15 to 540 ms, 2 stalls\n",
      "status reports: 1 lost, 4 corrupted\n",
      "controller unplugged at 5.000 s\n",
      "plugin: at most 21 ticks in a row without a valid report\n",
      "plugin: closed the link at 5.450 s\n",
      "host: E-stop at 5.450 s (stop code 0)\n",
      "  underruns       1 (120 ms without a segment during a move)\n"
      "                  at 2.500 s after line 7, 120 ms long, 100 ms into the move (queue still "
      "filling)\n",
  };
  for (const char* line : expected) EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

// ---- Plot ----

TEST(Plot, ScriptQuotesNamesAndDrawsBothPanels) {
  RunResult r;
  r.program_path = "/x/it's.nc";
  r.plot = {{0.0, 0, 0, 0, 0}, {1.0, 10, 5, -1, 900}};
  const std::string script = PlotScript(r, "/tmp/d.dat", "/tmp/o'k.svg", "svg");
  EXPECT_NE(script.find("set terminal svg"), std::string::npos);
  EXPECT_NE(script.find("set output '/tmp/o''k.svg'"), std::string::npos) << script;
  EXPECT_NE(script.find("'kelvro-sim: it''s.nc'"), std::string::npos) << script;
  EXPECT_NE(script.find("using 2:3:4 with lines"), std::string::npos);  // path, colour Z
  EXPECT_NE(script.find("using 1:5 with lines"), std::string::npos);    // fill over time
  EXPECT_NE(script.find("set size ratio -1"), std::string::npos);       // true proportions
  EXPECT_EQ(script.find("index 1"), std::string::npos) << "no probe hits to mark";
  r.probes.push_back(ProbeReport{3, true, {1, 2, -3, 0}});
  EXPECT_NE(PlotScript(r, "d", "o.png", "png").find("index 1"), std::string::npos);
  EXPECT_NE(PlotScript(r, "d", "o.png", "png").find("pngcairo"), std::string::npos);
}

class PlotFile : public ::testing::TestWithParam<const char*> {};

TEST_P(PlotFile, IsWrittenByGnuplot) {
  if (FindGnuplot().empty()) GTEST_SKIP() << "gnuplot is not installed (gnuplot-nox)";
  TempDir dir;
  RunOptions options;
  options.record_plot = true;
  const RunResult r = RunText(dir, "G0 X10 Y10\nG1 Z-1 F600\nG2 X20 Y10 R5 F900\nG0 Z0\n", options);
  ASSERT_EQ(r.status, RunStatus::kCompleted) << r.error;
  ASSERT_GT(r.plot.size(), 50u);
  // Samples follow the controller: the last one is where the program ends.
  EXPECT_DOUBLE_EQ(r.plot.back().x, 20.0 + kWorkZero[0]);
  EXPECT_DOUBLE_EQ(r.plot.back().y, 10.0 + kWorkZero[1]);
  const std::string path = dir.File(std::string("plot.") + GetParam());
  std::string error;
  ASSERT_TRUE(WritePlot(r, path, &error)) << error;
  const std::string bytes = ReadFile(path);
  if (std::string(GetParam()) == "png") {
    ASSERT_GT(bytes.size(), 8u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  } else {
    EXPECT_NE(bytes.find("<svg"), std::string::npos);
    EXPECT_NE(bytes.find("kelvro-sim: program.nc"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, PlotFile, ::testing::Values("png", "svg"));

TEST(Plot, RefusesWhatItCannotDraw) {
  RunResult empty;
  std::string error;
  EXPECT_FALSE(WritePlot(empty, "/tmp/x.gif", &error));
  EXPECT_NE(error.find(".png or .svg"), std::string::npos) << error;
  EXPECT_FALSE(WritePlot(empty, "/tmp/x.png", &error));
  EXPECT_NE(error.find("nothing to plot"), std::string::npos) << error;
}

}  // namespace
}  // namespace kelvro::sim::test
