#include "cli/check.h"

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>

#include "device/chip_choice.h"
#include "device/hex_text.h"
#include "measurement/measure.h"
#include "measurement/reading_text.h"
#include "measurement/result_text.h"
#include "measurement/series.h"

namespace capmeter::cli {

namespace {

constexpr std::uint8_t kD1 = 1U << 1;
constexpr std::uint8_t kD4 = 1U << 4;
constexpr std::uint8_t kD5 = 1U << 5;
// The trigger pattern's first two bytes: D2 low holds the timer in reset, so
// D1 is low whatever happened before; then the resting levels of a
// measurement (D0 and D2 high, D4 and D5 high) release it without the falling
// edge on D0 that would trigger it.
constexpr std::uint8_t kResetTimer = kTriggerPattern[0];
constexpr std::uint8_t kResting = kTriggerPattern[1];

// The stream step: the rate measured over a longer span than a series'
// 250 ms, then readings of the same charge, whose spread must stay within
// the count's resolution (two sample periods, one at each end) plus 20 ppm
// of the time: room for a real 555's own jitter, which a steady clock
// cannot take out.
constexpr Clock::Duration kStreamRateSpan = std::chrono::seconds(1);
constexpr int kStreamReadings = 20;
constexpr double kTrustedSamplePeriods = 2.0;
constexpr double kTrustedFraction = 20e-6;

// The pin byte as the measurement reads it: a digit character, or not.
std::string AsCharacter(std::uint8_t pins) {
  if (pins >= 0x20 && pins < 0x7F) {
    return std::string(" (\"") + static_cast<char>(pins) + "\")";
  }
  return " (not a printable character)";
}

class Steps {
 public:
  explicit Steps(std::ostream& out) : out_(out) {}

  bool Pass(const std::string& text) {
    out_ << "ok    " << text << '\n';
    return true;
  }
  bool Fail(const std::string& text) {
    out_ << "FAIL  " << text << '\n';
    failed_ = true;
    return false;
  }
  // A step that only informs: its failure is a note, and the check passes.
  bool Note(const std::string& text) {
    out_ << "note  " << text << '\n';
    noted_ = true;
    return false;
  }
  bool Judge(bool passed, const std::string& text) { return passed ? Pass(text) : Fail(text); }
  bool Failed() const { return failed_; }
  bool Noted() const { return noted_; }

