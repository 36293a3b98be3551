#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <vector>

#include "cli/values.h"

namespace capmeter::cli {

namespace {

std::string Check(bool valid, const std::string& text, const char* expected) {
  return valid ? std::string() : "'" + text + "' is not " + expected;
}

constexpr const char* kExitStatuses =
    "Exit status: 0 all went well; 1 the driver, the device or a reading failed; 2 a bad "
    "command line; 130 stopped by Ctrl-C (SIGINT), 143 by SIGTERM.";

// The options every sub-command takes: where the driver calls are traced,
// and the simulated chip in place of the vendor's library.
void AddDriverOptions(CLI::App& command, CommandLine& line, std::string& capacitance,
                      std::string& resistance, std::string& latency) {
  command
      .add_option("--trace", line.trace, "Write every driver call to FILE ('-' for standard error)")
      ->type_name("FILE");
  CLI::Option* simulate =
      command.add_flag("--simulate", line.simulation.enabled,
                       "Use the simulated chip and timing circuit instead of the driver library");
  command
      .add_option("--capacitance", capacitance,
                  "Simulated capacitor, in farads with an SI prefix (default 4.7u)")
      ->type_name("VALUE")
      ->check([](const std::string& t) {
        return Check(ParseFarads(t).has_value(), t, "a capacitance such as 4.7u");
      })
      ->needs(simulate);
  command
      .add_option("--resistance", resistance,
                  "Simulated timing resistor, in ohms with an SI prefix (default 100k)")
      ->type_name("VALUE")
      ->check([](const std::string& t) {
        return Check(ParseOhms(t).has_value(), t, "a resistance such as 100k");
      })
      ->needs(simulate);
  command
      .add_option("--latency", latency,
                  "Simulated round trip of each driver call, in seconds with an SI prefix "
                  "(e.g. 1m for a full-speed chip, 125u for a high-speed one; default 0)")
      ->type_name("SECONDS")
      ->check([](const std::string& t) {
        return Check(ParseSeconds(t).has_value(), t, "a time such as 1m or 0");
      })
      ->needs(simulate);
}

}  // namespace

std::string VersionText(std::string_view version) {
  return "capmeter-cli " + std::string(version) +
         "\n"
         "Copyright (c) 2026 the capmeter authors.\n"
         "MIT License: this is free software; you are free to change and redistribute it.\n"
         "There is NO WARRANTY, to the extent permitted by law.";
}

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::string_view version,
                                   std::ostream& out, std::ostream& err) {
  CommandLine line;
  std::string capacitance;
  std::string resistance;
  std::string latency;
  std::string interval;
  std::string format = "table";
  bool noDither = false;
  std::vector<std::string> capacitors;

  // The text goes below the usage line, which help2man and people look for
  // first.
  CLI::App app("", "capmeter-cli");
  app.set_version_flag("-v,--version", VersionText(version), "Show the version and exit");
  app.set_help_flag("-h,--help", "Show this help and exit");
  app.require_subcommand(0, 1);
  app.footer(
      "The capacitance meter on the command line, on the vendor's driver library or the\n"
      "simulated chip: bring-up checks, series of readings with statistics, and\n"
      "calibration. \"capmeter-cli COMMAND --help\" tells more of each command.\n\n" +
      std::string(kExitStatuses));

  CLI::App* check = app.add_subcommand(
      "check",
      "Check the driver library, the device and the wiring step by step, one verdict line per "
      "step; stops at the first failing step");
  AddDriverOptions(*check, line, capacitance, resistance, latency);
  check->footer(
      "Exit status: 0 when every step passed, 1 at the first failing step, 2 for a bad "
      "command line.");

  CLI::App* measure = app.add_subcommand(
      "measure", "Take readings, print each as it arrives, then a summary with statistics");
  AddDriverOptions(*measure, line, capacitance, resistance, latency);
  measure->add_option("--count", line.measure.count, "Number of readings (default 1)")
      ->type_name("N")
      ->check(CLI::Range(1, 1'000'000));
  measure
      ->add_option("--interval", interval,
                   "From the start of one reading to the start of the next (default 0: at once)")
      ->type_name("SECONDS")
      ->check([](const std::string& t) {
        return Check(ParseSeconds(t).has_value(), t, "a time such as 0.5 or 500m");
      });
  measure
      ->add_option("--slope", line.measure.slope,
                   "m in µF per second, read as the window reads it (default 0: no capacitance)")
      ->type_name("M");
  measure->add_option("--intercept", line.measure.intercept, "b in µF (default 0)")->type_name("B");
  measure->add_option("--format", format, "table (default), csv or json")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  measure
      ->add_option("--output", line.output,
                   "Write the readings to FILE; a progress line goes to standard error")
      ->type_name("FILE");
  measure->add_flag("--no-dither", noDither,
                    "Do not spread the readings' first polls over a poll period");
  measure->footer(
      "With --count above 1 each reading waits a different fraction of the measured poll period "
      "before its first poll, so the mean settles half a poll period below the charge time "
      "instead of wherever the poll grid puts it.\nCSV and JSON write '.' as the decimal point; "
      "CSV holds only the readings, its summary goes to standard error.\nExit status: 0 when "
      "every reading gave a time, 1 when the device could not be used or a reading failed, 2 for "
      "a bad command line, 130 after Ctrl-C (SIGINT), 143 after SIGTERM.");

  CLI::App* calibrate = app.add_subcommand(
      "calibrate", "Find m and b from capacitors of known value: C = m × t + b by least squares");
  AddDriverOptions(*calibrate, line, capacitance, resistance, latency);
  calibrate
      ->add_option("capacitors", capacitors,
                   "The known capacitors in farads with an SI prefix, e.g. 1u 10u; at least two "
                   "different ones. With --simulate each is the simulated part in turn.")
      ->type_name("C")
      ->required()
      ->check([](const std::string& t) {
        return Check(ParseFarads(t).has_value(), t, "a capacitance such as 1u");
      });
  calibrate->add_option("--count", line.calibrate.count, "Readings per capacitor (default 10)")
      ->type_name("N")
      ->check(CLI::Range(1, 1'000'000));
  calibrate->add_flag("--yes", line.yes,
                      "Do not ask to connect each capacitor (for scripts and tests)");
  calibrate->add_flag("--no-dither", noDither,
                      "Do not spread the readings' first polls over a poll period");
  calibrate->footer(
      "Prompts \"Connect <value> and press Enter\" before each capacitor.\nExit status: 0 with "
      "a line, 1 when the device could not be used or a capacitor gave no time, 2 for a bad "
      "command line, fewer than two different capacitors or times without spread, 130 after "
      "Ctrl-C (SIGINT), 143 after SIGTERM.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return {std::nullopt, app.exit(help, out, err)};
  } catch (const CLI::CallForVersion& versionCall) {
    return {std::nullopt, app.exit(versionCall, out, err)};
  } catch (const CLI::ParseError& error) {
    // Two short lines, as the other programs say it, naming the sub-command
    // whose help would tell more.
    std::string command = "capmeter-cli";
    for (const CLI::App* sub : app.get_subcommands()) command += " " + sub->get_name();
    err << "capmeter-cli: " << error.what() << "\nTry '" << command
        << " --help' for more information.\n";
    return {std::nullopt, kExitUsage};
  }

  if (app.get_subcommands().empty()) {
    // Checked here rather than by CLI11, which would say so before naming an
    // unknown option.
    err << "capmeter-cli: a command is needed: check, measure or calibrate\nTry 'capmeter-cli "
           "--help' for more information.\n";
    return {std::nullopt, kExitUsage};
  }

  if (!capacitance.empty()) line.simulation.parts.capacitanceFarads = *ParseFarads(capacitance);
  if (!resistance.empty()) line.simulation.parts.resistanceOhms = *ParseOhms(resistance);
  if (!latency.empty()) line.simulation.latency = *ParseSeconds(latency);

  if (check->parsed()) {
    line.command = Command::Check;
  } else if (measure->parsed()) {
    line.command = Command::Measure;
    if (!interval.empty()) line.measure.interval = *ParseSeconds(interval);
    line.measure.format = format == "csv"    ? Format::Csv
                          : format == "json" ? Format::Json
                                             : Format::Table;
    line.measure.dither = line.measure.count > 1 && !noDither;
    line.measure.progress = !line.output.empty();
  } else {
    line.command = Command::Calibrate;
    for (const std::string& text : capacitors) {
      line.calibrate.capacitors.push_back({text, *ParseFarads(text) * 1e6});
    }
    line.calibrate.dither = line.calibrate.count > 1 && !noDither;
  }
  return {line, kExitOk};
}

}  // namespace capmeter::cli
