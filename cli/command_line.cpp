#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdint>
#include <map>
#include <ostream>
#include <string_view>
#include <vector>

#include "capmeter_version.h"
#include "cli/values.h"
#include "device/usb_id.h"
#include "measurement/si_value.h"
#include "measurement/stream_timing.h"

namespace capmeter::cli {

namespace {

// The most readings a series or a capacitor takes.
constexpr int kMostReadings = 1'000'000;

constexpr const char* kExitStatuses =
    "Exit status: 0 all went well; 1 the driver, the device, a reading or the output failed; "
    "2 a bad command line; 129, 130 and 143 stopped by SIGHUP, Ctrl-C (SIGINT) and SIGTERM.";

// Why a text is not the value asked for, beyond naming what was expected.
using Explain = std::string (*)(std::string_view text);

std::string Farads(std::string_view text) {
  return EngineeringValueProblem(text, "F");
}
std::string Ohms(std::string_view text) {
  return EngineeringValueProblem(text, "ohm");
}
std::string Seconds(std::string_view text) {
  return EngineeringValueProblem(text, "s");
}
std::string Rate(std::string_view text) {
  return EngineeringValueProblem(text, "S/s");
}

// An option whose text `read` turns into its value once, straight into
// `target`; a text it cannot read is a usage error quoting it, saying what
// was expected and, where `explain` tells, what is wrong with it.
template <typename Value, typename Read>
CLI::Option* AddValue(CLI::App& command, const std::string& name, Value& target, Read read,
                      const std::string& expected, const std::string& description,
                      Explain explain = nullptr) {
  return command.add_option_function<std::string>(
      name,
      [&target, read, expected, name, explain](const std::string& text) {
        const auto value = read(text);
        if (!value) {
          const std::string why = explain != nullptr ? explain(text) : std::string();
          throw CLI::ValidationError(
              name, "'" + text + "' is not " + expected + (why.empty() ? "" : ": " + why));
        }
        target = *value;
      },
      description);
}

// A whole number from `least` to `most` in decimal digits alone: no sign,
// base prefix or blank, so "010" is ten and "0x10" no count.
template <typename Whole>
auto WholeFrom(Whole least, Whole most) {
  return [least, most](std::string_view text) -> std::optional<Whole> {
    Whole whole = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), whole);
    if (error != std::errc() || end != text.data() + text.size() || whole < least || whole > most) {
      return std::nullopt;
    }
    return whole;
  };
}

// m and b: a complete number, never the window's lenient reading, since a
// typo that reads as another number would go unseen in a script.
CLI::Option* AddCalibrationValue(CLI::App& command, const std::string& name, double& target,
                                 const std::string& description) {
  return AddValue(command, name, target, ParseNumber, "a number such as 9.0909 or -2.5e-1",
                  description, NumberProblem);
}

std::optional<std::uint16_t> ParseListenPort(std::string_view text) {
  std::uint16_t port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return port;
}

