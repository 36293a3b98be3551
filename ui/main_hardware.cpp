// capmeter: the meter on the vendor's D2XX driver library, bound at run time.

#include <QApplication>

#include "device/vendor_library.h"
#include "measurement/clock.h"
#include "ui/frm_main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(capmeter::frmMain::kMessageTitle));
  capmeter::MonotonicClock clock;
  capmeter::VendorLibrary library;
  capmeter::frmMain window(library, clock);
  // The library is loaded by the first open, during the load below; if that
  // fails the user is told why, in a box like the device messages.
  library.SetLoadFailureReport(
      [&window](std::string_view message) { window.ShowMessage(message); });
  window.Load();
  window.show();
  return QApplication::exec();
}
