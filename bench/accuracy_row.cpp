#include "bench/accuracy_row.h"

#include <chrono>
#include <cstdint>

#include "bench/opened_chip.h"
#include "bench/reading_recorder.h"
#include "measurement/measure.h"

namespace capmeter::bench {

namespace {

double Seconds(Clock::Duration span) {
  return std::chrono::duration<double>(span).count();
}

}  // namespace

RowResult MeasureRow(const RowSetup& setup, Clock& clock, std::span<const TimeOfDayClock> models) {
  OpenedChip opened(clock, setup.parts, setup.latency);
  // Only the measurement's own readings go through the recorder; the chip
  // reads the clock directly, as a real chip keeps its own time.
  ReadingRecorder recorder(clock);

  RowResult row;
  row.highTime = opened.chip.Circuit().HighTime();
  row.latency = setup.latency;
  const double highTime = Seconds(row.highTime);
  std::vector<double> ourErrors;
  std::vector<std::vector<double>> modelErrors(models.size());
  std::uint64_t polls = 0;
  double pollPeriods = 0.0;

  for (int run = 0; run < setup.runs; ++run) {
    recorder.Reset();
    const MeasureResult result = opened.Measure(recorder);
    if (!result.HasTime() || !recorder.HasSpan()) {
      ++row.failed;
      continue;
    }
    const Clock::Duration start = recorder.First();
    const Clock::Duration end = recorder.Last();
    if (static_cast<float>(Seconds(end - start)) != result.seconds) {
      ++row.unmatched;
    }
    ++row.timed;
    polls += result.polls;
    pollPeriods += Seconds(end - start) / static_cast<double>(result.polls);
    ourErrors.push_back(static_cast<double>(result.seconds) - highTime);
    for (std::size_t i = 0; i < models.size(); ++i) {
      modelErrors[i].push_back(static_cast<double>(models[i].Elapsed(start, end)) - highTime);
    }
  }

  if (row.timed > 0) {
    row.meanPolls = static_cast<double>(polls) / row.timed;
    row.meanPollPeriod = pollPeriods / row.timed;
  }
  row.ours = Summarize(ourErrors);
  for (const auto& errors : modelErrors) {
    row.timeOfDay.push_back(Summarize(errors));
  }
  return row;
}

}  // namespace capmeter::bench