 private:
  std::ostream& out_;
  bool failed_ = false;
  bool noted_ = false;
};

// The steps between open and close; false at the first that fails.
bool CheckOpenedChip(DriverLibrary& library, FT_HANDLE handle, Steps& steps) {
  const FT_STATUS bitBang = library.FT_SetBitMode(handle, kDirectionMask, kEnableValue);
  if (!steps.Judge(bitBang == kStatusOk, "Switch bit-bang mode on (D1 the only input): " +
                                             StatusText(library, bitBang) + ".")) {
    return false;
  }

  for (const std::uint8_t level : {kResetTimer, kResting}) {
    std::uint32_t written = 0;
    const FT_STATUS status = library.FT_Write(handle, &level, 1, &written);
    if (status != kStatusOk || written != 1) {
      return steps.Fail("Drive " + HexText(level) +
                        " on the outputs: " + StatusText(library, status) + ", " +
                        std::to_string(written) + " byte(s) written.");
    }
  }
  steps.Pass("Drive the resting levels (" + HexText(kResetTimer) + " resets the timer, " +
             HexText(kResting) + " releases it without a trigger): status 0.");

  std::uint8_t pins = 0;
  const FT_STATUS read = library.FT_GetBitMode(handle, &pins);
  if (!steps.Judge(
          read == kStatusOk,
          "Read the pins: " + StatusText(library, read) +
              (read == kStatusOk ? ", pin byte " + HexText(pins) + AsCharacter(pins) : "") + ".")) {
    return false;
  }

  if ((pins & kD1) != 0) {
    return steps.Fail(
        "D1 reads high although the timer was not triggered: D1 is stuck high, or not "
        "connected to the timer's output (an open input reads high). Every measurement would "
        "time out.");
  }
  steps.Pass("D1 reads low: the timer's output is idle, as it should be without a trigger.");

  const bool d4 = (pins & kD4) != 0;
  const bool d5 = (pins & kD5) != 0;
  if (!d4 || !d5) {
    const std::string low = !d4 && !d5 ? "D4 and D5 read" : !d4 ? "D4 reads" : "D5 reads";
    return steps.Fail(low +
                      " low although driven high: something outside pulls it down. The "
                      "program needs D4 and D5 high to read the pins as digits; every "
                      "measurement would end with \"Read Error!\".");
  }
  return steps.Pass("D4 and D5 read high, as the wiring requires.");
}

// The stream step on the opened chip; the signal that stopped it, or 0.
int CheckStream(CommandContext& context, FT_HANDLE handle, const CheckOptions& options,
                Steps& steps) {
  DriverLibrary& library = context.library;
  const bool counts = options.timing == Timing::Stream;
  const auto judge = [&](bool passed, const std::string& text) {
    return passed || counts ? steps.Judge(passed, text) : steps.Note(text);
  };
  const auto number = [&](double value) {
    return GeneralText(static_cast<float>(value), context.decimalSeparator);
  };
  if (library.SampleStreaming() == nullptr) {
    judge(false, "Stream timing is unavailable: " + library.WhyNoSampleStream() + ".");
    return 0;
  }

  const StreamPlan plan = PlanStream(handle, library, options.sampleClock.requestedRate);
  const ChipFamily& family = *plan.family.family;
  steps.Pass("Chip family: " + plan.family.Text() + "; its bit-bang clock " +
             (family.ClockTrusted()
                  ? "holds its period"
                  : "has a published erratum: periods as short as " +
                        number(family.shortestPeriodFraction) + " of the one set") +
             ".");
  const double asked = plan.rate;
  const std::uint32_t baud = plan.baud;
  const double tablePerBaud = SampleRateForBaud(family, baud) / baud;
  const RateMeasurement rate =
      MeasureSampleRate(handle, library, context.clock, asked, kStreamRateSpan);
  const std::string streamed = "Stream the pins for " + number(ToSeconds(kStreamRateSpan)) +
                               " s at " + number(asked) + " S/s asked (baud " +
                               std::to_string(baud) + ")";
  if (!rate.Measured()) {
    judge(false, streamed + ": " + rate.failure + ".");
    return 0;
  }
  steps.Pass(streamed + ": " + number(rate.rate) + " S/s measured against the host's clock (± " +
             number(rate.relativeError * 1e6) + " ppm over " + number(ToSeconds(rate.span)) +
             " s of arrivals), " + number(rate.rate / asked) + " × the rate asked, " +
             number(rate.rate / baud) + " samples per baud where the family's table gives " +
             number(tablePerBaud) + ".");

  SeriesSetup setup;
  setup.count = kStreamReadings;
  setup.timing = Timing::Stream;
  setup.sampleClock = {asked, rate.rate, rate.relativeError};
  std::vector<Reading> readings;
  const SeriesEnd end =
      RunSeries(library, context.clock, handle, setup, context.control, [&](const Reading& r) {
        readings.push_back(r);
        return r.HasTime();  // the first that fails tells enough
      });
  if (end.stopSignal != 0) {
    return end.stopSignal;
  }
  const std::string what =
      std::to_string(kStreamReadings) + " streamed readings of the same charge";
  if (!readings.empty() && !readings.back().HasTime()) {
    const Reading& failed = readings.back();
    judge(false, what + ": reading " + std::to_string(failed.index) + ": " +
                     OutcomeWord(failed.outcome) +
                     (failed.failure.empty() ? "" : ", " + failed.failure) + ".");
    return 0;
  }
  const Statistics t = Summarize(readings, false).seconds;
  const double spread = t.standardDeviation.value_or(0.0);
  steps.Pass(what + ": mean " + number(t.mean) + " s, std. dev. " + number(spread) +
             " s, minimum " + number(t.minimum) + " s, maximum " + number(t.maximum) + " s.");

  const double limit = kTrustedSamplePeriods / rate.rate + kTrustedFraction * t.mean;
  const bool steady = spread <= limit;
  const bool trusted = steady && family.ClockTrusted();
  const auto microseconds = [&](double seconds) {
    return number(std::round(seconds * 1e8) / 100) + " µs";
  };
  std::string figures = "its std. dev. of " + microseconds(spread) + " is " +
                        (steady ? "within" : "beyond") +
                        " 2 sample periods plus 20 ppm of the mean, " + microseconds(limit);
  if (!family.ClockTrusted()) {
    figures += ", but the family's erratum may strike at any reading";
  }
  judge(trusted, trusted ? "The stream can be trusted for timing: " + figures + "."
                         : "The stream cannot be trusted for timing: " + figures +
                               (counts ? "." : "; polling does not need it."));
  return 0;
}

}  // namespace

int RunCheck(CommandContext& context, std::ostream& out, const CheckNotes& notes,
             const std::optional<CheckOptions>& stream) {
  Steps steps(out);
  const DriverLoad load = context.loadLibrary();
  if (!steps.Judge(load.loaded, "Driver library: " + load.text + ".")) {
    out << "Verdict: no driver library, so no device can be reached.\n";
    return kExitFailed;
  }
  for (const CheckStep& verdict :
       notes.beforeOpen ? notes.beforeOpen() : std::vector<CheckStep>{}) {
    if (!steps.Judge(verdict.passed, verdict.text)) {
      out << "Verdict: the device is not there to be opened.\n";
      return kExitFailed;
    }
  }

  DeviceSession session(context.library);
  std::string openText = "Open " + OpenedText(context) + ": " +
                         StatusText(context.library, session.OpenStatus()) + ".";
  const std::string whyNoChip =
      context.selection != nullptr ? context.selection->WhyNotOpened() : std::string();
  if (!whyNoChip.empty()) {
    openText.back() = ';';
    openText += " " + whyNoChip + ".";
  } else if (!session.IsOpen() && notes.whyOpenFailed) {
    const std::string why = notes.whyOpenFailed(session.OpenStatus());
    if (!why.empty()) openText += " " + why + ".";
  }
  if (!steps.Judge(session.IsOpen(), openText)) {
    if (!whyNoChip.empty()) {
      out << "Verdict: no chip matches the choice; --device and --serial take a chip the "
             "driver sees.\n";
      return kExitFailed;
    }
    out << "Verdict: the device could not be opened. Check the USB cable and power; on Linux "
           "also that the kernel's serial driver has released the chip and that you may open "
           "its USB device node.\n";
    return kExitFailed;
  }

  if (context.selection != nullptr) {
    if (const std::optional<DeviceInfo> chip = context.selection->OpenChip()) {
      steps.Judge(true, "The chip: " + ChipText(*chip) + ".");
    }
  }
  for (const CheckStep& verdict : notes.afterOpen ? notes.afterOpen() : std::vector<CheckStep>{}) {
    steps.Judge(verdict.passed, verdict.text);
  }
  int stopSignal = 0;
  if (CheckOpenedChip(context.library, session.Handle(), steps) && stream) {
    stopSignal = CheckStream(context, session.Handle(), *stream, steps);
  }

  const DeviceSession::Closing closing = session.Close();
  steps.Judge(closing.reset == kStatusOk,
              "Leave bit-bang mode: " + StatusText(context.library, closing.reset) + ".");
  steps.Judge(closing.close == kStatusOk,
              "Close the device: " + StatusText(context.library, closing.close) + ".");

  if (stopSignal != 0) {
    out << "Verdict: stopped before the stream was judged.\n";
    return ExitForSignal(stopSignal);
  }
  if (steps.Failed()) {
    out << "Verdict: a step failed; see the line marked FAIL.\n";
    return kExitFailed;
  }
  out << (steps.Noted() ? "Verdict: the driver, the chip and the wiring answer as the meter "
                          "needs to poll; see the line marked note for stream timing.\n"
                        : "Verdict: the driver, the chip and the wiring answer as the meter "
                          "needs.\n");
  return kExitOk;
}

}  // namespace capmeter::cli
