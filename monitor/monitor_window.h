#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calibration/calibration_store.h"
#include "device/device_link.h"
#include "device/driver_library.h"
#include "measurement/clock.h"
#include "measurement/reading_log.h"
#include "measurement/stream_timing.h"
#include "monitor/monitor_charts.h"
#include "monitor/monitor_readouts.h"
#include "monitor/series_tally.h"
#include "monitor/series_worker.h"
#include "monitor/start_setup.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;
class QSpinBox;
class QTimer;

namespace capmeter {

// The monitor's window: series of readings on a worker thread, shown as a
// trend chart, a histogram, running statistics and limit verdicts, and
// logged. It holds the device link for the whole run: opened by Load, reset
// and closed exactly once when the window closes or a signal ends the program.
class MonitorWindow final : public QWidget {
 public:
  static constexpr const char* kCaption = "Capacitance Monitor";
  static constexpr int kZeroReadings = 10;

  // `log`: the --log file, already open, or null.
  MonitorWindow(DriverLibrary& library, Clock& clock, ReadingLog* log, QWidget* parent = nullptr);
  ~MonitorWindow() override;

  // Where Load learns the serial number of the chip it opened, for the
  // title; empty: the driver cannot tell.
  void SetChipSerialNumber(std::function<std::string()> serialNumber);
  // What takes the capacitor off the circuit for Zero (open) and puts it
  // back after: the simulated circuit's; on a real one the user's hands.
  void SetOpenCircuit(std::function<void(bool open)> openCircuit);
  // Where Start finds m and b while none is typed: the line `store` keeps for
  // the open chip, the timing chosen and `label`. Null: none is looked for.
  void UseStoredCalibrations(const CalibrationStore* store, std::string label);
  // Opens the chip; call once before the window is first shown.
  void Load();
  // Texts for m and b in place of "0", e.g. from the command line.
  void SetInitialCalibration(std::string_view m, std::string_view b);
  // The timing and sample rate (samples a second) chosen at first.
  // A sample rate of kFamilyDefaultRate leaves it to the chip's family.
  void SetInitialTiming(Timing timing, double sampleRate);
  // On the message line; on standard error once the window is going.
  void ShowMessage(std::string_view text);
  // Ends the program on a termination signal: the series stops, the device
  // is let go, and the application leaves its loop with status 0.
  void EndOnSignal();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  // Buttons, settings, charts and readouts in their places.
  void LayOut();
  void Start();
  // The open-circuit capacitance, from kZeroReadings readings taken with the
  // line alone: kept with the stored line in use, else taken out of this
  // window's later series.
  void Zero();
  // Whether a series (`what`: "series", "zero") may be set up now: the worker
  // idle, the device open and the stored line looked up into `stored`; else
  // why not, on the message line.
  bool ReadyFor(const std::string& what, std::optional<StoredLine>& stored);
  // The stored line for `timing`, when the file is in use and m and b were
  // not typed: shown in the boxes, b with its zero taken out, and said; the
  // boxes back at 0 when there is none. False when the file cannot be used.
  bool LookUpStoredLine(Timing timing, std::optional<StoredLine>& line);
  // The settings as they stand.
  StartForm Form() const;
  // The timing chosen, auto resolved for the open chip.
  Timing ResolvedTiming();
  // Once the user has taken the capacitor off.
  void StartZero();
  void FinishZero();
  void Stop();
  void Clear();
  void Save();
  void SaveTo(const QString& path);
  void ApplyLimits();
  void SetRunning(bool running);
  Timing ChosenTiming() const;
  // The rate in the box, kFamilyDefaultRate at its lowest step.
  double AskedSampleRate() const;
  // Takes what the worker handed over; repaints unless held.
  void Collect();
  void Repaint();
  // Stops the series and closes the link, the first time only.
  void Unload();

  DriverLibrary& library_;
  Clock& clock_;
  ReadingLog* log_;
  DeviceLink link_;
  bool opened_ = false;  // the device link opened
  std::function<std::string()> chipSerialNumber_;
  SeriesWorker worker_;
  SeriesTally tally_;
  std::optional<Clock::Duration> origin_;  // elapsed time counts from here
  int nextIndex_ = 1;
  bool unloaded_ = false;
  QTimer* collector_ = nullptr;
  QPointer<QFileDialog> saveDialog_;
  const CalibrationStore* calibrations_ = nullptr;
  std::string label_;
  bool lineTyped_ = false;                   // m or b edited: the file is left alone
  std::optional<CalibrationKey> storedKey_;  // the stored line the boxes hold
  std::optional<Line> storedLine_;           // it, exactly, zero taken out
  double windowZero_ = 0.0;                  // µF, for lines not stored
  bool zeroing_ = false;
  SeriesSetup zeroSetup_;
  QPointer<QMessageBox> zeroBox_;
  std::function<void(bool)> openCircuit_;
  Timing zeroTiming_ = Timing::Poll;
  std::vector<Reading> zeroReadings_;

  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* hold_ = nullptr;
  QPushButton* clear_ = nullptr;
  QPushButton* save_ = nullptr;
  QPushButton* zero_ = nullptr;
  QSpinBox* count_ = nullptr;
  QDoubleSpinBox* interval_ = nullptr;
  QSpinBox* average_ = nullptr;
  QLineEdit* slope_ = nullptr;
  QLineEdit* intercept_ = nullptr;
  QComboBox* timing_ = nullptr;
  QDoubleSpinBox* sampleRate_ = nullptr;  // in kS/s
  QLineEdit* nominal_ = nullptr;
  QDoubleSpinBox* lowerTolerance_ = nullptr;
  QDoubleSpinBox* upperTolerance_ = nullptr;

  QLabel* message_ = nullptr;

  MonitorReadouts readouts_;
  MonitorCharts charts_;
};

}  // namespace capmeter
