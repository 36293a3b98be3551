#include "calibration/calibration_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace capmeter {
namespace {

namespace fs = std::filesystem;

// A folder of the test's own, gone afterwards.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            ("capmeter-store-" + std::string(test->name()) + "-" +
             std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id())));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TemporaryFolder() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string Contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

StoredLine Line(const std::string& chip, Timing timing = Timing::Poll, double rate = 0.0,
                const std::string& label = "") {
  StoredLine line;
  line.key = {chip, timing, rate, label};
  line.line = {9.0909, -0.0125};
  line.made = "2026-12-10T02:00:00.000Z";
  line.points = {{1.0, 10, 0.11, 1e-5}, {10.0, 10, 1.1, -1e-5}};
  line.spread = 1e-5;
  line.program = "capmeter-cli 1.0";
  return line;
}

std::string Keep(const CalibrationStore& store, const StoredLine& line) {
  return store.Update([&](CalibrationFile& file) {
    file.Keep(line);
    return std::string();
  });
}

TEST(CalibrationStore, WhatIsKeptReadsBackTheSame) {
  TemporaryFolder folder;
  const CalibrationStore store(folder.Path() / "capmeter" / "calibrations.json");
  StoredLine streamed = Line("SIM-1", Timing::Stream, 1e6, "1M");
  streamed.zero = OpenCircuitZero{1.1e-5, "2026-12-10T03:00:00.000Z", 10};
  ASSERT_EQ(Keep(store, Line("SIM-2")), "");
  ASSERT_EQ(Keep(store, streamed), "");

  const CalibrationStore::Loaded loaded = store.Load();
  ASSERT_EQ(loaded.problem, "");
  ASSERT_EQ(loaded.contents.lines.size(), 2U);
  const StoredLine* back = loaded.contents.Find(streamed.key);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->line.slope, streamed.line.slope);
  EXPECT_EQ(back->line.intercept, streamed.line.intercept);
  EXPECT_EQ(back->points.size(), 2U);
  EXPECT_EQ(back->points[1].meanSeconds, 1.1);
  ASSERT_TRUE(back->zero);
  EXPECT_EQ(back->zero->microfarads, 1.1e-5);
  // The zero is taken out of the line readings use.
  EXPECT_DOUBLE_EQ(back->InUse().intercept, -0.0125 - 1.1e-5);
  // A line of one rate, label or chip is not another's.
  EXPECT_EQ(loaded.contents.Find({"SIM-1", Timing::Stream, 500e3, "1M"}), nullptr);
  EXPECT_EQ(loaded.contents.Find({"SIM-1", Timing::Stream, 1e6, ""}), nullptr);
  EXPECT_EQ(loaded.contents.Find({"SIM-3", Timing::Poll, 0.0, ""}), nullptr);
  EXPECT_EQ(LineSummary(*back),
            "calibration SIM-1 stream 1 MS/s '1M', made 2026-12-10, 2 capacitors, within 0.001 "
            "%; open-circuit zero of 11 pF taken out");
}

TEST(CalibrationStore, ANewLineForTheSameKeyIsCountedAndDropsTheOldZero) {
  CalibrationFile file;
  StoredLine first = Line("SIM-1");
  first.zero = OpenCircuitZero{2e-6, "", 10};
  file.Keep(first);
  StoredLine second = Line("SIM-1");
  second.line.slope = 10.0;
  file.Keep(second);
  ASSERT_EQ(file.lines.size(), 1U);
  EXPECT_EQ(file.lines[0].saves, 2);
  EXPECT_EQ(file.lines[0].line.slope, 10.0);
  EXPECT_FALSE(file.lines[0].zero);
}

