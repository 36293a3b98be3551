#include "startup/window_program.h"

#include "startup/program_icon.h"

namespace capmeter {

WindowApplication::WindowApplication(char* programPath, const char* applicationName,
                                     const char* desktopFileName)
    : argv_{programPath, nullptr}, app_(argc_, argv_) {
  QApplication::setApplicationName(QString::fromUtf8(applicationName));
  QApplication::setDesktopFileName(QString::fromUtf8(desktopFileName));
  SetProgramIcon();
}

int WindowApplication::Exec() {
  return QApplication::exec();
}

}  // namespace capmeter
