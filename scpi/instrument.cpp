#include "scpi/instrument.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace capmeter::scpi {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();
// What SCPI answers for a value that could not be had.
constexpr double kScpiNotANumber = 9.91e37;
constexpr double kMicro = 1e-6;

static_assert(static_cast<std::size_t>(Timing::Stream) == 1 &&
                  static_cast<std::size_t>(Timing::Auto) == 2,
              "kTimingChoices follows Timing");

int Whole(const ProgramUnit& unit) {
  return static_cast<int>(unit.number.value_or(0.0));
}

}  // namespace

std::string Nr3(double value) {
  if (!std::isfinite(value)) value = kScpiNotANumber;
  char text[32];
  const auto written =
      std::to_chars(std::begin(text), std::end(text), value, std::chars_format::scientific, 8);
  std::string nr3(text, written.ptr);
  for (char& c : nr3) {
    if (c == 'e') c = 'E';
  }
  return value >= 0 ? "+" + nr3 : nr3;
}

Instrument::Instrument(DriverLibrary& library, Clock& clock, DeviceAccess& device,
                       InstrumentSetup setup)
    : library_(library),
      clock_(clock),
      device_(device),
      setup_(std::move(setup)),
      timing_(setup_.timing),
      nullOn_(setup_.nullOn),
      nullValue_(setup_.nullValue),
      sampleClock_{setup_.sampleRate, 0.0} {}

std::string Instrument::Execute(std::string_view line, const SeriesControl& control) {
  ParsedMessage message = ParseMessage(line);
  std::string answer;
  for (const ProgramUnit& unit : message.units) {
    if (setup_.readOnly && !IsQuery(unit.command)) {
      status_.Push(-203, "read-only");
      continue;
    }
    Run(unit, control, answer);
  }
  if (message.error) {
    status_.Push(message.error->code, std::move(message.error->detail));
  }
  statusByte_ = status_.StatusByte(false);
  return answer;
}

void Instrument::ReportInputError(int code) {
  status_.Push(code);
  statusByte_ = status_.StatusByte(false);
}

void Instrument::Reset() {
  function_ = Function::Capacitance;
  sampleCount_ = 1;
  averageCount_ = 1;
  timing_ = Timing::Auto;
  AskSampleRate(kFamilyDefaultRate);
  readings_.clear();
  statisticsOn_ = false;
  statistics_ = {};
  statisticsFailures_ = 0;
  // The calibration is not a setting: the line and its null stay as kept.
  nullOn_ = setup_.nullOn;
  nullValue_ = setup_.nullValue;
  nullAuto_ = false;
}

std::optional<CalibrationMemory::Kept> Instrument::Recall() {
  if (setup_.memory == nullptr) return std::nullopt;
  const DeviceAccess::Opened opened = device_.Open();
  if (opened.handle == nullptr) return std::nullopt;
  return setup_.memory->Recall(opened.handle, TimingInUse(), RateInUse());
}

void Instrument::StoreCalibration() {
  if (setup_.slope == 0.0) {
    status_.Push(-221, "no calibration slope to store; set CAL:SLOP");
    return;
  }
  if (setup_.memory == nullptr) {
    status_.Push(-250, "there is no calibration file");
    return;
  }
  const DeviceAccess::Opened opened = device_.Open();
  if (opened.handle == nullptr) {
    status_.Push(-241, opened.whyNot);
    return;
  }
  const std::string problem =
      setup_.memory->Store(opened.handle, TimingInUse(), RateInUse(), setup_.slope,
                           setup_.intercept, nullOn_ ? std::optional(nullValue_) : std::nullopt);
  if (!problem.empty()) {
    status_.Push(-250, problem);
    return;
  }
  // Kept, it is what *RST comes back to.
  setup_.nullOn = nullOn_;
  setup_.nullValue = nullValue_;
}

