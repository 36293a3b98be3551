#pragma once

#include <QPointer>
#include <QWidget>
#include <string>

#include "device/device_link.h"
#include "device/driver_library.h"
#include "measurement/clock.h"
#include "ui/display.h"

class QLabel;
class QLineEdit;
class QMessageBox;
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

  // Texts for txtM and txtB in place of the initial "0", e.g. from the
  // command line; read at each Sample like anything typed there.
  void SetInitialCalibration(std::string_view m, std::string_view b);

  // Ends the program on a termination signal: Close link runs (once, as at
  // any exit) with its messages on standard error, since nobody may be there
  // to answer a box; a box already up is closed; the window stays hidden and
  // the application leaves its main loop with status 0 as soon as it runs.
  void EndOnSignal();
  // Once ending, the window is not shown again.
  void setVisible(bool visible) override;

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
  // Leaves the application's main loop once it runs and no box of ours is
  // still unwinding its own loop; until then tries again.
  void LeaveApplication();
  QLabel* Label(LabelSlot slot) const;

  DriverLibrary& library_;
  Clock& clock_;
  DeviceLink link_;
  bool unloaded_ = false;
  bool ending_ = false;      // a signal is ending the program
  int messagesShowing_ = 0;  // message boxes running their loops
  QPointer<QMessageBox> messageBox_;

  QLabel* lblTime = nullptr;
  QLabel* lblCapacitance = nullptr;
  QPushButton* cmdSample = nullptr;
  QLineEdit* txtM = nullptr;
  QLineEdit* txtB = nullptr;
};

}  // namespace capmeter
