#include "monitor/monitor_window.h"

#include <QChartView>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <iostream>
#include <limits>

#include "calibration/open_chip.h"
#include "measurement/reading_text.h"
#include "measurement/result_text.h"
#include "measurement/si_value.h"
#include "ui/display.h"

namespace capmeter {

namespace {

// Readings arrive on the worker's thread; the window takes them and repaints
// this often, so even a flood of fast readings costs it little.
constexpr std::chrono::milliseconds kCollectPeriod{100};
constexpr qsizetype kMessageLines = 3;
// The sample-rate box counts in kS/s.
constexpr double kSamplesPerKilo = 1e3;

// The device link's messages go to the window's message line.
class MessageLine final : public Display {
 public:
  explicit MessageLine(MonitorWindow& window) : window_(window) {}
  void SetCaption(LabelSlot, std::string_view) override {}
  void RepaintNow(LabelSlot) override {}
  std::string ReadText(TextSlot) override { return {}; }
  void ShowMessage(std::string_view text) override { window_.ShowMessage(text); }

 private:
  MonitorWindow& window_;
};

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A label naming the control it belongs to, with a mnemonic that moves there.
QLabel* Caption(const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text);
  label->setBuddy(buddy);
  return label;
}

QPushButton* Button(const QString& text, const QString& name) {
  auto* button = new QPushButton(text);
  button->setAccessibleName(name);
  return button;
}

}  // namespace

MonitorWindow::MonitorWindow(DriverLibrary& library, Clock& clock, ReadingLog* log, QWidget* parent)
    : QWidget(parent),
      library_(library),
      clock_(clock),
      log_(log),
      worker_(library, clock),
      // As many trend columns as the screen is wide: more would not show.
      tally_(static_cast<std::size_t>(QGuiApplication::primaryScreen()->size().width())) {
  setObjectName(QStringLiteral("MonitorWindow"));
  setWindowTitle(QString::fromUtf8(kCaption));
  BuildControls();
  LayOut();
  collector_ = new QTimer(this);
  collector_->setInterval(kCollectPeriod);
  connect(collector_, &QTimer::timeout, this, [this] { Collect(); });
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { Unload(); });
  SetRunning(false);
  Repaint();
  if (log_ != nullptr) {
    ShowMessage("Logging every reading to " + log_->Path() + ".");
  }
}

MonitorWindow::~MonitorWindow() {
  Unload();
}

