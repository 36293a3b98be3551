#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace capmeter::scpi {

// Every command the instrument knows; the table below gives each its header.
enum class Command {
  Identify,
  Reset,
  ClearStatus,
  SetEventEnable,
  EventEnable,
  EventStatus,
  SetOperationComplete,
  OperationComplete,
  SetServiceRequestEnable,
  ServiceRequestEnable,
  StatusByte,
  SelfTest,
  Wait,
  NextError,
  ErrorCount,
  Version,
  Driver,
  StatusPreset,
  OperationEvents,
  SetOperationEnable,
  OperationEnable,
  QuestionableEvents,
  SetQuestionableEnable,
  QuestionableEnable,
  ConfigureCapacitance,
  ConfigureTime,
  Configuration,
  MeasureCapacitance,
  MeasureTime,
  Read,
  Initiate,
  Fetch,
  FetchUncertainty,
  Abort,
  SetSampleCount,
  SampleCount,
  SetAverageCount,
  AverageCount,
  SetSlope,
  Slope,
  SetIntercept,
  Intercept,
  SetNull,
  NullState,
  SetNullValue,
  NullValue,
  SetNullAuto,
  NullAuto,
  StoreCalibration,
  CalibrationDate,
  CalibrationCount,
  SetTiming,
  Timing,
  SetSampleRate,
  SampleRate,
  SetStatistics,
  StatisticsState,
  ClearStatistics,
  StatisticsMean,
  StatisticsMinimum,
  StatisticsMaximum,
  StatisticsDeviation,
  StatisticsPeakToPeak,
  StatisticsCount,
  StatisticsFailures,
};

// The unit a numeric parameter may carry as a suffix, after an optional
// multiplier (4.7UF, 10MS).
enum class Unit { None, Farad, Second, FaradPerSecond, Hertz };

// A command's one numeric parameter: its range, what MIN, MAX and DEF stand
// for, and whether it is a whole number (others are rounded to one).
struct NumberRule {
  double min = 0.0;
  double max = 0.0;
  double byDefault = 0.0;
  Unit unit = Unit::None;
  bool whole = false;
  bool optional = false;  // may be left out
};

// One row of the command table. The header has SCPI's notation: the short
// form in capitals, optional nodes in brackets, '?' for a query.
struct CommandRow {
  std::string_view header;
  Command command;
  std::optional<NumberRule> number;  // none: no numeric parameter
  // The words a parameter may be instead, in the same notation (STReam).
  std::span<const std::string_view> choices = {};
};

// The instrument's command table.
std::span<const CommandRow> CommandTable();

// TIMing:MODE's words, in the order of measurement/stream_timing.h's Timing.
inline constexpr std::string_view kTimingChoices[] = {"POLL", "STReam", "AUTO"};
// A boolean: an odd index is ON.
inline constexpr std::string_view kBooleanChoices[] = {"OFF", "ON", "0", "1"};

// Whether the command asks (its header ends in '?'), so it changes nothing
// that a read-only instrument must keep.
bool IsQuery(Command command);

// A word's short form: its leading capitals (STR of STReam), as queries
// answer with it.
std::string_view ShortForm(std::string_view word);

}  // namespace capmeter::scpi
