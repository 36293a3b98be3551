#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace capmeter::cli {

// The VXI-11 core channel registered with this machine's rpcbind, so that
// clients which ask the portmapper for its port (pyvisa-py, lxi discover)
// find it; removed again when this goes, so it goes with every end of the
// program that unwinds (a stop signal, an error), short of SIGKILL. Without
// rpcbind, or without libtirpc (Windows), nothing is registered.
class PortmapperRegistration {
 public:
  // Registers `port` for TCP; `say` gets one line when it cannot.
  PortmapperRegistration(std::uint16_t port, const std::function<void(const std::string&)>& say);
  ~PortmapperRegistration();
  PortmapperRegistration(const PortmapperRegistration&) = delete;
  PortmapperRegistration& operator=(const PortmapperRegistration&) = delete;

  bool Registered() const { return registered_; }

 private:
  bool registered_ = false;
};

}  // namespace capmeter::cli
