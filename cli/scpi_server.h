#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/allow_list.h"
#include "scpi/instrument.h"

namespace capmeter::cli {

// Where the server listens: a host (an address or a name) and a port, 0 for
// any free one.
struct ListenAddress {
  std::string host = "127.0.0.1";
  std::uint16_t port = 5025;
};

// "ADDR:PORT", "[IPv6]:PORT" or ":PORT" (on 127.0.0.1); none when it is not
// one of those.
std::optional<ListenAddress> ParseListenAddress(std::string_view text);

// Where and to whom the server listens.
struct ServerSetup {
  ListenAddress listen;
  AllowList allow;  // checked at every accept; empty: everyone
  // The VXI-11 core channel on this port of the same host (0: a free one)
  // and its abort channel on a free one; none: no VXI-11.
  std::optional<std::uint16_t> vxi11Port = 0;
  // One line for each peer refused, with its address.
  std::function<void(const std::string&)> say;
};

// The instrument on raw TCP, as LXI instruments answer on port 5025: each
// line a client sends is one message, each answer goes back to that client
// with LF. Messages run one at a time, in the order they arrive, on a thread
// of their own; the network is served meanwhile, so a reading that takes
// seconds keeps no client from connecting or being answered next. VXI-11
// links beside it (cli/vxi11_channel.h) share the instrument and its thread.
class InstrumentServer {
 public:
  static constexpr std::size_t kMaxClients = 8;         // a ninth is closed at once
  static constexpr std::size_t kLineLimit = 64 * 1024;  // beyond: -363, the rest dropped
  static constexpr std::size_t kUnreadLimit = 1 << 20;  // unread answers: then closed
  // Each client's socket send buffer, so that what a client that does not
  // read holds is bounded end to end: kUnreadLimit waiting here plus this in
  // the kernel (Linux doubles it for its bookkeeping), not the megabytes a
  // loopback socket grows to by itself.
  static constexpr int kSendBufferBytes = 64 * 1024;

  // Binds and listens; throws std::system_error when it cannot.
  InstrumentServer(const ServerSetup& setup, scpi::Instrument& instrument);
  ~InstrumentServer();
  InstrumentServer(const InstrumentServer&) = delete;
  InstrumentServer& operator=(const InstrumentServer&) = delete;

  // Where it listens, as clients give it: "127.0.0.1:5025", "[::1]:5025".
  std::string LocalAddress() const;
  std::uint16_t RawPort() const;
  // Whether only this machine can reach it.
  bool OnlyLoopback() const;
  // The VXI-11 core and abort channels' ports; none without VXI-11.
  std::optional<std::uint16_t> CorePort() const;
  std::optional<std::uint16_t> AbortPort() const;

  // Serves until `stopSignal` gives non-zero (looked at every few tens of
  // milliseconds and after every poll of a reading, which it abandons), then
  // closes every connection and returns that number.
  int Run(const std::function<int()>& stopSignal);

 private:
  struct Network;
  std::unique_ptr<Network> network_;
};

}  // namespace capmeter::cli