void MonitorWindow::BuildControls() {
  start_ = Button(tr("&Start"), QStringLiteral("Start"));
  stop_ = Button(tr("S&top"), QStringLiteral("Stop"));
  hold_ = Button(tr("&Hold"), QStringLiteral("Hold"));
  hold_->setCheckable(true);
  clear_ = Button(tr("C&lear"), QStringLiteral("Clear"));
  save_ = Button(tr("Sa&ve"), QStringLiteral("Save"));
  zero_ = Button(tr("&Zero"), QStringLiteral("Zero"));
  zero_->setToolTip(
      tr("With nothing connected to the circuit: the mean of ten readings is its own "
         "capacitance, taken out of later series and kept with the stored line in use."));
  start_->setDefault(true);

  count_ = new QSpinBox;
  count_->setRange(0, std::numeric_limits<int>::max());
  count_->setSpecialValueText(tr("continuous"));
  count_->setAccessibleName(QStringLiteral("Count of points, 0 for continuous"));
  interval_ = new QDoubleSpinBox;
  interval_->setRange(0.0, 3600.0);
  interval_->setDecimals(3);
  interval_->setSuffix(QStringLiteral(" s"));
  interval_->setAccessibleName(QStringLiteral("Interval between readings in seconds"));
  interval_->setToolTip(
      tr("From the start of one reading to the start of the next; a point "
         "of several readings takes as many intervals."));
  average_ = new QSpinBox;
  average_->setRange(1, 10000);
  average_->setAccessibleName(QStringLiteral("Readings averaged per point"));
  average_->setToolTip(
      tr("Each point is the mean of this many readings, dithered as "
         "capmeter-cli dithers a series of polled readings."));
  slope_ = new QLineEdit(QStringLiteral("0"));
  slope_->setAccessibleName(QStringLiteral("m, microfarads per second"));
  intercept_ = new QLineEdit(QStringLiteral("0"));
  intercept_->setAccessibleName(QStringLiteral("b, microfarads"));
  timing_ = new QComboBox;
  for (const Timing timing : {Timing::Auto, Timing::Poll, Timing::Stream}) {
    timing_->addItem(Text(TimingName(timing)), static_cast<int>(timing));
  }
  timing_->setAccessibleName(QStringLiteral("Timing, auto, poll or stream"));
  timing_->setToolTip(
      tr("auto: stream where the chip's clock can be trusted, else poll. "
         "poll: each reading timed by host polls of the pins, to one round trip. "
         "stream: by counting the chip's own samples of its pins, to two sample periods."));
  sampleRate_ = new QDoubleSpinBox;
  // One step below the slowest rate stands for the chip family's own.
  sampleRate_->setRange(kSlowestSampleRate / kSamplesPerKilo - 0.1,
                        kFastestSampleRate / kSamplesPerKilo);
  sampleRate_->setSpecialValueText(tr("chip's default"));
  sampleRate_->setDecimals(1);
  sampleRate_->setSingleStep(100.0);
  sampleRate_->setValue(sampleRate_->minimum());
  sampleRate_->setSuffix(QStringLiteral(" kS/s"));
  sampleRate_->setAccessibleName(QStringLiteral("Sample rate in kilosamples a second"));
  sampleRate_->setToolTip(
      tr("With stream timing: the rate to ask of the chip's sample clock; the rate it "
         "gives is measured before each series. 500 kS/s is safer on a full-speed chip."));
  for (QLineEdit* edit : {slope_, intercept_}) {
    edit->setMinimumWidth(100);
    edit->setMaximumWidth(160);
  }

  nominal_ = new QLineEdit;
  nominal_->setPlaceholderText(tr("none"));
  nominal_->setAccessibleName(QStringLiteral("Nominal value, empty for no limits"));
  nominal_->setToolTip(
      tr("In the unit of the points: microfarads, or seconds while m is 0. "
         "Pass and fail counts start again when the limits change."));
  lowerTolerance_ = new QDoubleSpinBox;
  upperTolerance_ = new QDoubleSpinBox;
  for (QDoubleSpinBox* box : {lowerTolerance_, upperTolerance_}) {
    box->setRange(0.0, 1000.0);
    box->setValue(10.0);
    box->setSuffix(QStringLiteral(" %"));
  }
  lowerTolerance_->setAccessibleName(QStringLiteral("Lower tolerance in percent"));
  upperTolerance_->setAccessibleName(QStringLiteral("Upper tolerance in percent"));

  message_ = new QLabel;
  message_->setAccessibleName(QStringLiteral("Messages"));
  message_->setWordWrap(true);
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  connect(start_, &QPushButton::clicked, this, [this] { Start(); });
  connect(stop_, &QPushButton::clicked, this, [this] { Stop(); });
  connect(hold_, &QPushButton::toggled, this, [this](bool held) {
    tally_.SetHold(held);
    Repaint();
  });
  connect(clear_, &QPushButton::clicked, this, [this] { Clear(); });
  connect(save_, &QPushButton::clicked, this, [this] { Save(); });
  connect(zero_, &QPushButton::clicked, this, [this] { Zero(); });
  for (QLineEdit* edit : {slope_, intercept_}) {
    // A line typed is the user's: the calibration file no longer speaks for it.
    connect(edit, &QLineEdit::textEdited, this, [this] {
      lineTyped_ = true;
      storedKey_.reset();
      storedLine_.reset();
    });
  }
  connect(timing_, &QComboBox::currentIndexChanged, this,
          [this] { sampleRate_->setEnabled(ChosenTiming() != Timing::Poll); });
  connect(nominal_, &QLineEdit::editingFinished, this, [this] { ApplyLimits(); });
  for (QDoubleSpinBox* box : {lowerTolerance_, upperTolerance_}) {
    connect(box, &QDoubleSpinBox::valueChanged, this, [this] { ApplyLimits(); });
  }
}