void AddDriverOptions(CLI::App& command, DriverOptions& driver) {
  command
      .add_option("--trace", driver.trace,
                  "Write every driver call to FILE ('-' for standard error)")
      ->type_name("FILE");
  CLI::Option* simulate =
      command.add_flag("--simulate", driver.simulate,
                       "Use the simulated chip and timing circuit instead of the driver library");
  AddValue(command, "--capacitance", driver.parts.capacitanceFarads, ParseFarads,
           "a capacitance such as 4.7u",
           "Simulated capacitor, in farads with an SI prefix (default 4.7u)", Farads)
      ->type_name("VALUE")
      ->needs(simulate);
  AddValue(command, "--stray-capacitance", driver.parts.strayFarads, ParseFarads,
           "a capacitance such as 10p",
           "Simulated stray capacitance of the wiring and the timer, in parallel with the part "
           "(default 0)",
           Farads)
      ->type_name("VALUE")
      ->needs(simulate);
  AddValue(command, "--resistance", driver.parts.resistanceOhms, ParseOhms,
           "a resistance such as 100k",
           "Simulated timing resistor, in ohms with an SI prefix (default 100k)", Ohms)
      ->type_name("VALUE")
      ->needs(simulate);
  AddValue(command, "--latency", driver.latency, ParseSeconds, "a time such as 1m or 0",
           "Simulated round trip of each driver call, in seconds with an SI prefix "
           "(e.g. 1m for a full-speed chip, 125u for a high-speed one; default 0)",
           Seconds)
      ->type_name("SECONDS")
      ->needs(simulate);
  AddValue(command, "--clock-jitter", driver.clockJitter, ParseClockJitter,
           "a fraction from 0 to 0.5 such as 0.05",
           "Simulated sample clock's jitter: every 1024 samples its period changes by up to this "
           "fraction (default 0: steady); an older full-speed --family adds its erratum")
      ->type_name("FRACTION")
      ->needs(simulate);
  AddValue(
      command, "--family", driver.family,
      [](std::string_view text) {
        const ChipFamily* family = FamilyFromText(text);
        return family != nullptr ? std::optional(family) : std::nullopt;
      },
      "a bcdDevice such as 0x0900, or high-speed, full-speed or older",
      "Simulated chip family, by its bcdDevice (default 0x0900, the single-port high-speed "
      "chip; docs/hardware.md lists them): its bit-bang clock, erratum, FIFO and packets")
      ->type_name("FAMILY")
      ->needs(simulate);
  AddValue(command, "--chips", driver.chips, WholeFrom<std::uint32_t>(1, 16),
           "a count from 1 to 16",
           "Simulated chips, each with its own serial number (SIM-1, SIM-2, ...), all on the one "
           "circuit (default 1)")
      ->type_name("N")
      ->needs(simulate);
  CLI::Option* device =
      AddValue(command, "--device", driver.chip.index, WholeFrom<std::uint32_t>(0, 0x7FFFFFFF),
               "a chip's index such as 1",
               "Open the chip with this index in \"capmeter-cli list\" (default 0)")
          ->type_name("N");
  command
      .add_option_function<std::string>(
          "--serial", [&driver](const std::string& text) { driver.chip.serialNumber = text; },
          "Open the chip with this serial number, as \"capmeter-cli list\" shows it")
      ->type_name("TEXT")
      ->excludes(device);
#if defined(CAPMETER_DIRECT_USB)
  AddValue(command, "--usb", driver.usb, UsbId::Parse, "a USB ID such as 1234:5678",
           "Reach the chip with this USB ID (as lsusb shows it) directly through libusb, "
           "without the vendor's library")
      ->type_name("VID:PID")
      ->excludes(simulate);
#endif
}

// The driver options a sub-command has no use for, refused as unknown
// rather than accepted and ignored.
void Without(CLI::App& command, std::initializer_list<const char*> names) {
  for (const char* name : names) command.remove_option(command.get_option(name));
}

// Options the timing asked for would ignore are a mistake: polled readings
// have no sample clock to set, streamed ones no first poll to spread.
void RefuseWhatTheTimingIgnores(const CLI::App& command, Timing timing) {
  std::vector<const char*> ignored;
  if (timing == Timing::Poll) ignored = {"--sample-rate", "--clock-jitter"};
  if (timing == Timing::Stream) ignored = {"--no-dither"};
  for (const char* name : ignored) {
    if (command.count(name) > 0) {
      throw CLI::ValidationError(
          name, std::string("does nothing with --timing ") + std::string(TimingName(timing)));
    }
  }
}

// Dither spreads readings over a poll period; one reading has nothing to
// spread, and streamed readings have no polls.
CLI::Option* AddNoDither(CLI::App& command, bool& noDither) {
  return command.add_flag("--no-dither", noDither,
                          "Do not spread the readings' first polls over a poll period (poll "
                          "timing only)");
}

