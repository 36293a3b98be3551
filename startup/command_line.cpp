#include "startup/command_line.h"

#include <QStringList>
#include <ostream>
#include <utility>

#include "capmeter_version.h"

namespace capmeter {

CommandLine::CommandLine(std::string program, std::string summary, std::string details)
    : program_(std::move(program)),
      summary_(std::move(summary)),
      details_(std::move(details)),
      help_(QStringList{"h", "help"}, "Show this help and exit."),
      version_(QStringList{"v", "version"}, "Show the version and exit."),
      slope_("slope", "Start with TEXT in m instead of 0 (read at each Sample as usual).", "TEXT"),
      intercept_("intercept", "Start with TEXT in b instead of 0.", "TEXT"),
      trace_("trace", "Write every driver call to FILE ('-' for standard error).", "FILE"),
      device_("device", "Open the chip with index N in \"capmeter-cli list\" (default 0).", "N"),
      serial_("serial", "Open the chip with serial number TEXT, as \"capmeter-cli list\" shows it.",
              "TEXT") {
  parser_.setApplicationDescription(QString::fromStdString(summary_));
  parser_.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser_.addOption(help_);
  parser_.addOption(version_);
  parser_.addOption(slope_);
  parser_.addOption(intercept_);
  parser_.addOption(trace_);
  parser_.addOption(device_);
  parser_.addOption(serial_);
}

std::optional<std::string> CommandLine::InitialSlope() const {
  return parser_.isSet(slope_) ? std::optional(parser_.value(slope_).toStdString()) : std::nullopt;
}

std::optional<std::string> CommandLine::InitialIntercept() const {
  return parser_.isSet(intercept_) ? std::optional(parser_.value(intercept_).toStdString())
                                   : std::nullopt;
}

std::string CommandLine::TracePath() const {
  return parser_.value(trace_).toStdString();
}

void CommandLine::AddValueOption(const QString& name, const QString& description,
                                 const QString& valueName, const QString& defaultValue) {
  parser_.addOption(QCommandLineOption(name, description, valueName, defaultValue));
}

void CommandLine::AddFlagOption(const QString& name, const QString& description) {
  parser_.addOption(QCommandLineOption(name, description));
}

bool CommandLine::IsSet(const QString& name) const {
  return parser_.isSet(name);
}

bool CommandLine::Parse(const std::vector<std::string>& arguments) {
  QStringList list{QString::fromStdString(program_)};
  for (const std::string& argument : arguments) list << QString::fromLocal8Bit(argument.c_str());
  if (!parser_.parse(list)) {
    error_ = parser_.errorText().toStdString();
    return false;
  }
  if (!parser_.positionalArguments().isEmpty()) {
    error_ = "Unexpected argument '" + parser_.positionalArguments().first().toStdString() + "'.";
    return false;
  }
  if (parser_.isSet(device_) && parser_.isSet(serial_)) {
    error_ = "--device and --serial exclude each other.";
    return false;
  }
  if (parser_.isSet(device_)) {
    bool isNumber = false;
    const QString text = parser_.value(device_);
    const uint index = text.toUInt(&isNumber);
    if (!isNumber || index > 0x7FFFFFFF || text.startsWith('+')) {
      error_ = "Invalid value '" + text.toStdString() +
               "' for --device (expected a chip's index such as 1).";
      return false;
    }
    chip_.index = index;
  }
  if (parser_.isSet(serial_)) chip_.serialNumber = parser_.value(serial_).toStdString();
  return true;
}

bool CommandLine::HelpRequested() const {
  return parser_.isSet(help_);
}

bool CommandLine::VersionRequested() const {
  return parser_.isSet(version_);
}

std::string CommandLine::Value(const QString& name) const {
  return parser_.value(name).toStdString();
}

std::string CommandLine::HelpText() const {
  // Qt's first line names the executable as it was started (or not at all
  // before the application object exists); the program's own name reads better
  // and keeps the text the same wherever the program is installed.
  std::string text = parser_.helpText().toStdString();
  text.replace(0, text.find('\n'), "Usage: " + program_ + " [options]");
  if (!details_.empty()) text += "\n" + details_;
  return text;
}

std::string CommandLine::VersionText() const {
  return capmeter::VersionText(program_) + "\n";
}

std::string CommandLine::ErrorText(std::string_view message) const {
  return program_ + ": " + std::string(message) + "\nTry '" + program_ +
         " --help' for more information.\n";
}

std::optional<int> AnswerCommandLine(const CommandLine& commandLine, bool parsed, std::ostream& out,
                                     std::ostream& err) {
  if (!parsed) {
    err << commandLine.ErrorText(commandLine.Error());
    return 2;
  }
  if (commandLine.HelpRequested()) {
    out << commandLine.HelpText();
    return 0;
  }
  if (commandLine.VersionRequested()) {
    out << commandLine.VersionText();
    return 0;
  }
  return std::nullopt;
}

}  // namespace capmeter
