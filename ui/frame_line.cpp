#include "ui/frame_line.h"

#include <QPainter>

namespace capmeter {

void FrameLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::WindowText));
}

}  // namespace capmeter
