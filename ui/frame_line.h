#pragma once

#include <QWidget>

namespace capmeter {

// A straight one-pixel line in the window's text colour: the four sides of
// the calibration frame.
class FrameLine final : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace capmeter
