#include "monitor/monitor_window.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QLocale>
#include <QPushButton>
#include <QScatterSeries>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <limits>

#include "measurement/lenient_number.h"
#include "measurement/reading_text.h"
#include "ui/display.h"

namespace capmeter {

namespace {

// Readings arrive on the worker's thread; the window takes them and repaints
// this often, so even a flood of fast readings costs it little.
constexpr std::chrono::milliseconds kCollectPeriod{100};
constexpr qsizetype kMessageLines = 3;

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

QString Number(double value, bool microfarads) {
  return QLocale().toString(value, 'g', 7) + (microfarads ? " \xC2\xB5"
                                                            "F"
                                                          : " s");
}

QLabel* Readout(const QString& accessibleName) {
  auto* label = new QLabel(QStringLiteral("\xE2\x80\x94"));
  label->setAccessibleName(accessibleName);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setMinimumWidth(110);
  return label;
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

// The word and colours of the last reading against the limits: the word
// says it all, the colour only helps.
struct VerdictLook {
  QString word;
  const char* style;
};

VerdictLook LookOf(const TallyPicture& picture) {
  if (picture.lastOutcome == MeasureOutcome::ReadError ||
      picture.lastOutcome == MeasureOutcome::TimedOut) {
    return {QString::fromUtf8(OutcomeWord(*picture.lastOutcome)).toUpper(),
            "color: black; background: #f0b400;"};
  }
  switch (picture.lastVerdict) {
    case Verdict::Pass:
      return {QStringLiteral("PASS"), "color: white; background: #1a7f37;"};
    case Verdict::Fail:
      return {QStringLiteral("FAIL"), "color: white; background: #c62828;"};
    case Verdict::NoLimits:
      break;
  }
  return {picture.lastPoint ? QStringLiteral("no limits") : QStringLiteral("\xE2\x80\x94"), ""};
}

// A little room above and below, and some range even for equal values.
std::pair<double, double> Padded(double low, double high) {
  const double span = high - low;
  const double pad = span > 0.0 ? span * 0.05 : std::max(std::abs(high) * 1e-6, 1e-12);
  return {low - pad, high + pad};
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
  BuildCharts();
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
         "capmeter-cli dithers a series."));
  slope_ = new QLineEdit(QStringLiteral("0"));
  slope_->setAccessibleName(QStringLiteral("m, microfarads per second"));
  intercept_ = new QLineEdit(QStringLiteral("0"));
  intercept_->setAccessibleName(QStringLiteral("b, microfarads"));
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

  points_ = Readout(QStringLiteral("Points"));
  last_ = Readout(QStringLiteral("Last point"));
  mean_ = Readout(QStringLiteral("Mean"));
  deviation_ = Readout(QStringLiteral("Standard deviation"));
  minimum_ = Readout(QStringLiteral("Minimum"));
  maximum_ = Readout(QStringLiteral("Maximum"));
  readErrors_ = Readout(QStringLiteral("Read errors"));
  timeOuts_ = Readout(QStringLiteral("Time-outs"));
  passes_ = Readout(QStringLiteral("Passes"));
  fails_ = Readout(QStringLiteral("Fails"));
  verdict_ = Readout(QStringLiteral("Verdict on the last reading"));
  verdict_->setAlignment(Qt::AlignCenter);
  QFont bold = verdict_->font();
  bold.setBold(true);
  verdict_->setFont(bold);
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
  connect(nominal_, &QLineEdit::editingFinished, this, [this] { ApplyLimits(); });
  for (QDoubleSpinBox* box : {lowerTolerance_, upperTolerance_}) {
    connect(box, &QDoubleSpinBox::valueChanged, this, [this] { ApplyLimits(); });
  }
}

void MonitorWindow::BuildCharts() {
  trendLine_ = new QLineSeries;
  trendLine_->setName(tr("points (lowest and highest per column)"));
  failureMarks_ = new QScatterSeries;
  failureMarks_->setName(tr("read error or time-out"));
  failureMarks_->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
  failureMarks_->setMarkerSize(7.0);
  failureMarks_->setColor(QColor(0xf0, 0xb4, 0x00));
  trendChart_ = new QChart;
  trendChart_->setTitle(tr("Trend"));
  trendChart_->addSeries(trendLine_);
  trendChart_->addSeries(failureMarks_);
  trendTime_ = new QValueAxis;
  trendTime_->setTitleText(tr("elapsed time (s)"));
  trendValue_ = new QValueAxis;
  trendChart_->addAxis(trendTime_, Qt::AlignBottom);
  trendChart_->addAxis(trendValue_, Qt::AlignLeft);
  for (QXYSeries* series : std::initializer_list<QXYSeries*>{trendLine_, failureMarks_}) {
    series->attachAxis(trendTime_);
    series->attachAxis(trendValue_);
  }
  trendChart_->legend()->setAlignment(Qt::AlignBottom);

  histogramOutline_ = new QLineSeries;
  histogramArea_ = new QAreaSeries(histogramOutline_);
  histogramArea_->setName(tr("points per bin"));
  histogramChart_ = new QChart;
  histogramChart_->setTitle(tr("Histogram"));
  histogramChart_->addSeries(histogramArea_);
  histogramValue_ = new QValueAxis;
  histogramCount_ = new QValueAxis;
  histogramCount_->setTitleText(tr("points"));
  histogramCount_->setLabelFormat(QStringLiteral("%d"));
  histogramChart_->addAxis(histogramValue_, Qt::AlignBottom);
  histogramChart_->addAxis(histogramCount_, Qt::AlignLeft);
  histogramArea_->attachAxis(histogramValue_);
  histogramArea_->attachAxis(histogramCount_);
  histogramChart_->legend()->hide();

  auto* trendView = new QChartView(trendChart_);
  trendView->setAccessibleName(QStringLiteral("Trend chart"));
  trendView->setRenderHint(QPainter::Antialiasing);
  auto* histogramView = new QChartView(histogramChart_);
  histogramView->setAccessibleName(QStringLiteral("Histogram"));

  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {start_, stop_, hold_, clear_, save_}) buttons->addWidget(button);
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
  statisticsForm->addRow(tr("Points"), points_);
  statisticsForm->addRow(tr("Last"), last_);
  statisticsForm->addRow(tr("Mean"), mean_);
  statisticsForm->addRow(tr("Std. deviation"), deviation_);
  statisticsForm->addRow(tr("Minimum"), minimum_);
  statisticsForm->addRow(tr("Maximum"), maximum_);
  statisticsForm->addRow(tr("Read errors"), readErrors_);
  statisticsForm->addRow(tr("Time-outs"), timeOuts_);

