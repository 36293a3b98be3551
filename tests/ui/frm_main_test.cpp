#include "ui/frm_main.h"

#include <QClipboard>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <csignal>
#include <iostream>
#include <memory>
#include <sstream>

#include "device/link_messages.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "startup/program_icon.h"
#include "startup/termination_signals.h"
#include "tests/support/forwarding_driver.h"
#include "tests/support/recording_driver.h"
#include "tests/ui/message_box_watcher.h"
#include "ui/fitting_label.h"

namespace capmeter {

using testing::EventLog;
using testing::MessageBoxWatcher;
using testing::RecordingDriver;

namespace {

// The window on the simulated circuit in virtual time (D1 high for 0.517 s,
// read every 100 us), with every driver call recorded.
struct Meter {
  Meter() {
    chip.SetCallLatency(std::chrono::microseconds(100));
    watcher.Watch(&window);
  }
  void Start() {
    window.Load();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
  }
  QString Caption(const char* name) const { return window.findChild<QLabel*>(name)->text(); }
  QLineEdit* TextBox(const char* name) { return window.findChild<QLineEdit*>(name); }
  void PressSample() {
    QTest::mouseClick(window.findChild<QPushButton*>("cmdSample"), Qt::LeftButton);
  }
  int Count(const QString& call) const {
    int calls = 0;
    for (const std::string& entry : log) calls += QString::fromStdString(entry).startsWith(call);
    return calls;
  }

  VirtualClock clock;
  SimulatedChip chip{clock};
  EventLog log;
  RecordingDriver driver{chip, log};
  MessageBoxWatcher watcher;
  frmMain window{driver, clock};
};

// Records the text a label showed each time it was actually painted.
class PaintSpy : public QObject {
 public:
  explicit PaintSpy(QLabel* label) : label_(label) { label->installEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == label_ && event->type() == QEvent::Paint) painted << label_->text();
    return false;
  }
  QStringList painted;

 private:
  QLabel* label_;
};

// What the program writes to standard error while it lives.
class StandardErrorCapture {
 public:
  StandardErrorCapture() : earlier_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~StandardErrorCapture() { std::cerr.rdbuf(earlier_); }
  QString Text() const { return QString::fromStdString(text_.str()); }

 private:
  std::ostringstream text_;
  std::streambuf* earlier_;
};

// Whether any pixel of `column` (all columns when -1) is dark, i.e. text.
bool HasInk(const QImage& image, int column = -1) {
  for (int x = 0; x < image.width(); ++x) {
    if (column >= 0 && x != column) continue;
    for (int y = 0; y < image.height(); ++y) {
      if (qGray(image.pixel(x, y)) < 128) return true;
    }
  }
  return false;
}

// Runs a check at the first bit-bang set-up, i.e. while the measurement
// holds the thread.
class InterceptingDriver final : public testing::ForwardingDriver {
 public:
  InterceptingDriver(DriverLibrary& inner, std::function<void()> atSetUp)
      : ForwardingDriver(inner), atSetUp_(std::move(atSetUp)) {}
  FT_STATUS FT_SetBitMode(FT_HANDLE handle, std::uint8_t mask, std::uint8_t enable) override {
    if (enable != 0 && atSetUp_) std::exchange(atSetUp_, nullptr)();
    return inner_.FT_SetBitMode(handle, mask, enable);
  }

 private:
  std::function<void()> atSetUp_;
};

}  // namespace

class FrmMainTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    QLocale::setDefault(QLocale::c());
    // Signals ignored on entry would stay ignored.
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
  }

  void controlsSitAtTheirTwipsPositions_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    auto row = [](const char* name, int l, int t, int w, int h) {
      QTest::newRow(name) << QString(name) << QRect(l, t, w, h);
    };
    row("Label1", 240, 480, 1695, 255);
    row("lblTime", 360, 720, 1455, 375);
    row("cmdSample", 600, 1320, 975, 495);
    row("Label6", 2760, 600, 1575, 255);
    row("Label4", 3000, 960, 375, 255);
    row("txtM", 3480, 840, 735, 375);
    row("Label5", 3000, 1440, 375, 255);
    row("txtB", 3480, 1320, 735, 375);
    row("lbl2", 5280, 600, 1455, 255);
    row("lblCapacitance", 5280, 840, 1455, 375);
    // The frame's sides, one pixel wide, from (2640, 480) to (4440, 1800).
    row("Line4", 2640, 480, 1800 + 15, 15);
    row("Line3", 4440, 480, 15, 1320 + 15);
    row("Line2", 2640, 1800, 1800 + 15, 15);
    row("Line1", 2640, 480, 15, 1320 + 15);
  }
  void controlsSitAtTheirTwipsPositions() {
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    Meter meter;
    QCOMPARE(meter.window.logicalDpiX(), 96);
    auto* control = meter.window.findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
  }

  void windowHasItsCaptionAndAFixedClientArea() {
    Meter meter;
    QCOMPARE(meter.window.windowTitle(), QString("Capacitance Meter over USB"));
    QCOMPARE(meter.window.size(), QSize(7170 / 15, 2055 / 15));
    QCOMPARE(meter.window.minimumSize(), meter.window.maximumSize());
  }

  void fontsAndDisplayColours() {
    Meter meter;
    for (auto [name, points] :
         {std::pair{"Label4", 9.75}, {"Label5", 9.75}, {"lblCapacitance", 13.5}}) {
      const QFont font = meter.window.findChild<QLabel*>(name)->font();
      QCOMPARE(font.family(), QString("MS Sans Serif"));
      QCOMPARE(font.pointSizeF(), points);
      QVERIFY(!font.bold() && !font.italic());
    }
    for (const char* name : {"lblTime", "lblCapacitance"}) {
      auto* label = meter.window.findChild<QLabel*>(name);
      QVERIFY(label->autoFillBackground());
      QCOMPARE(label->palette().color(QPalette::Window), label->palette().color(QPalette::Base));
      QCOMPARE(label->text(), QString());
    }
  }

  void focusStartsOnSampleAndTabCyclesThroughTheThreeInputs() {
    Meter meter;
    meter.Start();
    QApplication::setActiveWindow(&meter.window);
    QVERIFY(QTest::qWaitForWindowActive(&meter.window));
    QStringList order;
    for (int i = 0; i < 4; ++i) {
      order << QApplication::focusWidget()->objectName();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(order, QStringList({"cmdSample", "txtM", "txtB", "cmdSample"}));

    QStringList focusable;
    for (auto* child : meter.window.findChildren<QWidget*>()) {
      if (child->focusPolicy() != Qt::NoFocus) focusable << child->objectName();
    }
    focusable.sort();
    QCOMPARE(focusable, QStringList({"cmdSample", "txtB", "txtM"}));
    auto* sample = meter.window.findChild<QPushButton*>("cmdSample");
    QVERIFY(!sample->isDefault() && !sample->autoDefault());
  }

  void spaceRightAfterStartPressesSample() {
    Meter meter;
    meter.Start();
    QApplication::setActiveWindow(&meter.window);
    QVERIFY(QTest::qWaitForWindowActive(&meter.window));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(meter.Caption("lblTime").startsWith("0.51"));
    QCOMPARE(meter.Caption("lblCapacitance"), QString("No Data!"));
    QCOMPARE(meter.TextBox("txtM")->text(), QString("0"));
    QCOMPARE(meter.TextBox("txtB")->text(), QString("0"));
  }

  void openMessageStandsAloneBeforeTheWindowShows_data() {
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("message");
    QTest::newRow("device") << true << QString("Device opened.");
    QTest::newRow("no device") << false
                               << QString(
                                      "Error: Could not open the device.  Check the USB cable "
                                      "and power connection, then restart program.");
  }
  void openMessageStandsAloneBeforeTheWindowShows() {
    QFETCH(bool, connected);
    QFETCH(QString, message);
    Meter meter;
    meter.chip.SetDeviceConnected(connected);
    meter.Start();
    QCOMPARE(meter.watcher.Texts(), QStringList{message});
    const auto& box = meter.watcher.seen.front();
    QVERIFY(!box.windowVisible && !box.hasParent);
    QCOMPARE(box.title, QString("Capacitance Meter"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
  }

  void closingShowsTheExitMessagesOverTheWindowAndRunsCloseLinkOnce_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<QStringList>("messages");
    using namespace link_messages;
    auto q = [](std::string_view text) { return QString::fromUtf8(text.data(), text.size()); };
    QTest::newRow("normal") << 0 << QStringList{q(kOpened), q(kClosed)};
    QTest::newRow("no device") << 1
                               << QStringList{q(kOpenFailed), q(kResetFailed), q(kCloseFailed)};
    QTest::newRow("reset fails") << 2 << QStringList{q(kOpened), q(kResetFailed), q(kClosed)};
    QTest::newRow("close fails") << 3 << QStringList{q(kOpened), q(kCloseFailed)};
  }
  void closingShowsTheExitMessagesOverTheWindowAndRunsCloseLinkOnce() {
    QFETCH(int, fault);
    QFETCH(QStringList, messages);
    Meter meter;
    meter.chip.SetDeviceConnected(fault != 1);
    meter.chip.SetBitBangResetFails(fault == 2);
    meter.chip.SetCloseFails(fault == 3);
    meter.Start();

    QVERIFY(meter.window.close());
    QVERIFY(!meter.window.isVisible());
    QCOMPARE(meter.watcher.Texts(), messages);
    for (std::size_t i = 1; i < meter.watcher.seen.size(); ++i) {
      QVERIFY(meter.watcher.seen[i].hasParent && meter.watcher.seen[i].windowVisible);
    }
    // Closing again, or the application quitting, does not run it twice.
    meter.window.show();
    meter.window.close();
    QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection);
    QCOMPARE(meter.Count("FT_Close"), 1);
    QCOMPARE(meter.Count("FT_SetBitMode mask=00 enable=00"), 1);
  }

  void quittingTheApplicationRunsCloseLink() {
    Meter meter;
    meter.Start();
    QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection);
    QCOMPARE(meter.watcher.Texts(), QStringList({"Device opened.", "Device closed"}));
  }

  void processingIsPaintedWhileTheMeasurementHoldsTheThread() {
    VirtualClock clock;
    SimulatedChip chip(clock);
    chip.SetCallLatency(std::chrono::microseconds(100));
    QStringList paintedAtSetUp;
    std::unique_ptr<PaintSpy> spy;
    InterceptingDriver driver(chip, [&] { paintedAtSetUp = spy->painted; });
    MessageBoxWatcher watcher;
    frmMain window(driver, clock);
    window.Load();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    spy = std::make_unique<PaintSpy>(window.findChild<QLabel*>("lblTime"));

    QTest::mouseClick(window.findChild<QPushButton*>("cmdSample"), Qt::LeftButton);

    QCOMPARE(paintedAtSetUp, QStringList{"Processing!"});
    QVERIFY(window.findChild<QLabel*>("lblTime")->text().startsWith("0.51"));
  }

  void calibrationEditsTakeEffectAtTheNextPress() {
    Meter meter;
    meter.Start();
    meter.PressSample();
    QCOMPARE(meter.Caption("lblCapacitance"), QString("No Data!"));
    const double t = meter.Caption("lblTime").toDouble();
    QVERIFY(t >= 0.5168 && t <= 0.5171);  // within one 100 us poll of 1.1 RC

    meter.TextBox("txtM")->setText("9.0909");
    QCOMPARE(meter.Caption("lblCapacitance"), QString("No Data!"));  // nothing until pressed
    meter.PressSample();
    QVERIFY(qAbs(meter.Caption("lblCapacitance").toDouble() - 4.7) < 0.002);

    meter.TextBox("txtB")->setText("1");
    meter.PressSample();
    QVERIFY(qAbs(meter.Caption("lblCapacitance").toDouble() - 5.7) < 0.002);
  }

  void initialCalibrationTextsAreReadAtEachSampleLikeTypedOnes() {
    Meter meter;
    QCOMPARE(meter.TextBox("txtM")->text(), QString("0"));  // as before, unless given
    QCOMPARE(meter.TextBox("txtB")->text(), QString("0"));
    meter.window.SetInitialCalibration("9.0909", "1e-3 µF");
    meter.Start();
    QCOMPARE(meter.TextBox("txtM")->text(), QString("9.0909"));
    QCOMPARE(meter.TextBox("txtB")->text(), QString::fromUtf8("1e-3 µF"));
    meter.PressSample();
    QVERIFY(qAbs(meter.Caption("lblCapacitance").toDouble() - 4.701) < 0.002);

    meter.TextBox("txtM")->setText("0");  // an edit still wins
    meter.PressSample();
    QCOMPARE(meter.Caption("lblCapacitance"), QString("No Data!"));
  }

  void numbersUseTheLocaleDecimalSeparator() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Meter meter;
    meter.Start();
    meter.TextBox("txtM")->setText("2");
    meter.PressSample();
    QVERIFY(meter.Caption("lblTime").startsWith("0,51"));
    QVERIFY(meter.Caption("lblCapacitance").startsWith("1,03"));
  }

  void aSampleWithoutADeviceSaysReadError() {
    Meter meter;
    meter.chip.SetDeviceConnected(false);
    meter.Start();
    meter.PressSample();
    QCOMPARE(meter.Caption("lblTime"), QString("Read Error!"));
    QCOMPARE(meter.Caption("lblCapacitance"), QString());
  }

  void aLongPasteSurvivesWhole() {
    Meter meter;
    meter.Start();
    const QString longText = QString("1") + QString(99999, QChar('0'));
    QApplication::clipboard()->setText(longText);
    QLineEdit* txtM = meter.TextBox("txtM");
    txtM->selectAll();
    txtM->paste();
    QCOMPARE(txtM->text().size(), 100000);
    QCOMPARE(meter.window.ReadText(TextSlot::txtM), longText.toStdString());
    meter.PressSample();  // 1e99999 is beyond double range
    QCOMPARE(meter.Caption("lblCapacitance"), QString("Out of Range!"));
  }

  // The test machine has no icon theme with the meter's icon, so the copies
  // built into the program must carry it, from menu size to large.
  void theWindowCarriesTheMetersIcon() {
    SetProgramIcon();
    Meter meter;
    meter.Start();
    const QIcon icon = meter.window.windowIcon();
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (const int size : {16, 32, 48, 256}) {
      QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
    }
    // The capacitor's plates are white on the blue tile.
    const QImage image = icon.pixmap(QSize(256, 256)).toImage();
    QCOMPARE(image.size(), QSize(256, 256));
    QCOMPARE(QColor(image.pixel(104, 128)), QColor(Qt::white));
    QVERIFY(QColor(image.pixel(128, 40)).blue() > 120);
  }

  // A value too wide for the display is set smaller, then cut with an
  // ellipsis; either way it is drawn inside the label, which keeps the full
  // text. A value that fits keeps the display's 13.5 pt.
  void capacitanceIsDrawnInsideItsDisplay_data() {
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("shrunk");
    QTest::addColumn<bool>("elided");
    QTest::newRow("fits") << "4.7" << 3 << "4.7" << false << false;
    QTest::newRow("13 characters") << "469998.929352" << 13 << "469998.929352" << true << false;
    // 309 digits and the decimal separator.
    QTest::newRow("309 digits") << "1.5e308" << 310 << "15000000" << true << true;
  }
  void capacitanceIsDrawnInsideItsDisplay() {
    QFETCH(QString, b);
    QFETCH(int, length);
    QFETCH(QString, start);
    QFETCH(bool, shrunk);
    QFETCH(bool, elided);
    Meter meter;
    meter.Start();
    meter.TextBox("txtM")->setText("1e-30");  // C is b, in effect
    meter.TextBox("txtB")->setText(b);
    meter.PressSample();

    auto* label = dynamic_cast<FittingLabel*>(meter.window.findChild<QLabel*>("lblCapacitance"));
    QVERIFY(label);
    QCOMPARE(label->text().size(), length);  // what a screen reader reads
    QVERIFY2(label->text().startsWith(start), qPrintable(label->text()));
    QCOMPARE(label->font().pointSizeF(), 13.5);

    const FittingLabel::Drawn drawn = label->Fitted();
    QCOMPARE(drawn.font.pointSizeF() < 13.5, shrunk);
    QVERIFY(drawn.font.pointSizeF() >= 6.0);
    QCOMPARE(drawn.text.endsWith(QChar(0x2026)), elided);
    QCOMPARE(drawn.text == label->text(), !elided);
    QVERIFY(label->text().startsWith(elided ? drawn.text.chopped(1) : drawn.text));
    QVERIFY(QFontMetricsF(drawn.font, label).horizontalAdvance(drawn.text) <=
            label->contentsRect().width());

    // As painted: text, but none in the last column, where a clipped value
    // would run off the edge.
    const QImage image = label->grab().toImage();
    QVERIFY(HasInk(image));
    QVERIFY(!HasInk(image, image.width() - 1));
  }

  // A termination signal closes the link once, with no box: the messages go
  // to standard error, and the window is not shown again.
  void endingOnASignalClosesTheLinkOnceWithoutABox() {
    Meter meter;
    meter.Start();
    meter.PressSample();
    StandardErrorCapture standardError;

    meter.window.EndOnSignal();
    meter.window.EndOnSignal();

    QCOMPARE(meter.watcher.Texts(), QStringList{"Device opened."});
    QCOMPARE(standardError.Text(), QString("Device closed\n"));
    QCOMPARE(meter.Count("FT_SetBitMode mask=00 enable=00"), 1);
    QCOMPARE(meter.Count("FT_Close"), 1);
    QVERIFY(!meter.chip.IsOpen());
    QVERIFY(!meter.window.isVisible());
    meter.window.show();
    QVERIFY(!meter.window.isVisible());
    meter.window.close();
    QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection);
    QCOMPARE(meter.Count("FT_Close"), 1);
  }

  // The start message blocks in its own loop; a real SIGTERM still gets
  // through, closes the box and the link, and the window never shows.
  void aSignalWhileTheStartMessageIsUpEndsTheProgram() {
    Meter meter;
    TerminationSignals termination([&](int) { meter.window.EndOnSignal(); });
    meter.watcher.AtNextBox([] { std::raise(SIGTERM); });
    StandardErrorCapture standardError;

    meter.window.Load();  // returns once the box is gone
    meter.window.show();

    QCOMPARE(meter.watcher.leftStanding, 0);
    QCOMPARE(meter.watcher.Texts(), QStringList{"Device opened."});
    QCOMPARE(standardError.Text(), QString("Device closed\n"));
    QCOMPARE(meter.Count("FT_SetBitMode mask=00 enable=00"), 1);
    QCOMPARE(meter.Count("FT_Close"), 1);
    QVERIFY(!meter.window.isVisible());
  }

  // Closed by the user, the reset fails and its box is up when the signal
  // comes: the box goes, the close still runs once, its message on stderr.
  void aSignalDuringTheExitMessagesFinishesCloseLinkQuietly() {
    Meter meter;
    meter.chip.SetBitBangResetFails(true);
    meter.Start();
    TerminationSignals termination([&](int) { meter.window.EndOnSignal(); });
    meter.watcher.AtNextBox([] { std::raise(SIGHUP); });
    StandardErrorCapture standardError;

    QVERIFY(meter.window.close());

    QCOMPARE(meter.watcher.leftStanding, 0);
    QCOMPARE(meter.watcher.Texts(),
             QStringList({"Device opened.", "Error terminating Bit-Bang mode."}));
    QCOMPARE(standardError.Text(), QString("Device closed\n"));
    QCOMPARE(meter.Count("FT_SetBitMode mask=00 enable=00"), 1);
    QCOMPARE(meter.Count("FT_Close"), 1);
  }
};

}  // namespace capmeter

QTEST_MAIN(capmeter::FrmMainTest)
#include "frm_main_test.moc"
