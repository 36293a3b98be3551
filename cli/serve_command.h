#pragma once

#include <iosfwd>
#include <string>

#include "cli/check.h"
#include "cli/command_context.h"
#include "cli/scpi_server.h"

namespace capmeter::cli {

struct ServeOptions {
  ListenAddress listen;
  // Who may connect besides this machine; needed to listen beyond loopback.
  AllowList allow;
  bool vxi11 = true;            // the VXI-11 channels beside the raw socket
  std::uint16_t vxi11Port = 0;  // the core channel's; 0: a free one, the portmapper tells
  bool readOnly = false;        // queries only (-203 for the rest)
  // The initial calibration in the units of `measure`: m in µF/s, b in µF.
  double slope = 0.0;
  double intercept = 0.0;
  // No line given: the one kept for the chip, the timing at start and
  // `label`, when there is one (CALibration:STORe keeps the line in use).
  bool useStoredLine = false;
  std::string label;
  std::string log;  // CSV of every reading; empty: none
  // The timing at start (SCPI's TIMing:MODE and TIMing:SRATe change it).
  Timing timing = Timing::Poll;
  SampleClock sampleClock;
};

// What *IDN? says: the program and its driver, which tell the readings apart.
struct ServeIdentity {
  std::string driver;     // "simulated chip", "direct USB 1234:5678", ...
  CheckNotes checkNotes;  // the driver's own steps for *TST?
};

// Serves the meter as an SCPI instrument until a stop signal: the device
// opened at the start and held, `capmeter-cli: listening on ADDR:PORT` on
// `err` once clients may connect. Returns the status of the signal, or
// kExitUsage/kExitFailed when the log or the address cannot be had.
int RunServe(CommandContext& context, const ServeOptions& options, const ServeIdentity& identity,
             std::ostream& err);

}  // namespace capmeter::cli
