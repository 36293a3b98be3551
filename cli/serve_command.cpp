#include "cli/serve_command.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>

#include "capmeter_version.h"
#include "cli/mdns_announcement.h"
#include "cli/portmapper_registration.h"
#include "cli/stored_calibration.h"
#include "measurement/reading_log.h"
#include "measurement/reading_text.h"

namespace capmeter::cli {

namespace {

constexpr double kMicro = 1e-6;

// A serial number as one *IDN? field: the device's bytes are not to be
// trusted, and a comma, a semicolon or a line end would split the answer.
std::string IdentityField(const std::string& text) {
  std::string field;
  for (const char c : text) {
    field += c > ' ' && c < 0x7F && c != ',' && c != ';' && c != '"' ? c : '_';
  }
  return field.empty() ? "0" : field;
}

// The chosen chip held for the instrument, opened again after it was let go.
class HeldDevice final : public scpi::DeviceAccess {
 public:
  explicit HeldDevice(CommandContext& context) : context_(context) {}

  Opened Open() override {
    if (session_ && session_->IsOpen()) return {session_->Handle(), {}};
    if (!load_.loaded) load_ = context_.loadLibrary();
    if (!load_.loaded) return {nullptr, "driver library: " + load_.text};
    session_.emplace(context_.library);
    if (!session_->IsOpen()) {
      const std::string why =
          context_.selection != nullptr ? context_.selection->WhyNotOpened() : std::string();
      return {nullptr,
              "could not open " + OpenedText(context_) + ": " +
                  (why.empty() ? StatusText(context_.library, session_->OpenStatus()) : why)};
    }
    const std::optional<DeviceInfo> chip =
        context_.selection != nullptr ? context_.selection->OpenChip() : std::nullopt;
    serialNumber_ = IdentityField(chip ? chip->serialNumber : std::string());
    return {session_->Handle(), {}};
  }

  void Release() override {
    if (session_) session_->Close();
    session_.reset();
  }

  // The serial number of the chip opened last, as an *IDN? field; "0" when
  // none was opened or the driver cannot tell.
  const std::string& SerialNumber() const { return serialNumber_; }

  // Lets the device go for good, saying on `err` what of that failed.
  void CloseAndReport(std::ostream& err) {
    if (session_) cli::CloseAndReport(*session_, err);
    session_.reset();
  }

 private:
  CommandContext& context_;
  DriverLoad load_;
  std::optional<DeviceSession> session_;
  std::string serialNumber_ = "0";
};

// CALibration:STORe, :DATE? and :COUNt? on the calibration file, for the
// chip open and the label served.
class StoredCalibrations final : public scpi::CalibrationMemory {
 public:
  StoredCalibrations(CommandContext& context, std::string label)
      : context_(context), label_(std::move(label)) {}

  std::optional<Kept> Recall(FT_HANDLE handle, Timing timing, double rate) override {
    const OpenChipKey key = KeyForOpenChip(context_, handle, timing, rate, label_);
    if (!key.key) return std::nullopt;
    const CalibrationStore::Loaded loaded = context_.calibrations->Load();
    const StoredLine* line = loaded.contents.Find(*key.key);
    if (line == nullptr) return std::nullopt;
    Kept kept;
    kept.saves = line->saves;
    // "2026-12-09T..." as the file keeps it.
    if (std::sscanf(line->made.c_str(), "%4d-%2d-%2d", &kept.year, &kept.month, &kept.day) != 3) {
      kept.year = kept.month = kept.day = 0;
    }
    return kept;
  }

  std::string Store(FT_HANDLE handle, Timing timing, double rate, double slope, double intercept,
                    std::optional<double> null) override {
    const OpenChipKey key = KeyForOpenChip(context_, handle, timing, rate, label_);
    if (!key.key) return key.whyNot;
    StoredLine line;
    line.key = *key.key;
    line.line = {slope / kMicro, intercept / kMicro};
    line.made = UtcTimeText(context_.control.wallClock());
    line.program = "capmeter-cli serve " + std::string(kVersion);
    if (null) line.zero = OpenCircuitZero{*null / kMicro, line.made, 0};
    return context_.calibrations->Update([&](CalibrationFile& file) {
      // The stored line itself, back through F/s: it keeps the capacitors it
      // was fitted to and when; only its null is new.
      const auto same = [](double a, double b) {
        return std::abs(a - b) <= 1e-12 * std::max(std::abs(a), std::abs(b));
      };
      StoredLine* kept = file.Find(line.key);
      if (kept != nullptr && same(kept->line.slope, line.line.slope) &&
          same(kept->line.intercept, line.line.intercept)) {
        kept->zero = line.zero;
        ++kept->saves;
      } else {
        file.Keep(line);
      }
      return std::string();
    });
  }

