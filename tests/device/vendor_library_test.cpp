#include "device/vendor_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <random>
#include <thread>

#include "device/arrival_event.h"
#include "device/device_link.h"
#include "device/link_messages.h"
#include "device/platform_loader.h"
#include "device/shared_library.h"
#include "measurement/display_texts.h"
#include "measurement/measure.h"
#include "measurement/stream_timing.h"
#include "sim/virtual_clock.h"
#include "tests/device/ftd2xx_standin.h"
#include "tests/device/loaded_modules.h"
#include "tests/support/recording_display.h"

namespace capmeter {
namespace {

using testing::EventLog;
using testing::IsLoaded;
using testing::RecordingDisplay;

const std::string kStandin = CAPMETER_FTD2XX_STANDIN;
const std::string kPartialStandin = CAPMETER_FTD2XX_STANDIN_PARTIAL;
const std::string kNoStreamStandin = CAPMETER_FTD2XX_STANDIN_NOSTREAM;
const std::string kMissing =
    "/nonexistent/capmeter/" + VendorLibrary::DefaultLibraryNames().front();
// A part of the loader's reason for kMissing.
#if defined(_WIN32)
constexpr const char* kMissingReason = "Windows error 126: ";
#else
constexpr const char* kMissingReason = "No such file or directory";
#endif
constexpr std::string_view kInstallAdvice = ".  Install the driver library, then restart program.";

std::string Hex(std::uintmax_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%02jx", value);
  return text;
}

std::string Hex(const void* handle) {
  return Hex(reinterpret_cast<std::uintptr_t>(handle));
}

// A whole run of the program on `library`: open, one measurement, close, with
// a load failure reported like any other message.
struct Session {
  explicit Session(VendorLibrary& library) {
    library.SetLoadFailureReport(
        [this](std::string_view message) { display.ShowMessage(message); });
    OpenLink(link, library, display);
    result = Measure(link.lngHandle, library, display, clock);
    CloseLink(link, library, display);
  }

  EventLog log;
  RecordingDisplay display{log};
  VirtualClock clock;
  DeviceLink link;
  MeasureResult result;
};

// The recording area of a stand-in opened a second time, cleared; the
// loader shares one copy between this handle and the binding's. Null when
// the stand-in did not load.
StandinState* ClearedState(const SharedLibrary& module) {
  const auto entry = module.Find<StandinStateEntry>("standin_state");
  if (entry == nullptr) {
    ADD_FAILURE() << "stand-in not loaded: " << module.Error();
    return nullptr;
  }
  StandinState* state = entry();
  *state = StandinState{};
  return state;
}

// Opens the stand-in a second time to set it up and read what reached it.
class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_ = ClearedState(module_);
    ASSERT_NE(state_, nullptr);
  }

  // Every recorded call as "FT_Write handle=... byte=31 length=1".
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    for (std::size_t i = 0; i < state_->callCount && i < kStandinMaxCalls; ++i) {
      const StandinCall& call = state_->calls[i];
      const std::string handle = " handle=" + Hex(call.handle);
      switch (call.operation) {
        case kStandinOpen:
          calls.push_back("FT_Open index=" + std::to_string(call.deviceNumber));
          break;
        case kStandinSetBitMode:
          calls.push_back("FT_SetBitMode" + handle + " mask=" + Hex(call.mask) +
                          " enable=" + Hex(call.enable));
          break;
        case kStandinWrite:
          calls.push_back("FT_Write" + handle + " byte=" + Hex(call.firstByte) +
                          " length=" + std::to_string(call.bytesToWrite));
          break;
        case kStandinGetBitMode:
          calls.push_back("FT_GetBitMode" + handle);
          break;
        case kStandinClose:
          calls.push_back("FT_Close" + handle);
          break;
        case kStandinSetBaudRate:
          calls.push_back("FT_SetBaudRate" + handle + " baud=" + std::to_string(call.argument));
          break;
        case kStandinSetLatencyTimer:
          calls.push_back("FT_SetLatencyTimer" + handle + " ms=" + std::to_string(call.argument));
          break;
        case kStandinSetUSBParameters:
          calls.push_back("FT_SetUSBParameters" + handle + " in=" + std::to_string(call.argument) +
                          " out=" + std::to_string(call.outTransferSize));
          break;
        case kStandinPurge:
          calls.push_back("FT_Purge" + handle + " mask=" + std::to_string(call.argument));
          break;
        case kStandinGetQueueStatus:
          calls.push_back("FT_GetQueueStatus" + handle);
          break;
        case kStandinRead:
          calls.push_back("FT_Read" + handle + " length=" + std::to_string(call.argument));
          break;
        case kStandinSetEventNotification:
          calls.push_back("FT_SetEventNotification" + handle +
                          " mask=" + std::to_string(call.argument));
          break;
        default:
          calls.push_back("unknown operation " + std::to_string(call.operation));
          break;
      }
    }
    return calls;
  }

  StandinState& State() { return *state_; }

 private:
  SharedLibrary module_{kStandin};
  StandinState* state_ = nullptr;
};