// A file this program cannot take as its own is refused, saying what is
// wrong, and a change leaves it byte for byte as it was.
TEST(CalibrationStore, AFileInDoubtIsRefusedAndNeverWrittenOver) {
  const std::string good = FormatCalibrations({{Line("SIM-1")}});
  const std::map<std::string, std::pair<std::string, std::string>> cases = {
      {"truncated", {good.substr(0, good.size() / 2), "not JSON"}},
      {"empty", {"", "not JSON"}},
      {"another program's", {R"({"lines": []})", "not a capmeter calibration file"}},
      {"newer",
       {R"({"format": "capmeter calibrations", "version": 2, "lines": []})",
        "written by a newer capmeter (format version 2; this one reads 1)"}},
      {"a field missing",
       {R"({"format": "capmeter calibrations", "version": 1, "lines": [{"chip": "A"}]})",
        "line 1: has no \"timing\""}},
      {"a text for a number",
       {std::string(good).replace(good.find("9.0909"), 6, "\"9,09\""),
        "\"slope_uF_per_s\" is not a number"}},
      {"two lines for one key",
       {FormatCalibrations({{Line("SIM-1"), Line("SIM-2")}})
            .replace(FormatCalibrations({{Line("SIM-1"), Line("SIM-2")}}).find("SIM-2"), 5,
                     "SIM-1"),
        "a second line for SIM-1 poll"}},
  };
  TemporaryFolder folder;
  for (const auto& [name, bad] : cases) {
    SCOPED_TRACE(name);
    const fs::path file = folder.Path() / "calibrations.json";
    Write(file, bad.first);
    const CalibrationStore store(file);
    const CalibrationStore::Loaded loaded = store.Load();
    EXPECT_NE(loaded.problem.find(file.string()), std::string::npos) << loaded.problem;
    EXPECT_NE(loaded.problem.find(bad.second), std::string::npos) << loaded.problem;
    const std::string refused = Keep(store, Line("SIM-9"));
    EXPECT_NE(refused.find("it was left as it is"), std::string::npos) << refused;
    EXPECT_EQ(Contents(file), bad.first);
  }
}

TEST(CalibrationStore, AFolderThatCannotBeMadeIsSaidAndNothingIsWritten) {
  TemporaryFolder folder;
  // A file where the folder should be: refused even to root.
  Write(folder.Path() / "capmeter", "not a folder");
  const CalibrationStore store(folder.Path() / "capmeter" / "calibrations.json");
  const std::string problem = Keep(store, Line("SIM-1"));
  EXPECT_NE(problem.find("cannot make the folder " + (folder.Path() / "capmeter").string()),
            std::string::npos)
      << problem;
  EXPECT_EQ(Contents(folder.Path() / "capmeter"), "not a folder");
}

// Without the lock and the fresh read before each write, one of two
// programs saving at once would lose the other's line.
TEST(CalibrationStore, ChangesAtOnceKeepEveryLine) {
  TemporaryFolder folder;
  const fs::path file = folder.Path() / "calibrations.json";
  constexpr int kEach = 20;
  const auto save = [&](const std::string& prefix) {
    const CalibrationStore store(file);  // each its own, as two programs are
    for (int i = 0; i < kEach; ++i) {
      EXPECT_EQ(Keep(store, Line(prefix + std::to_string(i))), "");
    }
  };
  std::thread first(save, "A-");
  std::thread second(save, "B-");
  first.join();
  second.join();
  const CalibrationStore::Loaded loaded = CalibrationStore(file).Load();
  ASSERT_EQ(loaded.problem, "");
  EXPECT_EQ(loaded.contents.lines.size(), 2U * kEach);
  // No temporary file is left behind.
  int files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.Path())) ++files;
  EXPECT_EQ(files, 2);  // the file and its lock
}

TEST(CalibrationStore, TheFileLivesInTheUsersConfigurationFolder) {
  const auto in = [](std::map<std::string, std::string> variables) {
    return DefaultCalibrationFile([variables](const char* name) -> const char* {
      const auto found = variables.find(name);
      return found != variables.end() ? found->second.c_str() : nullptr;
    });
  };
#if defined(_WIN32)
  EXPECT_EQ(in({{"APPDATA", "C:\\Users\\a\\AppData\\Roaming"}}),
            fs::path("C:\\Users\\a\\AppData\\Roaming") / "capmeter" / "calibrations.json");
#else
  EXPECT_EQ(in({{"XDG_CONFIG_HOME", "/x/config"}, {"HOME", "/home/a"}}),
            fs::path("/x/config/capmeter/calibrations.json"));
  // A relative XDG_CONFIG_HOME is to be ignored.
  EXPECT_EQ(in({{"XDG_CONFIG_HOME", "config"}, {"HOME", "/home/a"}}),
            fs::path("/home/a/.config/capmeter/calibrations.json"));
#endif
  EXPECT_EQ(in({}), fs::path());
}

}  // namespace
}  // namespace capmeter