  auto* limits = new QGroupBox(tr("Limits"));
  auto* limitsForm = new QFormLayout(limits);
  limitsForm->addRow(Caption(tr("&Nominal"), nominal_), nominal_);
  limitsForm->addRow(Caption(tr("Lo&wer tolerance"), lowerTolerance_), lowerTolerance_);
  limitsForm->addRow(Caption(tr("&Upper tolerance"), upperTolerance_), upperTolerance_);
  limitsForm->addRow(tr("Passes"), passes_);
  limitsForm->addRow(tr("Fails"), fails_);
  limitsForm->addRow(tr("Last"), verdict_);

  auto* side = new QVBoxLayout;
  side->addWidget(statistics);
  side->addWidget(limits);
  side->addStretch();
  auto* charts = new QVBoxLayout;
  charts->addWidget(trendView, 3);
  charts->addWidget(histogramView, 2);
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

void MonitorWindow::Load() {
  MessageLine line(*this);
  opened_ = OpenLink(link_, library_, line) == kStatusOk;
}

void MonitorWindow::SetInitialCalibration(std::string_view m, std::string_view b) {
  slope_->setText(Text(m));
  intercept_->setText(Text(b));
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

void MonitorWindow::Start() {
  if (worker_.Busy()) {
    return;
  }
  if (!opened_) {
    // Every reading would fail at once, as fast as the loop can go.
    ShowMessage("No series without the device: connect it, then restart the program.");
    return;
  }
  const int perPoint = average_->value();
  const long long points = count_->value() == 0 ? std::numeric_limits<int>::max() : count_->value();
  SeriesSetup setup;
  setup.count =
      static_cast<int>(std::min<long long>(std::numeric_limits<int>::max(), points * perPoint));
  setup.interval = std::chrono::duration_cast<Clock::Duration>(
      std::chrono::duration<double>(interval_->value()));
  // As capmeter-cli: repeated readings spread over the poll period.
  setup.dither = setup.count > 1;
  setup.seed = NewSeed();
  setup.calibration = Calibration(LenientNumber(slope_->text().toStdString()),
                                  LenientNumber(intercept_->text().toStdString()));
  tally_.BeginSeries(setup.calibration, perPoint);
  if (!origin_) {
    origin_ = clock_.Now();
  }
  const bool logging = log_ != nullptr && log_->IsOpen();
  worker_.Start(link_.lngHandle, setup, nextIndex_, logging ? log_ : nullptr);
  SetRunning(true);
  Repaint();
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
  const QString nominal = nominal_->text().trimmed();
  tally_.SetLimits(nominal.isEmpty() ? std::nullopt
                                     : std::optional(Limits::Around(
                                           LenientNumber(nominal.toStdString()),
                                           lowerTolerance_->value(), upperTolerance_->value())));
  Repaint();
}

void MonitorWindow::SetRunning(bool running) {
  start_->setEnabled(!running);
  stop_->setEnabled(running);
  for (QWidget* input :
       std::initializer_list<QWidget*>{count_, interval_, average_, slope_, intercept_}) {
    input->setEnabled(!running);
  }
  if (running) {
    collector_->start();
    stop_->setFocus();
  } else {
    collector_->stop();
    start_->setFocus();
  }
}

void MonitorWindow::Collect() {
  SeriesWorker::Mail mail = worker_.Collect();
  for (const SeriesWorker::Arrival& arrival : mail.arrivals) {
    const Clock::Duration since = arrival.at - origin_.value_or(arrival.at);
    tally_.Add(arrival.reading, std::chrono::duration<double>(since).count());
    nextIndex_ = arrival.reading.index + 1;
  }
  if (!mail.logProblem.empty()) {
    ShowMessage("Logging stopped: " + mail.logProblem +
                ". The readings stay in memory; Save writes them elsewhere.");
  }
  if (mail.gaveUp) {
    ShowMessage("Stopped after " + std::to_string(SeriesWorker::kFailuresToGiveUp) +
                " read errors in a row: is the device still connected?");
  }
  if (mail.finished) {
    worker_.Join();
    SetRunning(false);
  }
  if (!mail.arrivals.empty() && !tally_.Held()) {
    Repaint();
  }
}

void MonitorWindow::Repaint() {
  const TallyPicture& picture = tally_.Shown();
  const bool uf = picture.microfarads;
  const RunningStatistics& s = picture.points;
  const QString none = QStringLiteral("\xE2\x80\x94");
  const bool any = s.Count() > 0;
  points_->setText(QLocale().toString(static_cast<qulonglong>(s.Count())));
  last_->setText(picture.lastPoint ? Number(*picture.lastPoint, uf) : none);
  mean_->setText(any ? Number(s.Mean(), uf) : none);
  deviation_->setText(s.StandardDeviation() ? Number(*s.StandardDeviation(), uf) : none);
  minimum_->setText(any ? Number(s.Minimum(), uf) : none);
  maximum_->setText(any ? Number(s.Maximum(), uf) : none);
  readErrors_->setText(QLocale().toString(static_cast<qulonglong>(picture.readErrors)));
  timeOuts_->setText(QLocale().toString(static_cast<qulonglong>(picture.timeOuts)));
  passes_->setText(QLocale().toString(static_cast<qulonglong>(picture.passes)));
  fails_->setText(QLocale().toString(static_cast<qulonglong>(picture.fails)));
  const VerdictLook look = LookOf(picture);
  verdict_->setText(look.word);
  verdict_->setStyleSheet(QString::fromLatin1(look.style));
  RepaintCharts(picture);
}

void MonitorWindow::RepaintCharts(const TallyPicture& picture) {
  const QString unit = picture.microfarads ? tr("C (\xC2\xB5"
                                                "F)")
                                           : tr("t (s)");
  trendValue_->setTitleText(unit);
  histogramValue_->setTitleText(unit);

  QList<QPointF> line;
  QList<QPointF> marks;
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  double end = 0.0;
  for (const Trend::Column& column : picture.trend.Columns()) {
    end = column.last;
    if (column.values == 0) {
      continue;
    }
    line.append({column.Middle(), column.low});
    if (column.high != column.low) {
      line.append({column.Middle(), column.high});
    }
    low = std::min(low, column.low);
    high = std::max(high, column.high);
  }
  if (line.isEmpty()) {
    low = 0.0;
    high = 1.0;
  }
  const auto [bottom, top] = Padded(low, high);
  for (const Trend::Column& column : picture.trend.Columns()) {
    if (column.failures > 0) {
      marks.append({column.Middle(), bottom});
    }
  }
  trendLine_->replace(line);
  failureMarks_->replace(marks);
  trendTime_->setRange(0.0, std::max(end, 1.0));
  trendValue_->setRange(bottom, top);

  QList<QPointF> outline;
  std::uint64_t tallest = 1;
  const std::vector<Histogram::Bin> bins = picture.histogram.Occupied();
  for (const Histogram::Bin& bin : bins) {
    const auto count = static_cast<double>(bin.count);
    outline.append({bin.lower, 0.0});
    outline.append({bin.lower, count});
    outline.append({bin.upper, count});
    outline.append({bin.upper, 0.0});
    tallest = std::max(tallest, bin.count);
  }
  histogramOutline_->replace(outline);
  if (!bins.empty()) {
    histogramValue_->setRange(bins.front().lower, bins.back().upper);
  } else {
    histogramValue_->setRange(0.0, 1.0);
  }
  histogramCount_->setRange(0.0, static_cast<double>(tallest));
  histogramCount_->applyNiceNumbers();
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