void Instrument::Configure(Function function) {
  if (function != function_) {
    statistics_ = {};
    statisticsFailures_ = 0;
  }
  function_ = function;
  sampleCount_ = 1;
  averageCount_ = 1;
  readings_.clear();
}

std::string Instrument::Statistic(std::optional<double> value) const {
  return Nr3(statistics_.Count() > 0 && value ? *value : kNotANumber);
}

Timing Instrument::TimingInUse() {
  if (timing_ != Timing::Auto) return timing_;
  const DeviceAccess::Opened opened = device_.Open();
  return opened.handle == nullptr ? Timing::Auto
                                  : ChooseTiming(timing_, opened.handle, library_).timing;
}

double Instrument::RateInUse() {
  if (sampleClock_.requestedRate > 0.0) return sampleClock_.requestedRate;
  const DeviceAccess::Opened opened = device_.Open();
  return opened.handle == nullptr ? kFamilyDefaultRate
                                  : PlanStream(opened.handle, library_, kFamilyDefaultRate).rate;
}

void Instrument::AskSampleRate(double rate) {
  if (rate != sampleClock_.requestedRate) sampleClock_ = {rate, 0.0};
}

void Instrument::ReleaseDevice() {
  device_.Release();
  sampleClock_.rate = 0.0;
}

