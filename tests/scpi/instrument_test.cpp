// The instrument on the simulated chip and virtual time.
#include "scpi/instrument.h"

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "device/device_link.h"
#include "measurement/line_fit.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"

namespace capmeter::scpi {
namespace {

// Device 0 opened on demand, as the server holds it.
class OpenOnDemand final : public DeviceAccess {
 public:
  explicit OpenOnDemand(DriverLibrary& library) : library_(library) {}
  Opened Open() override {
    if (handle_ == nullptr && library_.FT_Open(kFirstDevice, &handle_) != kStatusOk) {
      handle_ = nullptr;
      return {nullptr, "could not open device 0"};
    }
    return {handle_, {}};
  }
  void Release() override {
    if (handle_ == nullptr) return;
    library_.FT_SetBitMode(handle_, kAllInputs, kLeaveBitBang);
    library_.FT_Close(handle_);
    handle_ = nullptr;
  }

 private:
  DriverLibrary& library_;
  FT_HANDLE handle_ = nullptr;
};

class InstrumentTest : public ::testing::Test {
 protected:
  InstrumentTest() { chip.SetCallLatency(std::chrono::microseconds(125)); }  // a high-speed chip
  std::string Ask(std::string_view line) { return instrument.Execute(line, control); }

  VirtualClock clock;
  SimulatedChip chip{clock};  // 4.7 uF and 100 kOhm: 0.517 s
  OpenOnDemand device{chip};
  std::vector<Reading> logged;
  SeriesControl control;
  Instrument instrument{chip, clock, device, [this] {
                          InstrumentSetup setup;
                          setup.identity = [] { return std::string("capmeter,test,0,1.0"); };
                          setup.slope = 9.0909e-6;
                          setup.logReading = [this](const Reading& r) { logged.push_back(r); };
                          return setup;
                        }()};
};

double Number(const std::string& text) {
  return std::stod(text);
}

// Settings, status registers and number formats, one line after the other.
TEST_F(InstrumentTest, AnswersInOrder) {
  const std::pair<std::string_view, std::string_view> kDialogue[] = {
      {"*IDN?;SYST:VERS?", "capmeter,test,0,1.0;1999.0"},
      {"CAL:SLOP?;INT?", "+9.09090000E-06;+0.00000000E+00"},
      {"SAMP:COUN 7;COUN?;:AVER:COUN 3;COUN?", "7;3"},
      {"*RST;SAMP:COUN?;:AVER:COUN?;:CONF?", "1;1;\"CAP\""},
      {"CONF:TIME;:CONF?", "\"TIME\""},
      {"*ESE 36;*ESE?;*SRE 255;*SRE?", "36;191"},
      {"FOO", ""},
      {"*STB?", "100"},  // EAV, ESB and the service request they raise
      {"*ESR?;*ESR?", "32;0"},
      {"SYST:ERR:COUN?;:SYST:ERR?;:SYST:ERR?", "1;-113,\"Undefined header;FOO\";0,\"No error\""},
      {"*OPC;*ESR?;*OPC?;*TST?", "1;1;0"},
      {"FETC?", "+9.91000000E+37"},
      {"SYST:ERR?", "-230,\"Data corrupt or stale;no readings; INIT or READ? first\""},
  };
  for (const auto& [line, answer] : kDialogue) {
    EXPECT_EQ(Ask(line), answer) << line;
  }
  for (int i = 0; i < 11; ++i) Ask("FOO");
  EXPECT_EQ(Ask("SYST:ERR:COUN?"), "10");
  for (int i = 0; i < 9; ++i) Ask("SYST:ERR?");
  EXPECT_EQ(Ask("SYST:ERR?"), "-350,\"Queue overflow\"");
}

TEST_F(InstrumentTest, EachValueIsTheMeanOfItsReadingsAndEveryReadingIsLogged) {
  const std::string answer = Ask("SAMP:COUN 3;:AVER:COUN 2;:READ?");
  ASSERT_EQ(std::count(answer.begin(), answer.end(), ','), 2) << answer;
  EXPECT_NEAR(Number(answer), 4.7e-6, 0.001 * 4.7e-6);  // dither: half a poll below at most
  EXPECT_EQ(Ask("FETC?"), answer);
  ASSERT_EQ(logged.size(), 6U);
  EXPECT_EQ(logged.back().index, 6);
  const std::string time = Ask("SAMP:COUN 1;:AVER:COUN 1;:MEAS:TIME?");
  EXPECT_EQ(static_cast<float>(Number(time)), logged.back().seconds);
  EXPECT_EQ(Ask("SYST:ERR?"), "0,\"No error\"");
}

// MEASure? is the one-line query whatever was set before, and the statistics
// cover each value taken while on, failures apart, in the function's unit.
TEST_F(InstrumentTest, MeasureStartsFromOneReadingAndTheStatisticsCoverTheValuesTaken) {
  Ask("TIM:MODE POLL");  // dithered polls, so the values differ
  const std::string one = Ask("SAMP:COUN 5;:AVER:COUN 2;:MEAS:CAP?");
  EXPECT_EQ(one.find(','), std::string::npos) << one;
  EXPECT_EQ(logged.size(), 1U);
  EXPECT_EQ(Ask("SAMP:COUN?;:AVER:COUN?"), "1;1");

  EXPECT_EQ(Ask("CALC:AVER:STAT ON;STAT?"), "1");
  std::vector<double> values;
  std::istringstream answer(Ask("SAMP:COUN 4;:READ?"));
  for (std::string value; std::getline(answer, value, ',');) values.push_back(Number(value));
  ASSERT_EQ(values.size(), 4U);
  Ask("CAL:SLOP 0;:READ?");  // four values that fail: no slope
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  EXPECT_EQ(Ask("CALC:AVER:COUN?;FAIL?"), "4;4");
  EXPECT_DOUBLE_EQ(Number(Ask("CALC:AVER:MIN?")), *low);
  EXPECT_DOUBLE_EQ(Number(Ask("CALC:AVER:MAX?")), *high);
  // The values read back carry nine digits: 5e-15 F off at most.
  EXPECT_NEAR(Number(Ask("CALC:AVER:PTP?")), *high - *low, 1e-14);
  EXPECT_NEAR(Number(Ask("CALC:AVER:AVER?")),
              std::accumulate(values.begin(), values.end(), 0.0) / 4, 1e-14);
  EXPECT_GT(Number(Ask("CALC:AVER:SDEV?")), 0.0);

  // Seconds are not farads: a new function starts afresh.
  EXPECT_EQ(Ask("CONF:TIME;:CALC:AVER:COUN?;AVER?"), "0;+9.91000000E+37");
  EXPECT_EQ(Ask("*RST;CALC:AVER:STAT?"), "0");
}

// The sample rate is measured (250 ms) before the first streamed reading,
// and again only for a new rate or a device opened again.
TEST_F(InstrumentTest, StreamedReadingsKeepTheirMeasuredSampleRate) {
  constexpr double kCharge = 0.517;  // 1.1 x 100 kOhm x 4.7 uF
  const auto seconds = [this](std::string_view line) {
    const Clock::Duration before = clock.Now();
    const double farads = Number(Ask(line));
    // Within two samples, where a poll would be up to 125 us (240 ppm) off.
    EXPECT_NEAR(farads, 4.7e-6, 20e-6 * 4.7e-6) << line;
    return ToSeconds(clock.Now() - before);
  };
  EXPECT_EQ(Ask("TIM:MODE STR;MODE?;SRAT?"), "STR;+1.00000000E+06");
  EXPECT_GT(seconds("MEAS:CAP?"), kCharge + 0.25);
  EXPECT_LT(seconds("MEAS:CAP?"), kCharge + 0.1);
  EXPECT_GT(seconds("TIM:SRAT 500KHZ;:MEAS:CAP?"), kCharge + 0.25);
  EXPECT_DOUBLE_EQ(chip.SampleRate(), 500e3);
  Ask("*TST?");
  EXPECT_GT(seconds("MEAS:CAP?"), kCharge + 0.25);
  EXPECT_EQ(Ask("SYST:ERR?"), "0,\"No error\"");
  // *RST gives auto, which streams on the simulated high-speed chip at its
  // family's rate.
  EXPECT_EQ(Ask("*RST;TIM:MODE?;SRAT?"), "STR;+1.00000000E+06");
}

TEST_F(InstrumentTest, AReadingThatCannotBeHadAnswersNotANumberAndSaysWhy) {
  Ask("CAL:SLOP 0");
  EXPECT_EQ(Ask("MEAS:CAP?"), "+9.91000000E+37");
  EXPECT_EQ(Ask("SYST:ERR?").substr(0, 5), "-221,");
  EXPECT_TRUE(logged.empty());

  Ask("CAL:SLOP 9.0909UF/S");
  int polls = 0;
  control.stopSignal = [&polls] { return ++polls > 100 ? 1 : 0; };
  EXPECT_EQ(Ask("READ?"), "+9.91000000E+37");
  EXPECT_EQ(Ask("SYST:ERR?").substr(0, 5), "-410,");
  control.stopSignal = [] { return 0; };

  chip.SetDeviceConnected(false);
  Ask("*TST?");  // lets the device go
  EXPECT_EQ(Ask("MEAS:CAP?"), "+9.91000000E+37");
  EXPECT_EQ(Ask("SYST:ERR?").substr(0, 5), "-241,");
  chip.SetDeviceConnected(true);  // opened again at the next reading
  EXPECT_NEAR(Number(Ask("MEAS:CAP?")), 4.7e-6, 0.001 * 4.7e-6);

  chip.UnplugAt(clock.Now() + std::chrono::milliseconds(100));
  EXPECT_EQ(Ask("SAMP:COUN 2;:READ?"), "+9.91000000E+37,+9.91000000E+37");
  EXPECT_EQ(Ask("SYST:ERR?").substr(0, 5), "-240,");
  EXPECT_EQ(Ask("SYST:ERR?"), "0,\"No error\"");  // the series stops at the failed call
}

}  // namespace
}  // namespace capmeter::scpi

