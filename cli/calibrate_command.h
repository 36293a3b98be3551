#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/command_context.h"
#include "measurement/stream_timing.h"

namespace capmeter::cli {

// A capacitor of known value, as the user wrote it and in microfarads.
struct KnownCapacitor {
  std::string text;
  double microfarads = 0.0;
};

struct CalibrateOptions {
  std::vector<KnownCapacitor> capacitors;
  int count = 10;       // readings per capacitor
  bool dither = false;  // the command line turns it on for more than one reading
  std::uint64_t seed = 0;
  bool yes = false;  // no prompts: each capacitor is taken as connected
  // Print the line even where a capacitor was below the range or lies off
  // it by more than its readings' bounds explain.
  bool force = false;
  // Polls, or the chip's samples at the rate asked, measured once for all
  // the capacitors.
  Timing timing = Timing::Poll;
  SampleClock sampleClock;
  // Keeps the line in the calibration file for the chip, its timing and
  // this label; without `save` the user is asked (`askToSave`, when set and
  // not `yes`) or told how.
  std::string label;
  bool save = false;
  std::function<bool(const std::string& question)> askToSave;
};

// Has `capacitor` connected before its readings: asks the user, or sets the
// simulated part. False when nobody answered (end of input, a stop signal).
using ConnectStep = std::function<bool(const KnownCapacitor& capacitor)>;

// `calibrate`: reads each known capacitor `count` times and fits
// C = m x t + b through all the readings by least squares; prints m, b, the
// timing they hold for, each capacitor's residual, and the texts for the
// window's m and b boxes; keeps the line in the calibration file when asked.
// kExitUsage for fewer than two different capacitors (before the device is
// touched) or for times without spread; kExitFailed when the device could
// not be reached, a capacitor gave no time, or (without `force`) one was
// below the range or off the line by more than its readings' bounds, and
// when a line to keep could not be kept; 128 + the signal's number when
// stopped.
int RunCalibrate(CommandContext& context, const CalibrateOptions& options,
                 const ConnectStep& connect, std::ostream& out, std::ostream& err);

}  // namespace capmeter::cli
