#include "device/trace_driver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "device/hex_text.h"
#include "device/sample_stream.h"
#include "device/vendor_library.h"
#include "measurement/measure.h"
#include "sim/simulated_chip.h"
#include "sim/virtual_clock.h"
#include "tests/support/event_log.h"
#include "tests/support/recording_display.h"

namespace capmeter {
namespace {

using namespace std::chrono;
using namespace testing;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string HandleText() {
  std::ostringstream text;
  text << "0x" << std::hex << reinterpret_cast<std::uintptr_t>(SimulatedChip::Handle());
  return text.str();
}

// Microseconds as the trace writes them.
std::string At(long long micros) {
  return std::to_string(micros) + ".000";
}

// A simulated chip with a 1 ms round trip, traced on virtual time.
struct TracedChip {
  explicit TracedChip(CircuitParts parts) : chip(clock, parts) {
    chip.SetCallLatency(milliseconds(1));
  }
  // The trace's lines after the heading, once it is gone.
  std::vector<std::string> Run(const std::function<void(DriverLibrary&)>& calls) {
    std::ostringstream out;
    {
      TraceDriver trace(chip, out, [this] { return clock.Now(); });
      calls(trace);
    }
    std::vector<std::string> lines = Lines(out.str());
    EXPECT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().rfind("# capmeter driver trace: microseconds since start", 0), 0U);
    return {lines.begin() + 1, lines.end()};
  }

  VirtualClock clock;
  SimulatedChip chip;
  EventLog log;
  RecordingDisplay display{log};
  DeviceLink link;
};

TEST(TraceDriver, WritesOneLinePerCallAndOneForEachRunOfEqualReads) {
  // T = 1.1 x 1 kOhm x 3 uF = 3.3 ms: the trigger lands when the third write
  // ends (5 ms), the start reading is at 6 ms, reads at 7 and 8 ms see D1
  // high and the one at 9 ms sees it low.
  TracedChip bench({1e3, 3e-6});
  MeasureResult result;
  const auto lines = bench.Run([&](DriverLibrary& trace) {
    OpenLink(bench.link, trace, bench.display);
    result = Measure(bench.link.lngHandle, trace, bench.display, bench.clock);
    CloseLink(bench.link, trace, bench.display);
  });

  ASSERT_EQ(result.polls, 3U);
  const std::vector<std::string> expected = {
      At(0) + " FT_Open index=0 -> 0 handle=" + HandleText(),
      At(1000) + " FT_SetBitMode mask=0xfd enable=0xff -> 0",
      At(2000) + " FT_Write bytes=0x31 length=1 -> 0 written=1",
      At(3000) + " FT_Write bytes=0x35 length=1 -> 0 written=1",
      At(4000) + " FT_Write bytes=0x34 length=1 -> 0 written=1",
      At(5000) + " FT_Write bytes=0x35 length=1 -> 0 written=1",
      At(6000) + ".." + At(7000) + " FT_GetBitMode -> 0 pins=0x37 x2",
      At(8000) + " FT_GetBitMode -> 0 pins=0x35",
      At(9000) + " FT_SetBitMode mask=0x00 enable=0x00 -> 0",
      At(10000) + " FT_Close -> 0",
  };
  EXPECT_EQ(lines, expected);
}

TEST(TraceDriver, ATimeOutBecomesOneLineWithTheSpanAndTheCount) {
  TracedChip bench({1e6, 1.0});  // D1 high for far longer than the time limit
  MeasureResult result;
  const auto lines = bench.Run([&](DriverLibrary& trace) {
    OpenLink(bench.link, trace, bench.display);
    result = Measure(bench.link.lngHandle, trace, bench.display, bench.clock);
  });

  ASSERT_EQ(result.outcome, MeasureOutcome::TimedOut);
  ASSERT_GT(result.polls, 9000U);  // a read every millisecond for ten seconds
  ASSERT_EQ(lines.size(), 7U);     // open, set-up, four writes, the reads
  const long long lastRead = 6000 + static_cast<long long>(result.polls - 1) * 1000;
  EXPECT_EQ(lines.back(), At(6000) + ".." + At(lastRead) + " FT_GetBitMode -> 0 pins=0x37 x" +
                              std::to_string(result.polls));
}

TEST(TraceDriver, AFailedOpenShowsItsStatusAndFailedReadsShowNoPins) {
  TracedChip bench({});
  bench.chip.SetDeviceConnected(false);
  const auto lines = bench.Run([&](DriverLibrary& trace) {
    OpenLink(bench.link, trace, bench.display);
    std::uint8_t pins = 0x35;
    trace.FT_GetBitMode(bench.link.lngHandle, &pins);
    trace.FT_GetBitMode(bench.link.lngHandle, &pins);
    trace.FT_Close(bench.link.lngHandle);
  });

  // The statuses with the simulated chip's own words for them.
  const std::string notFound = std::to_string(sim_status::kDeviceNotFound) + " (device not found)";
  const std::string invalid = std::to_string(sim_status::kInvalidHandle) + " (invalid handle)";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       At(0) + " FT_Open index=0 -> " + notFound,
                       At(1000) + ".." + At(2000) + " FT_GetBitMode -> " + invalid + " x2",
                       At(3000) + " FT_Close -> " + invalid,
                   }));
}

