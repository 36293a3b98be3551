// capmeter-cli serve's costs: *IDN? round trips over loopback, and what
// MEAS:CAP? adds to the reading it takes (parsing, the series, the answer
// and the round trip), both on the simulated chip on virtual time.

#include <benchmark/benchmark.h>

#include <asio.hpp>
#include <atomic>
#include <string>
#include <thread>

#include "bench/opened_chip.h"
#include "cli/scpi_server.h"
#include "measurement/series.h"
#include "scpi/instrument.h"
#include "sim/virtual_clock.h"

namespace capmeter::bench {
namespace {

// A charge of 10 ms polled every 125 µs: 80 polls, as a high-speed chip
// polls a 2.2 nF part on 4.7 MOhm.
constexpr CircuitParts kParts{100e3, 10e-3 / (1.1 * 100e3)};
constexpr auto kLatency = std::chrono::microseconds(125);

// The opened chip as the instrument's device.
class HeldChip final : public scpi::DeviceAccess {
 public:
  explicit HeldChip(OpenedChip& opened) : opened_(opened) {}
  Opened Open() override { return {opened_.link.lngHandle, {}}; }
  void Release() override {}

 private:
  OpenedChip& opened_;
};

// The server on a free loopback port with one client connected.
class Served {
 public:
  Served()
      : opened_(clock_, kParts, kLatency),
        device_(opened_),
        instrument_(opened_.chip, clock_, device_, Setup()),
        server_(cli::ServerSetup{{"127.0.0.1", 0}, {}, std::nullopt, {}}, instrument_),
        thread_([this] { server_.Run([this] { return stop_.load(); }); }),
        socket_(io_) {
    const std::string address = server_.LocalAddress();
    const auto port =
        static_cast<asio::ip::port_type>(std::stoi(address.substr(address.rfind(':') + 1)));
    socket_.connect({asio::ip::make_address("127.0.0.1"), port});
    socket_.set_option(asio::ip::tcp::no_delay(true));
  }
  ~Served() {
    stop_ = 1;
    thread_.join();
  }
  Served(const Served&) = delete;
  Served& operator=(const Served&) = delete;

  std::string Ask(const std::string& line) {
    asio::write(socket_, asio::buffer(line));
    const std::size_t end = asio::read_until(socket_, asio::dynamic_buffer(answer_), '\n');
    std::string answer = answer_.substr(0, end);
    answer_.erase(0, end);
    return answer;
  }

 private:
  static scpi::InstrumentSetup Setup() {
    scpi::InstrumentSetup setup;
    setup.identity = [] { return std::string("capmeter,capmeter-bench,0,0"); };
    setup.slope = 9.0909e-6;
    return setup;
  }

  VirtualClock clock_;
  OpenedChip opened_;
  HeldChip device_;
  scpi::Instrument instrument_;
  cli::InstrumentServer server_;
  std::atomic<int> stop_{0};
  std::thread thread_;
  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  std::string answer_;
};

void BM_IdnRoundTrip(benchmark::State& state) {
  Served served;
  for (auto _ : state) {
    benchmark::DoNotOptimize(served.Ask("*IDN?\n"));
  }
  state.counters["round_trips"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IdnRoundTrip)->UseRealTime();

void BM_MeasureCapacitanceQuery(benchmark::State& state) {
  Served served;
  for (auto _ : state) {
    benchmark::DoNotOptimize(served.Ask("MEAS:CAP?\n"));
  }
}
BENCHMARK(BM_MeasureCapacitanceQuery)->UseRealTime();

// The same reading without the instrument: what MEAS:CAP? costs beyond this
// is its own.
void BM_ReadingAlone(benchmark::State& state) {
  VirtualClock clock;
  OpenedChip opened(clock, kParts, kLatency);
  SeriesSetup setup;
  setup.calibration = Calibration(9.0909, 0.0);
  for (auto _ : state) {
    RunSeries(opened.chip, clock, opened.link.lngHandle, setup, {}, [](const Reading& reading) {
      benchmark::DoNotOptimize(reading);
      return true;
    });
  }
}
BENCHMARK(BM_ReadingAlone)->UseRealTime();

}  // namespace
}  // namespace capmeter::bench
