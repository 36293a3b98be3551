#include "monitor/monitor_readouts.h"

#include <QFormLayout>
#include <QLabel>
#include <QLocale>

#include "measurement/reading_text.h"

namespace capmeter {

namespace {

// What a readout shows while there is nothing to show.
QString Dash() {
  return QStringLiteral("\xE2\x80\x94");
}

QString Number(double value, bool microfarads) {
  return QLocale().toString(value, 'g', 7) + (microfarads ? " \xC2\xB5"
                                                            "F"
                                                          : " s");
}

QString Count(std::uint64_t count) {
  return QLocale().toString(static_cast<qulonglong>(count));
}

QLabel* Readout(const QString& accessibleName) {
  auto* label = new QLabel(Dash());
  label->setAccessibleName(accessibleName);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setMinimumWidth(110);
  return label;
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
  return {picture.lastPoint ? QStringLiteral("no limits") : Dash(), ""};
}

}  // namespace

MonitorReadouts::MonitorReadouts()
    : points_(Readout(QStringLiteral("Points"))),
      last_(Readout(QStringLiteral("Last point"))),
      mean_(Readout(QStringLiteral("Mean"))),
      deviation_(Readout(QStringLiteral("Standard deviation"))),
      minimum_(Readout(QStringLiteral("Minimum"))),
      maximum_(Readout(QStringLiteral("Maximum"))),
      readErrors_(Readout(QStringLiteral("Read errors"))),
      timeOuts_(Readout(QStringLiteral("Time-outs"))),
      passes_(Readout(QStringLiteral("Passes"))),
      fails_(Readout(QStringLiteral("Fails"))),
      verdict_(Readout(QStringLiteral("Verdict on the last reading"))) {
  verdict_->setAlignment(Qt::AlignCenter);
  QFont bold = verdict_->font();
  bold.setBold(true);
  verdict_->setFont(bold);
}

void MonitorReadouts::AddStatisticsRows(QFormLayout& form) const {
  form.addRow(QObject::tr("Points"), points_);
  form.addRow(QObject::tr("Last"), last_);
  form.addRow(QObject::tr("Mean"), mean_);
  form.addRow(QObject::tr("Std. deviation"), deviation_);
  form.addRow(QObject::tr("Minimum"), minimum_);
  form.addRow(QObject::tr("Maximum"), maximum_);
  form.addRow(QObject::tr("Read errors"), readErrors_);
  form.addRow(QObject::tr("Time-outs"), timeOuts_);
}

void MonitorReadouts::AddVerdictRows(QFormLayout& form) const {
  form.addRow(QObject::tr("Passes"), passes_);
  form.addRow(QObject::tr("Fails"), fails_);
  form.addRow(QObject::tr("Last"), verdict_);
}

void MonitorReadouts::Show(const TallyPicture& picture) {
  const bool uf = picture.microfarads;
  const RunningStatistics& s = picture.points;
  const bool any = s.Count() > 0;
  points_->setText(Count(s.Count()));
  last_->setText(picture.lastPoint ? Number(*picture.lastPoint, uf) : Dash());
  mean_->setText(any ? Number(s.Mean(), uf) : Dash());
  deviation_->setText(s.StandardDeviation() ? Number(*s.StandardDeviation(), uf) : Dash());
  minimum_->setText(any ? Number(s.Minimum(), uf) : Dash());
  maximum_->setText(any ? Number(s.Maximum(), uf) : Dash());
  readErrors_->setText(Count(picture.readErrors));
  timeOuts_->setText(Count(picture.timeOuts));
  passes_->setText(Count(picture.passes));
  fails_->setText(Count(picture.fails));
  const VerdictLook look = LookOf(picture);
  verdict_->setText(look.word);
  verdict_->setStyleSheet(QString::fromLatin1(look.style));
}

}  // namespace capmeter
