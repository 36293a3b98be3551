#include "cli/scpi_server.h"

#include <asio.hpp>
#include <atomic>
#include <charconv>
#include <deque>
#include <list>
#include <thread>

#include "cli/instrument_thread.h"
#include "cli/vxi11_channel.h"

namespace capmeter::cli {

namespace {

using asio::ip::tcp;

// Lines read ahead of the instrument per client; reading waits beyond it.
constexpr std::size_t kQueuedLinesLimit = 256;
constexpr auto kStopPollPeriod = std::chrono::milliseconds(50);

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
  Network(const ServerSetup& setup, scpi::Instrument& instrument)
      : setup(setup), thread(io, instrument), acceptor(io), stopTimer(io) {
    tcp::resolver resolver(io);
    const tcp::endpoint endpoint =
        *resolver
             .resolve(setup.listen.host, std::to_string(setup.listen.port), tcp::resolver::passive)
             .begin();
    Listen(acceptor, endpoint);
    if (setup.vxi11Port) {
      vxi11.emplace(io, thread, [this](tcp::socket& peer) { return Admit(peer); });
      Listen(vxi11->CoreAcceptor(), {endpoint.address(), *setup.vxi11Port});
      Listen(vxi11->AbortAcceptor(), {endpoint.address(), 0});
    }
  }

  static void Listen(tcp::acceptor& listener, const tcp::endpoint& endpoint) {
    listener.open(endpoint.protocol());
#if !defined(_WIN32)
    // A restarted server gets its port back at once; on Windows the same
    // option would let another program share the port.
    listener.set_option(tcp::acceptor::reuse_address(true));
#endif
    listener.bind(endpoint);
    listener.listen();
  }

  // Whether a peer may stay, by the allow-list; one line for each refused.
  bool Admit(tcp::socket& peer) {
    asio::error_code error;
    const tcp::endpoint from = peer.remote_endpoint(error);
    if (!error && setup.allow.Allows(from.address().to_string())) return true;
    if (setup.say) {
      setup.say("refused " +
                (error ? std::string("a peer that left") : from.address().to_string()) +
                ": not in --allow");
    }
    peer.close(error);
    return false;
  }

  void Accept() {
    acceptor.async_accept([this](const asio::error_code& error, tcp::socket socket) {
      if (!acceptor.is_open()) return;
      if (!error && Admit(socket)) {
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
          Queue(client, {}, -363);
        }
      }
      if (end == data.size()) return;
      if (!client->discarding) Queue(client, std::move(client->line), 0);
      client->line.clear();
      client->discarding = false;
      data.remove_prefix(end + 1);
    }
  }

  void Queue(const std::shared_ptr<Connection>& client, std::string line, int inputError) {
    ++client->queuedLines;
    thread.Submit({std::move(line), inputError, [client] { return client->gone.load(); },
                   [this, client](std::string answer) { Deliver(client, std::move(answer)); }});
  }

  // Lets a client go; a query it left without its LF is an error of its own.
  void Drop(const std::shared_ptr<Connection>& client, bool closedByClient) {
    if (client->gone.exchange(true)) return;
    if (closedByClient && !client->discarding && client->line.find('?') != std::string::npos) {
      Queue(client, {}, -420);
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

  void WatchForStop(const std::function<int()>& stopSignal) {
    stopTimer.expires_after(kStopPollPeriod);
    stopTimer.async_wait([this, &stopSignal](const asio::error_code&) {
      stopped = stopSignal();
      if (stopped == 0) return WatchForStop(stopSignal);
      asio::error_code ignored;
      acceptor.close(ignored);
      while (!clients.empty()) Drop(clients.front(), false);
      if (vxi11) vxi11->Close();
      thread.Stop();
      io.stop();
    });
  }

  ServerSetup setup;
  asio::io_context io;
  InstrumentThread thread;
  tcp::acceptor acceptor;
  asio::steady_timer stopTimer;
  std::list<std::shared_ptr<Connection>> clients;
  std::optional<Vxi11Channel> vxi11;
  int stopped = 0;
};

InstrumentServer::InstrumentServer(const ServerSetup& setup, scpi::Instrument& instrument)
    : network_(std::make_unique<Network>(setup, instrument)) {}

InstrumentServer::~InstrumentServer() = default;

std::string InstrumentServer::LocalAddress() const {
  const tcp::endpoint endpoint = network_->acceptor.local_endpoint();
  const std::string host = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" +
         std::to_string(endpoint.port());
}

std::uint16_t InstrumentServer::RawPort() const {
  return network_->acceptor.local_endpoint().port();
}

bool InstrumentServer::OnlyLoopback() const {
  return network_->acceptor.local_endpoint().address().is_loopback();
}

std::optional<std::uint16_t> InstrumentServer::CorePort() const {
  if (!network_->vxi11) return std::nullopt;
  return network_->vxi11->CoreAcceptor().local_endpoint().port();
}

std::optional<std::uint16_t> InstrumentServer::AbortPort() const {
  if (!network_->vxi11) return std::nullopt;
  return network_->vxi11->AbortAcceptor().local_endpoint().port();
}

int InstrumentServer::Run(const std::function<int()>& stopSignal) {
  network_->Accept();
  if (network_->vxi11) network_->vxi11->Start();
  network_->WatchForStop(stopSignal);
  std::thread worker([this, &stopSignal] { network_->thread.Run(stopSignal); });
  network_->io.run();
  worker.join();
  return network_->stopped;
}

}  // namespace capmeter::cli