TEST(TraceDriver, ARunEndsWhenTheAnswerChangesAndNotesGoInBetween) {
  TracedChip bench({});
  bench.chip.SetCallLatency(microseconds(0));
  const auto lines = bench.Run([&](DriverLibrary& library) {
    auto& trace = static_cast<TraceDriver&>(library);
    FT_HANDLE handle = nullptr;
    trace.FT_Open(0, &handle);
    std::uint8_t pins = 0;
    bench.clock.Wait(microseconds(5));
    trace.FT_GetBitMode(handle, &pins);  // not in bit-bang mode: D1 low, the rest pulled up
    trace.FT_SetBitMode(handle, 0xFD, 0xFF);
    bench.clock.Wait(microseconds(5));
    trace.FT_GetBitMode(handle, &pins);
    trace.Note("a remark");
    bench.clock.Wait(microseconds(1));
    trace.FT_GetBitMode(handle, &pins);
    bench.clock.Wait(std::chrono::nanoseconds(1500));
    trace.FT_GetBitMode(handle, &pins);
    // The last run is written when the trace goes.
  });

  EXPECT_EQ(lines, (std::vector<std::string>{
                       At(0) + " FT_Open index=0 -> 0 handle=" + HandleText(),
                       "5.000 FT_GetBitMode -> 0 pins=0xfd",
                       "5.000 FT_SetBitMode mask=0xfd enable=0xff -> 0",
                       "10.000 FT_GetBitMode -> 0 pins=0x00",
                       "# 10.000 a remark",
                       "11.000..12.500 FT_GetBitMode -> 0 pins=0x00 x2",
                   }));
}

TEST(TraceDriver, AStreamReadBecomesOneLineAndAFailedCallOneOfItsOwn) {
  TracedChip bench({});
  // 64-byte packets at 1 MS/s for 62500 baud, two to a transfer: samples
  // arrive within the reads.
  bench.chip.SetFamily(*FamilyForBcdDevice(0x1000));
  std::uint64_t bytes = 0;
  std::uint8_t first = 0;
  std::uint8_t last = 0;
  const auto lines = bench.Run([&](DriverLibrary& library) {
    FT_HANDLE handle = nullptr;
    library.FT_Open(0, &handle);
    library.FT_SetBitMode(handle, 0xFD, kAsyncBitBang);
    SampleStream* stream = library.SampleStreaming();
    ASSERT_NE(stream, nullptr);
    stream->FT_SetBaudRate(handle, 62500);
    stream->FT_SetLatencyTimer(handle, 2);
    stream->FT_SetUSBParameters(handle, 128, 4096);  // 124 samples a transfer
    stream->FT_Purge(handle, kPurgeReceive | kPurgeTransmit);
    // The pins change while the stream is read: its first byte and its last differ.
    const std::uint8_t byte = 0x35;
    std::uint32_t written = 0;
    library.FT_Write(handle, &byte, 1, &written);
    bench.clock.Wait(microseconds(500));
    std::vector<std::uint8_t> buffer(4096);
    for (int i = 0; i < 4; ++i) {
      std::uint32_t queued = 0;
      std::uint32_t got = 0;
      stream->FT_GetQueueStatus(handle, &queued);
      if (queued > 0) {  // none at the last two: no transfer completed between
        stream->FT_Read(handle, buffer.data(), queued, &got);
        first = bytes == 0 ? buffer[0] : first;
        last = buffer[got - 1];
        bytes += got;
      }
      bench.clock.Wait(microseconds(i < 2 ? 100 : 0));
    }
    bench.chip.Unplug();
    std::uint32_t got = 0;
    stream->FT_Read(handle, buffer.data(), 1, &got);
    stream->FT_Purge(handle, kPurgeReceive);
  });

  ASSERT_NE(first, last);
  // Every call but the looks and reads costs the 1 ms round trip.
  const std::string ioError = std::to_string(sim_status::kIoError) + " (I/O error)";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       At(0) + " FT_Open index=0 -> 0 handle=" + HandleText(),
                       At(1000) + " FT_SetBitMode mask=0xfd enable=0x01 -> 0",
                       At(2000) + " FT_SetBaudRate baud=62500 -> 0",
                       At(3000) + " FT_SetLatencyTimer ms=2 -> 0",
                       At(4000) + " FT_SetUSBParameters in=128 out=4096 -> 0",
                       At(5000) + " FT_Purge mask=3 -> 0",
                       At(6000) + " FT_Write bytes=0x35 length=1 -> 0 written=1",
                       At(7500) + ".." + At(7700) +
                           " FT_GetQueueStatus x4, FT_Read x2 -> 0 bytes=" + std::to_string(bytes) +
                           " first=" + HexText(first) + " last=" + HexText(last),
                       At(7700) + " FT_Read length=1 -> " + ioError,
                       At(7700) + " FT_Purge mask=1 -> " + ioError,
                   }));
}

TEST(TraceDriver, CannotStreamWhereTheTracedDriverCannot) {
  VendorLibrary unbound({"/nonexistent/capmeter/libftd2xx.so"});
  std::ostringstream out;
  TraceDriver trace(unbound, out, [] { return nanoseconds(0); });

  EXPECT_EQ(trace.SampleStreaming(), nullptr);
  EXPECT_EQ(trace.WhyNoSampleStream(), unbound.WhyNoSampleStream());
}

}  // namespace
}  // namespace capmeter
