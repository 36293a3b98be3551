#include "cli/vxi11_channel.h"

#include <algorithm>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <atomic>
#include <cctype>
#include <deque>
#include <vector>

#include "vxi11/messages.h"
#include "vxi11/rpc.h"
#include "vxi11/xdr.h"

namespace capmeter::cli {

namespace {

using asio::ip::tcp;
using vxi11::DeviceError;
using vxi11::Procedure;

constexpr std::size_t kDeviceNameLimit = 64;
constexpr std::uint8_t kMessageAvailable = 0x10;  // MAV of the Status Byte
constexpr std::uint32_t kLongestWaitMs = 24 * 60 * 60 * 1000;

bool IsDeviceName(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == "inst0";
}

}  // namespace

// An RPC connection to one of the two channels.
struct Vxi11Channel::Connection {
  Connection(tcp::socket s, std::uint32_t program) : socket(std::move(s)), program(program) {}

  tcp::socket socket;
  std::uint32_t program;
  std::array<char, 4096> incoming{};
  std::string input;  // arrived, not yet taken into records
  vxi11::RecordReader records{kRecordLimit};
  bool waiting = false;  // a call waits for the instrument: no further call is run
  std::deque<std::string> outgoing;
  std::size_t unsentBytes = 0;
  bool writing = false;
  bool gone = false;
  std::vector<std::int32_t> links;  // made here, destroyed with it
};

struct Vxi11Channel::Link {
  std::int32_t id = 0;
  std::string message;      // device_write chunks so far
  bool discarding = false;  // the rest of a message over the limit
  std::string output;       // answers not yet read, each with its LF
  int queued = 0;           // messages with the instrument
  // Bumped by a clear or an abort, and when the link goes: a message of an
  // older generation is abandoned, its answer dropped. Read by the
  // instrument's thread.
  std::shared_ptr<std::atomic<unsigned>> generation = std::make_shared<std::atomic<unsigned>>(0);
  // A device_read waiting for an answer.
  struct WaitingRead {
    std::weak_ptr<Connection> connection;
    std::uint32_t xid = 0;
    vxi11::ReadArgs args;
    std::unique_ptr<asio::steady_timer> timer;
  };
  std::optional<WaitingRead> waitingRead;
};

Vxi11Channel::Vxi11Channel(asio::io_context& io, InstrumentThread& instrument,
                           std::function<bool(tcp::socket&)> admit)
    : io_(io), instrument_(instrument), admit_(std::move(admit)), core_(io), abort_(io) {}

Vxi11Channel::~Vxi11Channel() = default;

void Vxi11Channel::Start() {
  Accept(core_, vxi11::kCoreProgram);
  Accept(abort_, vxi11::kAbortProgram);
}

void Vxi11Channel::Close() {
  asio::error_code ignored;
  core_.close(ignored);
  abort_.close(ignored);
  while (!connections_.empty()) Drop(connections_.front());
}

void Vxi11Channel::Accept(tcp::acceptor& acceptor, std::uint32_t program) {
  acceptor.async_accept(
      [this, &acceptor, program](const asio::error_code& error, tcp::socket socket) {
        if (!acceptor.is_open()) return;
        if (!error && admit_(socket)) {
          const auto onThisChannel = std::count_if(
              connections_.begin(), connections_.end(),
              [program](const auto& connection) { return connection->program == program; });
          if (static_cast<std::size_t>(onThisChannel) >= kMaxConnections) {
            asio::error_code ignored;
            socket.close(ignored);
          } else {
            connections_.push_back(std::make_shared<Connection>(std::move(socket), program));
            Read(connections_.back());
          }
        }
        Accept(acceptor, program);
      });
}

void Vxi11Channel::Read(const std::shared_ptr<Connection>& connection) {
  connection->socket.async_read_some(
      asio::buffer(connection->incoming),
      [this, connection](const asio::error_code& error, std::size_t n) {
        if (error) return Drop(connection);
        connection->input.assign(connection->incoming.data(), n);
        Process(connection);
      });
}

void Vxi11Channel::Process(const std::shared_ptr<Connection>& connection) {
  while (!connection->gone && !connection->waiting) {
    std::string_view data = connection->input;
    const auto record = connection->records.Next(data);
    connection->input.erase(0, connection->input.size() - data.size());
    if (!record) return Read(connection);  // all taken: read on
    if (auto reply = Dispatch(connection, record->bytes, record->cut)) {
      Send(connection, std::move(*reply));
    }
  }
}

std::optional<std::string> Vxi11Channel::Dispatch(const std::shared_ptr<Connection>& connection,
                                                  std::string_view record, bool cut) {
  vxi11::XdrReader reader(record);
  const vxi11::ReadCall call = vxi11::ReadCallHeader(reader);
  if (!call.xid) return std::nullopt;  // not even an xid to answer to
  const std::uint32_t xid = *call.xid;
  if (!call.header || cut) return vxi11::AcceptedReply(xid, vxi11::Accept::GarbageArguments);
  const vxi11::CallHeader& header = *call.header;
  if (header.rpcVersion != 2) return vxi11::VersionMismatchReply(xid);
  if (header.program != connection->program) {
    return vxi11::AcceptedReply(xid, vxi11::Accept::ProgramUnavailable);
  }
  if (header.version != vxi11::kProgramVersion) {
    vxi11::XdrWriter versions;
    versions.Uint(vxi11::kProgramVersion);
    versions.Uint(vxi11::kProgramVersion);
    return vxi11::AcceptedReply(xid, vxi11::Accept::ProgramMismatch, versions.Bytes());
  }
  if (header.procedure == static_cast<std::uint32_t>(Procedure::Null)) {
    return vxi11::AcceptedReply(xid, vxi11::Accept::Success);
  }
  const std::string_view arguments = record.substr(record.size() - reader.Left());
  bool bad = false;
  std::string results;
  if (connection->program == vxi11::kAbortProgram) {
    if (header.procedure != vxi11::kDeviceAbort) {
      return vxi11::AcceptedReply(xid, vxi11::Accept::ProcedureUnavailable);
    }
    results = Abort(arguments);
    bad = results.empty();
  } else if (!vxi11::IsCoreProcedure(header.procedure)) {
    return vxi11::AcceptedReply(xid, vxi11::Accept::ProcedureUnavailable);
  } else {
    bool waits = false;
    results = Core(connection, xid, header.procedure, arguments, waits);
    if (waits) return std::nullopt;
    bad = results.empty();
  }
  if (bad) return vxi11::AcceptedReply(xid, vxi11::Accept::GarbageArguments);
  return vxi11::AcceptedReply(xid, vxi11::Accept::Success, results);
}

// device_abort's results; empty when its argument does not read.
std::string Vxi11Channel::Abort(std::string_view arguments) {
  vxi11::XdrReader reader(arguments);
  const auto id = vxi11::ReadLink(reader);
  if (!id) return {};
  const std::shared_ptr<Link> link = FindLink(*id);
  if (!link) return vxi11::ErrorResult(DeviceError::InvalidLink);
  ClearLink(*link);
  FinishWaitingRead(*link, vxi11::ReadResult(DeviceError::Abort, 0, {}));
  return vxi11::ErrorResult(DeviceError::None);
}

// Each procedure's results; empty when its arguments do not read.
std::string Vxi11Channel::Core(const std::shared_ptr<Connection>& connection, std::uint32_t xid,
                               std::uint32_t procedure, std::string_view arguments, bool& waits) {
  vxi11::XdrReader reader(arguments);
  const auto held = [this](const Link& link) { return lockHolder_ && *lockHolder_ != link.id; };
  switch (static_cast<Procedure>(procedure)) {
    case Procedure::CreateLink: {
      const auto args = vxi11::ReadCreateLink(reader, kDeviceNameLimit);
      if (!args) return {};
      if (!IsDeviceName(args->device)) {
        return vxi11::CreateLinkResult(DeviceError::NotAccessible, 0, 0, 0);
      }
      if (links_.size() >= kMaxLinks) {
        return vxi11::CreateLinkResult(DeviceError::OutOfResources, 0, 0, 0);
      }
      if (args->lockDevice && lockHolder_) {
        return vxi11::CreateLinkResult(DeviceError::Locked, 0, 0, 0);
      }
      auto link = std::make_shared<Link>();
      link->id = nextLink_++;
      links_[link->id] = link;
      connection->links.push_back(link->id);
      if (args->lockDevice) lockHolder_ = link->id;
      return vxi11::CreateLinkResult(DeviceError::None, link->id, abort_.local_endpoint().port(),
                                     kMaxReceiveSize);
    }
    case Procedure::DeviceWrite: {
      const auto args = vxi11::ReadWrite(reader, kMaxReceiveSize);
      if (!args) return {};
      const std::shared_ptr<Link> link = FindLink(args->link);
      if (!link) return vxi11::WriteResult(DeviceError::InvalidLink, 0);
      if (held(*link)) return vxi11::WriteResult(DeviceError::Locked, 0);
      if (link->queued >= kQueuedLimit) return vxi11::WriteResult(DeviceError::OutOfResources, 0);
      if (!link->discarding) {
        link->message += args->data;
        if (link->message.size() > kMessageLimit) {
          link->message.clear();
          link->discarding = true;
          Submit(link, {}, -363);
        }
      }
      if ((args->flags & vxi11::kEnd) != 0) {
        // Each line a message, as on the raw socket; the last LF is optional.
        std::string_view message = link->message;
        while (!link->discarding && !message.empty()) {
          const std::size_t end = std::min(message.find('\n'), message.size());
          Submit(link, std::string(message.substr(0, end)));
          message.remove_prefix(std::min(end + 1, message.size()));
        }
        link->message.clear();
        link->discarding = false;
      }
      return vxi11::WriteResult(DeviceError::None, static_cast<std::uint32_t>(args->data.size()));
    }
    case Procedure::DeviceRead: {
      const auto args = vxi11::ReadRead(reader);
      if (!args) return {};
      const std::shared_ptr<Link> link = FindLink(args->link);
      if (!link) return vxi11::ReadResult(DeviceError::InvalidLink, 0, {});
      if (held(*link)) return vxi11::ReadResult(DeviceError::Locked, 0, {});
      link->waitingRead = Link::WaitingRead{connection, xid, *args, nullptr};
      if (auto chunk = ReadChunk(*link)) {
        link->waitingRead.reset();
        return *chunk;
      }
      // The answer is still to come: the read waits for it, as long as the
      // client allows, and no later call of this connection runs meanwhile.
      waits = true;
      connection->waiting = true;
      auto& timer = link->waitingRead->timer;
      timer = std::make_unique<asio::steady_timer>(io_);
      timer->expires_after(std::chrono::milliseconds(std::min(args->ioTimeout, kLongestWaitMs)));
      timer->async_wait([this, weak = std::weak_ptr<Link>(link)](const asio::error_code& error) {
        const auto waiting = weak.lock();
        if (error || !waiting) return;
        FinishWaitingRead(*waiting, vxi11::ReadResult(DeviceError::Timeout, 0, {}));
      });
      return {};
    }
    case Procedure::ReadStatusByte:
    case Procedure::Trigger:
    case Procedure::Clear: {
      const auto args = vxi11::ReadGeneric(reader);
      if (!args) return {};
      const std::shared_ptr<Link> link = FindLink(args->link);
      const auto error = !link         ? DeviceError::InvalidLink
                         : held(*link) ? DeviceError::Locked
                                       : DeviceError::None;
      if (static_cast<Procedure>(procedure) == Procedure::ReadStatusByte) {
        const int statusByte = error != DeviceError::None ? 0
                               : link->output.empty()
                                   ? instrument_.StatusByteNow()
                                   : instrument_.StatusByteNow() | kMessageAvailable;
        return vxi11::StatusByteResult(error, static_cast<std::uint8_t>(statusByte));
      }
      if (error == DeviceError::None) {
        if (static_cast<Procedure>(procedure) == Procedure::Clear) {
          ClearLink(*link);
        } else {
          Submit(link, "INIT");  // a trigger takes the readings, FETCh? gives them
        }
      }
      return vxi11::ErrorResult(error);
    }
    case Procedure::Lock: {
      const auto args = vxi11::ReadLock(reader);
      if (!args) return {};
      const std::shared_ptr<Link> link = FindLink(args->link);
      if (!link) return vxi11::ErrorResult(DeviceError::InvalidLink);
      if (held(*link)) return vxi11::ErrorResult(DeviceError::Locked);
      lockHolder_ = link->id;
      return vxi11::ErrorResult(DeviceError::None);
    }
    case Procedure::Unlock:
    case Procedure::DestroyLink: {
      const auto id = vxi11::ReadLink(reader);
      if (!id) return {};
      if (!FindLink(*id)) return vxi11::ErrorResult(DeviceError::InvalidLink);
      if (static_cast<Procedure>(procedure) == Procedure::DestroyLink) {
        std::erase(connection->links, *id);
        DestroyLink(*id);
        return vxi11::ErrorResult(DeviceError::None);
      }
      if (lockHolder_ != *id) return vxi11::ErrorResult(DeviceError::NoLock);
      lockHolder_.reset();
      return vxi11::ErrorResult(DeviceError::None);
    }
    default:
      return vxi11::NotSupportedResult(static_cast<Procedure>(procedure));
  }
}

void Vxi11Channel::Submit(const std::shared_ptr<Link>& link, std::string line, int inputError) {
  ++link->queued;
  const unsigned generation = link->generation->load();
  instrument_.Submit(
      {std::move(line), inputError,
       [counter = link->generation, generation] { return counter->load() != generation; },
       [this, link, generation](std::string answer) {
         Answered(link, generation, std::move(answer));
       }});
}

void Vxi11Channel::Answered(const std::shared_ptr<Link>& link, unsigned generation,
                            std::string answer) {
  --link->queued;
  if (link->generation->load() != generation) return;  // cleared or gone meanwhile
  if (!answer.empty()) {
    if (link->output.size() + answer.size() + 1 > kUnreadLimit) {
      // Answers nobody reads: dropped, as a query interrupted by the next.
      link->output.clear();
      instrument_.Submit({{}, -410, {}, {}});
    }
    link->output += answer;
    link->output += '\n';
  }
  if (link->waitingRead) FinishWaitingRead(*link, ReadChunk(*link));
}

std::optional<std::string> Vxi11Channel::ReadChunk(Link& link) {
  const vxi11::ReadArgs& args = link.waitingRead->args;
  if (link.output.empty()) {
    if (link.queued > 0) return std::nullopt;
    // Nothing asked: the client would wait in vain.
    instrument_.Submit({{}, -420, {}, {}});
    return vxi11::ReadResult(DeviceError::Timeout, 0, {});
  }
  std::size_t size = std::min<std::size_t>(args.requestSize, link.output.size());
  std::int32_t reason = 0;
  if ((args.flags & vxi11::kTermCharSet) != 0) {
    const std::size_t term = link.output.find(args.termChar);
    if (term < size) {
      size = term + 1;
      reason |= vxi11::kReasonTermChar;
    }
  }
  // END only with an answer's last byte, so a client reading in small
  // chunks knows when it has all of it.
  if (size > 0 && link.output[size - 1] == '\n') reason |= vxi11::kReasonEnd;
  if (size == args.requestSize) reason |= vxi11::kReasonRequestCount;
  std::string chunk =
      vxi11::ReadResult(DeviceError::None, reason, std::string_view(link.output).substr(0, size));
  link.output.erase(0, size);
  return chunk;
}

void Vxi11Channel::FinishWaitingRead(Link& link, std::optional<std::string> reply) {
  if (!reply || !link.waitingRead) return;
  Link::WaitingRead read = std::move(*link.waitingRead);
  link.waitingRead.reset();
  if (read.timer) read.timer->cancel();
  const auto connection = read.connection.lock();
  if (!connection || connection->gone) return;
  Send(connection, vxi11::AcceptedReply(read.xid, vxi11::Accept::Success, *reply));
  connection->waiting = false;
  asio::post(io_, [this, connection] { Process(connection); });
}

void Vxi11Channel::ClearLink(Link& link) {
  ++*link.generation;
  link.message.clear();
  link.discarding = false;
  link.output.clear();
}

void Vxi11Channel::DestroyLink(std::int32_t id) {
  const std::shared_ptr<Link> link = FindLink(id);
  if (!link) return;
  ClearLink(*link);
  if (link->waitingRead && link->waitingRead->timer) link->waitingRead->timer->cancel();
  link->waitingRead.reset();
  if (lockHolder_ == id) lockHolder_.reset();
  links_.erase(id);
}

std::shared_ptr<Vxi11Channel::Link> Vxi11Channel::FindLink(std::int32_t id) const {
  const auto found = links_.find(id);
  return found != links_.end() ? found->second : nullptr;
}

void Vxi11Channel::Send(const std::shared_ptr<Connection>& connection, std::string reply) {
  std::string framed = vxi11::Framed(reply);
  if (connection->unsentBytes + framed.size() > kUnreadLimit + kRecordLimit) {
    return Drop(connection);  // it does not read its replies
  }
  connection->unsentBytes += framed.size();
  connection->outgoing.push_back(std::move(framed));
  Write(connection);
}

void Vxi11Channel::Write(const std::shared_ptr<Connection>& connection) {
  if (connection->writing || connection->outgoing.empty()) return;
  connection->writing = true;
  asio::async_write(connection->socket, asio::buffer(connection->outgoing.front()),
                    [this, connection](const asio::error_code& error, std::size_t) {
                      connection->writing = false;
                      if (error) return Drop(connection);
                      connection->unsentBytes -= connection->outgoing.front().size();
                      connection->outgoing.pop_front();
                      Write(connection);
                    });
}

void Vxi11Channel::Drop(const std::shared_ptr<Connection>& connection) {
  if (std::exchange(connection->gone, true)) return;
  for (const std::int32_t id : connection->links) DestroyLink(id);
  connection->links.clear();
  asio::error_code ignored;
  connection->socket.close(ignored);
  connections_.remove(connection);
}

}  // namespace capmeter::cli
