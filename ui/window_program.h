#pragma once

#include <functional>

#include "device/driver_library.h"
#include "device/trace_driver.h"
#include "measurement/clock.h"
#include "ui/command_line.h"
#include "ui/frm_main.h"

namespace capmeter {

// What the two window programs do once their command line is read: trace the
// driver library if asked, start Qt, load and show frmMain with the initial
// calibration texts, end through Close link on a termination signal, and run
// until the window closes. `beforeLoad` lets a program prepare the window
// (and the trace, null without one) just before the load event.
int RunWindowProgram(
    const CommandLine& commandLine, DriverLibrary& library, Clock& clock, char* programPath,
    const char* desktopFileName,
    const std::function<void(frmMain& window, TraceDriver* trace)>& beforeLoad = {});

}  // namespace capmeter
