// The monitor's window as a screen reader and the tests see it.

#include "monitor/monitor_window.h"

#include <QAbstractSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>

#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"

namespace capmeter {

// The window's widget that a screen reader calls `name`.
template <typename Widget>
Widget* Named(const QWidget& window, const QString& name) {
  for (Widget* widget : window.findChildren<Widget*>()) {
    if (widget->accessibleName() == name) return widget;
  }
  return nullptr;
}

// The mean a screen reader hears, in microfarads.
double MeanShown(const QWidget& window) {
  return Named<QLabel>(window, "Mean")->text().split(' ').first().toDouble();
}

class MonitorWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void everyControlAndReadoutHasAnAccessibleName() {
    VirtualClock clock;
    SimulatedChip chip(clock);
    MonitorWindow window(chip, clock, nullptr);
    window.Load();
    // What a keyboard reaches must say what it is; a widget that hands its
    // focus on (a chart's viewport, a spin box's field) speaks through its whole.
    for (QWidget* widget : window.findChildren<QWidget*>()) {
      const bool reachable = (widget->focusPolicy() & Qt::TabFocus) != 0 &&
                             widget->focusProxy() == nullptr &&
                             qobject_cast<QAbstractSpinBox*>(widget->parentWidget()) == nullptr;
      QVERIFY2(!reachable || !widget->accessibleName().isEmpty(),
               qPrintable(QString(widget->metaObject()->className()) + " in " +
                          widget->parentWidget()->metaObject()->className()));
    }
    // The readouts, found by what a screen reader calls them.
    for (const char* name :
         {"Points", "Last point", "Mean", "Standard deviation", "Minimum", "Maximum", "Read errors",
          "Time-outs", "Passes", "Fails", "Verdict on the last reading", "Messages"}) {
      int found = 0;
      for (QLabel* label : window.findChildren<QLabel*>()) found += label->accessibleName() == name;
      QVERIFY2(found == 1, name);
    }
    // Before the first reading a statistic is one em dash, not its UTF-8 bytes.
    for (QLabel* label : window.findChildren<QLabel*>()) {
      if (label->accessibleName() == "Mean") QCOMPARE(label->text(), QString(QChar(0x2014)));
    }
  }

  // A series calibrated with a typo would chart numbers nobody asked for.
  void anMThatIsNoNumberIsRefusedBeforeStartInTheMessages() {
    VirtualClock clock;
    SimulatedChip chip(clock);
    MonitorWindow window(chip, clock, nullptr);
    window.Load();
    window.SetInitialCalibration("9,0909", "0");
    Named<QPushButton>(window, "Start")->click();
    QVERIFY(Named<QPushButton>(window, "Start")->isEnabled());
    QVERIFY2(Named<QLabel>(window, "Messages")->text().contains("Not started: m '9,0909'"),
             qPrintable(Named<QLabel>(window, "Messages")->text()));
  }

  // A line kept by capmeter-cli would otherwise be typed again at every start,
  // and a zero taken in the window would be lost with it.
  void startTakesTheStoredLineAndZeroKeepsTheOpenCircuitWithIt() {
    QTemporaryDir folder;
    const CalibrationStore store(folder.filePath("calibrations.json").toStdString());
    // 1 uF on 100k charges for 1.1 x R x C; 10 nF of stray is 1 % of it.
    const CircuitParts parts{100e3, 1e-6, 10e-9};
    const CalibrationKey key{"SIM-1", Timing::Poll, 0.0, ""};
    const double slope = 1e6 / (1.1 * parts.resistanceOhms);  // uF/s
    QVERIFY(store
                .Update([&](CalibrationFile& file) {
                  StoredLine line;
                  line.key = key;
                  line.line = {slope, 0.0};
                  file.Keep(line);
                  return std::string();
                })
                .empty());
    VirtualClock clock;
    SimulatedChip chip(clock, parts);
    // A full-speed round trip; a polled time is good to about one of them.
    const double roundTrip = 125e-6;
    chip.SetCallLatency(std::chrono::microseconds(125));
    MonitorWindow window(chip, clock, nullptr);
    window.SetChipSerialNumber([] { return std::string("SIM-1"); });
    window.UseStoredCalibrations(&store, "");
    window.SetOpenCircuit([&](bool open) {
      CircuitParts now = parts;
      if (open) now.capacitanceFarads = 0.0;
      chip.Circuit().SetParts(now);
    });
    window.SetInitialTiming(Timing::Poll, kFamilyDefaultRate);
    window.Load();
    Named<QSpinBox>(window, "Count of points, 0 for continuous")->setValue(3);
    QPushButton* start = Named<QPushButton>(window, "Start");
    const auto series = [&] {
      start->click();
      QTRY_VERIFY2_WITH_TIMEOUT(start->isEnabled(),
                                qPrintable(Named<QLabel>(window, "Messages")->text()), 30000);
    };
    series();
    QCOMPARE_GE(MeanShown(window), 1.009);  // the stray still in
    QVERIFY(Named<QLabel>(window, "Messages")->text().contains("Calibration SIM-1 poll, made"));

    Named<QPushButton>(window, "Zero")->click();
    QMessageBox* box = window.findChild<QMessageBox*>();
    QVERIFY(box != nullptr);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), 30000);
    const CalibrationStore::Loaded loaded = store.Load();
    const StoredLine* kept = loaded.contents.Find(key);
    QVERIFY(kept != nullptr && kept->zero);
    const double bound = slope * roundTrip;
    QVERIFY2(std::abs(kept->zero->microfarads - 0.01) < bound,
             qPrintable(QString::number(kept->zero->microfarads)));
    QCOMPARE(kept->zero->readings, MonitorWindow::kZeroReadings);

    Named<QPushButton>(window, "Clear")->click();
    series();
    QVERIFY2(std::abs(MeanShown(window) - 1.0) < bound,
             qPrintable(QString::number(MeanShown(window))));
  }

  // Passed over, a damaged file would leave readings uncalibrated unnoticed.
  void aCalibrationFileInDoubtRefusesStartAndNamesTheFile() {
    QTemporaryDir folder;
    const std::string path = folder.filePath("calibrations.json").toStdString();
    std::ofstream(path) << "{\"format\": \"capmeter calibrations\", \"version\": 1, \"lines\": [";
    const CalibrationStore store(path);
    VirtualClock clock;
    SimulatedChip chip(clock);
    MonitorWindow window(chip, clock, nullptr);
    window.UseStoredCalibrations(&store, "");
    window.Load();
    Named<QPushButton>(window, "Start")->click();
    QVERIFY(Named<QPushButton>(window, "Start")->isEnabled());
    QVERIFY2(Named<QLabel>(window, "Messages")->text().contains(QString::fromStdString(path)),
             qPrintable(Named<QLabel>(window, "Messages")->text()));
  }

  // Read leniently, "4,7" would judge every reading against limits around 4.
  void aNominalValueThatIsNoNumberSetsNoLimitsAndSaysSo() {
    VirtualClock clock;
    SimulatedChip chip(clock);
    MonitorWindow window(chip, clock, nullptr);
    QLineEdit* nominal = Named<QLineEdit>(window, "Nominal value, empty for no limits");
    nominal->setText("4,7");
    emit nominal->editingFinished();
    QVERIFY(
        Named<QLabel>(window, "Messages")->text().contains("No limits: the nominal value '4,7'"));
  }
};

}  // namespace capmeter

QTEST_MAIN(capmeter::MonitorWindowTest)
#include "monitor_window_test.moc"
