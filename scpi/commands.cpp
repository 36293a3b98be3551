#include "scpi/commands.h"

#include <algorithm>
#include <array>

#include "measurement/stream_timing.h"

namespace capmeter::scpi {

namespace {

constexpr NumberRule kRegister{0, 255, 0, Unit::None, true, false};
constexpr NumberRule kEventRegister{0, 32767, 0, Unit::None, true, false};
// Readings per trigger, and single readings averaged into each: at the most
// a few hours of readings.
constexpr NumberRule kCount{1, 10000, 1, Unit::None, true, false};
// The slope of C = m x t + b in F/s and its intercept in F; wide enough for
// any resistor and capacitor the circuit takes.
constexpr NumberRule kSlope{-1e3, 1e3, 0, Unit::FaradPerSecond, false, false};
constexpr NumberRule kIntercept{-1, 1, 0, Unit::Farad, false, false};
// The expected value DMM scripts pass to CONFigure and MEASure; there is one
// range, so it is checked and otherwise has no effect.
constexpr NumberRule kCapacitanceRange{0, 1, 1, Unit::Farad, false, true};
constexpr NumberRule kTimeRange{0, 10, 10, Unit::Second, false, true};
// The sample rate asked for with stream timing (measurement/stream_timing.h).
constexpr NumberRule kSampleRate{
    kSlowestSampleRate, kFastestSampleRate, kDefaultSampleRate, Unit::Hertz, false, false};

constexpr std::array kCommands{
    CommandRow{"*IDN?", Command::Identify, {}},
    CommandRow{"*RST", Command::Reset, {}},
    CommandRow{"*CLS", Command::ClearStatus, {}},
    CommandRow{"*ESE", Command::SetEventEnable, kRegister},
    CommandRow{"*ESE?", Command::EventEnable, {}},
    CommandRow{"*ESR?", Command::EventStatus, {}},
    CommandRow{"*OPC", Command::SetOperationComplete, {}},
    CommandRow{"*OPC?", Command::OperationComplete, {}},
    CommandRow{"*SRE", Command::SetServiceRequestEnable, kRegister},
    CommandRow{"*SRE?", Command::ServiceRequestEnable, {}},
    CommandRow{"*STB?", Command::StatusByte, {}},
    CommandRow{"*TST?", Command::SelfTest, {}},
    CommandRow{"*WAI", Command::Wait, {}},
    CommandRow{"SYSTem:ERRor[:NEXT]?", Command::NextError, {}},
    CommandRow{"SYSTem:ERRor:COUNt?", Command::ErrorCount, {}},
    CommandRow{"SYSTem:VERSion?", Command::Version, {}},
    CommandRow{"SYSTem:DRIVer?", Command::Driver, {}},
    CommandRow{"STATus:PRESet", Command::StatusPreset, {}},
    CommandRow{"STATus:OPERation[:EVENt]?", Command::OperationEvents, {}},
    CommandRow{"STATus:OPERation:ENABle", Command::SetOperationEnable, kEventRegister},
    CommandRow{"STATus:OPERation:ENABle?", Command::OperationEnable, {}},
    CommandRow{"STATus:QUEStionable[:EVENt]?", Command::QuestionableEvents, {}},
    CommandRow{"STATus:QUEStionable:ENABle", Command::SetQuestionableEnable, kEventRegister},
    CommandRow{"STATus:QUEStionable:ENABle?", Command::QuestionableEnable, {}},
    CommandRow{"CONFigure:CAPacitance", Command::ConfigureCapacitance, kCapacitanceRange},
    CommandRow{"CONFigure:TIME", Command::ConfigureTime, kTimeRange},
    CommandRow{"CONFigure?", Command::Configuration, {}},
    CommandRow{"MEASure:CAPacitance?", Command::MeasureCapacitance, kCapacitanceRange},
    CommandRow{"MEASure:TIME?", Command::MeasureTime, kTimeRange},
    CommandRow{"READ?", Command::Read, {}},
    CommandRow{"INITiate[:IMMediate]", Command::Initiate, {}},
    CommandRow{"FETCh?", Command::Fetch, {}},
    CommandRow{"FETCh:UNCertainty?", Command::FetchUncertainty, {}},
    CommandRow{"ABORt", Command::Abort, {}},
    CommandRow{"SAMPle:COUNt", Command::SetSampleCount, kCount},
    CommandRow{"SAMPle:COUNt?", Command::SampleCount, {}},
    CommandRow{"[SENSe:]AVERage:COUNt", Command::SetAverageCount, kCount},
    CommandRow{"[SENSe:]AVERage:COUNt?", Command::AverageCount, {}},
    CommandRow{"CALibration:SLOPe", Command::SetSlope, kSlope},
    CommandRow{"CALibration:SLOPe?", Command::Slope, {}},
    CommandRow{"CALibration:INTercept", Command::SetIntercept, kIntercept},
    CommandRow{"CALibration:INTercept?", Command::Intercept, {}},
    CommandRow{"CALibration:STORe", Command::StoreCalibration, {}},
    CommandRow{"CALibration:DATE?", Command::CalibrationDate, {}},
    CommandRow{"CALibration:COUNt?", Command::CalibrationCount, {}},
    CommandRow{"[SENSe:]CAPacitance:NULL[:STATe]", Command::SetNull, {}, kBooleanChoices},
    CommandRow{"[SENSe:]CAPacitance:NULL[:STATe]?", Command::NullState, {}},
    CommandRow{"[SENSe:]CAPacitance:NULL:VALue", Command::SetNullValue, kIntercept},
    CommandRow{"[SENSe:]CAPacitance:NULL:VALue?", Command::NullValue, {}},
    CommandRow{"[SENSe:]CAPacitance:NULL:VALue:AUTO", Command::SetNullAuto, {}, kBooleanChoices},
    CommandRow{"[SENSe:]CAPacitance:NULL:VALue:AUTO?", Command::NullAuto, {}},
    CommandRow{"[SENSe:]TIMing:MODE", Command::SetTiming, {}, kTimingChoices},
    CommandRow{"[SENSe:]TIMing:MODE?", Command::Timing, {}},
    CommandRow{"[SENSe:]TIMing:SRATe", Command::SetSampleRate, kSampleRate},
    CommandRow{"[SENSe:]TIMing:SRATe?", Command::SampleRate, {}},
    CommandRow{"CALCulate:AVERage:STATe", Command::SetStatistics, {}, kBooleanChoices},
    CommandRow{"CALCulate:AVERage:STATe?", Command::StatisticsState, {}},
    CommandRow{"CALCulate:AVERage:CLEar", Command::ClearStatistics, {}},
    CommandRow{"CALCulate:AVERage:AVERage?", Command::StatisticsMean, {}},
    CommandRow{"CALCulate:AVERage:MINimum?", Command::StatisticsMinimum, {}},
    CommandRow{"CALCulate:AVERage:MAXimum?", Command::StatisticsMaximum, {}},
    CommandRow{"CALCulate:AVERage:SDEViation?", Command::StatisticsDeviation, {}},
    CommandRow{"CALCulate:AVERage:PTPeak?", Command::StatisticsPeakToPeak, {}},
    CommandRow{"CALCulate:AVERage:COUNt?", Command::StatisticsCount, {}},
    CommandRow{"CALCulate:AVERage:FAILures?", Command::StatisticsFailures, {}},
};

}  // namespace

std::span<const CommandRow> CommandTable() {
  return kCommands;
}

bool IsQuery(Command command) {
  return std::any_of(kCommands.begin(), kCommands.end(), [command](const CommandRow& row) {
    return row.command == command && row.header.ends_with('?');
  });
}

std::string_view ShortForm(std::string_view word) {
  const auto capitals =
      std::find_if(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  return word.substr(0, static_cast<std::size_t>(capitals - word.begin()));
}

}  // namespace capmeter::scpi
