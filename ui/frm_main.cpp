#include "ui/frm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <iostream>
#include <limits>

#include "measurement/measure.h"
#include "measurement/show_results.h"
#include "ui/fitting_label.h"
#include "ui/frame_line.h"
#include "ui/twips.h"

namespace capmeter {

namespace {

struct TwipsRect {
  int left, top, width, height;
};

constexpr int kClientWidth = 7170;
constexpr int kClientHeight = 2055;

// The layout's twips were made for the classic 8 pt dialog face, "MS Sans
// Serif". Where it is missing, faces of about the same width stand in, so
// captions such as "Charge time in Seconds" still fit their boxes.
QFont MsSansSerif(double points) {
  const QString family = QStringLiteral("MS Sans Serif");
  if (QFont::substitutes(family).isEmpty()) {
    QFont::insertSubstitutions(
        family, {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                 QStringLiteral("Arimo"), QStringLiteral("Arial"), QStringLiteral("Nimbus Sans")});
  }
  QFont font(family);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(points);
  return font;
}

constexpr double kDialogFontPoints = 8.25;

// A stand-in face may run a little wider than the original; a fixed caption
// is then set a quarter point smaller until it fits, rather than clipped.
void ShrinkToFit(QLabel* label) {
  const QFont font = ShrunkToFit(label->font(), label->text(), label->width(), label);
  if (font != label->font()) {
    label->setFont(font);
  }
}

// Display labels sit on the window-background colour of text fields.
void PaintOnWindowBackground(QLabel* label) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Base));
  label->setPalette(palette);
  label->setAutoFillBackground(true);
}

}  // namespace

frmMain::frmMain(DriverLibrary& library, Clock& clock, QWidget* parent)
    : QWidget(parent), library_(library), clock_(clock) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QString::fromUtf8(kCaption));
  BuildControls();
  connect(cmdSample, &QPushButton::clicked, this, [this] { cmdSample_Click(); });
  // Quitting the application does not always close its windows first.
  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { Unload(); });
}

void frmMain::BuildControls() {
  const double dpiX = logicalDpiX();
  const double dpiY = logicalDpiY();
  auto place = [&](QWidget* control, const char* name, TwipsRect r) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(TwipsToPixels(r.left, dpiX), TwipsToPixels(r.top, dpiY),
                         TwipsToPixels(r.width, dpiX), TwipsToPixels(r.height, dpiY));
  };
  auto label = [&](const char* name, const char* caption, TwipsRect r) {
    auto* control = new QLabel(QString::fromUtf8(caption), this);
    control->setTextFormat(Qt::PlainText);  // a caption is never markup
    place(control, name, r);
    ShrinkToFit(control);
    return control;
  };
  // Its values fit themselves to the label each time they are drawn.
  auto display = [&](const char* name, TwipsRect r) {
    auto* control = new FittingLabel(this);
    control->setTextFormat(Qt::PlainText);
    place(control, name, r);
    PaintOnWindowBackground(control);
    return control;
  };
  auto textBox = [&](const char* name, TwipsRect r) {
    auto* control = new QLineEdit(QStringLiteral("0"), this);
    control->setMaxLength(std::numeric_limits<int>::max());  // no practical limit
    place(control, name, r);
    return control;
  };
  auto line = [&](const char* name, int x1, int y1, int x2, int y2) {
    auto* control = new FrameLine(this);
    control->setObjectName(QString::fromLatin1(name));
    const int left = TwipsToPixels(std::min(x1, x2), dpiX);
    const int top = TwipsToPixels(std::min(y1, y2), dpiY);
    control->setGeometry(left, top, TwipsToPixels(std::max(x1, x2), dpiX) - left + 1,
                         TwipsToPixels(std::max(y1, y2), dpiY) - top + 1);
  };

  setFixedSize(TwipsToPixels(kClientWidth, dpiX), TwipsToPixels(kClientHeight, dpiY));
  setFont(MsSansSerif(kDialogFontPoints));

  label("Label1", "Charge time in Seconds", {240, 480, 1695, 255});
  lblTime = display("lblTime", {360, 720, 1455, 375});

  cmdSample = new QPushButton(QStringLiteral("Sample"), this);
  place(cmdSample, "cmdSample", {600, 1320, 975, 495});
  cmdSample->setAutoDefault(false);
  cmdSample->setDefault(false);

  label("Label6", "Linear Equation Input", {2760, 600, 1575, 255});
  label("Label4", "m =", {3000, 960, 375, 255})->setFont(MsSansSerif(9.75));
  txtM = textBox("txtM", {3480, 840, 735, 375});
  label("Label5", "b =", {3000, 1440, 375, 255})->setFont(MsSansSerif(9.75));
  txtB = textBox("txtB", {3480, 1320, 735, 375});

  label("lbl2", "Capacitance in uF", {5280, 600, 1455, 255});
  lblCapacitance = display("lblCapacitance", {5280, 840, 1455, 375});
  lblCapacitance->setFont(MsSansSerif(13.5));

  line("Line4", 2640, 480, 4440, 480);
  line("Line3", 4440, 1800, 4440, 480);
  line("Line2", 2640, 1800, 4440, 1800);
  line("Line1", 2640, 480, 2640, 1800);

  setTabOrder(cmdSample, txtM);
  setTabOrder(txtM, txtB);
  setTabOrder(txtB, cmdSample);
  cmdSample->setFocus();
}

