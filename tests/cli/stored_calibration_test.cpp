// The calibration file as the commands use it: calibrate --save, measure,
// zero, on the simulated chips and virtual time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/calibrate_command.h"
#include "cli/measure_command.h"
#include "cli/zero_command.h"
#include "device/chip_choice.h"
#include "measurement/reading_formats.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/cli/cli_bench.h"

namespace capmeter {
namespace {

namespace fs = std::filesystem;
using std::chrono::microseconds;

// Two simulated chips on one circuit, one of them chosen by serial number,
// with a calibration file of the test's own.
struct Meter {
  Meter(const fs::path& file, const std::string& serial, CircuitParts parts)
      : chip(clock, parts), selected(chip, ChipChoice{std::nullopt, serial}), store(file) {
    chip.SetChipCount(2);
    chip.SetCallLatency(microseconds(1));
  }

  VirtualClock clock;
  SimulatedChip chip;
  SelectedChip selected;
  CalibrationStore store;
  cli::CommandContext context{[] { return DriverLoad{true, "the simulated chip"}; },
                              selected,
                              clock,
                              {},
                              ".",
                              &selected,
                              &store};
};

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

fs::path FileOfThisTest() {
  const fs::path folder =
      fs::temp_directory_path() /
      ("capmeter-cli-" +
       std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  fs::remove_all(folder);
  return folder / "calibrations.json";
}

Outcome Calibrate(Meter& meter, std::vector<cli::KnownCapacitor> capacitors) {
  cli::CalibrateOptions options;
  options.capacitors = std::move(capacitors);
  options.count = 3;
  options.save = true;
  std::ostringstream out, err;
  Outcome run;
  run.exitCode = cli::RunCalibrate(
      meter.context, options,
      [&](const cli::KnownCapacitor& c) {
        CircuitParts parts = meter.chip.Circuit().Parts();
        parts.capacitanceFarads = c.microfarads * 1e-6;
        meter.chip.Circuit().SetParts(parts);
        return true;
      },
      out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// One reading with the stored line; its capacitance in µF, NaN without one.
double MeasureOnce(Meter& meter, Outcome& run) {
  cli::MeasureOptions options;
  options.format = FindReadingFormat("csv");
  options.useStoredLine = true;
  std::ostringstream out, err;
  run.exitCode = cli::RunMeasure(meter.context, options, out, err);
  run.out = out.str();
  run.err = err.str();
  const auto lines = testing::Lines(run.out);
  if (lines.size() < 2) return std::nan("");
  std::stringstream row(lines[1]);
  std::string field;
  for (int i = 0; i < 3; ++i) std::getline(row, field, ',');
  return field.empty() ? std::nan("") : std::stod(field);
}

TEST(StoredCalibration, AKeptLineServesItsChipAndNoOther) {
  const fs::path file = FileOfThisTest();
  {
    Meter second(file, "SIM-2", {100e3, 1e-6});
    const Outcome run = Calibrate(second, {{"1u", 1.0}, {"10u", 10.0}});
    ASSERT_EQ(run.exitCode, cli::kExitOk) << run.err;
    EXPECT_NE(run.out.find("Kept as calibration SIM-2 poll, made "), std::string::npos) << run.out;
  }
  Meter second(file, "SIM-2", {100e3, 4.7e-6});
  Outcome run;
  EXPECT_NEAR(MeasureOnce(second, run), 4.7, 4.7e-3) << run.err;
  EXPECT_NE(run.err.find("capmeter-cli: calibration SIM-2 poll, made "), std::string::npos);

  Meter first(file, "SIM-1", {100e3, 4.7e-6});
  EXPECT_TRUE(std::isnan(MeasureOnce(first, run))) << run.out;
  EXPECT_EQ(run.exitCode, cli::kExitOk);
}

// 100 pF of wiring beside a 1 nF part reads 10 % high until it is zeroed.
TEST(StoredCalibration, ZeroTakesTheStrayCapacitanceOutOfLaterReadings) {
  const fs::path file = FileOfThisTest();
  Meter meter(file, "SIM-1", {1e6, 1e-9});
  ASSERT_EQ(Calibrate(meter, {{"1n", 1e-3}, {"10n", 1e-2}}).exitCode, cli::kExitOk);

  meter.chip.Circuit().SetParts({1e6, 1e-9, 100e-12});
  Outcome run;
  EXPECT_NEAR(MeasureOnce(meter, run), 1.1e-3, 1e-5) << run.err;

  cli::ZeroOptions options;
  options.count = 5;
  std::ostringstream out, err;
  const int zeroed = cli::RunZero(
      meter.context, options,
      [&] {
        meter.chip.Circuit().SetParts({1e6, 0.0, 100e-12});
        return true;
      },
      out, err);
  ASSERT_EQ(zeroed, cli::kExitOk) << err.str();
  EXPECT_NE(out.str().find("Open-circuit capacitance: 100 pF"), std::string::npos) << out.str();

  meter.chip.Circuit().SetParts({1e6, 1e-9, 100e-12});
  EXPECT_NEAR(MeasureOnce(meter, run), 1e-3, 1e-5) << run.err;
  EXPECT_NE(run.err.find("open-circuit zero of 100 pF taken out"), std::string::npos) << run.err;
}

TEST(StoredCalibration, AnOpenCircuitBelowTheRangeIsNoZero) {
  const fs::path file = FileOfThisTest();
  Meter meter(file, "SIM-1", {1e6, 1e-9});
  ASSERT_EQ(Calibrate(meter, {{"1n", 1e-3}, {"10n", 1e-2}}).exitCode, cli::kExitOk);
  cli::ZeroOptions options;
  std::ostringstream out, err;
  const int zeroed = cli::RunZero(
      meter.context, options,
      [&] {
        meter.chip.Circuit().SetParts({1e6, 0.0, 0.0});  // no stray at all
        return true;
      },
      out, err);
  EXPECT_EQ(zeroed, cli::kExitFailed);
  EXPECT_NE(err.str().find("below the range"), std::string::npos) << err.str();
  EXPECT_FALSE(meter.store.Load().contents.lines.at(0).zero);
}

// A file that cannot be read might hold the line for this chip: measuring
// without it, unsaid, would give numbers off by the whole calibration.
TEST(StoredCalibration, MeasuringWithAnUnreadableFileFailsAndLeavesItAlone) {
  const fs::path file = FileOfThisTest();
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "{\"format\": \"capmeter calibrations\", \"version\": 1, \"li";
  Meter meter(file, "SIM-1", {});
  Outcome run;
  MeasureOnce(meter, run);
  EXPECT_EQ(run.exitCode, cli::kExitFailed);
  EXPECT_NE(run.err.find(file.string() + ": not JSON"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("--no-calibration"), std::string::npos);
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "{\"format\": \"capmeter calibrations\", \"version\": 1, \"li");
}

}  // namespace
}  // namespace capmeter
