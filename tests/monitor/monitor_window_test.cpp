// The monitor's window as a screen reader and the tests see it.

#include "monitor/monitor_window.h"

#include <QAbstractSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

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