 private:
  CommandContext& context_;
  std::string label_;
};

// check's steps: the number of the first that failed, with its text.
scpi::SelfTestResult SelfTest(CommandContext& context, const CheckNotes& notes) {
  std::ostringstream out;
  RunCheck(context, out, notes);
  std::istringstream lines(out.str());
  int step = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("ok ")) ++step;
    if (line.starts_with("FAIL ")) return {step + 1, line.substr(line.find_first_not_of(' ', 4))};
  }
  return {};
}

}  // namespace

int RunServe(CommandContext& context, const ServeOptions& options, const ServeIdentity& identity,
             std::ostream& err) {
  ReadingLog log;
  if (!options.log.empty() && !log.Open(options.log)) {
    err << "capmeter-cli: " << log.Problem() << "\n";
    return kExitUsage;
  }

  HeldDevice device(context);
  // Held from the start; a device that cannot be opened now is tried again
  // at every measurement.
  const auto opened = device.Open();
  if (opened.handle == nullptr) {
    err << "capmeter-cli: " << opened.whyNot << "; measurements will try again.\n";
  }
  std::optional<StoredLine> stored;
  if (options.useStoredLine && opened.handle != nullptr) {
    const StoredLineLookup lookup = LookUpStoredLine(
        context, opened.handle, ChooseTiming(options.timing, opened.handle, context.library).timing,
        options.sampleClock.requestedRate, options.label, err);
    if (lookup.failed) return kExitFailed;
    stored = lookup.line;
  }
  std::optional<StoredCalibrations> memory;
  if (context.calibrations != nullptr) memory.emplace(context, options.label);

  scpi::InstrumentSetup setup;
  setup.identity = [&device] {
    return "capmeter,capmeter-cli," + device.SerialNumber() + "," + std::string(kVersion);
  };
  setup.driver = identity.driver;
  setup.slope = options.slope * kMicro;
  setup.intercept = options.intercept * kMicro;
  if (stored) {
    setup.slope = stored->line.slope * kMicro;
    setup.intercept = stored->line.intercept * kMicro;
    setup.nullOn = stored->zero.has_value();
    if (stored->zero) setup.nullValue = stored->zero->microfarads * kMicro;
  }
  setup.memory = memory ? &*memory : nullptr;
  setup.timing = options.timing;
  setup.sampleRate = options.sampleClock.requestedRate;
  setup.readOnly = options.readOnly;
  setup.selfTest = [&context, &identity] { return SelfTest(context, identity.checkNotes); };
  if (log.IsOpen()) {
    setup.logReading = [&log](const Reading& reading) { log.Write(reading); };
  }
  scpi::Instrument instrument(context.library, context.clock, device, std::move(setup));

  ServerSetup serverSetup{
      options.listen, options.allow, std::nullopt,
      [&err](const std::string& line) { err << "capmeter-cli: " << line << std::endl; }};
  if (options.vxi11) serverSetup.vxi11Port = options.vxi11Port;
  std::optional<InstrumentServer> server;
  try {
    server.emplace(serverSetup, instrument);
  } catch (const std::system_error& error) {
    err << "capmeter-cli: cannot listen on " << options.listen.host << ":" << options.listen.port
        << ": " << error.what() << "\n";
    return kExitFailed;
  }
  if (!server->OnlyLoopback() && options.allow.Empty()) {
    err << "capmeter-cli: listening on " << server->LocalAddress()
        << " needs --allow CIDR for the peers that may connect (this machine always may)\n";
    return kExitUsage;
  }
  std::optional<PortmapperRegistration> registration;
  if (server->CorePort()) {
    err << "capmeter-cli: VXI-11 core channel on port " << *server->CorePort()
        << ", abort channel on port " << *server->AbortPort() << "\n";
    registration.emplace(*server->CorePort(), serverSetup.say);
  }
  // Announced only where others can reach it: a loopback meter would be
  // found by machines that cannot connect.
  std::optional<MdnsAnnouncement> announcement;
  if (!server->OnlyLoopback()) {
    constexpr std::uint16_t kPortmapperPort = 111;
    ServiceRecord record{device.SerialNumber(), std::string(kVersion), server->RawPort(),
                         std::nullopt};
    if (registration && registration->Registered()) record.vxi11Port = kPortmapperPort;
    announcement.emplace(record, serverSetup.say);
  }
  err << "capmeter-cli: listening on " << server->LocalAddress() << std::endl;

  const int signal = server->Run(context.control.stopSignal);
  device.CloseAndReport(err);
  return ExitForSignal(signal);
}

}  // namespace capmeter::cli
