#pragma once

#include <atomic>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/driver_library.h"
#include "device/ft_types.h"
#include "measurement/clock.h"
#include "measurement/running_statistics.h"
#include "measurement/series.h"
#include "measurement/stream_timing.h"
#include "scpi/parser.h"
#include "scpi/status.h"

namespace capmeter::scpi {

// The device as the instrument holds it: opened on demand and kept open, let
// go after a failure so that the next reading opens it again (a replugged
// chip works without a restart).
class DeviceAccess {
 public:
  virtual ~DeviceAccess() = default;

  struct Opened {
    FT_HANDLE handle = nullptr;  // null when it cannot be opened
    std::string whyNot;          // then why
  };
  // The open device, opening it first when it is not.
  virtual Opened Open() = 0;
  // Leaves bit-bang mode and closes the device, when it is open.
  virtual void Release() = 0;
};

// The lines the meter keeps for its chip, as CALibration:STORe, :DATE? and
// :COUNt? reach them.
class CalibrationMemory {
 public:
  virtual ~CalibrationMemory() = default;

  struct Kept {
    int year = 0, month = 0, day = 0;  // when it was made, UTC
    int saves = 0;                     // how often a line was kept for this chip and timing
  };
  // The line kept for the chip open as `handle` with `timing` at `rate`
  // (stream only); none when there is none or it cannot be told.
  virtual std::optional<Kept> Recall(FT_HANDLE handle, Timing timing, double rate) = 0;
  // Keeps m (F/s), b (F) and the null (F), when on, for that chip; empty
  // when kept, else why not.
  virtual std::string Store(FT_HANDLE handle, Timing timing, double rate, double slope,
                            double intercept, std::optional<double> null) = 0;
};

// What *TST? found: 0 when every step passed, else the failing step's number
// and its text.
struct SelfTestResult {
  int failedStep = 0;
  std::string text;
};

struct InstrumentSetup {
  // The *IDN? answer, asked at each query: the chip may have changed since.
  std::function<std::string()> identity;
  std::string driver;      // the SYSTem:DRIVer? answer: the driver in words
  double slope = 0.0;      // F/s, the initial calibration
  double intercept = 0.0;  // F
  // The null at power-on and after *RST: taken out of every capacitance
  // while on (the stored line's open-circuit zero).
  bool nullOn = false;
  double nullValue = 0.0;  // F
  // The calibration file; none: CALibration:STORe fails with -250, :DATE?
  // and :COUNt? answer 0.
  CalibrationMemory* memory = nullptr;
  // Runs the bring-up check on a released device; none: *TST? passes.
  std::function<SelfTestResult()> selfTest;
  // Every single reading taken, numbered from 1 over the instrument's life.
  std::function<void(const Reading&)> logReading;
  // The timing at power-on; *RST gives auto and the chip family's rate.
  Timing timing = Timing::Auto;
  double sampleRate = kFamilyDefaultRate;  // asked for with stream timing
  // Queries only: every command that would change a setting, the status or
  // the readings is refused with -203, so a shared meter cannot be
  // reconfigured under the script that set it up.
  bool readOnly = false;
};

// The meter as an SCPI instrument: runs one message at a time and returns its
// answer. Readings block until they are done; `control` abandons one (the
// client went away, or a stop signal came), which then answers the SCPI
// not-a-number and queues -410.
class Instrument {
 public:
  Instrument(DriverLibrary& library, Clock& clock, DeviceAccess& device, InstrumentSetup setup);

  // The answer to one line (without its LF): the queries' answers joined with
  // ';', or empty when nothing was asked.
  std::string Execute(std::string_view line, const SeriesControl& control);

  // What the connection noticed before the parser could: a line beyond the
  // input buffer, or a query cut off by the end of the connection.
  void ReportInputError(int code);

  // The Status Byte as the last message left it, without MAV: safe to read
  // from any thread, so that a serial poll answers at once, during a
  // reading too, as an instrument's does.
  int StatusByteNow() const { return statusByte_.load(); }

 private:
  enum class Function { Capacitance, Time };

  // The answer of one command, appended to `answer`.
  void Run(const ProgramUnit& unit, const SeriesControl& control, std::string& answer);
  // Takes SAMPle:COUNt values, each the mean of AVERage:COUNt readings
  // (not a number for a failed one), and adds them to the statistics.
  void Initiate(const SeriesControl& control);
  void TakeReadings(const SeriesControl& control);
  std::string Readings() const;
  void Reset();
  // Asks for a sample rate; a new one is measured at the next streamed reading.
  void AskSampleRate(double rate);
  // CONFigure and MEASure: the function, with one value of one reading, as
  // bench meters start a MEASure? from; a new function starts the
  // statistics afresh, since their unit changes.
  void Configure(Function function);
  // The statistics' answer for `value`; not a number while undefined.
  std::string Statistic(std::optional<double> value) const;
  // Lets the device go; its sample rate is measured again once it is back.
  void ReleaseDevice();

  DriverLibrary& library_;
  Clock& clock_;
  DeviceAccess& device_;
  InstrumentSetup setup_;
  Status status_;
  std::atomic<int> statusByte_{0};
  Function function_ = Function::Capacitance;
  int sampleCount_ = 1;
  int averageCount_ = 1;
  Timing timing_;
  // The last reading's bound (FETCh:UNCertainty?), NaN without one.
  double lastBound_ = std::numeric_limits<double>::quiet_NaN();
  // What TIM:MODE? and TIM:SRAT? answer: Auto and the family's rate as the
  // open chip resolves them.
  Timing TimingInUse();
  double RateInUse();
  // [SENSe:]CAPacitance:NULL: on, its value in F, and whether the next
  // reading becomes it.
  bool nullOn_ = false;
  double nullValue_ = 0.0;
  bool nullAuto_ = false;
  // The stored line for the chip and timing in use, where there is one.
  std::optional<CalibrationMemory::Kept> Recall();
  void StoreCalibration();
  // Measured at the first streamed reading, and kept for the next ones.
  SampleClock sampleClock_;
  std::vector<double> readings_;  // of the last INITiate, for FETCh?; NaN for a failed one
  int readingsTaken_ = 0;
  // CALCulate:AVERage: the values taken while it is on, in the function's
  // unit, since the last clear, *RST or change of function.
  bool statisticsOn_ = false;
  RunningStatistics statistics_;
  int statisticsFailures_ = 0;
};

// A number as SCPI answers it: NR3 with nine significant digits
// ("+4.69998500E-06"); NaN and infinities as +9.91E+37.
std::string Nr3(double value);

}  // namespace capmeter::scpi
