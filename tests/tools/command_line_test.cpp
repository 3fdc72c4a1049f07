// The command line of kelvro-sim: what it accepts, what it refuses and with which words.
#include "tools/command_line.h"

#include <gtest/gtest.h>

namespace kelvro::sim {
namespace {

TEST(CommandLine, AllOptions) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(
      {"run", "part.nc", "--profile", "m.xml", "--json", "s.json", "--trace", "t.jsonl", "--plot",
       "p.PNG", "--jitter", "--lose-rate", "0.25", "--corrupt-rate=1", "--disconnect-at", "2.5",
       "--seed", "18446744073709551615"},
      &line, &error))
      << error;
  EXPECT_FALSE(line.help);
  EXPECT_EQ(line.run.program_path, "part.nc");
  EXPECT_EQ(line.run.profile_path, "m.xml");
  EXPECT_EQ(line.json_path, "s.json");
  EXPECT_EQ(line.run.trace_path, "t.jsonl");
  EXPECT_EQ(line.plot_path, "p.PNG");
  EXPECT_TRUE(line.run.record_plot);
  EXPECT_TRUE(line.run.faults.jitter);
  EXPECT_EQ(line.run.faults.lose_rate, 0.25);
  EXPECT_EQ(line.run.faults.corrupt_rate, 1.0);
  ASSERT_TRUE(line.run.faults.disconnect_at_seconds.has_value());
  EXPECT_EQ(*line.run.faults.disconnect_at_seconds, 2.5);
  EXPECT_EQ(line.run.faults.seed, 18446744073709551615ull);
}

TEST(CommandLine, WorkOffsetAndTools) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"run", "a.nc", "--work-offset", "150,100.5,-60", "--tool", "1:0",
                                "--tool=12:-3.25", "--tool", "12:40"},
                               &line, &error))
      << error;
  ASSERT_TRUE(line.run.g54_offset.has_value());
  EXPECT_EQ(*line.run.g54_offset, (Position{150, 100.5, -60, 0, 0, 0}));
  // Given twice, the later length counts (applied in order).
  EXPECT_EQ(line.run.tool_lengths,
            (std::vector<std::pair<int, double>>{{1, 0.0}, {12, -3.25}, {12, 40.0}}));
  ASSERT_TRUE(ParseCommandLine({"run", "a.nc", "--work-offset=1,2,3,90,-45,0.5"}, &line, &error))
      << error;
  EXPECT_EQ(*line.run.g54_offset, (Position{1, 2, 3, 90, -45, 0.5}));
}

TEST(CommandLine, FirmwareUpdateOptions) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"run", "a.nc", "--controller-version", "01.20", "--update=no",
                                "--fw-fault", "chunk:12", "--fw-fault", "never-returns"},
                               &line, &error))
      << error;
  EXPECT_EQ(line.run.controller_version, "01.20");
  EXPECT_TRUE(line.run.thc_log_dir.empty());
  EXPECT_FALSE(line.run.update_answer_yes);
  EXPECT_EQ(line.run.flash_faults.wrong_reply_to_write, std::optional<uint32_t>(12));
  EXPECT_TRUE(line.run.flash_faults.never_returns);
  EXPECT_FALSE(line.run.flash_faults.wrong_erase_reply);
  EXPECT_FALSE(line.run.flash_faults.no_reply_to_write.has_value());
  ASSERT_TRUE(
      ParseCommandLine({"run", "a.nc", "--fw-fault=erase", "--fw-fault=no-reply:0"}, &line, &error))
      << error;
  EXPECT_TRUE(line.run.flash_faults.wrong_erase_reply);
  EXPECT_EQ(line.run.flash_faults.no_reply_to_write, std::optional<uint32_t>(0));
  ASSERT_TRUE(ParseCommandLine({"run", "a.nc", "--thc-log", "logs"}, &line, &error)) << error;
  EXPECT_EQ(line.run.thc_log_dir, "logs");
  ASSERT_TRUE(
      ParseCommandLine({"run", "a.nc", "--arc-fail", "3", "--arc-loss=12.5"}, &line, &error))
      << error;
  EXPECT_EQ(line.run.arc_fail, std::optional<int>(3));
  EXPECT_EQ(line.run.arc_loss_seconds, std::optional<double>(12.5));
  ASSERT_TRUE(
      ParseCommandLine({"run", "a.nc", "--burn", "b.PNG", "--burn-pixel=0.25"}, &line, &error))
      << error;
  EXPECT_EQ(line.burn_path, "b.PNG");
  EXPECT_EQ(line.run.burn_pixel, 0.25);
  // Without the options: the plugin's own version, and Yes.
  ASSERT_TRUE(ParseCommandLine({"run", "a.nc"}, &line, &error)) << error;
  EXPECT_TRUE(line.burn_path.empty());
  EXPECT_EQ(line.run.burn_pixel, 0.1);
  EXPECT_TRUE(line.run.controller_version.empty());
  EXPECT_TRUE(line.run.update_answer_yes);
}