TEST_F(StandinTest, AWholeRunReachesTheLibraryWithItsArguments) {
  State().highReads = 3;
  VendorLibrary library({kStandin});
  const Session session(library);
  const MeasureResult& result = session.result;
  const RecordingDisplay& display = session.display;

  EXPECT_EQ(result.outcome, MeasureOutcome::ChargeTime);
  EXPECT_EQ(result.polls, 4U);  // "7" three times, then "5"
  EXPECT_EQ(display.messages, (std::vector<std::string>{std::string(link_messages::kOpened),
                                                        std::string(link_messages::kClosed)}));
  const std::string h = " handle=" + Hex(reinterpret_cast<void*>(STANDIN_HANDLE_VALUE));
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "FT_Open index=0",
                         "FT_SetBitMode" + h + " mask=fd enable=ff",
                         "FT_Write" + h + " byte=31 length=1",
                         "FT_Write" + h + " byte=35 length=1",
                         "FT_Write" + h + " byte=34 length=1",
                         "FT_Write" + h + " byte=35 length=1",
                         "FT_GetBitMode" + h,
                         "FT_GetBitMode" + h,
                         "FT_GetBitMode" + h,
                         "FT_GetBitMode" + h,
                         "FT_SetBitMode" + h + " mask=00 enable=00",
                         "FT_Close" + h,
                     }));
}

TEST_F(StandinTest, KeepsTheHighBitsOfThePointerWideHandle) {
  VendorLibrary library({kStandin});
  FT_HANDLE handle = nullptr;

  ASSERT_EQ(library.FT_Open(0, &handle), kStatusOk);
  std::uint8_t pins = 0;
  library.FT_GetBitMode(handle, &pins);

  if constexpr (sizeof(FT_HANDLE) == 8) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(handle), 0x5A000000C0FFEE12U);
  }
  EXPECT_EQ(handle, reinterpret_cast<void*>(STANDIN_HANDLE_VALUE));
  ASSERT_EQ(State().callCount, 2U);
  EXPECT_EQ(State().calls[1].handle, handle);
}

TEST_F(StandinTest, PassesEachOperationsStatusAndTheStreamsArgumentsThrough) {
  // Distinct full-width statuses, so an entry point bound to the wrong name
  // or a status cut short shows up.
  const FT_STATUS statuses[kStandinOperations] = {0x80000001, 0xFFFFFFFF, 0x00010000, 7,
                                                  0xDEADBEEF, 0x80000002, 0x12345678, 9,
                                                  0xFFFFFFFE, 0x00020000, 11};
  std::copy(std::begin(statuses), std::end(statuses), State().statuses);
  VendorLibrary library({kStandin});
  FT_HANDLE handle = nullptr;
  std::uint8_t byte = 0x35;
  std::uint32_t count = 0;
  std::uint8_t pins = 0;

  EXPECT_EQ(library.FT_Open(0, &handle), statuses[kStandinOpen]);
  EXPECT_EQ(library.FT_SetBitMode(handle, 0xFD, 0xFF), statuses[kStandinSetBitMode]);
  EXPECT_EQ(library.FT_Write(handle, &byte, 1, &count), statuses[kStandinWrite]);
  EXPECT_EQ(library.FT_GetBitMode(handle, &pins), statuses[kStandinGetBitMode]);
  EXPECT_EQ(library.FT_Close(handle), statuses[kStandinClose]);
  SampleStream* stream = library.SampleStreaming();
  ASSERT_NE(stream, nullptr) << library.WhyNoSampleStream();
  EXPECT_EQ(stream->FT_SetBaudRate(handle, 62500), statuses[kStandinSetBaudRate]);
  EXPECT_EQ(stream->FT_SetLatencyTimer(handle, 2), statuses[kStandinSetLatencyTimer]);
  EXPECT_EQ(stream->FT_SetUSBParameters(handle, 128, 4096), statuses[kStandinSetUSBParameters]);
  EXPECT_EQ(stream->FT_Purge(handle, kPurgeReceive), statuses[kStandinPurge]);
  EXPECT_EQ(stream->FT_GetQueueStatus(handle, &count), statuses[kStandinGetQueueStatus]);
  EXPECT_EQ(stream->FT_Read(handle, &byte, 1, &count), statuses[kStandinRead]);
  // The stream's arguments reach the library whole and in their places.
  const std::vector<std::string> calls = Calls();
  const std::string h = " handle=" + Hex(handle);
  ASSERT_EQ(calls.size(), 11U);
  EXPECT_EQ(std::vector<std::string>(calls.begin() + 5, calls.end()),
            (std::vector<std::string>{
                "FT_SetBaudRate" + h + " baud=62500",
                "FT_SetLatencyTimer" + h + " ms=2",
                "FT_SetUSBParameters" + h + " in=128 out=4096",
                "FT_Purge" + h + " mask=1",
                "FT_GetQueueStatus" + h,
                "FT_Read" + h + " length=1",
            }));
}