void MonitorWindow::LayOut() {
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {start_, stop_, hold_, clear_, save_, zero_}) {
    buttons->addWidget(button);
  }
  // Beside the buttons, where the settings row has no room left.
  buttons->addSpacing(24);
  buttons->addWidget(Caption(tr("Timin&g"), timing_));
  buttons->addWidget(timing_);
  buttons->addWidget(Caption(tr("Sample &rate"), sampleRate_));
  buttons->addWidget(sampleRate_);
  buttons->addStretch();
  auto* settings = new QHBoxLayout;
  settings->addWidget(Caption(tr("C&ount"), count_));
  settings->addWidget(count_);
  settings->addWidget(Caption(tr("&Interval"), interval_));
  settings->addWidget(interval_);
  settings->addWidget(Caption(tr("&Average"), average_));
  settings->addWidget(average_);
  settings->addSpacing(12);
  settings->addWidget(Caption(tr("&m"), slope_));
  settings->addWidget(slope_);
  settings->addWidget(Caption(tr("&b"), intercept_));
  settings->addWidget(intercept_);
  settings->addStretch();

  auto* statistics = new QGroupBox(tr("Statistics"));
  auto* statisticsForm = new QFormLayout(statistics);
  readouts_.AddStatisticsRows(*statisticsForm);

  auto* limits = new QGroupBox(tr("Limits"));
  auto* limitsForm = new QFormLayout(limits);
  limitsForm->addRow(Caption(tr("&Nominal"), nominal_), nominal_);
  limitsForm->addRow(Caption(tr("Lo&wer tolerance"), lowerTolerance_), lowerTolerance_);
  limitsForm->addRow(Caption(tr("&Upper tolerance"), upperTolerance_), upperTolerance_);
  readouts_.AddVerdictRows(*limitsForm);

  auto* side = new QVBoxLayout;
  side->addWidget(statistics);
  side->addWidget(limits);
  side->addStretch();
  auto* charts = new QVBoxLayout;
  charts->addWidget(charts_.TrendView(), 3);
  charts->addWidget(charts_.HistogramView(), 2);
  auto* middle = new QHBoxLayout;
  middle->addLayout(charts, 1);
  middle->addLayout(side);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addLayout(settings);
  layout->addLayout(middle, 1);
  layout->addWidget(message_);
  resize(1000, 700);
}

void MonitorWindow::SetChipSerialNumber(std::function<std::string()> serialNumber) {
  chipSerialNumber_ = std::move(serialNumber);
}

void MonitorWindow::SetOpenCircuit(std::function<void(bool)> openCircuit) {
  openCircuit_ = std::move(openCircuit);
}

void MonitorWindow::UseStoredCalibrations(const CalibrationStore* store, std::string label) {
  calibrations_ = store;
  label_ = std::move(label);
}

void MonitorWindow::Load() {
  MessageLine line(*this);
  opened_ = OpenLink(link_, library_, line) == kStatusOk;
  // Two meters on one computer are told apart by their chips.
  if (opened_ && chipSerialNumber_) {
    if (const std::string serial = chipSerialNumber_(); !serial.empty()) {
      setWindowTitle(QString::fromUtf8(kCaption) + " \u2014 " + Text(serial));
    }
  }
}

void MonitorWindow::SetInitialCalibration(std::string_view m, std::string_view b) {
  slope_->setText(Text(m));
  intercept_->setText(Text(b));
}

void MonitorWindow::SetInitialTiming(Timing timing, double sampleRate) {
  timing_->setCurrentIndex(timing_->findData(static_cast<int>(timing)));
  sampleRate_->setValue(sampleRate > 0.0 ? sampleRate / kSamplesPerKilo : sampleRate_->minimum());
}

