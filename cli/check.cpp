#include "cli/check.h"

#include <cstdint>
#include <ostream>
#include <string>

#include "device/hex_text.h"
#include "measurement/measure.h"

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
  bool Judge(bool passed, const std::string& text) { return passed ? Pass(text) : Fail(text); }
  bool Failed() const { return failed_; }

 private:
  std::ostream& out_;
  bool failed_ = false;
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

}  // namespace

int RunCheck(CommandContext& context, std::ostream& out, const CheckNotes& notes) {
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
  std::string openText =
      "Open device 0: " + StatusText(context.library, session.OpenStatus()) + ".";
  if (!session.IsOpen() && notes.whyOpenFailed) {
    const std::string why = notes.whyOpenFailed(session.OpenStatus());
    if (!why.empty()) openText += " " + why + ".";
  }
  if (!steps.Judge(session.IsOpen(), openText)) {
    out << "Verdict: the device could not be opened. Check the USB cable and power; on Linux "
           "also that the kernel's serial driver has released the chip and that you may open "
           "its USB device node.\n";
    return kExitFailed;
  }

  for (const CheckStep& verdict : notes.afterOpen ? notes.afterOpen() : std::vector<CheckStep>{}) {
    steps.Judge(verdict.passed, verdict.text);
  }
  CheckOpenedChip(context.library, session.Handle(), steps);

  const DeviceSession::Closing closing = session.Close();
  steps.Judge(closing.reset == kStatusOk,
              "Leave bit-bang mode: " + StatusText(context.library, closing.reset) + ".");
  steps.Judge(closing.close == kStatusOk,
              "Close the device: " + StatusText(context.library, closing.close) + ".");

  out << (steps.Failed() ? "Verdict: a step failed; see the line marked FAIL.\n"
                         : "Verdict: the driver, the chip and the wiring answer as the meter "
                           "needs.\n");
  return steps.Failed() ? kExitFailed : kExitOk;
}

}  // namespace capmeter::cli
