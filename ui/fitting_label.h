#pragma once

#include <QFont>
#include <QLabel>
#include <QString>

namespace capmeter {

// The smallest size, in points, any text of the window is set in to make it fit.
inline constexpr double kSmallestPoints = 6.0;

// `font`, a quarter point smaller at a time, until `text` is no wider than
// `width` pixels on `device` or the size reaches `smallestPoints`.
QFont ShrunkToFit(QFont font, const QString& text, qreal width, const QPaintDevice* device,
                  double smallestPoints = kSmallestPoints);

// A display label for values that may not fit. A text wider than the label
// is drawn smaller, down to kSmallestPoints, and if it is still too wide it
// is cut with "…", so a cut number never looks whole. text() keeps the full
// text (what a screen reader reads) and font() the size for texts that fit.
class FittingLabel final : public QLabel {
 public:
  using QLabel::QLabel;

  struct Drawn {
    QFont font;
    QString text;
  };
  // What the label draws for its present text and width.
  Drawn Fitted() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect TextArea() const;
};

}  // namespace capmeter
