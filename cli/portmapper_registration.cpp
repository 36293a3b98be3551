#include "cli/portmapper_registration.h"

#include "vxi11/messages.h"

#if CAPMETER_HAVE_TIRPC
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace capmeter::cli {

#if CAPMETER_HAVE_TIRPC

namespace {

constexpr std::uint16_t kPortmapperPort = 111;

// Whether something accepts TCP connections on this machine's `port`: a
// quick answer either way on loopback, where libtirpc would wait its
// time-out for an rpcbind that is not there.
bool Answers(std::uint16_t port) {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  if (probe < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool answered =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return answered;
}

// The port rpcbind holds for the core program over TCP; 0 for none.
std::uint16_t RegisteredPort() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return pmap_getport(&address, vxi11::kCoreProgram, vxi11::kProgramVersion, IPPROTO_TCP);
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
    if (Answers(held)) {
      say("rpcbind already has a VXI-11 device on port " + std::to_string(held) +
          " (another meter?): this one is not registered");
      return;
    }
    pmap_unset(vxi11::kCoreProgram, vxi11::kProgramVersion);
  }
  registered_ = pmap_set(vxi11::kCoreProgram, vxi11::kProgramVersion, IPPROTO_TCP, port) != 0;
  if (!registered_) say("rpcbind refused the VXI-11 registration: clients will not find it");
}

PortmapperRegistration::~PortmapperRegistration() {
  if (registered_) pmap_unset(vxi11::kCoreProgram, vxi11::kProgramVersion);
}

#else

PortmapperRegistration::PortmapperRegistration(std::uint16_t,
                                               const std::function<void(const std::string&)>& say) {
  say("built without libtirpc: the VXI-11 channel is not registered with a portmapper");
}

PortmapperRegistration::~PortmapperRegistration() = default;

#endif

}  // namespace capmeter::cli
