#pragma once

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>

#include "cli/instrument_thread.h"

namespace capmeter::cli {

// The instrument as a VXI-11 device, "inst0": the core channel, where
// clients make links and send messages, and the abort channel, which stops
// what a link has under way. Each link keeps its own message being written
// and its answers not yet read, with the raw socket's limits; the messages
// run on the one instrument thread. Runs on the network's thread.
class Vxi11Channel {
 public:
  // What create_link tells clients to send at most per device_write.
  static constexpr std::uint32_t kMaxReceiveSize = 16 * 1024;
  // A record beyond this is answered GARBAGE_ARGS; room for the headers.
  static constexpr std::size_t kRecordLimit = kMaxReceiveSize + 1024;
  static constexpr std::size_t kMaxConnections = 8;        // per channel; beyond, closed at once
  static constexpr std::size_t kMaxLinks = 16;             // beyond: out of resources
  static constexpr std::size_t kMessageLimit = 64 * 1024;  // beyond: -363, the rest dropped
  static constexpr std::size_t kUnreadLimit = 1 << 20;     // beyond: -410, answers dropped
  static constexpr int kQueuedLimit = 256;  // messages waiting per link: then out of resources

  // `admit` says whether a peer just accepted may stay (the allow-list).
  Vxi11Channel(asio::io_context& io, InstrumentThread& instrument,
               std::function<bool(asio::ip::tcp::socket&)> admit);
  ~Vxi11Channel();
  Vxi11Channel(const Vxi11Channel&) = delete;
  Vxi11Channel& operator=(const Vxi11Channel&) = delete;

  // Bound and listening before Start.
  asio::ip::tcp::acceptor& CoreAcceptor() { return core_; }
  asio::ip::tcp::acceptor& AbortAcceptor() { return abort_; }

  void Start();
  // Stops listening, closes every connection and abandons every link's work.
  void Close();

 private:
  struct Connection;
  struct Link;

  void Accept(asio::ip::tcp::acceptor& acceptor, std::uint32_t program);
  void Read(const std::shared_ptr<Connection>& connection);
  // Runs the calls that arrived, until one has to wait for the instrument.
  void Process(const std::shared_ptr<Connection>& connection);
  // The reply to one call; none when it is given later (a read waiting).
  std::optional<std::string> Dispatch(const std::shared_ptr<Connection>& connection,
                                      std::string_view record, bool cut);
  std::string Core(const std::shared_ptr<Connection>& connection, std::uint32_t xid,
                   std::uint32_t procedure, std::string_view arguments, bool& waits);
  std::string Abort(std::string_view arguments);
  void Send(const std::shared_ptr<Connection>& connection, std::string reply);
  void Write(const std::shared_ptr<Connection>& connection);
  void Drop(const std::shared_ptr<Connection>& connection);

  // Messages and answers of one link.
  void Submit(const std::shared_ptr<Link>& link, std::string line, int inputError = 0);
  void Answered(const std::shared_ptr<Link>& link, unsigned generation, std::string answer);
  // The next chunk of a link's answers for a device_read, or none yet.
  std::optional<std::string> ReadChunk(Link& link);
  // What a read waiting on `link` gets now, if it can be answered.
  void FinishWaitingRead(Link& link, std::optional<std::string> reply);
  // device_clear and device_abort: the message under way, the answers and
  // the reading abandoned.
  void ClearLink(Link& link);
  void DestroyLink(std::int32_t id);
  std::shared_ptr<Link> FindLink(std::int32_t id) const;

  asio::io_context& io_;
  InstrumentThread& instrument_;
  std::function<bool(asio::ip::tcp::socket&)> admit_;
  asio::ip::tcp::acceptor core_;
  asio::ip::tcp::acceptor abort_;
  std::list<std::shared_ptr<Connection>> connections_;
  std::map<std::int32_t, std::shared_ptr<Link>> links_;
  std::int32_t nextLink_ = 1;
  // The link that holds the lock, across all links: others may not write,
  // read, clear or trigger meanwhile.
  std::optional<std::int32_t> lockHolder_;
};

}  // namespace capmeter::cli
