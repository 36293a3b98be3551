#include "cli/portmapper_registration.h"

#include "vxi11/messages.h"
#include "vxi11/rpc.h"
#include "vxi11/xdr.h"

#if CAPMETER_HAVE_TIRPC
#include <arpa/inet.h>
#include <netconfig.h>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <rpc/rpcb_clnt.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace capmeter::cli {

#if CAPMETER_HAVE_TIRPC

namespace {

constexpr std::uint16_t kPortmapperPort = 111;

// A connection to this machine's `port`, or -1: a quick answer either way
// on loopback, where libtirpc would wait its time-out for an rpcbind that is
// not there.
int Connect(std::uint16_t port) {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  if (probe < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(probe);
    return -1;
  }
  return probe;
}

bool Answers(std::uint16_t port) {
  const int probe = Connect(port);
  if (probe >= 0) close(probe);
  return probe >= 0;
}

// Whether a VXI-11 core channel answers a ping (NULL) on `port`, so that a
// registration of a killed meter whose port another program took since is
// told from a live one.
bool ServesVxi11(std::uint16_t port) {
  const int probe = Connect(port);
  if (probe < 0) return false;
  const timeval limit{2, 0};
  setsockopt(probe, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  vxi11::XdrWriter call;
  for (const std::uint32_t field :
       {1U, 0U, 2U, vxi11::kCoreProgram, vxi11::kProgramVersion, 0U, 0U, 0U, 0U, 0U}) {
    call.Uint(field);
  }
  const std::string framed = vxi11::Framed(call.Bytes());
  char reply[28] = {};
  std::size_t got = 0;
  const bool sent = send(probe, framed.data(), framed.size(), MSG_NOSIGNAL) ==
                    static_cast<ssize_t>(framed.size());
  while (sent && got < sizeof reply) {
    const ssize_t n = recv(probe, reply + got, sizeof reply - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(probe);
  if (got < sizeof reply) return false;
  vxi11::XdrReader reader(std::string_view(reply + 4, sizeof reply - 4));
  const auto xid = reader.Uint();
  const auto kind = reader.Uint();
  const auto accepted = reader.Uint();
  reader.Uint();
  reader.Uint();
  return xid == 1U && kind == 1U && accepted == 0U &&
         reader.Uint() == static_cast<std::uint32_t>(vxi11::Accept::Success);
}

// The port rpcbind holds for the core program over TCP; 0 for none.
std::uint16_t RegisteredPort() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return pmap_getport(&address, vxi11::kCoreProgram, vxi11::kProgramVersion, IPPROTO_TCP);
}

// The core program on TCP `port` of every address, as pmap_set would
// register it, which leaks its address buffer on every call.
bool Register(std::uint16_t port) {
  netconfig* tcp = getnetconfigent("tcp");
  if (tcp == nullptr) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const netbuf where{sizeof address, sizeof address, &address};
  const bool registered = rpcb_set(vxi11::kCoreProgram, vxi11::kProgramVersion, tcp, &where) != 0;
  freenetconfigent(tcp);
  return registered;
}

}  // namespace

PortmapperRegistration::PortmapperRegistration(std::uint16_t port,
                                               const std::function<void(const std::string&)>& say) {
  if (!Answers(kPortmapperPort)) {
    say("no rpcbind on this machine: VXI-11 clients that ask the portmapper will not find the "
        "meter (TCPIP::host::INSTR needs it)");
    return;
  }
  // A registration left by a meter that was killed points at a port no one
  // serves: it is taken over. A live one belongs to another meter.
  if (const std::uint16_t held = RegisteredPort(); held != 0) {
    if (ServesVxi11(held)) {
      say("rpcbind already has a VXI-11 device on port " + std::to_string(held) +
          " (another meter?): this one is not registered");
      return;
    }
    rpcb_unset(vxi11::kCoreProgram, vxi11::kProgramVersion, nullptr);
  }
  registered_ = Register(port);
  if (!registered_) say("rpcbind refused the VXI-11 registration: clients will not find it");
}

PortmapperRegistration::~PortmapperRegistration() {
  if (registered_) rpcb_unset(vxi11::kCoreProgram, vxi11::kProgramVersion, nullptr);
}

#else

PortmapperRegistration::PortmapperRegistration(std::uint16_t,
                                               const std::function<void(const std::string&)>& say) {
  say("built without libtirpc: the VXI-11 channel is not registered with a portmapper");
}

PortmapperRegistration::~PortmapperRegistration() = default;

#endif

}  // namespace capmeter::cli
