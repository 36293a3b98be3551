#include "cli/scpi_server.h"

#include <asio.hpp>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

namespace capmeter::cli {

namespace {

using asio::ip::tcp;

// Lines read ahead of the instrument per client; reading waits beyond it.
constexpr std::size_t kQueuedLinesLimit = 256;
constexpr auto kStopPollPeriod = std::chrono::milliseconds(50);
// What a reading's stop signal says when the client that asked went away.
constexpr int kClientGone = -1;

struct Connection {
  explicit Connection(tcp::socket s) : socket(std::move(s)) {}

  tcp::socket socket;
  std::array<char, 4096> incoming{};
  std::string line;         // read so far, without its LF
  bool discarding = false;  // the rest of a line over the limit
  std::deque<std::string> outgoing;
  std::size_t unreadBytes = 0;
  bool writing = false;
  std::size_t queuedLines = 0;
  bool readPaused = false;
  std::atomic<bool> gone{false};
};

// A line for the instrument, or an input error found before parsing.
struct Job {
  std::shared_ptr<Connection> from;
  std::string line;
  int inputError = 0;
};

}  // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
  ListenAddress address;
  std::string_view host;
  std::string_view port;
  if (text.starts_with('[')) {
    const std::size_t close = text.find("]:");
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || text.substr(0, colon).find(':') != std::string::npos) {
      return std::nullopt;
    }
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  unsigned number = 0;
  const auto read = std::from_chars(port.data(), port.data() + port.size(), number);
  if (port.empty() || read.ec != std::errc{} || read.ptr != port.data() + port.size() ||
      number > 65535) {
    return std::nullopt;
  }
  if (!host.empty()) address.host = std::string(host);
  address.port = static_cast<std::uint16_t>(number);
  return address;
}

struct InstrumentServer::Network {
  Network(const ListenAddress& address, scpi::Instrument& instrument)
      : instrument(instrument), acceptor(io), stopTimer(io) {
    tcp::resolver resolver(io);
    const tcp::endpoint endpoint =
        *resolver.resolve(address.host, std::to_string(address.port), tcp::resolver::passive)
             .begin();
    acceptor.open(endpoint.protocol());
#if !defined(_WIN32)
    // A restarted server gets its port back at once; on Windows the same
    // option would let another program share the port.
    acceptor.set_option(tcp::acceptor::reuse_address(true));
#endif
    acceptor.bind(endpoint);
    acceptor.listen();
  }

  void Accept() {
    acceptor.async_accept([this](const asio::error_code& error, tcp::socket socket) {
      if (!acceptor.is_open()) return;
      if (!error) {
        if (clients.size() >= kMaxClients) {
          asio::error_code ignored;
          socket.close(ignored);
        } else {
          asio::error_code ignored;
          socket.set_option(asio::socket_base::send_buffer_size(kSendBufferBytes), ignored);
          clients.push_back(std::make_shared<Connection>(std::move(socket)));
          Read(clients.back());
        }
      }
      Accept();
    });
  }

  void Read(const std::shared_ptr<Connection>& client) {
    client->socket.async_read_some(asio::buffer(client->incoming),
                                   [this, client](const asio::error_code& error, std::size_t n) {
                                     if (error) return Drop(client, true);
                                     Take(client, std::string_view(client->incoming.data(), n));
                                     if (client->gone) return;
                                     if (client->queuedLines >= kQueuedLinesLimit) {
                                       client->readPaused = true;
                                     } else {
                                       Read(client);
                                     }
                                   });
  }

  // Cuts what arrived into lines for the instrument.
  void Take(const std::shared_ptr<Connection>& client, std::string_view data) {
    while (!data.empty()) {
      const std::size_t end = std::min(data.find('\n'), data.size());
      if (!client->discarding) {
        client->line.append(data.substr(0, end));
        if (client->line.size() > kLineLimit) {
          client->line.clear();
          client->discarding = true;
          Queue({client, {}, -363});
        }
      }
      if (end == data.size()) return;
      if (!client->discarding) Queue({client, std::move(client->line), 0});
      client->line.clear();
      client->discarding = false;
      data.remove_prefix(end + 1);
    }
  }

