#include "ui/fitting_label.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>

namespace capmeter {

namespace {
constexpr double kStepPoints = 0.25;
}  // namespace

QFont ShrunkToFit(QFont font, const QString& text, qreal width, const QPaintDevice* device,
                  double smallestPoints) {
  while (QFontMetricsF(font, device).horizontalAdvance(text) > width &&
         font.pointSizeF() - kStepPoints >= smallestPoints) {
    font.setPointSizeF(font.pointSizeF() - kStepPoints);
  }
  return font;
}

QRect FittingLabel::TextArea() const {
  return contentsRect().adjusted(margin(), margin(), -margin(), -margin());
}

FittingLabel::Drawn FittingLabel::Fitted() const {
  const qreal width = TextArea().width();
  Drawn drawn{ShrunkToFit(font(), text(), width, this), text()};
  const QFontMetricsF metrics(drawn.font, this);
  if (metrics.horizontalAdvance(drawn.text) > width) {
    drawn.text = metrics.elidedText(drawn.text, Qt::ElideRight, width);
  }
  return drawn;
}

void FittingLabel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  drawFrame(&painter);
  const Drawn drawn = Fitted();
  painter.setFont(drawn.font);
  style()->drawItemText(&painter, TextArea(),
                        static_cast<int>(QStyle::visualAlignment(layoutDirection(), alignment())),
                        palette(), isEnabled(), drawn.text, foregroundRole());
}

}  // namespace capmeter
