#include "monitor/monitor_command_line.h"

#include <optional>
#include <string_view>
#include <utility>

#include "measurement/si_value.h"

namespace capmeter {

namespace {

constexpr const char* kDetails =
    "A monitor for series of readings: a live trend chart, a histogram, running\n"
    "statistics, limits with pass and fail counts, and a CSV log with the columns\n"
    "of capmeter-cli --format csv, flushed at every reading. It drives the chip\n"
    "through the vendor's D2XX driver library (libftd2xx.so, libftd2xx.dylib or\n"
    "FTD2XX.DLL), or with --simulate the simulated chip and timing circuit, which\n"
    "holds D1 high for 1.1 x R x C. Values take an SI prefix: p, n, u (or \xC2\xB5), m,\n"
    "k (or K), M, G, and may end in the unit (e.g. 4.7u, 100k, 125us).\n"
    "With the simulated defaults, m = 9.0909 and b = 0 read about 4.7.\n"
    "Without --slope and --intercept, Start takes m and b from the line capmeter-cli\n"
    "calibrate --save kept for the chip, its timing and --label, if there is one;\n"
    "Zero takes the open-circuit capacitance out of later series.\n"
#if defined(CAPMETER_DIRECT_USB)
    "With --usb VID:PID it opens the first device with that USB ID itself,\n"
    "through libusb, and needs no vendor library.\n"
#endif
    ;

// ": why" after what an option expected, when the reader says why.
std::string Because(const std::string& problem) {
  return problem.empty() ? std::string() : ": " + problem;
}

}  // namespace

MonitorCommandLine::MonitorCommandLine()
    : SimCommandLine("capmeter-monitor",
                     "Series of capacitance readings, charted, checked and logged.", kDetails),
      usb_(*this) {
  AddFlagOption("simulate",
                "Use the simulated chip and timing circuit instead of the driver library.");
  AddValueOption("latency",
                 "With --simulate: the round trip of each driver call, in seconds (default 0).",
                 "SECONDS", "0");
  AddValueOption("family",
                 "With --simulate: the simulated chip's family by its bcdDevice (default "
                 "0x0900, the single-port high-speed chip; 0x0600 has the older chips' clock "
                 "erratum).",
                 "BCD", "0x0900");
  AddValueOption("log", "Write every reading to FILE as CSV, one flushed row per reading.", "FILE",
                 "");
  AddValueOption("timing",
                 "The window's first choice of timing: poll (host polls of the pins), stream "
                 "(the chip's own samples of its pins counted, to two sample periods) or auto "
                 "(the default: stream where the driver can and the chip family's clock can be "
                 "trusted, else poll).",
                 "TIMING", "auto");
  AddValueOption("label",
                 "The label of the stored calibration to use, as calibrate --save --label "
                 "gave it (default: the line kept without one).",
                 "TEXT", "");
  AddFlagOption("no-calibration",
                "Leave the calibration file alone: m and b start at 0, or as --slope and "
                "--intercept give them.");
  AddValueOption("sample-rate",
                 "The window's first sample rate for stream timing, in samples a second "
                 "(default: the chip family's, 1M on a high-speed chip, 500k on a full-speed "
                 "one); the rate the chip gives is measured before each series.",
                 "RATE", "");
}

bool MonitorCommandLine::Parse(const std::vector<std::string>& arguments) {
  if (!SimCommandLine::Parse(arguments)) return false;
  for (const char* part :
       {"capacitance", "stray-capacitance", "resistance", "chips", "latency", "family"}) {
    if (IsSet(part) && !Simulate()) {
      SetError(std::string("--") + part + " needs --simulate.");
      return false;
    }
  }
  // m and b as complete numbers: the window's boxes refuse anything else at
  // Start, and a slip should not wait that long.
  for (const auto& [name, text] :
       {std::pair{"slope", InitialSlope()}, std::pair{"intercept", InitialIntercept()}}) {
    if (!text) continue;
    if (const std::string problem = NumberProblem(*text); !problem.empty()) {
      SetError("Invalid value '" + *text + "' for --" + name +
               " (expected a number such as 9.0909: " + problem + ").");
      return false;
    }
  }
  const std::string text = Value("latency");
  const auto latency = ParseSeconds(text);
  if (!latency) {
    SetError("Invalid value '" + text + "' for --latency (expected a time such as 1m or 0" +
             Because(EngineeringValueProblem(text, "s")) + ").");
    return false;
  }
  latency_ = *latency;
  const std::string familyText = Value("family");
  family_ = FamilyFromText(familyText);
  if (family_ == nullptr) {
    SetError("Invalid value '" + familyText +
             "' for --family (expected a bcdDevice such as 0x0900; docs/hardware.md lists them).");
    return false;
  }
  const std::string timingName = Value("timing");
  const std::optional<Timing> timing = TimingFromName(timingName);
  if (!timing) {
    SetError("Invalid value '" + timingName + "' for --timing (expected auto, poll or stream).");
    return false;
  }
  timing_ = *timing;
  const std::string rateText = Value("sample-rate");
  const std::optional<double> rate =
      rateText.empty() ? std::optional<double>(kFamilyDefaultRate) : ParseSampleRate(rateText);
  if (!rate) {
    SetError("Invalid value '" + rateText +
             "' for --sample-rate (expected a sample rate from 3.6k to 12M such as 1M or 500k" +
             Because(EngineeringValueProblem(rateText, "S/s")) + ").");
    return false;
  }
  sampleRate_ = *rate;
  if (const std::optional<std::string> error = usb_.Read(*this)) {
    SetError(*error);
    return false;
  }
  if (usb_.Id() && Simulate()) {
    SetError("--usb and --simulate exclude each other.");
    return false;
  }
  return true;
}

DriverOptions MonitorCommandLine::Driver() const {
  DriverOptions options = SimCommandLine::Driver();
  options.simulate = Simulate();
  options.latency = latency_;
  options.family = family_;
  options.usb = Usb();
  return options;
}

}  // namespace capmeter