  void Queue(Job job) {
    ++job.from->queuedLines;
    {
      const std::lock_guard lock(mutex);
      jobs.push_back(std::move(job));
    }
    wake.notify_one();
  }

  // Lets a client go; a query it left without its LF is an error of its own.
  void Drop(const std::shared_ptr<Connection>& client, bool closedByClient) {
    if (client->gone.exchange(true)) return;
    if (closedByClient && !client->discarding && client->line.find('?') != std::string::npos) {
      Queue({client, {}, -420});
    }
    asio::error_code ignored;
    client->socket.close(ignored);
    clients.remove(client);
  }

  void Deliver(const std::shared_ptr<Connection>& client, std::string answer) {
    --client->queuedLines;
    if (client->gone) return;
    if (client->readPaused && client->queuedLines < kQueuedLinesLimit) {
      client->readPaused = false;
      Read(client);
    }
    if (answer.empty()) return;
    answer += '\n';
    if (client->unreadBytes + answer.size() > kUnreadLimit) {
      return Drop(client, false);  // it does not read: it must not hold the others up
    }
    client->unreadBytes += answer.size();
    client->outgoing.push_back(std::move(answer));
    Write(client);
  }

  void Write(const std::shared_ptr<Connection>& client) {
    if (client->writing || client->outgoing.empty()) return;
    client->writing = true;
    asio::async_write(client->socket, asio::buffer(client->outgoing.front()),
                      [this, client](const asio::error_code& error, std::size_t) {
                        client->writing = false;
                        if (error) return Drop(client, false);
                        client->unreadBytes -= client->outgoing.front().size();
                        client->outgoing.pop_front();
                        Write(client);
                      });
  }

  // The instrument's thread: one message at a time.
  void Work(const std::function<int()>& stopSignal) {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (stopping) return;
        job = std::move(jobs.front());
        jobs.pop_front();
      }
      std::string answer;
      if (job.inputError != 0) {
        instrument.ReportInputError(job.inputError);
      } else {
        const Connection& from = *job.from;
        SeriesControl control;
        control.stopSignal = [&stopSignal, &from] {
          const int signal = stopSignal();
          return signal != 0 ? signal : from.gone ? kClientGone : 0;
        };
        answer = instrument.Execute(job.line, control);
      }
      asio::post(io, [this, client = std::move(job.from), answer = std::move(answer)]() mutable {
        Deliver(client, std::move(answer));
      });
    }
  }

  void WatchForStop(const std::function<int()>& stopSignal) {
    stopTimer.expires_after(kStopPollPeriod);
    stopTimer.async_wait([this, &stopSignal](const asio::error_code&) {
      stopped = stopSignal();
      if (stopped == 0) return WatchForStop(stopSignal);
      asio::error_code ignored;
      acceptor.close(ignored);
      while (!clients.empty()) Drop(clients.front(), false);
      {
        const std::lock_guard lock(mutex);
        stopping = true;
      }
      wake.notify_one();
      io.stop();
    });
  }

  scpi::Instrument& instrument;
  asio::io_context io;
  tcp::acceptor acceptor;
  asio::steady_timer stopTimer;
  std::list<std::shared_ptr<Connection>> clients;
  int stopped = 0;

  std::mutex mutex;  // guards jobs and stopping
  std::condition_variable wake;
  std::deque<Job> jobs;
  bool stopping = false;
};

InstrumentServer::InstrumentServer(const ListenAddress& address, scpi::Instrument& instrument)
    : network_(std::make_unique<Network>(address, instrument)) {}

InstrumentServer::~InstrumentServer() = default;

std::string InstrumentServer::LocalAddress() const {
  const tcp::endpoint endpoint = network_->acceptor.local_endpoint();
  const std::string host = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" +
         std::to_string(endpoint.port());
}

bool InstrumentServer::OnlyLoopback() const {
  return network_->acceptor.local_endpoint().address().is_loopback();
}

int InstrumentServer::Run(const std::function<int()>& stopSignal) {
  network_->Accept();
  network_->WatchForStop(stopSignal);
  std::thread worker([this, &stopSignal] { network_->Work(stopSignal); });
  network_->io.run();
  worker.join();
  return network_->stopped;
}

}  // namespace capmeter::cli
