#include "monitor/monitor_readouts.h"

#include <QFormLayout>
#include <QLabel>
#include <QLocale>

#include "measurement/reading_text.h"

namespace capmeter {

namespace {

// What a readout shows while there is nothing to show: an em dash. Named
// by its code point, as a UTF-16 literal takes "\xE2" as one code unit.
QString Dash() {
  return QStringLiteral("\u2014");
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
      picture.lastOutcome == MeasureOutcome::TimedOut ||
      picture.lastOutcome == MeasureOutcome::BelowRange) {
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

namespace {

// Each readout's caption and the name a screen reader gives it, in row order.
struct RowNames {
  const char* caption;
  const char* accessibleName;
};
constexpr RowNames kRowNames[] = {
    {"Points", "Points"},
    {"Last", "Last point"},
    {"Last ±", "Bound of the last reading's time"},
    {"Mean", "Mean"},
    {"Std. deviation", "Standard deviation"},
    {"Minimum", "Minimum"},
    {"Maximum", "Maximum"},
    {"Read errors", "Read errors"},
    {"Time-outs", "Time-outs"},
    {"Below range", "Readings below the range"},
    {"Passes", "Passes"},
    {"Fails", "Fails"},
    {"Last", "Verdict on the last reading"},
};

}  // namespace

MonitorReadouts::MonitorReadouts() {
  static_assert(std::size(kRowNames) == kRows);
  for (int row = 0; row < kRows; ++row) {
    labels_[row] = Readout(QString::fromUtf8(kRowNames[row].accessibleName));
  }
  QLabel* verdict = labels_[kVerdict];
  verdict->setAlignment(Qt::AlignCenter);
  QFont bold = verdict->font();
  bold.setBold(true);
  verdict->setFont(bold);
}

void MonitorReadouts::AddRows(QFormLayout& form, int first, int end) const {
  for (int row = first; row < end; ++row) {
    form.addRow(QObject::tr(kRowNames[row].caption), labels_[row]);
  }
}

void MonitorReadouts::AddStatisticsRows(QFormLayout& form) const {
  AddRows(form, kPoints, kPasses);
}

void MonitorReadouts::AddVerdictRows(QFormLayout& form) const {
  AddRows(form, kPasses, kRows);
}

void MonitorReadouts::Show(const TallyPicture& picture) {
  const bool uf = picture.microfarads;
  const RunningStatistics& s = picture.points;
  const bool any = s.Count() > 0;
  const VerdictLook look = LookOf(picture);
  const std::array<QString, kRows> texts = {
      Count(s.Count()),
      picture.lastPoint ? Number(*picture.lastPoint, uf) : Dash(),
      picture.lastBoundSeconds ? Number(*picture.lastBoundSeconds, false) : Dash(),
      any ? Number(s.Mean(), uf) : Dash(),
      s.StandardDeviation() ? Number(*s.StandardDeviation(), uf) : Dash(),
      any ? Number(s.Minimum(), uf) : Dash(),
      any ? Number(s.Maximum(), uf) : Dash(),
      Count(picture.readErrors),
      Count(picture.timeOuts),
      Count(picture.belowRange),
      Count(picture.passes),
      Count(picture.fails),
      look.word,
  };
  for (int row = 0; row < kRows; ++row) {
    labels_[row]->setText(texts[row]);
  }
  labels_[kVerdict]->setStyleSheet(QString::fromLatin1(look.style));
}

}  // namespace capmeter
