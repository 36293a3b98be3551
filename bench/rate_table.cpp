#include "bench/rate_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "device/device_link.h"
#include "measurement/measure.h"
#include "measurement/stream_timing.h"
#include "sim/simulated_chip.h"

namespace capmeter::bench {

RateRow MeasureRateRow(const RateRowSetup& setup, Clock& clock) {
  RateRow row;
  row.setup = setup;
  std::vector<double> ppm;
  double seconds = 0;
  for (int run = 0; run < setup.runs; ++run) {
    SimulatedChip chip(clock);
    chip.SetFamily(*FamilyForBcdDevice(setup.bcdDevice));
    chip.SetHostDelay(static_cast<std::uint32_t>(run + 1));
    chip.SetTimesArrivals(setup.arrivalTimes);
    NullDisplay display;
    DeviceLink link;
    OpenLink(link, chip, display);
    const Clock::Duration began = clock.Now();
    const RateMeasurement measured =
        MeasureSampleRate(link.lngHandle, chip, clock, kFamilyDefaultRate);
    const double took = ToSeconds(clock.Now() - began);
    row.rate = chip.SampleRate();
    CloseLink(link, chip, display);
    if (!measured.Measured()) {
      ++row.failed;
      continue;
    }
    ppm.push_back(std::abs(measured.rate - row.rate) / row.rate * 1e6);
    row.statedPpm = std::max(row.statedPpm, measured.relativeError * 1e6);
    row.longestSeconds = std::max(row.longestSeconds, took);
    seconds += took;
  }
  if (!ppm.empty()) {
    row.worstPpm = *std::max_element(ppm.begin(), ppm.end());
    for (const double p : ppm) row.meanPpm += p / static_cast<double>(ppm.size());
    row.meanSeconds = seconds / static_cast<double>(ppm.size());
  }
  return row;
}

void PrintRateTable(std::ostream& out, const std::vector<RateRow>& rows) {
  out << "| bcdDevice | rate | fitted at | runs | worst error | mean error | stated std. error "
         "(largest) | time (mean, longest) |\n|---|---|---|---|---|---|---|---|\n";
  for (const RateRow& row : rows) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "| 0x%04X | %s | %s | %d%s | %.1f ppm | %.1f ppm | %.1f ppm | %.2f s, %.2f s |\n",
                  row.setup.bcdDevice, SampleRateText(row.rate).c_str(),
                  row.setup.arrivalTimes ? "arrivals" : "looks", row.setup.runs,
                  row.failed > 0 ? (" (" + std::to_string(row.failed) + " failed)").c_str() : "",
                  row.worstPpm, row.meanPpm, row.statedPpm, row.meanSeconds, row.longestSeconds);
    out << line;
  }
}

}  // namespace capmeter::bench