TEST_F(StandinTest, AStreamedMeasurementCountsTheLibrarysSamples) {
  State().highSamples = 1000;
  VendorLibrary library({kStandin});
  EventLog log;
  RecordingDisplay display{log};
  VirtualClock clock;
  DeviceLink link;
  OpenLink(link, library, display);

  const RateMeasurement rate =
      MeasureSampleRate(link.lngHandle, library, clock, kDefaultSampleRate);
  ASSERT_TRUE(rate.Measured()) << rate.failure;
  const MeasureResult result =
      MeasureByStream(link.lngHandle, library, display, clock, {kDefaultSampleRate, rate.rate});

  ASSERT_EQ(result.outcome, MeasureOutcome::ChargeTime) << result.failure;
  EXPECT_FLOAT_EQ(result.seconds, static_cast<float>(1000 / rate.rate));
}

// What the vendor's library does as samples arrive, on the event it took.
void SignalArrival(void* event) {
#if defined(_WIN32)
  SetEvent(static_cast<HANDLE>(event));
#else
  auto* handle = static_cast<LibraryEventHandle*>(event);
  pthread_mutex_lock(&handle->mutex);
  pthread_cond_signal(&handle->condition);
  pthread_mutex_unlock(&handle->mutex);
#endif
}

// A stream's wait sleeps on the event the library signals as samples
// arrive, handed over once per handle for received characters; where the
// library refuses it, the caller is left to sleep on its own clock.
TEST_F(StandinTest, AStreamWaitSleepsOnTheLibrarysArrivalEvent) {
  using namespace std::chrono_literals;
  VendorLibrary library({kStandin});
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(library.FT_Open(0, &handle), kStatusOk);
  SampleStream* stream = library.SampleStreaming();
  ASSERT_NE(stream, nullptr) << library.WhyNoSampleStream();
  EXPECT_FALSE(stream->WaitForSamples(handle, 60s));

  State().takesEvents = 1;
  ASSERT_TRUE(stream->WaitForSamples(handle, 1ms));  // hands the event over
  ASSERT_NE(State().event, nullptr);
  std::atomic<bool> woken{false};
  std::thread arrivals([&] {
    while (!woken) {
      SignalArrival(State().event);
      std::this_thread::sleep_for(1ms);
    }
  });
  const auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(stream->WaitForSamples(handle, 60s));
  const auto slept = std::chrono::steady_clock::now() - before;
  woken = true;
  arrivals.join();

  EXPECT_LT(slept, 30s);  // woken by the library, not by the bound
  const std::string asked = "FT_SetEventNotification handle=" + Hex(handle) + " mask=1";
  const std::vector<std::string> calls = Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), asked), 2);  // refused, then taken
}

// The family comes from the device type the list reports for the open
// handle, and decides the baud asked: 1 MS/s is 200000 baud on a
// high-speed chip (5 samples a baud), 62500 on a full-speed one (16).
TEST_F(StandinTest, TheDeviceTypeDecidesTheFamilyAndTheBaudAsked) {
  const struct {
    std::uint32_t type;
    std::uint16_t bcdDevice;
    std::uint32_t baud;
  } cases[] = {{8, 0x0900, 200000}, {9, 0x1000, 62500}, {5, 0x0600, 62500}};
  for (const auto& c : cases) {
    State().deviceType = c.type;
    VendorLibrary library({kStandin});
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(library.FT_Open(0, &handle), kStatusOk);
    const FamilyReport family = library.FamilyOf(handle);
    EXPECT_TRUE(family.known) << family.how;
    EXPECT_EQ(family.family->bcdDevice, c.bcdDevice);
    EXPECT_EQ(PlanStream(handle, library, 1e6).baud, c.baud);
    library.FT_Close(handle);
  }
  // One the table does not know is said, and taken for the older chips.
  State().deviceType = 3;
  VendorLibrary library({kStandin});
  FT_HANDLE handle = nullptr;
  ASSERT_EQ(library.FT_Open(0, &handle), kStatusOk);
  const FamilyReport unknown = library.FamilyOf(handle);
  EXPECT_FALSE(unknown.known);
  EXPECT_EQ(unknown.how, "device type 3 from FT_GetDeviceInfoDetail is no family known here");
  EXPECT_EQ(unknown.family, &FallbackFamily());
}

