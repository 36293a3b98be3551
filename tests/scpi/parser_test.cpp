// The SCPI parser against the instrument's command table, as one table.
#include "scpi/parser.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace capmeter::scpi {
namespace {

struct Unit {
  Command command;
  std::optional<double> number = std::nullopt;
  std::optional<std::size_t> choice = std::nullopt;
};

struct Case {
  std::string line;
  std::vector<Unit> units;  // read before the error, if any
  int error = 0;
};

const Case kCases[] = {
    // Long and short forms, any case, optional nodes.
    {"*IDN?", {{Command::Identify}}},
    {"*idn?", {{Command::Identify}}},
    {"MEASure:CAPacitance?", {{Command::MeasureCapacitance}}},
    {"meas:cap?", {{Command::MeasureCapacitance}}},
    {"MEAS:CAPA?", {}, -113},
    {"SYST:ERR?", {{Command::NextError}}},
    {"system:error:next?", {{Command::NextError}}},
    {"SYST:ERR:COUN?", {{Command::ErrorCount}}},
    {"AVER:COUN 4", {{Command::SetAverageCount, 4}}},
    {"SENS:AVER:COUN 4", {{Command::SetAverageCount, 4}}},
    {"INIT:IMM", {{Command::Initiate}}},
    {"STAT:OPER?", {{Command::OperationEvents}}},
    {"SAMP:COUN", {}, -109},
    {"SAMP:COUN?", {{Command::SampleCount}}},
    {"READ", {}, -113},
    {"FOO", {}, -113},
    // Compounds and the header path; common commands keep it.
    {"MEAS:CAP?;TIME?", {{Command::MeasureCapacitance}, {Command::MeasureTime}}},
    {"MEAS:CAP?;:SAMP:COUN 2", {{Command::MeasureCapacitance}, {Command::SetSampleCount, 2}}},
    {"SAMP:COUN 2;*CLS;COUN?",
     {{Command::SetSampleCount, 2}, {Command::ClearStatus}, {Command::SampleCount}}},
    {"SAMP:COUN 2;SYST:ERR?", {{Command::SetSampleCount, 2}}, -113},
    {"FOO;*IDN?", {}, -113},
    {"*RST;;*CLS ; ", {{Command::Reset}, {Command::ClearStatus}}},
    {"", {}},
    {"MEAS:CAP?\r", {{Command::MeasureCapacitance}}},
    // Numbers: NR1, NR2, NR3, MIN/MAX/DEF, suffixes with multipliers.
    {"SAMP:COUN +5E0", {{Command::SetSampleCount, 5}}},
    {"SAMP:COUN 2.6", {{Command::SetSampleCount, 3}}},
    {"samp:coun max", {{Command::SetSampleCount, 10000}}},
    {"SAMP:COUN MINimum", {{Command::SetSampleCount, 1}}},
    {"SAMP:COUN DEF", {{Command::SetSampleCount, 1}}},
    {"CAL:SLOP 9.0909E-6", {{Command::SetSlope, 9.0909e-6}}},
    {"CAL:SLOP 9.0909 uF/s", {{Command::SetSlope, 9.0909e-6}}},
    {"CAL:SLOP -.5e-3", {{Command::SetSlope, -0.5e-3}}},
    {"CAL:INT 4.7UF", {{Command::SetIntercept, 4.7e-6}}},
    {"CAL:INT 470nf", {{Command::SetIntercept, 470e-9}}},
    {"CAL:INT 1FF", {{Command::SetIntercept, 1e-15}}},
    {"MEAS:TIME? 10MS", {{Command::MeasureTime, 0.01}}},
    {"CONF:CAP", {{Command::ConfigureCapacitance}}},
    {"TIM:SRAT 500KHZ", {{Command::SetSampleRate, 500e3}}},
    {"SENS:TIM:SRAT 2.4MHZ", {{Command::SetSampleRate, 2.4e6}}},  // MHZ: mega, not milli
    {"TIM:SRAT DEF", {{Command::SetSampleRate, 1e6}}},
    // A multiplier without the unit, as on the command line; M stays milli.
    {"TIM:SRAT 500k", {{Command::SetSampleRate, 500e3}}},
    {"MEAS:TIME? 10M", {{Command::MeasureTime, 0.01}}},
    {"SENSe:TIMing:SRATe?", {{Command::SampleRate}}},
    // Words: long and short forms in any case.
    {"TIM:MODE STR", {{Command::SetTiming, std::nullopt, 1}}},
    {"sense:timing:mode stream", {{Command::SetTiming, std::nullopt, 1}}},
    {"TIM:MODE Poll;MODE?", {{Command::SetTiming, std::nullopt, 0}, {Command::Timing}}},
    // Every way a parameter can be wrong.
    {"SAMP:COUN 0", {}, -222},
    {"SAMP:COUN 10001", {}, -222},
    {"CAL:INT 1E400", {}, -222},
    {"*RST 1", {}, -108},
    {"SAMP:COUN 1,2", {}, -108},
    {"CAL:SLOP 9,0909", {}, -108},  // a decimal comma is a second parameter, not 9
    {"*IDN? \x80", {}, -108},
    {"MEAS:CAP? \x80", {}, -102},
    {"SAMP:COUN 5S", {}, -138},
    {"CAL:INT 4.7US", {}, -131},
    {"CAL:INT 4.7QF", {}, -131},
    {"SAMP:COUN FOO", {}, -224},
    {"TIM:MODE STRE", {}, -224},
    {"TIM:MODE 1", {}, -104},
    {"TIM:MODE", {}, -109},
    {"TIM:MODE STR,POLL", {}, -108},
    {"TIM:SRAT 1", {}, -222},
    {"TIM:SRAT 1MS", {}, -131},
    {"SAMP:COUN \"5;*RST\"", {}, -104},
    {"SAMP:COUN \"5", {}, -102},
    {"SAMP:COUN 1.2.3", {}, -102},
    {"SAMP:COUN ,", {}, -108},
    {"SAMP:COUN 5 5", {}, -102},
    {"*IDN?x", {}, -102},
    {"MEAS::CAP?", {}, -102},
    {"\xff\xfe", {}, -102},
    {std::string("*IDN?\0", 6), {{Command::Identify}}},  // NUL is white space
};

TEST(ParserTable, EachLineGivesItsCommandsThenItsError) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.line);
    const ParsedMessage message = ParseMessage(c.line);
    ASSERT_EQ(message.units.size(), c.units.size());
    for (std::size_t i = 0; i < c.units.size(); ++i) {
      EXPECT_EQ(message.units[i].command, c.units[i].command);
      ASSERT_EQ(message.units[i].number.has_value(), c.units[i].number.has_value());
      if (c.units[i].number) {
        EXPECT_DOUBLE_EQ(*message.units[i].number, *c.units[i].number);
      }
      EXPECT_EQ(message.units[i].choice, c.units[i].choice);
    }
    EXPECT_EQ(message.error ? message.error->code : 0, c.error);
  }
}

}  // namespace
}  // namespace capmeter::scpi
