#pragma once

#include <QCommandLineParser>
#include <QString>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device/chip_choice.h"

namespace capmeter {

// A window program's command line. It is read before the application object
// exists, so --help, --version and a bad option need no display.
class CommandLine {
 public:
  // summary: one line under the usage line; details: text after the options.
  CommandLine(std::string program, std::string summary, std::string details = {});

  // What both window programs take besides --help and --version: the first
  // texts of m and b (--slope, --intercept), when given, and where to trace
  // the driver calls (--trace FILE, "-" for standard error; empty for none).
  std::optional<std::string> InitialSlope() const;
  std::optional<std::string> InitialIntercept() const;
  std::string TracePath() const;
  // Which chip to open (--device N or --serial TEXT); device 0 without either.
  const ChipChoice& Chip() const { return chip_; }

  // An option that takes a value, e.g. "--capacitance VALUE".
  void AddValueOption(const QString& name, const QString& description, const QString& valueName,
                      const QString& defaultValue);
  // An option without a value, e.g. "--simulate"; IsSet tells whether it was given.
  void AddFlagOption(const QString& name, const QString& description);
  bool IsSet(const QString& name) const;

  // Reads the arguments after the program's name. False on an unknown option,
  // a missing value or any argument that is not an option; Error() says which.
  bool Parse(const std::vector<std::string>& arguments);

  bool HelpRequested() const;
  bool VersionRequested() const;
  std::string Value(const QString& name) const;
  const std::string& Error() const { return error_; }

  const std::string& Program() const { return program_; }
  std::string HelpText() const;
  // "<program> <version>", a copyright line and the licence.
  std::string VersionText() const;
  // Two lines for standard error: what was wrong, and where help is.
  std::string ErrorText(std::string_view message) const;

 protected:
  // For a program that checks its option values after Parse.
  void SetError(std::string error) { error_ = std::move(error); }

 private:
  std::string program_;
  std::string summary_;
  std::string details_;
  QCommandLineParser parser_;
  QCommandLineOption help_;
  QCommandLineOption version_;
  QCommandLineOption slope_;
  QCommandLineOption intercept_;
  QCommandLineOption trace_;
  QCommandLineOption device_;
  QCommandLineOption serial_;
  ChipChoice chip_;
  std::string error_;
};

// What a program does with a parsed command line before it starts: help or
// version on `out` (exit status 0), the error on `err` (status 2), or nothing
// when the program should start.
std::optional<int> AnswerCommandLine(const CommandLine& commandLine, bool parsed, std::ostream& out,
                                     std::ostream& err);

}  // namespace capmeter