void MonitorWindow::ShowMessage(std::string_view text) {
  if (unloaded_) {
    std::cerr << text << std::endl;
    return;
  }
  // The last few stay: a failed library load is followed by the failed open.
  QStringList lines = message_->text().split('\n', Qt::SkipEmptyParts);
  lines.append(Text(text));
  message_->setText(lines.mid(std::max<qsizetype>(0, lines.size() - kMessageLines)).join('\n'));
}

bool MonitorWindow::ReadyFor(const std::string& what, std::optional<StoredLine>& stored) {
  if (worker_.Busy()) {
    return false;
  }
  if (!opened_) {
    // Every reading would fail at once, as fast as the loop can go.
    ShowMessage("No " + what + " without the device: connect it, then restart the program.");
    return false;
  }
  return LookUpStoredLine(ChosenTiming(), stored);
}

void MonitorWindow::Start() {
  std::optional<StoredLine> stored;
  if (!ReadyFor("series", stored)) {
    return;
  }
  StartSetup setup = SetupFor(Form());
  if (!setup.refusal.empty()) {
    ShowMessage(setup.refusal);
    return;
  }
  if (storedLine_) {
    setup.series.calibration = *storedLine_;  // exactly, not as the boxes round it
  } else if (windowZero_ != 0.0 && setup.series.calibration.slope != 0.0) {
    setup.series.calibration.intercept -= windowZero_;
    ShowMessage("The open-circuit zero of " + ZeroText(windowZero_) + " is taken out.");
  }
  tally_.BeginSeries(setup.series.calibration, setup.readingsPerPoint);
  if (!origin_) {
    origin_ = clock_.Now();
  }
  const bool logging = log_ != nullptr && log_->IsOpen();
  worker_.Start(link_.lngHandle, setup.series, nextIndex_, logging ? log_ : nullptr);
  SetRunning(true);
  Repaint();
}

StartForm MonitorWindow::Form() const {
  return {count_->value(),
          interval_->value(),
          average_->value(),
          slope_->text().toStdString(),
          intercept_->text().toStdString(),
          ChosenTiming(),
          AskedSampleRate()};
}

Timing MonitorWindow::ResolvedTiming() {
  const Timing chosen = ChosenTiming();
  return chosen == Timing::Auto ? ChooseTiming(chosen, link_.lngHandle, library_).timing : chosen;
}

bool MonitorWindow::LookUpStoredLine(Timing timing, std::optional<StoredLine>& line) {
  if (calibrations_ == nullptr || lineTyped_) {
    return true;
  }
  const CalibrationStore::Loaded loaded = calibrations_->Load();
  if (!loaded.problem.empty()) {
    ShowMessage(loaded.problem +
                "; it is left as it is. Move it away or mend it, or start the program with "
                "--no-calibration.");
    return false;
  }
  storedKey_.reset();
  storedLine_.reset();
  const std::string serial = chipSerialNumber_ ? chipSerialNumber_() : std::string();
  if (!loaded.contents.lines.empty() && !serial.empty()) {
    if (timing == Timing::Auto) {
      timing = ResolvedTiming();
    }
    const CalibrationKey key =
        KeyForChip(serial, timing, AskedSampleRate(), label_, link_.lngHandle, library_);
    const StoredLineFound found = FindForChip(loaded.contents, key);
    if (!found.said.empty()) {
      std::string said = found.said;
      said[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(said[0])));
      ShowMessage(said + ".");
    }
    if (found.line != nullptr) {
      line = *found.line;
      storedKey_ = key;
      storedLine_ = found.line->InUse();
    }
  }
  slope_->setText(Text(storedLine_ ? BoxText(storedLine_->slope) : std::string("0")));
  intercept_->setText(Text(storedLine_ ? BoxText(storedLine_->intercept) : std::string("0")));
  return true;
}

