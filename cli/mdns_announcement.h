#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace capmeter::cli {

// What the meter tells the network about itself, as LXI instruments do.
struct ServiceRecord {
  std::string serialNumber;     // the chip's; in the name, so two meters are two services
  std::string firmwareVersion;  // the program's version
  std::uint16_t rawPort = 0;    // _scpi-raw._tcp
  // _vxi-11._tcp's port: the portmapper's, which VXI-11 clients ask; none
  // when VXI-11 is off or not registered.
  std::optional<std::uint16_t> vxi11Port;
};

// The meter announced over mDNS through the machine's avahi-daemon, renamed
// as Avahi asks when another service has the name, and withdrawn when this
// goes. Without avahi-daemon (or without Avahi, on Windows) it announces
// nothing and says so once.
class MdnsAnnouncement {
 public:
  MdnsAnnouncement(const ServiceRecord& record, std::function<void(const std::string&)> say);
  ~MdnsAnnouncement();
  MdnsAnnouncement(const MdnsAnnouncement&) = delete;
  MdnsAnnouncement& operator=(const MdnsAnnouncement&) = delete;

 private:
  struct Client;
  std::unique_ptr<Client> client_;
};

}  // namespace capmeter::cli