// Polls, or the chip's own sample clock at a rate of the user's.
void AddTimingOptions(CLI::App& command, Timing& timing, SampleClock& sampleClock) {
  AddValue(command, "--timing", timing, TimingFromName, "auto, poll or stream",
           "How each reading is timed: poll (host polls of the pins, as the window does), stream "
           "(the chip's own samples of its pins counted, to two sample periods) or auto (the "
           "default: stream where the driver can and the chip family's clock can be trusted, "
           "else poll; the choice is said on standard error)")
      ->type_name("TIMING");
  AddValue(command, "--sample-rate", sampleClock.requestedRate, ParseSampleRate,
           "a sample rate from 3.6k to 12M such as 1M or 500k",
           "With stream timing: the samples a second to ask for (default: the chip family's, 1M "
           "on a high-speed chip, 500k on a full-speed one); the rate the chip gives is "
           "measured before the first reading",
           Rate)
      ->type_name("RATE");
}

CLI::Option* AddLabel(CLI::App& command, std::string& label, const std::string& what) {
  return command
      .add_option("--label", label,
                  what + " (for one chip with several ranges, e.g. the resistor fitted: 1M)")
      ->type_name("TEXT");
}

// A command given no line of its own takes the one kept for the chip.
CLI::Option* AddNoCalibration(CLI::App& command, bool& noCalibration) {
  return command.add_flag("--no-calibration", noCalibration,
                          "Use no stored calibration: times only, unless --slope is given");
}

// What a sub-command's callback does with the exit status of its command:
// CLI11 callbacks return nothing, so it is kept here.
struct Outcome {
  int status = kExitOk;
};

}  // namespace