void MonitorWindow::Zero() {
  std::optional<StoredLine> stored;
  if (!ReadyFor("zero", stored)) {
    return;
  }
  StartForm form = Form();
  form.count = kZeroReadings;
  form.average = 1;
  form.intervalSeconds = 0.0;
  StartSetup setup = SetupFor(form);
  if (!setup.refusal.empty()) {
    ShowMessage(setup.refusal);
    return;
  }
  if (stored) {
    setup.series.calibration = stored->line;  // the line alone, without its old zero
  }
  if (setup.series.calibration.slope == 0.0) {
    ShowMessage(
        "No zero without a line: with m at 0 readings are times only. Calibrate the meter, or "
        "type m and b.");
    return;
  }
  zeroSetup_ = setup.series;
  zeroTiming_ = ResolvedTiming();
  if (zeroBox_) {
    zeroBox_->raise();
    return;
  }
  // Not exec(): no second event loop for a signal to end in.
  zeroBox_ = new QMessageBox(QMessageBox::Question, QString::fromUtf8(kCaption),
                             tr("Take the capacitor off the circuit, leave the wiring as it is, "
                                "then press OK."),
                             QMessageBox::Ok | QMessageBox::Cancel, this);
  zeroBox_->setAttribute(Qt::WA_DeleteOnClose);
  connect(zeroBox_, &QMessageBox::accepted, this, [this] { StartZero(); });
  zeroBox_->open();
}

void MonitorWindow::StartZero() {
  if (worker_.Busy() || unloaded_) {
    return;
  }
  if (openCircuit_) {
    openCircuit_(true);
  }
  zeroing_ = true;
  zeroReadings_.clear();
  ShowMessage("Zero: " + std::to_string(kZeroReadings) +
              " readings of the circuit with nothing connected to it.");
  worker_.Start(link_.lngHandle, zeroSetup_, 1, nullptr);
  SetRunning(true);
}

void MonitorWindow::FinishZero() {
  zeroing_ = false;
  if (openCircuit_) {
    openCircuit_(false);
  }
  const ZeroTaken taken = TakeZero(zeroReadings_, kZeroReadings, zeroTiming_,
                                   UtcTimeText(std::chrono::system_clock::now()));
  if (!taken.zero) {
    ShowMessage("No zero: " + taken.refusal + ".");
    return;
  }
  const std::string value = ZeroText(taken.zero->microfarads);
  if (storedKey_ && calibrations_ != nullptr) {
    if (const std::string problem = KeepZero(*calibrations_, *storedKey_, taken.zero);
        !problem.empty()) {
      ShowMessage("The zero was not kept: " + problem + ".");
      return;
    }
    ShowMessage("Open-circuit capacitance: " + value + ", kept with the calibration " +
                KeyText(*storedKey_) + "; later series take it out.");
    return;
  }
  windowZero_ = taken.zero->microfarads;
  ShowMessage("Open-circuit capacitance: " + value + "; later series in this window take it out.");
}

void MonitorWindow::Stop() {
  worker_.RequestStop();
}

void MonitorWindow::Clear() {
  tally_.Clear();
  origin_.reset();
  if (worker_.Busy()) {
    origin_ = clock_.Now();
  }
  Repaint();
}

void MonitorWindow::Save() {
  if (saveDialog_) {
    saveDialog_->raise();
    return;
  }
  // Not exec(): no second event loop for a signal to end in.
  saveDialog_ = new QFileDialog(this, tr("Save the readings"), QString(), tr("CSV files (*.csv)"));
  saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
  saveDialog_->setDefaultSuffix(QStringLiteral("csv"));
  saveDialog_->setAttribute(Qt::WA_DeleteOnClose);
  connect(saveDialog_, &QFileDialog::fileSelected, this,
          [this](const QString& path) { SaveTo(path); });
  saveDialog_->open();
}

void MonitorWindow::SaveTo(const QString& path) {
  ReadingLog file;
  bool written = file.Open(path.toStdString());
  tally_.Kept().ForEach([&](const Reading& reading) { written = written && file.Write(reading); });
  ShowMessage(written ? "Saved " + std::to_string(tally_.Kept().Size()) + " readings to " +
                            path.toStdString() + "."
                      : "Not saved: " + file.Problem() + ".");
}