TEST_F(StandinTest, PassesEachOperationsOutputsThrough) {
  State().highReads = 1;
  VendorLibrary library({kStandin});
  FT_HANDLE handle = nullptr;
  const std::uint8_t byte = 0x35;
  std::uint32_t written = 0;
  std::uint8_t pins = 0;

  ASSERT_EQ(library.FT_Open(0, &handle), kStatusOk);
  ASSERT_EQ(library.FT_SetBitMode(handle, 0xFD, 0xFF), kStatusOk);
  EXPECT_EQ(library.FT_Write(handle, &byte, 1, &written), kStatusOk);
  EXPECT_EQ(written, 1U);
  EXPECT_EQ(library.FT_GetBitMode(handle, &pins), kStatusOk);
  EXPECT_EQ(pins, 0x37);
  EXPECT_EQ(library.FT_GetBitMode(handle, &pins), kStatusOk);
  EXPECT_EQ(pins, 0x35);
}

TEST_F(StandinTest, FallsBackToTheNextNameWithoutAReport) {
  VendorLibrary library({kMissing, kStandin});
  int reports = 0;
  library.SetLoadFailureReport([&](std::string_view) { ++reports; });
  FT_HANDLE handle = nullptr;

  EXPECT_EQ(library.FT_Open(0, &handle), kStatusOk);
  EXPECT_EQ(handle, reinterpret_cast<void*>(STANDIN_HANDLE_VALUE));
  EXPECT_EQ(reports, 0);
}

TEST(VendorLibrary, WithoutTheStreamAndListOperationsStillBindsAndPolls) {
  SharedLibrary module(kNoStreamStandin);
  StandinState* state = ClearedState(module);
  ASSERT_NE(state, nullptr);
  state->highReads = 3;
  VendorLibrary library({kNoStreamStandin});

  const Session session(library);

  EXPECT_EQ(session.result.outcome, MeasureOutcome::ChargeTime);
  EXPECT_EQ(library.SampleStreaming(), nullptr);
  EXPECT_EQ(library.WhyNoSampleStream(),
            "the driver library " + library.LoadedFile() + " has no FT_SetBaudRate");
  EXPECT_EQ(library.Devices(), nullptr);
  EXPECT_EQ(library.WhyNoDeviceList(),
            "the driver library " + library.LoadedFile() + " has no FT_CreateDeviceInfoList");
}

TEST(VendorLibrary, LoadsAtFirstUseAndUnloadsWhenDestroyed) {
  {
    VendorLibrary library({kStandin});
    EXPECT_FALSE(IsLoaded(kStandin));
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(library.FT_Open(0, &handle), kStatusOk);
    EXPECT_TRUE(IsLoaded(kStandin));
  }
  EXPECT_FALSE(IsLoaded(kStandin));
}

struct UnboundCase {
  const char* name;
  std::vector<std::string> libraryNames;
  std::string reportedLibrary;
  std::string reason;  // a part of the loader's reason
};

void PrintTo(const UnboundCase& unbound, std::ostream* out) {
  *out << unbound.name;
}

class UnboundLibrary : public ::testing::TestWithParam<UnboundCase> {};

