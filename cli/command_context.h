#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "calibration/calibration_store.h"
#include "device/chip_choice.h"
#include "device/driver_library.h"
#include "device/ft_types.h"
#include "measurement/clock.h"
#include "measurement/series.h"
#include "startup/driver_setup.h"

namespace capmeter::cli {

// The context a sub-command runs in. The program fills it with the driver
// ChooseDriver made, the real clock and the signal flag; tests with a
// simulated chip on virtual time.
struct CommandContext {
  std::function<DriverLoad()> loadLibrary;
  DriverLibrary& library;
  Clock& clock;
  // The stop signal, and the pauses between readings.
  SeriesControl control;
  // The user's decimal separator, for the numbers people read.
  std::string decimalSeparator = ".";
  // Which chip `library` opens and what it is; null where nothing was chosen
  // and nothing is asked of the chip (tests).
  SelectedChip* selection = nullptr;
  // The calibration file; null where there is none to use (tests, or no
  // folder to keep it in).
  const CalibrationStore* calibrations = nullptr;
};

// What the program opens in words ("device 0", "chip 1", ...).
std::string OpenedText(const CommandContext& context);

// Exit statuses of the command-line meter.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the device, the wiring or a reading failed
inline constexpr int kExitUsage = 2;   // a bad command line, or nothing to fit a line to
// A stop signal ends the program with 128 plus the signal's number, as a
// shell reports a program the signal killed (130 for SIGINT).
inline int ExitForSignal(int signal) {
  return 128 + signal;
}

// Device 0 opened for one sub-command, and switched back and closed when it
// ends, whatever way it ends.
class DeviceSession {
 public:
  explicit DeviceSession(DriverLibrary& library);
  ~DeviceSession();  // Close(), unless that happened already
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  FT_STATUS OpenStatus() const { return openStatus_; }
  bool IsOpen() const { return openStatus_ == kStatusOk; }
  FT_HANDLE Handle() const { return handle_; }
  const DriverLibrary& Library() const { return library_; }

  struct Closing {
    FT_STATUS reset = kStatusOk;  // leaving bit-bang mode
    FT_STATUS close = kStatusOk;
  };
  // Leaves bit-bang mode and closes the device; only once, and only when the
  // open worked.
  Closing Close();

 private:
  DriverLibrary& library_;
  FT_HANDLE handle_ = nullptr;
  FT_STATUS openStatus_;
  bool closed_ = false;
};

// Says on `err` what keeps the device from being used: no library, or a
// failed open. True when it said something, false when the device is open.
bool ReportUnreachable(const CommandContext& context, const DriverLoad& load,
                       const DeviceSession& session, std::ostream& err);

// The timing for the open device (ChooseTiming); what auto chose is said on
// `err` in one line.
TimingChoice ChooseAndSayTiming(Timing asked, const DeviceSession& session, CommandContext& context,
                                std::ostream& err);

// Lets the device go and says on `err` which step of that failed; true when
// both worked.
bool CloseAndReport(DeviceSession& session, std::ostream& err);

}  // namespace capmeter::cli