void Instrument::Run(const ProgramUnit& unit, const SeriesControl& control, std::string& answer) {
  const auto say = [&answer](const std::string& text) {
    if (!answer.empty()) answer += ';';
    answer += text;
  };
  const auto sayNumber = [&say](int number) { say(std::to_string(number)); };
  switch (unit.command) {
    case Command::Identify:
      return say(setup_.identity ? setup_.identity() : std::string("capmeter,,0,0"));
    case Command::Reset:
      return Reset();
    case Command::ClearStatus:
      return status_.Clear();
    case Command::SetEventEnable:
      status_.eventEnable = Whole(unit);
      return;
    case Command::EventEnable:
      return sayNumber(status_.eventEnable);
    case Command::EventStatus:
      return sayNumber(status_.ReadEventStatus());
    case Command::SetOperationComplete:
      // Commands run one after the other, so all before this one are done.
      return status_.SetEvent(Status::kOperationComplete);
    case Command::OperationComplete:
      return say("1");
    case Command::SetServiceRequestEnable:
      status_.serviceRequestEnable = Whole(unit) & ~Status::kServiceRequest;
      return;
    case Command::ServiceRequestEnable:
      return sayNumber(status_.serviceRequestEnable);
    case Command::StatusByte:
      return sayNumber(status_.StatusByte(!answer.empty()));
    case Command::SelfTest: {
      ReleaseDevice();
      const SelfTestResult result = setup_.selfTest ? setup_.selfTest() : SelfTestResult{};
      if (result.failedStep != 0) status_.Push(-330, result.text);
      device_.Open();  // held again, as before the test
      return sayNumber(result.failedStep);
    }
    case Command::Wait:
      return;  // nothing runs in the background to wait for
    case Command::NextError:
      return say(status_.PopText());
    case Command::ErrorCount:
      return sayNumber(status_.ErrorCount());
    case Command::Version:
      return say("1999.0");
    case Command::Driver:
      return say("\"" + setup_.driver + "\"");
    case Command::StatusPreset:
      return status_.Preset();
    case Command::OperationEvents:
      return sayNumber(status_.ReadOperationEvents());
    case Command::SetOperationEnable:
      status_.operationEnable = Whole(unit);
      return;
    case Command::OperationEnable:
      return sayNumber(status_.operationEnable);
    case Command::QuestionableEvents:
      return sayNumber(status_.ReadQuestionableEvents());
    case Command::SetQuestionableEnable:
      status_.questionableEnable = Whole(unit);
      return;
    case Command::QuestionableEnable:
      return sayNumber(status_.questionableEnable);
    case Command::ConfigureCapacitance:
    case Command::ConfigureTime:
      return Configure(unit.command == Command::ConfigureTime ? Function::Time
                                                              : Function::Capacitance);
    case Command::Configuration:
      return say(function_ == Function::Time ? "\"TIME\"" : "\"CAP\"");
    case Command::MeasureCapacitance:
    case Command::MeasureTime:
      Configure(unit.command == Command::MeasureTime ? Function::Time : Function::Capacitance);
      Initiate(control);
      return say(Readings());
    case Command::Read:
      Initiate(control);
      return say(Readings());
    case Command::Initiate:
      return Initiate(control);
    case Command::FetchUncertainty:
      return say(Nr3(lastBound_));
    case Command::Fetch:
      if (readings_.empty()) {
        status_.Push(-230, "no readings; INIT or READ? first");
        return say(Nr3(kNotANumber));
      }
      return say(Readings());
    case Command::Abort:
      return;  // a reading never outlives the command that took it
    case Command::SetSampleCount:
      sampleCount_ = Whole(unit);
      return;
    case Command::SampleCount:
      return sayNumber(sampleCount_);
    case Command::SetAverageCount:
      averageCount_ = Whole(unit);
      return;
    case Command::AverageCount:
      return sayNumber(averageCount_);
    case Command::SetSlope:
      setup_.slope = unit.number.value_or(0.0);
      return;
    case Command::Slope:
      return say(Nr3(setup_.slope));
    case Command::SetIntercept:
      setup_.intercept = unit.number.value_or(0.0);
      return;
    case Command::Intercept:
      return say(Nr3(setup_.intercept));
    case Command::SetNull:
      nullOn_ = unit.choice.value_or(0) % 2 == 1;
      return;
    case Command::NullState:
      return sayNumber(nullOn_ ? 1 : 0);
    case Command::SetNullValue:
      nullValue_ = unit.number.value_or(0.0);
      return;
    case Command::NullValue:
      return say(Nr3(nullValue_));
    case Command::SetNullAuto:
      nullAuto_ = unit.choice.value_or(0) % 2 == 1;
      return;
    case Command::NullAuto:
      return sayNumber(nullAuto_ ? 1 : 0);
    case Command::StoreCalibration:
      return StoreCalibration();
    case Command::CalibrationDate: {
      const auto kept = Recall();
      return say(kept ? std::to_string(kept->year) + "," + std::to_string(kept->month) + "," +
                            std::to_string(kept->day)
                      : std::string("0,0,0"));
    }
    case Command::CalibrationCount: {
      const auto kept = Recall();
      return sayNumber(kept ? kept->saves : 0);
    }
    case Command::SetTiming:
      timing_ = static_cast<Timing>(unit.choice.value_or(0));
      return;
    case Command::Timing:
      return say(std::string(ShortForm(kTimingChoices[static_cast<std::size_t>(TimingInUse())])));
    case Command::SetSampleRate:
      return AskSampleRate(unit.number.value_or(kFamilyDefaultRate));
    case Command::SampleRate:
      return say(Nr3(RateInUse()));
    case Command::SetStatistics:
      statisticsOn_ = unit.choice.value_or(0) % 2 == 1;
      return;
    case Command::StatisticsState:
      return sayNumber(statisticsOn_ ? 1 : 0);
    case Command::ClearStatistics:
      statistics_ = {};
      statisticsFailures_ = 0;
      return;
    case Command::StatisticsMean:
      return say(Statistic(statistics_.Mean()));
    case Command::StatisticsMinimum:
      return say(Statistic(statistics_.Minimum()));
    case Command::StatisticsMaximum:
      return say(Statistic(statistics_.Maximum()));
    case Command::StatisticsDeviation:
      return say(Statistic(statistics_.StandardDeviation()));
    case Command::StatisticsPeakToPeak:
      return say(Statistic(statistics_.Maximum() - statistics_.Minimum()));
    case Command::StatisticsCount:
      return sayNumber(static_cast<int>(statistics_.Count()));
    case Command::StatisticsFailures:
      return sayNumber(statisticsFailures_);
  }
}

