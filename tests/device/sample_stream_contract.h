#pragma once

// The sample stream's contract (device/sample_stream.h) as one typed test
// suite, run against every driver that can stream. A backend is a type as in
// tests/device/driver_contract.h (Library(), Disconnect(), Unplug()) with one
// more member:
//   void Pass(std::chrono::nanoseconds span): lets about `span` of the
//   device's time go by. A simulated chip on virtual time waits its clock; a
//   backend whose samples come on their own (a real clock, or one batch each
//   look at the queue) may wait that long or return at once.
// It joins with one INSTANTIATE_TYPED_TEST_SUITE_P(Name, SampleStreamContract,
// Backend) line.
//
// Samples are compared masked with kContractMask, as the timer drives D1.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "device/driver_library.h"
#include "device/sample_stream.h"
#include "tests/device/driver_contract.h"

namespace capmeter {

// 1 MHz samples: a byte written once is held 1 µs.
inline constexpr std::uint32_t kContractBaud = 62'500;

template <typename Backend>
class SampleStreamContract : public ::testing::Test {
 protected:
  using Samples = std::vector<std::uint8_t>;
  // The samples read, masked, and the bytes the pins held: each run of
  // equal samples counted once.
  struct Reading {
    Samples samples;
    Samples runs;
  };
  using Enough = std::function<bool(const Reading&)>;

  static constexpr auto kLookInterval = std::chrono::microseconds(200);
  // Looks at an empty queue before a read gives up: 2 s of kLookInterval.
  static constexpr int kMostEmptyLooks = 10'000;
  // Samples read before a read gives up: a second's worth at 1 MHz, the
  // direct driver's read-ahead. On the real clock the pins sample on while
  // the test thread waits for a core between its purge and its write, so a
  // bound on calls (30 ms of samples at three a call) ran out on a busy host.
  static constexpr std::size_t kMostSamples = std::size_t{1} << 20;
  static constexpr std::uint32_t kWhole = UINT32_MAX;

  void SetUp() override {
    stream_ = Library().SampleStreaming();
    ASSERT_NE(stream_, nullptr) << Library().WhyNoSampleStream();
  }

  DriverLibrary& Library() { return backend_.Library(); }
  SampleStream& Stream() { return *stream_; }
  Backend& Device() { return backend_; }

  // Open, asynchronous bit-bang, the clock set, both directions purged.
  FT_HANDLE StartStream() {
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(Library().FT_Open(0, &handle), kStatusOk);
    EXPECT_EQ(Library().FT_SetBitMode(handle, kContractMask, kAsyncBitBang), kStatusOk);
    EXPECT_EQ(Stream().FT_SetBaudRate(handle, kContractBaud), kStatusOk);
    EXPECT_EQ(Stream().FT_SetLatencyTimer(handle, 2), kStatusOk);
    EXPECT_EQ(Stream().FT_SetUSBParameters(handle, 4096, 4096), kStatusOk);
    EXPECT_EQ(Stream().FT_Purge(handle, kPurgeReceive | kPurgeTransmit), kStatusOk);
    return handle;
  }

  void Write(FT_HANDLE handle, const Samples& bytes) {
    std::uint32_t written = 0;
    EXPECT_EQ(Library().FT_Write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                 &written),
              kStatusOk);
    EXPECT_EQ(written, bytes.size());
  }

  // Reads `piece` at most a call until `enough` says so, or kMostSamples
  // came, or kMostEmptyLooks found nothing. Checks on every read that it
  // returned no more than asked and wrote nothing past that.
  Reading Read(FT_HANDLE handle, const Enough& enough, std::uint32_t piece = kWhole) {
    constexpr std::uint8_t kUnwritten = 0xA5;
    constexpr std::size_t kGuard = 16;
    Reading reading;
    for (int emptyLooks = 0; emptyLooks < kMostEmptyLooks &&
                             reading.samples.size() < kMostSamples && !enough(reading);) {
      std::uint32_t queued = 0;
      if (Stream().FT_GetQueueStatus(handle, &queued) != kStatusOk) {
        ADD_FAILURE() << "FT_GetQueueStatus failed";
        break;
      }
      if (queued == 0) {
        ++emptyLooks;
        Device().Pass(kLookInterval);
        continue;
      }
      const std::uint32_t asked = std::min(queued, piece);
      Samples buffer(asked + kGuard, kUnwritten);
      std::uint32_t got = 0;
      if (Stream().FT_Read(handle, buffer.data(), asked, &got) != kStatusOk) {
        ADD_FAILURE() << "FT_Read failed";
        break;
      }
      if (got > asked || std::any_of(buffer.begin() + asked, buffer.end(),
                                     [](std::uint8_t b) { return b != kUnwritten; })) {
        ADD_FAILURE() << "FT_Read returned " << got << " bytes for " << asked << " asked";
        break;
      }
      for (std::uint32_t i = 0; i < got; ++i) {
        const auto sample = static_cast<std::uint8_t>(buffer[i] & kContractMask);
        reading.samples.push_back(sample);
        if (reading.runs.empty() || reading.runs.back() != sample) {
          reading.runs.push_back(sample);
        }
      }
    }
    return reading;
  }

  static bool EndsWith(const Samples& runs, const Samples& written) {
    return runs.size() >= written.size() &&
           std::equal(written.rbegin(), written.rend(), runs.rbegin());
  }

