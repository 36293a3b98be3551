#include "cli/command_context.h"

#include <ostream>

#include "device/device_link.h"

namespace capmeter::cli {

DeviceSession::DeviceSession(DriverLibrary& library)
    : library_(library), openStatus_(library.FT_Open(kFirstDevice, &handle_)) {}

DeviceSession::~DeviceSession() {
  Close();
}

DeviceSession::Closing DeviceSession::Close() {
  Closing closing;
  if (closed_ || !IsOpen()) {
    return closing;
  }
  closed_ = true;
  closing.reset = library_.FT_SetBitMode(handle_, kAllInputs, kLeaveBitBang);
  closing.close = library_.FT_Close(handle_);
  return closing;
}

std::string OpenedText(const CommandContext& context) {
  return context.selection != nullptr ? ChoiceText(context.selection->Choice()) : "device 0";
}

bool ReportUnreachable(const CommandContext& context, const DriverLoad& load,
                       const DeviceSession& session, std::ostream& err) {
  if (!load.loaded) {
    err << "capmeter-cli: driver library: " << load.text << ".\n";
    return true;
  }
  if (!session.IsOpen()) {
    const std::string why =
        context.selection != nullptr ? context.selection->WhyNotOpened() : std::string();
    if (!why.empty()) {
      err << "capmeter-cli: could not open " << OpenedText(context) << ": " << why << ".\n";
      return true;
    }
    err << "capmeter-cli: could not open " << OpenedText(context) << ": "
        << StatusText(session.Library(), session.OpenStatus())
        << ". Run \"capmeter-cli check\" to see which step fails.\n";
    return true;
  }
  return false;
}

TimingChoice ChooseAndSayTiming(Timing asked, const DeviceSession& session, CommandContext& context,
                                std::ostream& err) {
  const TimingChoice choice = ChooseTiming(asked, session.Handle(), context.library);
  if (asked == Timing::Auto) {
    err << "capmeter-cli: " << choice.why << ".\n";
  }
  return choice;
}

bool CloseAndReport(DeviceSession& session, std::ostream& err) {
  const DeviceSession::Closing closing = session.Close();
  if (closing.reset != kStatusOk) {
    err << "capmeter-cli: could not leave bit-bang mode: "
        << StatusText(session.Library(), closing.reset) << ".\n";
  }
  if (closing.close != kStatusOk) {
    err << "capmeter-cli: could not close the device: "
        << StatusText(session.Library(), closing.close) << ".\n";
  }
  return closing.reset == kStatusOk && closing.close == kStatusOk;
}

}  // namespace capmeter::cli
