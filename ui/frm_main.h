#pragma once

#include <QWidget>
#include <string>

#include "device/device_link.h"
#include "device/driver_library.h"
#include "measurement/clock.h"
#include "ui/display.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace capmeter {

// The program's one window. It holds the device link for the whole run,
// carries out the display and message operations on its controls, and turns
// its three events into the program's operations: load runs Open link, a
// click on Sample runs Measure and then Show results, closing runs Close link.
class frmMain final : public QWidget, public Display {
 public:
  static constexpr const char* kCaption = "Capacitance Meter over USB";
  static constexpr const char* kMessageTitle = "Capacitance Meter";

  frmMain(DriverLibrary& library, Clock& clock, QWidget* parent = nullptr);

  // The load event: call once, before the window is first shown.
  void Load();

  void SetCaption(LabelSlot slot, std::string_view text) override;
  void RepaintNow(LabelSlot slot) override;
  std::string ReadText(TextSlot slot) override;
  void ShowMessage(std::string_view text) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void cmdSample_Click();
  // The unload event; runs Close link the first time only, however the
  // window or the application is being closed.
  void Unload();
  QLabel* Label(LabelSlot slot) const;

  DriverLibrary& library_;
  Clock& clock_;
  DeviceLink link_;
  bool unloaded_ = false;

  QLabel* lblTime = nullptr;
  QLabel* lblCapacitance = nullptr;
  QPushButton* cmdSample = nullptr;
  QLineEdit* txtM = nullptr;
  QLineEdit* txtB = nullptr;
};

}  // namespace capmeter