  static Enough UntilShown(const Samples& written) {
    return [written](const Reading& reading) { return EndsWith(reading.runs, written); };
  }

  // Reads until the bytes written show, then checks that the pins held
  // nothing else since the purge but the byte they held before. Each byte
  // is written twice: held two sample periods, it is sampled whatever the
  // phase of the sample clock to the write.
  void ExpectWrittenBytesBack(std::uint32_t piece) {
    const Samples written = {0x31, 0x35, 0x34, 0x30, 0xFD, 0x35};
    Samples block;
    for (const std::uint8_t byte : written) {
      block.insert(block.end(), 2, byte);
    }
    FT_HANDLE handle = StartStream();
    Write(handle, block);

    const Samples runs = Read(handle, UntilShown(written), piece).runs;

    EXPECT_TRUE(EndsWith(runs, written)) << ::testing::PrintToString(runs);
    EXPECT_LE(runs.size(), written.size() + 1) << ::testing::PrintToString(runs);
  }

  // Calls the six operations with receivers preset; each must fail and
  // leave its receivers as they were.
  void ExpectEveryStreamOperationFailsUntouched(FT_HANDLE handle) {
    constexpr std::uint32_t kBefore = 0xA5A5;
    std::uint32_t queued = kBefore;
    std::uint32_t got = kBefore;
    std::array<std::uint8_t, 4> buffer{0xA5, 0xA5, 0xA5, 0xA5};
    SampleStream& stream = Stream();
    EXPECT_NE(stream.FT_SetBaudRate(handle, kContractBaud), kStatusOk);
    EXPECT_NE(stream.FT_SetLatencyTimer(handle, 2), kStatusOk);
    EXPECT_NE(stream.FT_SetUSBParameters(handle, 4096, 4096), kStatusOk);
    EXPECT_NE(stream.FT_Purge(handle, kPurgeReceive | kPurgeTransmit), kStatusOk);
    EXPECT_NE(stream.FT_GetQueueStatus(handle, &queued), kStatusOk);
    EXPECT_NE(stream.FT_Read(handle, buffer.data(), buffer.size(), &got), kStatusOk);
    EXPECT_EQ(queued, kBefore);
    EXPECT_EQ(got, kBefore);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{0xA5, 0xA5, 0xA5, 0xA5}));
  }

 private:
  Backend backend_;
  SampleStream* stream_ = nullptr;
};

TYPED_TEST_SUITE_P(SampleStreamContract);

TYPED_TEST_P(SampleStreamContract, WrittenBytesComeBackInOrderAsThePinsHeldThem) {
  this->ExpectWrittenBytesBack(TestFixture::kWhole);
}

TYPED_TEST_P(SampleStreamContract, AReadReturnsNoMoreThanAskedAndKeepsTheRestInOrder) {
  this->ExpectWrittenBytesBack(3);
}

TYPED_TEST_P(SampleStreamContract, PurgingReceiveDropsTheSamplesTaken) {
  constexpr std::uint8_t kHeld = 0x35;
  constexpr std::uint8_t kDropped = 0x31;
  FT_HANDLE handle = this->StartStream();
  this->Write(handle, {kHeld});
  this->Read(handle, TestFixture::UntilShown({kHeld}));
  // A one-sample pulse, sampled long before the purge.
  this->Write(handle, {kDropped, kHeld});
  // Longer than a 4096-byte transfer takes to fill at the slowest family's
  // rate for this baud (312.5 kS/s): samples come in whole transfers.
  this->Device().Pass(std::chrono::milliseconds(30));
  std::uint32_t queued = 0;
  ASSERT_EQ(this->Stream().FT_GetQueueStatus(handle, &queued), kStatusOk);
  EXPECT_GT(queued, 0U);

  ASSERT_EQ(this->Stream().FT_Purge(handle, kPurgeReceive), kStatusOk);
  const auto reading =
      this->Read(handle, [](const auto& read) { return read.samples.size() >= 512; });

  EXPECT_EQ(reading.runs, typename TestFixture::Samples{kHeld});
}

TYPED_TEST_P(SampleStreamContract, AnInvalidOrClosedHandleFailsEveryStreamOperation) {
  FT_HANDLE handle = this->StartStream();
  int bogus = 0;
  for (FT_HANDLE invalid : std::array<FT_HANDLE, 2>{nullptr, &bogus}) {
    SCOPED_TRACE(invalid == nullptr ? "null handle" : "foreign handle");
    this->ExpectEveryStreamOperationFailsUntouched(invalid);
  }
  ASSERT_EQ(this->Library().FT_Close(handle), kStatusOk);
  SCOPED_TRACE("closed handle");
  this->ExpectEveryStreamOperationFailsUntouched(handle);
}

TYPED_TEST_P(SampleStreamContract, AnUnpluggedDeviceFailsEveryStreamOperation) {
  FT_HANDLE handle = this->StartStream();
  this->Device().Unplug();
  this->ExpectEveryStreamOperationFailsUntouched(handle);
}

REGISTER_TYPED_TEST_SUITE_P(SampleStreamContract, WrittenBytesComeBackInOrderAsThePinsHeldThem,
                            AReadReturnsNoMoreThanAskedAndKeepsTheRestInOrder,
                            PurgingReceiveDropsTheSamplesTaken,
                            AnInvalidOrClosedHandleFailsEveryStreamOperation,
                            AnUnpluggedDeviceFailsEveryStreamOperation);

}  // namespace capmeter