void MonitorWindow::ApplyLimits() {
  const std::string nominal = nominal_->text().trimmed().toStdString();
  const std::optional<double> value = ParseNumber(nominal);
  if (!nominal.empty() && !value) {
    ShowMessage("No limits: the nominal value '" + nominal +
                "' is not a number such as 4.7: " + NumberProblem(nominal) + ".");
  }
  tally_.SetLimits(value ? std::optional(Limits::Around(*value, lowerTolerance_->value(),
                                                        upperTolerance_->value()))
                         : std::nullopt);
  Repaint();
}

void MonitorWindow::SetRunning(bool running) {
  start_->setEnabled(!running);
  zero_->setEnabled(!running);
  stop_->setEnabled(running);
  for (QWidget* input :
       std::initializer_list<QWidget*>{count_, interval_, average_, slope_, intercept_, timing_}) {
    input->setEnabled(!running);
  }
  sampleRate_->setEnabled(!running && ChosenTiming() != Timing::Poll);
  if (running) {
    collector_->start();
    stop_->setFocus();
  } else {
    collector_->stop();
    start_->setFocus();
  }
}

double MonitorWindow::AskedSampleRate() const {
  return sampleRate_->value() == sampleRate_->minimum() ? kFamilyDefaultRate
                                                        : sampleRate_->value() * kSamplesPerKilo;
}

Timing MonitorWindow::ChosenTiming() const {
  return static_cast<Timing>(timing_->currentData().toInt());
}

void MonitorWindow::Collect() {
  SeriesWorker::Mail mail = worker_.Collect();
  for (const SeriesWorker::Arrival& arrival : mail.arrivals) {
    if (zeroing_) {
      zeroReadings_.push_back(arrival.reading);
      continue;
    }
    const Clock::Duration since = arrival.at - origin_.value_or(arrival.at);
    tally_.Add(arrival.reading, ToSeconds(since));
    nextIndex_ = arrival.reading.index + 1;
  }
  if (!mail.timingChosen.empty()) {
    ShowMessage("Readings by " + mail.timingChosen + ".");
  }
  if (mail.sampleRate > 0.0) {
    ShowMessage("Stream timing at " +
                QString::number(mail.sampleRate / kSamplesPerKilo, 'f', 3).toStdString() +
                " kS/s, the chip's sample clock as measured against the host's.");
  }
  if (!mail.logProblem.empty()) {
    ShowMessage("Logging stopped: " + mail.logProblem +
                ". The readings stay in memory; Save writes them elsewhere.");
  }
  if (mail.gaveUp) {
    ShowMessage("Stopped after " + std::to_string(SeriesWorker::kFailuresToGiveUp) +
                " read errors in a row (the last: " + mail.lastFailure +
                "): is the device still connected?");
  }
  if (mail.finished) {
    worker_.Join();
    SetRunning(false);
    if (zeroing_) {
      FinishZero();
    }
  }
  if (!mail.arrivals.empty() && !tally_.Held()) {
    Repaint();
  }
}

void MonitorWindow::Repaint() {
  const TallyPicture& picture = tally_.Shown();
  readouts_.Show(picture);
  charts_.Repaint(picture);
}

void MonitorWindow::closeEvent(QCloseEvent* event) {
  Unload();
  event->accept();
}

void MonitorWindow::EndOnSignal() {
  Unload();
  if (saveDialog_) {
    saveDialog_->reject();
  }
  if (zeroBox_) {
    zeroBox_->reject();
  }
  hide();
  QCoreApplication::exit(0);
}

void MonitorWindow::Unload() {
  if (unloaded_) {
    return;
  }
  // From here on messages go to standard error: the window is going away.
  unloaded_ = true;
  collector_->stop();
  worker_.RequestStop();
  worker_.Join();
  MessageLine line(*this);
  CloseLink(link_, library_, line);
}

}  // namespace capmeter
