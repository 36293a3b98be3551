#pragma once

#include <string>
#include <vector>

#include "measurement/clock.h"
#include "measurement/stream_timing.h"
#include "startup/hardware_options.h"
#include "startup/sim_options.h"

namespace capmeter {

// capmeter-monitor's command line: what every window program takes, the
// simulated circuit of capmeter-sim behind --simulate with capmeter-cli's
// --latency, --log FILE, capmeter-cli's --timing and --sample-rate for the
// window's first choice of timing, and its --label and --no-calibration.
class MonitorCommandLine final : public SimCommandLine {
 public:
  MonitorCommandLine();

  // As SimCommandLine::Parse, and false as well for a bad latency, timing or
  // sample rate, a simulated part without --simulate, or a bad --usb or one
  // with it.
  bool Parse(const std::vector<std::string>& arguments);

  bool Simulate() const { return IsSet("simulate"); }
  Clock::Duration Latency() const { return latency_; }
  std::string LogPath() const { return Value("log"); }
  Timing ReadingTiming() const { return timing_; }
  // Whether Start looks for the chip's stored line: not with --no-calibration,
  // nor when m or b was given.
  bool UsesStoredCalibration() const {
    return !IsSet("no-calibration") && !InitialSlope() && !InitialIntercept();
  }
  std::string Label() const { return Value("label"); }
  double SampleRate() const { return sampleRate_; }  // asked for, in samples a second
  const std::optional<UsbId>& Usb() const { return usb_.Id(); }
  // The simulated chip, the chip over USB or the vendor's library.
  DriverOptions Driver() const;

 private:
  Clock::Duration latency_{0};
  Timing timing_ = Timing::Auto;
  const ChipFamily* family_ = FamilyForBcdDevice(kSimulatedFamily);
  double sampleRate_ = kFamilyDefaultRate;
  UsbOption usb_;
};

}  // namespace capmeter