namespace capmeter::scpi {
namespace {

// A shared meter that must keep its settings: each command refused on its
// own, the queries of the same message still answered.
// The calibration file as the server sees it: what was kept, and the date
// and count it answers with.
class KeptLine final : public CalibrationMemory {
 public:
  std::optional<Kept> Recall(FT_HANDLE, Timing, double) override { return Kept{2026, 12, 9, 3}; }
  std::string Store(FT_HANDLE, Timing, double, double slope, double intercept,
                    std::optional<double> null) override {
    stored = {slope, intercept};
    storedNull = null;
    return {};
  }
  Line stored;
  std::optional<double> storedNull;
};

// The open circuit's reading becomes the null, taken out of capacitances and
// not of times; CAL:STOR keeps it with the line, and *RST comes back to it.
TEST_F(InstrumentTest, TheNullIsTheReadingItWasSetOnAndIsKeptWithTheLine) {
  KeptLine memory;
  Instrument meter{chip, clock, device, [&] {
                     InstrumentSetup setup;
                     setup.slope = 9.0909e-6;
                     setup.memory = &memory;
                     return setup;
                   }()};
  const auto ask = [&](std::string_view line) { return meter.Execute(line, control); };
  // One poll of the chip's round trip, on the line's slope.
  const double onePoll = 9.0909e-6 * 125e-6;
  EXPECT_EQ(ask("CAP:NULL:VAL:AUTO ON;AUTO?"), "1");
  EXPECT_EQ(Number(ask("READ?")), 0.0);
  EXPECT_EQ(ask("CAP:NULL?;NULL:VAL:AUTO?"), "1;0");
  const double null = Number(ask("CAP:NULL:VAL?"));
  EXPECT_NEAR(null, 4.7e-6, 0.001 * 4.7e-6);
  EXPECT_NEAR(Number(ask("READ?")), 0.0, onePoll);
  EXPECT_NEAR(Number(ask("CONF:TIME;:READ?")), 0.517, 0.001);
  ask("CONF:CAP;:CAL:STOR");
  EXPECT_EQ(memory.stored.slope, 9.0909e-6);
  ASSERT_TRUE(memory.storedNull);
  EXPECT_NEAR(*memory.storedNull, null, 1e-8 * null);  // as NR3 gives it, to nine digits
  ask("CAP:NULL OFF;:CAP:NULL:VAL 0;*RST");
  EXPECT_EQ(ask("CAP:NULL?"), "1");
  EXPECT_EQ(Number(ask("CAP:NULL:VAL?")), null);
  EXPECT_EQ(ask("CAL:DATE?;COUN?"), "2026,12,9;3");
  EXPECT_EQ(ask("SYST:ERR?"), "0,\"No error\"");
  ask("CAL:SLOP 0;:CAL:STOR");
  EXPECT_EQ(ask("SYST:ERR?").substr(0, 5), "-221,");
}

TEST(ReadOnlyInstrument, RefusesEveryCommandAndAnswersEveryQuery) {
  VirtualClock clock;
  SimulatedChip chip{clock};
  OpenOnDemand device{chip};
  InstrumentSetup setup;
  setup.slope = 9.0909e-6;
  setup.readOnly = true;
  Instrument instrument{chip, clock, device, setup};
  const SeriesControl control;
  const auto ask = [&](std::string_view line) { return instrument.Execute(line, control); };
  const struct {
    const char* line;
    const char* answer;
  } lines[] = {
      {"SAMP:COUN 3;COUN?", "1"},
      {"CAL:SLOP 1E-6;:CAL:SLOP?", "+9.09090000E-06"},
      {"*RST;TIM:MODE POLL;MODE?", "STR"},
      {"*CLS", ""},
      {"*ESE 255;*ESE?", "0"},
  };
  for (const auto& l : lines) {
    EXPECT_EQ(ask(l.line), l.answer) << l.line;
  }
  EXPECT_EQ(ask("SYST:ERR:COUN?"), "6");
  EXPECT_EQ(ask("SYST:ERR?"), "-203,\"Command protected;read-only\"");
  EXPECT_NE(ask("MEAS:CAP?").find("E-06"), std::string::npos) << "a query takes readings";
}

}  // namespace
}  // namespace capmeter::scpi