TEST(CommandLine, StatusLog) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"run", "a.nc", "--status-log", "s.log", "--status-log-every=40"},
                               &line, &error))
      << error;
  EXPECT_EQ(line.run.status_log_path, "s.log");
  EXPECT_EQ(line.run.status_log_every, 40u);
  ASSERT_TRUE(ParseCommandLine({"run", "a.nc"}, &line, &error)) << error;
  EXPECT_TRUE(line.run.status_log_path.empty());
  EXPECT_EQ(line.run.status_log_every, 1u);
}

TEST(CommandLine, Defaults) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"run", "a.nc"}, &line, &error)) << error;
  EXPECT_EQ(line.run.program_path, "a.nc");
  EXPECT_TRUE(line.run.profile_path.empty());
  EXPECT_FALSE(line.run.record_plot);
  EXPECT_FALSE(line.run.faults.jitter);
  EXPECT_EQ(line.run.faults.lose_rate, 0.0);
  EXPECT_FALSE(line.run.faults.disconnect_at_seconds.has_value());
  EXPECT_EQ(line.run.faults.seed, 1u);
  EXPECT_FALSE(line.run.g54_offset.has_value());
  EXPECT_TRUE(line.run.tool_lengths.empty());
}

TEST(CommandLine, OptionsBeforeTheProgramAndDashDash) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"run", "--jitter", "--", "-odd.nc"}, &line, &error)) << error;
  EXPECT_EQ(line.run.program_path, "-odd.nc");
  EXPECT_TRUE(line.run.faults.jitter);
}

TEST(CommandLine, Help) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}, {"run", "--help"}}) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(args, &line, &error)) << error;
    EXPECT_TRUE(line.help);
  }
  EXPECT_NE(UsageText().find("Usage: kelvro-sim run PROGRAM"), std::string::npos);
}

struct UsageErrorCase {
  const char* name;
  std::vector<std::string> args;
  const char* expected;
};

class UsageError : public ::testing::TestWithParam<UsageErrorCase> {};