TEST_P(UnboundLibrary, ReportsOnceThenBehavesAsAFailedOpen) {
  VendorLibrary library(GetParam().libraryNames);
  Session session(library);
  const MeasureResult& result = session.result;
  RecordingDisplay& display = session.display;
  const DeviceLink& link = session.link;

  ASSERT_EQ(display.messages.size(), 4U);
  const std::string& report = display.messages[0];
  EXPECT_EQ(
      report.rfind(
          "Error: Could not load the USB driver library " + GetParam().reportedLibrary + " (", 0),
      0U)
      << report;
  EXPECT_NE(report.find(GetParam().reason), std::string::npos) << report;
  EXPECT_TRUE(report.ends_with(")" + std::string(kInstallAdvice))) << report;
  EXPECT_EQ(std::vector<std::string>(display.messages.begin() + 1, display.messages.end()),
            (std::vector<std::string>{std::string(link_messages::kOpenFailed),
                                      std::string(link_messages::kResetFailed),
                                      std::string(link_messages::kCloseFailed)}));
  EXPECT_EQ(result.outcome, MeasureOutcome::ReadError);
  EXPECT_EQ(display.captions[LabelSlot::lblTime], display_texts::kReadError);
  EXPECT_EQ(link.lngHandle, nullptr);
  EXPECT_FALSE(IsLoaded(kPartialStandin));  // an incomplete library is let go
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnboundLibrary,
    ::testing::Values(UnboundCase{"Missing", {kMissing}, kMissing, kMissingReason},
                      UnboundCase{"LacksGetBitMode",
                                  {kPartialStandin},
                                  kPartialStandin,
                                  "it has no operation FT_GetBitMode"},
                      // Of several failures, the library that exists is the one to fix.
                      UnboundCase{"NoCandidateComplete",
                                  {kMissing, kPartialStandin},
                                  kPartialStandin,
                                  "it has no operation FT_GetBitMode"}),
    [](const auto& info) { return info.param.name; });

TEST(VendorLibrary, NamesTheMissingOperationInTheUsualMessageForm) {
  VendorLibrary library({kPartialStandin});
  std::vector<std::string> reports;
  library.SetLoadFailureReport([&](std::string_view message) { reports.emplace_back(message); });

  library.FT_Close(nullptr);

  EXPECT_EQ(reports, std::vector<std::string>{
                         "Error: Could not load the USB driver library " + kPartialStandin +
                         " (it has no operation FT_GetBitMode)" + std::string(kInstallAdvice)});
}

// Every operation of an unbound library, with receiving arguments preset.
struct Receivers {
  FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(std::uintptr_t{0xA5A5});
  std::uint32_t written = 0xA5A5;
  std::uint8_t pins = 0xA5;
};

std::vector<FT_STATUS> CallEveryOperation(VendorLibrary& library, Receivers& out) {
  const std::uint8_t byte = 0x31;
  return {library.FT_Open(0, &out.handle), library.FT_SetBitMode(out.handle, 0xFD, 0xFF),
          library.FT_Write(out.handle, &byte, 1, &out.written),
          library.FT_GetBitMode(out.handle, &out.pins), library.FT_Close(out.handle)};
}

TEST(VendorLibrary, UnboundOperationsFailAndWriteNothingWithOrWithoutAReport) {
  for (const bool withReport : {true, false}) {
    SCOPED_TRACE(withReport ? "with a report" : "without a report");
    VendorLibrary library({kMissing});
    int reports = 0;
    if (withReport) {
      library.SetLoadFailureReport([&](std::string_view) { ++reports; });
    }
    Receivers out;

    for (int round = 0; round < 3; ++round) {
      EXPECT_EQ(CallEveryOperation(library, out), std::vector<FT_STATUS>(5, kLibraryNotLoaded));
    }

    EXPECT_NE(kLibraryNotLoaded, kStatusOk);
    EXPECT_EQ(out.handle, Receivers{}.handle);
    EXPECT_EQ(out.written, Receivers{}.written);
    EXPECT_EQ(out.pins, Receivers{}.pins);
    EXPECT_EQ(reports, withReport ? 1 : 0);
    EXPECT_EQ(library.SampleStreaming(), nullptr);
    EXPECT_EQ(library.WhyNoSampleStream(),
              "the driver library is not loaded: " + library.LoadError());
  }
}

TEST(VendorLibrary, TriesToLoadOnlyOnceAndNotBeforeTheFirstCall) {
  const auto directory = std::filesystem::temp_directory_path() /
                         ("capmeter-vendor-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(directory);
  const auto path = directory / VendorLibrary::DefaultLibraryNames().front();
  std::filesystem::remove(path);
  VendorLibrary library({path.string()});
  int reports = 0;
  library.SetLoadFailureReport([&](std::string_view) { ++reports; });
  EXPECT_EQ(reports, 0);
  FT_HANDLE handle = nullptr;

  EXPECT_EQ(library.FT_Open(0, &handle), kLibraryNotLoaded);
  // The library appears only after the first attempt: it stays unbound.
  std::filesystem::copy_file(kStandin, path);
  EXPECT_EQ(library.FT_Open(0, &handle), kLibraryNotLoaded);
  EXPECT_EQ(library.FT_Close(handle), kLibraryNotLoaded);
  EXPECT_EQ(reports, 1);
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace capmeter