int RunCommandLine(int argc, const char* const* argv, const Commands& commands, std::ostream& out,
                   std::ostream& err) {
  DriverOptions driver;
  CheckOptions checkOptions;
  MeasureOptions measure;
  CalibrateOptions calibrate;
  ServeOptions serve;
  double slope = 0.0;
  double intercept = 0.0;
  bool noDither = false;
  bool noCalibration = false;
  ZeroOptions zero;
  bool zeroYes = false;
  LineFilter lineFilter;
  ListFormat calibrationFormat = ListFormat::Table;
  Outcome outcome;

  // The text goes below the usage line, which help2man and people look for
  // first.
  CLI::App app("", "capmeter-cli");
  app.set_version_flag("-v,--version", VersionText("capmeter-cli"), "Show the version and exit");
  app.set_help_flag("-h,--help", "Show this help and exit");
  app.require_subcommand(0, 1);
  app.footer(
      "The capacitance meter on the command line, on the vendor's driver library, the\n"
      "chip directly over USB (--usb) or the simulated chip (--simulate): bring-up\n"
      "checks, series of readings with statistics, calibration, and an SCPI instrument\n"
      "server. \"capmeter-cli COMMAND --help\" tells more of each command.\n\n" +
      std::string(kExitStatuses));

  CLI::App* list = app.add_subcommand(
      "list",
      "List the chips the driver sees: index, serial number, description, location and "
      "whether one is open already");
  AddDriverOptions(*list, driver);
  // Listing opens no chip and takes no reading.
  Without(*list,
          {"--capacitance", "--resistance", "--clock-jitter", "--family", "--device", "--serial"});
  ListFormat listFormat = ListFormat::Table;
  list->add_option("--format", listFormat, "table (default), csv or json")
      ->type_name("FORMAT")
      ->transform(
          CLI::CheckedTransformer(std::map<std::string, ListFormat>{{"table", ListFormat::Table},
                                                                    {"csv", ListFormat::Csv},
                                                                    {"json", ListFormat::Json}},
                                  CLI::ignore_case)
              .description(""));
  list->footer(
      "The other commands' --device takes the index, --serial the serial number; the table's "
      "location is where the chip sits on USB, as far as the driver tells.\nExit status: 0 "
      "when it found a "
      "chip, 1 when it found none or the driver cannot list (the reason goes to standard "
      "error), 2 for a bad command line.");
  list->callback([&] { outcome.status = commands.list(driver, listFormat); });

  CLI::App* check = app.add_subcommand(
      "check",
      "Check the driver library, the device and the wiring step by step, one verdict line per "
      "step; stops at the first failing step");
  AddDriverOptions(*check, driver);
  AddTimingOptions(*check, checkOptions.timing, checkOptions.sampleClock);
  check->footer(
      "When the driver can stream the pins, the last step streams them for a second to measure "
      "the sample rate, then times 20 streamed readings of the connected part (some 11 s with "
      "4.7 µF and 100 kΩ) and judges whether the stream can be trusted for timing. That "
      "verdict counts only with --timing stream; otherwise it is for information, since "
      "polling does not need the stream.\nExit status: 0 when every step passed, 1 at the "
      "first failing step, 2 for a bad command line, 129, 130 or 143 when stopped by SIGHUP, "
      "Ctrl-C (SIGINT) or SIGTERM.");
  check->callback([&] { outcome.status = commands.check(driver, checkOptions); });

  CLI::App* series = app.add_subcommand(
      "measure", "Take readings, print each as it arrives, then a summary with statistics");
  AddDriverOptions(*series, driver);
  AddValue(*series, "--count", measure.series.count, WholeFrom(1, kMostReadings),
           "a count from 1 to 1000000", "Number of readings (default 1)")
      ->type_name("N");
  AddValue(*series, "--interval", measure.series.interval, ParseSeconds,
           "a time such as 0.5 or 500m",
           "From the start of one reading to the start of the next (default 0: at once)", Seconds)
      ->type_name("SECONDS");
  AddCalibrationValue(*series, "--slope", slope, "m in µF per second (default 0: no capacitance)")
      ->type_name("M");
  AddCalibrationValue(*series, "--intercept", intercept, "b in µF (default 0)")->type_name("B");
  std::vector<std::string> formatNames;
  std::string formatHelp =
      "How the readings are written (default " + std::string(ReadingFormats().front().name) + "):";
  for (const ReadingFormat& format : ReadingFormats()) {
    formatNames.emplace_back(format.name);
    formatHelp += "\n  " + std::string(format.name) + ": " + std::string(format.description);
  }
  series
      ->add_option_function<std::string>(
          "--format",
          [&measure](const std::string& name) { measure.format = FindReadingFormat(name); },
          formatHelp)
      ->type_name("FORMAT")
      ->transform(CLI::IsMember(formatNames, CLI::ignore_case).description(""));
  series
      ->add_option("--output", measure.output,
                   "Write the readings to FILE; on a terminal a progress line goes to standard "
                   "error")
      ->type_name("FILE");
  AddNoDither(*series, noDither);
  AddNoCalibration(*series, noCalibration);
  AddLabel(*series, measure.label, "The stored calibration's label to use");
  measure.series.timing = Timing::Auto;
  AddTimingOptions(*series, measure.series.timing, measure.series.sampleClock);
  series->footer(
      "With --count above 1 each polled reading waits a different fraction of the measured poll "
      "period before its first poll, so the mean settles half a poll period below the charge "
      "time instead of wherever the poll grid puts it.\nCSV and JSON write '.' as the decimal "
      "point; CSV holds only the readings, its summary goes to standard error.\nExit status: 0 "
      "when every reading gave a time, 1 when the device could not be used, a reading failed or "
      "the output could not be written, 2 for a bad command line, 129 after SIGHUP, 130 after "
      "Ctrl-C (SIGINT), 143 after SIGTERM.\nWithout --slope and --intercept the line kept for "
      "the chip, its timing and --label (\"capmeter-cli calibrate --save\") is used and named "
      "on standard error, its open-circuit zero taken out; a calibration file that cannot be "
      "read is a failure.");
  series->callback([&] {
    RefuseWhatTheTimingIgnores(*series, measure.series.timing);
    measure.series.dither = measure.series.count > 1 && !noDither;
    measure.series.calibration = Calibration(slope, intercept);
    measure.useStoredLine =
        !noCalibration && series->count("--slope") == 0 && series->count("--intercept") == 0;
    outcome.status = commands.measure(driver, measure);
  });

  CLI::App* fit = app.add_subcommand(
      "calibrate", "Find m and b from capacitors of known value: C = m × t + b by least squares");
  AddDriverOptions(*fit, driver);
  // The capacitors given are the simulated part in turn.
  Without(*fit, {"--capacitance"});
  fit->add_option_function<std::vector<std::string>>(
         "capacitors",
         [&calibrate](const std::vector<std::string>& texts) {
           for (const std::string& text : texts) {
             const std::optional<double> farads = ParseFarads(text);
             if (!farads) {
               throw CLI::ValidationError(
                   "capacitors", "'" + text + "' is not a capacitance such as 1u: " + Farads(text));
             }
             calibrate.capacitors.push_back({text, *farads * 1e6});
           }
         },
         "The known capacitors in farads with an SI prefix, e.g. 1u 10u; at least two "
         "different ones. With --simulate each is the simulated part in turn.")
      ->type_name("C")
      ->required();
  AddValue(*fit, "--count", calibrate.count, WholeFrom(1, kMostReadings),
           "a count from 1 to 1000000", "Readings per capacitor (default 10)")
      ->type_name("N");
  fit->add_flag("--force", calibrate.force,
                "Give the line even where a capacitor was below the range or lies off it by "
                "more than its readings' bounds explain");
  fit->add_flag("--yes", calibrate.yes,
                "Do not ask to connect each capacitor or to keep the line (for scripts and tests)");
  fit->add_flag("--save", calibrate.save,
                "Keep the line in the calibration file for the chip, its timing and --label");
  AddLabel(*fit, calibrate.label, "A label the line is kept under");
  AddNoDither(*fit, noDither);
  calibrate.timing = Timing::Auto;
  AddTimingOptions(*fit, calibrate.timing, calibrate.sampleClock);
  fit->footer(
      "Prompts \"Connect <value> and press Enter\" before each capacitor. A line holds only for "
      "the timing it was made with. --save keeps it in $XDG_CONFIG_HOME/capmeter/calibrations.json "
      "(%APPDATA%\\capmeter on Windows) for the chip's serial number, its timing and sample rate "
      "and --label, where measure, zero, serve and the monitor find it; a new line drops the "
      "old one's zero.\nExit status: 0 with a line, 1 when the device could not be "
      "used, a capacitor gave no time or the line could not be kept, 2 for a bad command line, "
      "fewer than two different "
      "capacitors or times without spread, 129 after SIGHUP, 130 after Ctrl-C (SIGINT), 143 "
      "after SIGTERM.");
  fit->callback([&] {
    RefuseWhatTheTimingIgnores(*fit, calibrate.timing);
    calibrate.dither = calibrate.count > 1 && !noDither;
    outcome.status = commands.calibrate(driver, calibrate);
  });

  CLI::App* instrument = app.add_subcommand(
      "serve", "Serve the meter as an SCPI instrument on TCP (as LXI instruments on port 5025)");
  AddDriverOptions(*instrument, driver);
  AddValue(*instrument, "--listen", serve.listen, ParseListenAddress,
           "an address such as 127.0.0.1:5025 or [::1]:5025",
           "Listen on ADDR:PORT (default 127.0.0.1:5025; port 0 takes a free one); beyond "
           "loopback only with --allow")
      ->type_name("ADDR:PORT");
  instrument
      ->add_option_function<std::vector<std::string>>(
          "--allow",
          [&serve](const std::vector<std::string>& texts) {
            for (const std::string& text : texts) {
              const auto range = ParseAddressRange(text);
              if (!range) {
                throw CLI::ValidationError("--allow", "'" + text +
                                                          "' is not an address range such as "
                                                          "192.0.2.0/24 or fd00::/64");
              }
              serve.allow.Add(*range);
            }
          },
          "Let peers in CIDR connect (repeatable; this machine always may); needed for a "
          "--listen beyond loopback")
      ->type_name("CIDR");
  instrument->add_flag("--read-only", serve.readOnly,
                       "Answer queries only: commands that change a setting get -203");
  bool noVxi11 = false;
  instrument->add_flag("--no-vxi11", noVxi11,
                       "No VXI-11 channel (TCPIP::host::INSTR) beside the raw socket");
  AddValue(*instrument, "--vxi11-port", serve.vxi11Port, ParseListenPort, "a port from 0 to 65535",
           "The VXI-11 core channel's port (default 0: a free one, which the portmapper tells "
           "clients)")
      ->type_name("PORT");
  AddCalibrationValue(*instrument, "--slope", serve.slope,
                      "The initial m in µF per second (default 0; CAL:SLOP sets it in F/s)")
      ->type_name("M");
  AddCalibrationValue(*instrument, "--intercept", serve.intercept,
                      "The initial b in µF (default 0; CAL:INT sets it in F)")
      ->type_name("B");
  AddNoCalibration(*instrument, noCalibration);
  AddLabel(*instrument, serve.label, "The stored calibration's label to use");
  instrument->add_option("--log", serve.log, "Write every reading taken to FILE as CSV")
      ->type_name("FILE");
  serve.timing = Timing::Auto;
  AddTimingOptions(*instrument, serve.timing, serve.sampleClock);
  instrument->footer(
      "Prints \"capmeter-cli: listening on ADDR:PORT\" on standard error once clients may "
      "connect; docs/scpi.md lists the commands. --timing and --sample-rate give the values at "
      "start, which TIM:MODE and TIM:SRAT change.\nExit status: 1 when the address or the log "
      "cannot be had, 2 for a bad command line, 129 after SIGHUP, 130 after Ctrl-C (SIGINT), "
      "143 after SIGTERM.");
  instrument->callback([&] {
    serve.vxi11 = !noVxi11;
    serve.useStoredLine = !noCalibration && instrument->count("--slope") == 0 &&
                          instrument->count("--intercept") == 0;
    outcome.status = commands.serve(driver, serve);
  });

  CLI::App* nulling = app.add_subcommand(
      "zero",
      "Read the circuit with nothing connected and keep its stray capacitance with the chip's "
      "stored line, for later readings to take out");
  AddDriverOptions(*nulling, driver);
  // Nothing is connected: the simulated part is left off.
  Without(*nulling, {"--capacitance"});
  AddValue(*nulling, "--count", zero.count, WholeFrom(1, kMostReadings),
           "a count from 1 to 1000000", "Open-circuit readings (default 10)")
      ->type_name("N");
  AddLabel(*nulling, zero.label, "The stored calibration's label");
  nulling->add_flag("--clear", zero.clear,
                    "Take the stored zero away instead; no reading is taken");
  nulling->add_flag("--yes", zeroYes, "Do not ask to take the capacitor off");
  AddNoDither(*nulling, noDither);
  zero.timing = Timing::Auto;
  AddTimingOptions(*nulling, zero.timing, zero.sampleClock);
  nulling->footer(
      "Prompts \"Take the capacitor off, leave the wiring, and press Enter\". The zero is the "
      "mean capacitance the stored line gives the open circuit; it is kept with that line until "
      "the line is made again or --clear. An open circuit that reads below the range has nothing "
      "to zero and is refused.\nExit status: 0 with the zero kept, 1 without a stored line, when "
      "the device could not be used or a reading gave no time or was below the range, 2 for a "
      "bad command line, 129, 130 or 143 when stopped by SIGHUP, Ctrl-C (SIGINT) or SIGTERM.");
  nulling->callback([&] {
    RefuseWhatTheTimingIgnores(*nulling, zero.timing);
    zero.dither = zero.count > 1 && !noDither;
    outcome.status = commands.zero(driver, zero, zeroYes);
  });

  CLI::App* lines = app.add_subcommand(
      "calibration", "The calibration file: list, show or remove the lines it keeps");
  lines->require_subcommand(1);
  const auto addFilter = [&](CLI::App& command) {
    command
        .add_option("--chip", lineFilter.chip, "Only the lines of the chip with this serial number")
        ->type_name("SERIAL");
    AddValue(
        command, "--timing", lineFilter.timing,
        [](std::string_view text) -> std::optional<std::optional<Timing>> {
          const auto timing = TimingFromName(text);
          if (!timing || *timing == Timing::Auto) return std::nullopt;
          return timing;
        },
        "poll or stream", "Only the lines of this timing")
        ->type_name("TIMING");
    AddValue(
        command, "--sample-rate", lineFilter.sampleRate,
        [](std::string_view text) -> std::optional<std::optional<double>> {
          const auto rate = ParseSampleRate(text);
          if (!rate) return std::nullopt;
          return rate;
        },
        "a sample rate such as 1M", "Only the streamed lines of this rate", Rate)
        ->type_name("RATE");
    command.add_option("--label", lineFilter.label, "Only the lines with this label")
        ->type_name("TEXT");
  };
  const auto addFormat = [&](CLI::App& command) {
    command.add_option("--format", calibrationFormat, "table (default), csv or json")
        ->type_name("FORMAT")
        ->transform(
            CLI::CheckedTransformer(std::map<std::string, ListFormat>{{"table", ListFormat::Table},
                                                                      {"csv", ListFormat::Csv},
                                                                      {"json", ListFormat::Json}},
                                    CLI::ignore_case)
                .description(""));
  };
  const auto addAction = [&](const char* name, const char* what, CalibrationAction action) {
    CLI::App* command = lines->add_subcommand(name, what);
    addFilter(*command);
    if (action != CalibrationAction::Remove) addFormat(*command);
    command->callback([&commands, &outcome, &lineFilter, &calibrationFormat, action] {
      outcome.status = commands.calibration(action, lineFilter, calibrationFormat);
    });
    return command;
  };
  addAction("list", "One row per stored line: chip, timing, rate, label, m, b, zero, made",
            CalibrationAction::List);
  addAction("show", "The stored lines in full, with the capacitors each was fitted to",
            CalibrationAction::Show);
  addAction("remove", "Take the lines that match away (--chip at least)", CalibrationAction::Remove)
      ->get_option("--chip")
      ->required();
  lines->footer(
      "The file is $XDG_CONFIG_HOME/capmeter/calibrations.json (else ~/.config/capmeter/; "
      "%APPDATA%\\capmeter\\ on Windows).\nExit status: 0 when it went well (list: also with "
      "no line), 1 when the file cannot be read or written or show or remove finds no line, 2 "
      "for a bad command line.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help, out, err);
  } catch (const CLI::CallForVersion& versionCall) {
    return app.exit(versionCall, out, err);
  } catch (const CLI::ParseError& error) {
    // Two short lines, as the other programs say it, naming the sub-command
    // whose help would tell more.
    std::string command = "capmeter-cli";
    for (const CLI::App* sub : app.get_subcommands()) command += " " + sub->get_name();
    err << "capmeter-cli: " << error.what() << "\nTry '" << command
        << " --help' for more information.\n";
    return kExitUsage;
  }
  if (app.get_subcommands().empty()) {
    // Checked here rather than by CLI11, which would say so before naming an
    // unknown option.
    err << "capmeter-cli: a command is needed: list, check, measure, calibrate, zero, "
           "calibration or serve\nTry "
           "'capmeter-cli "
           "--help' for more information.\n";
    return kExitUsage;
  }
  return outcome.status;
}

}  // namespace capmeter::cli