void frmMain::Load() {
  OpenLink(link_, library_, *this);
}

void frmMain::SetInitialCalibration(std::string_view m, std::string_view b) {
  txtM->setText(QString::fromUtf8(m.data(), static_cast<qsizetype>(m.size())));
  txtB->setText(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())));
}

void frmMain::cmdSample_Click() {
  const MeasureResult result = Measure(link_.lngHandle, library_, *this, clock_);
  if (result.HasTime()) {
    ShowResults(result.seconds, *this, QLocale().decimalPoint().toStdString());
  }
}

void frmMain::closeEvent(QCloseEvent* event) {
  Unload();
  event->accept();  // the unload is never cancelled
}

void frmMain::Unload() {
  if (unloaded_) {
    return;
  }
  unloaded_ = true;
  CloseLink(link_, library_, *this);
}

void frmMain::EndOnSignal() {
  if (ending_) {
    return;
  }
  ending_ = true;
  if (messageBox_) {
    messageBox_->done(QMessageBox::Ok);
  }
  Unload();
  hide();
  LeaveApplication();
}

void frmMain::LeaveApplication() {
  // Before the main loop runs (a signal during the start message) exit()
  // would be lost, and it would cut short any loop started meanwhile.
  if (messagesShowing_ == 0 && QThread::currentThread()->loopLevel() > 0) {
    QCoreApplication::exit(0);
  } else {
    QTimer::singleShot(0, this, [this] { LeaveApplication(); });
  }
}

void frmMain::setVisible(bool visible) {
  QWidget::setVisible(visible && !ending_);
}

QLabel* frmMain::Label(LabelSlot slot) const {
  return slot == LabelSlot::lblTime ? lblTime : lblCapacitance;
}

void frmMain::SetCaption(LabelSlot slot, std::string_view text) {
  Label(slot)->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void frmMain::RepaintNow(LabelSlot slot) {
  Label(slot)->repaint();
}

std::string frmMain::ReadText(TextSlot slot) {
  return (slot == TextSlot::txtM ? txtM : txtB)->text().toStdString();
}

void frmMain::ShowMessage(std::string_view text) {
  if (ending_) {
    std::cerr << text << std::endl;
    return;
  }
  // Over the window once it is on screen; on its own before that.
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kMessageTitle),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                  QMessageBox::Ok, isVisible() ? this : nullptr);
  box.setTextFormat(Qt::PlainText);
  messageBox_ = &box;
  ++messagesShowing_;
  box.exec();
  --messagesShowing_;
}

}  // namespace capmeter