TEST_P(UsageError, IsRefusedWithAMessage) {
  CommandLine line;
  std::string error;
  EXPECT_FALSE(ParseCommandLine(GetParam().args, &line, &error));
  EXPECT_NE(error.find(GetParam().expected), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageError,
    ::testing::Values(
        UsageErrorCase{"Nothing", {}, "no command given"},
        UsageErrorCase{"UnknownCommand", {"walk", "a.nc"}, "unknown command \"walk\""},
        UsageErrorCase{"NoProgram", {"run"}, "no part program given"},
        UsageErrorCase{"TwoPrograms", {"run", "a.nc", "b.nc"}, "more than one program"},
        UsageErrorCase{"UnknownOption", {"run", "a.nc", "--fast"}, "unknown option \"--fast\""},
        UsageErrorCase{"MissingValue", {"run", "a.nc", "--json"}, "--json needs a value"},
        UsageErrorCase{"EmptyValue", {"run", "a.nc", "--profile="}, "--profile needs a value"},
        UsageErrorCase{"PlotExtension", {"run", "a.nc", "--plot", "p.jpg"}, "must end in .png"},
        UsageErrorCase{"BurnSvg", {"run", "a.nc", "--burn", "b.svg"}, "must end in .png"},
        UsageErrorCase{"BurnPixelZero",
                       {"run", "a.nc", "--burn-pixel", "0"},
                       "option --burn-pixel needs a cell size from 0.001 to 1000 machine units "
                       "(got \"0\")"},
        UsageErrorCase{"BurnPixelText", {"run", "a.nc", "--burn-pixel", "fine"}, "cell size"},
        UsageErrorCase{"RateAboveOne", {"run", "a.nc", "--lose-rate", "1.5"}, "from 0 to 1"},
        UsageErrorCase{"RateNegative", {"run", "a.nc", "--corrupt-rate", "-0.1"}, "from 0 to 1"},
        UsageErrorCase{"RateNotANumber", {"run", "a.nc", "--lose-rate", "nan"}, "from 0 to 1"},
        UsageErrorCase{"RateTrailing", {"run", "a.nc", "--lose-rate", "0.1x"}, "from 0 to 1"},
        UsageErrorCase{
            "DisconnectNegative", {"run", "a.nc", "--disconnect-at", "-1"}, "time in seconds"},
        UsageErrorCase{
            "DisconnectInfinite", {"run", "a.nc", "--disconnect-at", "inf"}, "time in seconds"},
        UsageErrorCase{"SeedNegative", {"run", "a.nc", "--seed", "-3"}, "whole number"},
        UsageErrorCase{
            "SeedTooBig", {"run", "a.nc", "--seed", "18446744073709551616"}, "whole number"},
        UsageErrorCase{"JitterWithValue", {"run", "a.nc", "--jitter=yes"}, "takes no value"},
        UsageErrorCase{"ArcFailZero", {"run", "a.nc", "--arc-fail", "0"}, "whole number from 1"},
        UsageErrorCase{"ArcLossNegative", {"run", "a.nc", "--arc-loss", "-2"}, "time from 0"},
        UsageErrorCase{"OffsetTwoValues",
                       {"run", "a.nc", "--work-offset", "1,2"},
                       "option --work-offset needs X,Y,Z or X,Y,Z,A,B,C in machine units (got "
                       "\"1,2\")"},
        UsageErrorCase{"OffsetFourValues",
                       {"run", "a.nc", "--work-offset", "1,2,3,4"},
                       "needs X,Y,Z or X,Y,Z,A,B,C"},
        UsageErrorCase{"OffsetEmptyValue",
                       {"run", "a.nc", "--work-offset", "1,,3"},
                       "needs X,Y,Z or X,Y,Z,A,B,C"},
        UsageErrorCase{
            "OffsetText", {"run", "a.nc", "--work-offset", "x,y,z"}, "needs X,Y,Z or X,Y,Z,A,B,C"},
        UsageErrorCase{"OffsetHuge",
                       {"run", "a.nc", "--work-offset", "1e12,0,0"},
                       "needs X,Y,Z or X,Y,Z,A,B,C"},
        UsageErrorCase{"ToolWithoutLength",
                       {"run", "a.nc", "--tool", "3"},
                       "option --tool needs N:LENGTH, a tool number from 1 to 255 and its length "
                       "in machine units (got \"3\")"},
        UsageErrorCase{"ToolZero", {"run", "a.nc", "--tool", "0:5"}, "a tool number from 1 to 255"},
        UsageErrorCase{
            "ToolTooHigh", {"run", "a.nc", "--tool", "256:5"}, "a tool number from 1 to 255"},
        UsageErrorCase{
            "ToolLengthText", {"run", "a.nc", "--tool", "2:long"}, "a tool number from 1 to 255"},
        UsageErrorCase{"VersionTooLong",
                       {"run", "a.nc", "--controller-version", "01.200"},
                       "option --controller-version needs a version text of 1 to 5 printable "
                       "characters"},
        UsageErrorCase{"VersionWithSpace",
                       {"run", "a.nc", "--controller-version", "1 20"},
                       "1 to 5 printable characters"},
        UsageErrorCase{
            "UpdateMaybe", {"run", "a.nc", "--update", "maybe"}, "--update needs yes or no"},
        UsageErrorCase{"FaultUnknown",
                       {"run", "a.nc", "--fw-fault", "smoke"},
                       "option --fw-fault needs erase, chunk:N, no-reply:N or never-returns (got "
                       "\"smoke\")"},
        UsageErrorCase{
            "FaultNoIndex", {"run", "a.nc", "--fw-fault", "chunk:"}, "--fw-fault needs erase"},
        UsageErrorCase{"StatusLogEveryZero",
                       {"run", "a.nc", "--status-log", "s.log", "--status-log-every", "0"},
                       "--status-log-every needs a whole number from 1 to 1000000"},
        UsageErrorCase{
            "FaultNegative", {"run", "a.nc", "--fw-fault", "no-reply:-1"}, "--fw-fault needs"}),
    [](const ::testing::TestParamInfo<UsageErrorCase>& info) { return info.param.name; });

TEST(PlotFormat, ByExtension) {
  EXPECT_EQ(PlotFormat("a.png"), "png");
  EXPECT_EQ(PlotFormat("dir.svg/a.PNG"), "png");
  EXPECT_EQ(PlotFormat("b.Svg"), "svg");
  EXPECT_EQ(PlotFormat("c.pdf"), "");
  EXPECT_EQ(PlotFormat("png"), "");
}

}  // namespace
}  // namespace kelvro::sim
