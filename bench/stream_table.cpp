#include "bench/stream_table.h"

#include <cstdio>
#include <ostream>
#include <string>

#include "device/device_link.h"
#include "measurement/measure.h"
#include "measurement/stream_timing.h"
#include "sim/simulated_chip.h"

namespace capmeter::bench {

StreamRow MeasureStreamRow(const StreamRowSetup& setup, Clock& clock) {
  StreamRow row;
  row.setup = setup;
  SimulatedChip chip(clock, setup.parts);
  chip.SetCallLatency(setup.latency);
  chip.SetClockJitter(setup.jitter);
  row.highTime = chip.Circuit().HighTime();
  NullDisplay display;
  DeviceLink link;
  OpenLink(link, chip, display);

  const RateMeasurement rate = MeasureSampleRate(link.lngHandle, chip, clock, kDefaultSampleRate);
  row.sampleRate = rate.rate;
  const SampleClock sampleClock{kDefaultSampleRate, rate.rate};
  const double truth = ToSeconds(row.highTime);
  std::vector<double> streamed;
  std::vector<double> polled;
  for (int i = 0; i < setup.runs && rate.Measured(); ++i) {
    const MeasureResult s = MeasureByStream(link.lngHandle, chip, display, clock, sampleClock);
    const MeasureResult p = Measure(link.lngHandle, chip, display, clock);
    row.failed += (s.HasTime() ? 0 : 1) + (p.HasTime() ? 0 : 1);
    if (s.HasTime()) streamed.push_back(static_cast<double>(s.seconds) - truth);
    if (p.HasTime()) polled.push_back(static_cast<double>(p.seconds) - truth);
  }
  if (!rate.Measured()) row.failed = setup.runs * 2;
  CloseLink(link, chip, display);
  row.streamed = Summarize(streamed);
  row.polled = Summarize(polled);
  return row;
}

void PrintStreamTable(std::ostream& out, const std::vector<StreamRow>& rows) {
  out << "| T (ms) | latency (µs) | clock jitter | runs | sample rate (S/s) | streamed median / "
         "worst |t − T| (µs) | worst in sample periods | polled median / worst |t − T| (µs) |\n"
         "|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const StreamRow& row : rows) {
    char line[256];
    const double period = row.sampleRate > 0.0 ? 1.0 / row.sampleRate : 0.0;
    std::snprintf(line, sizeof line,
                  "| %.3f | %.0f | %.0f %% | %d | %.0f | %.2f / %.2f | %.1f | %.1f / %.1f |\n",
                  ToSeconds(row.highTime) * 1e3, ToSeconds(row.setup.latency) * 1e6,
                  row.setup.jitter * 100.0, row.setup.runs, row.sampleRate,
                  row.streamed.medianAbs * 1e6, row.streamed.worstAbs * 1e6,
                  period > 0.0 ? row.streamed.worstAbs / period : 0.0, row.polled.medianAbs * 1e6,
                  row.polled.worstAbs * 1e6);
    out << line;
  }
}

}  // namespace capmeter::bench
