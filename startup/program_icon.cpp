#include "startup/program_icon.h"

#include <QApplication>
#include <QIcon>
#include <QString>

namespace capmeter {

void SetProgramIcon() {
  QIcon builtIn;
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    builtIn.addFile(QString(":/capmeter/icons/%1x%1/apps/capmeter.png").arg(size));
  }
  QApplication::setWindowIcon(QIcon::fromTheme("capmeter", builtIn));
}

}  // namespace capmeter