void Instrument::Initiate(const SeriesControl& control) {
  TakeReadings(control);
  if (!statisticsOn_) return;
  for (const double value : readings_) {
    if (std::isnan(value)) {
      ++statisticsFailures_;
    } else {
      statistics_.Add(value);
    }
  }
}

void Instrument::TakeReadings(const SeriesControl& control) {
  readings_.clear();
  const auto padWithFailures = [this] {
    readings_.resize(static_cast<std::size_t>(sampleCount_), kNotANumber);
  };
  if (function_ == Function::Capacitance && setup_.slope == 0.0) {
    status_.Push(-221, "no calibration slope; set CAL:SLOP");
    status_.SetQuestionable(Status::kCalibration);
    return padWithFailures();
  }
  const DeviceAccess::Opened opened = device_.Open();
  if (opened.handle == nullptr) {
    status_.Push(-241, opened.whyNot);
    return padWithFailures();
  }

  SeriesSetup series;
  series.count = sampleCount_ * averageCount_;
  series.dither = series.count > 1;  // as `measure` spreads a polled series
  series.timing = ChooseTiming(timing_, opened.handle, library_).timing;
  series.sampleClock = sampleClock_;
  series.seed = NewSeed();
  series.calibration = Calibration(setup_.slope / kMicro, setup_.intercept / kMicro);
  double sum = 0.0;
  int inMean = 0;
  bool callFailed = false;
  const SeriesEnd end =
      RunSeries(library_, clock_, opened.handle, series, control, [&](const Reading& taken) {
        Reading reading = taken;
        reading.index = ++readingsTaken_;
        if (setup_.logReading) setup_.logReading(reading);
        double value = kNotANumber;
        // In the unit of the value: seconds, or farads through the slope.
        lastBound_ = !reading.HasTime() ? kNotANumber
                     : function_ == Function::Time
                         ? static_cast<double>(reading.boundSeconds)
                         : std::abs(setup_.slope) * static_cast<double>(reading.boundSeconds);
        if (reading.outcome == MeasureOutcome::ChargeTime) {
          value = function_ == Function::Time ? static_cast<double>(reading.seconds)
                                              : reading.microfarads.value_or(kNotANumber) * kMicro;
          if (function_ == Function::Capacitance && nullAuto_ && std::isfinite(value)) {
            nullValue_ = value;  // the open circuit's reading, as bench meters take it
            nullOn_ = true;
            nullAuto_ = false;
          }
          if (function_ == Function::Capacitance && nullOn_) value -= nullValue_;
        } else if (reading.outcome == MeasureOutcome::TimedOut) {
          status_.Push(-240, "timed out; D1 stayed high");
        } else if (reading.outcome == MeasureOutcome::BelowRange) {
          status_.Push(-240, "below range; " + reading.failure);
          if (function_ == Function::Capacitance && nullAuto_) {
            status_.Push(-221, "below the range: nothing to null, none taken");
            nullAuto_ = false;
          }
        } else {
          status_.Push(-240, "read error; " + (reading.failure.empty() ? "a driver call failed"
                                                                       : reading.failure));
          callFailed = true;
        }
        sum += value;  // NaN stays NaN: a mean with a failed reading fails
        if (++inMean == averageCount_) {
          readings_.push_back(sum / averageCount_);
          sum = 0.0;
          inMean = 0;
        }
        // After a failed call the device may be gone: the rest would fail too.
        return !callFailed;
      });
  if (end.stopSignal != 0) status_.Push(-410, "the reading was abandoned");
  if (end.timing == Timing::Stream) sampleClock_ = {end.askedRate, end.sampleRate, end.rateError};
  if (callFailed) ReleaseDevice();
  status_.SetOperation(Status::kMeasuring);
  padWithFailures();
}

std::string Instrument::Readings() const {
  std::string text;
  for (const double value : readings_) {
    if (!text.empty()) text += ',';
    text += Nr3(value);
  }
  return text;
}

}  // namespace capmeter::scpi
