#include "cli/mdns_announcement.h"

#if CAPMETER_HAVE_AVAHI
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#endif

namespace capmeter::cli {

#if CAPMETER_HAVE_AVAHI

// Avahi's client on a thread of its own (its threaded poll): the network
// thread and the instrument's never wait for it.
struct MdnsAnnouncement::Client {
  ServiceRecord record;
  std::function<void(const std::string&)> say;
  std::string name;
  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  AvahiEntryGroup* group = nullptr;

  void Say(const std::string& what, int error) {
    say(what + ": " + avahi_strerror(error) + "; serving goes on without it");
  }

  // The services under `name`; called again with a new name on a collision.
  void Publish(AvahiClient* owner) {
    if (group == nullptr) group = avahi_entry_group_new(owner, &Client::OnGroup, this);
    if (group == nullptr) return Say("mDNS", avahi_client_errno(owner));
    const std::string serial = "SerialNumber=" + record.serialNumber;
    const std::string firmware = "FirmwareVersion=" + record.firmwareVersion;
    const auto add = [&](const char* type, std::uint16_t port) {
      return avahi_entry_group_add_service(
          group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags{}, name.c_str(), type,
          nullptr, nullptr, port, "txtvers=1", "Manufacturer=capmeter", "Model=capmeter-cli",
          serial.c_str(), firmware.c_str(), static_cast<char*>(nullptr));
    };
    int error = add("_scpi-raw._tcp", record.rawPort);
    if (error == AVAHI_OK && record.vxi11Port) error = add("_vxi-11._tcp", *record.vxi11Port);
    if (error == AVAHI_ERR_COLLISION) return Rename();
    if (error == AVAHI_OK) error = avahi_entry_group_commit(group);
    if (error != AVAHI_OK) Say("mDNS announcement", error);
  }

  void Rename() {
    char* other = avahi_alternative_service_name(name.c_str());
    say("mDNS name \"" + name + "\" is taken: announced as \"" + other + "\"");
    name = other;
    avahi_free(other);
    avahi_entry_group_reset(group);
    Publish(avahi_entry_group_get_client(group));
  }

  static void OnGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    auto& client = *static_cast<Client*>(self);
    client.group = group;
    if (state == AVAHI_ENTRY_GROUP_COLLISION) client.Rename();
    if (state == AVAHI_ENTRY_GROUP_FAILURE) {
      client.Say("mDNS announcement", avahi_client_errno(avahi_entry_group_get_client(group)));
    }
  }

  static void OnClient(AvahiClient* owner, AvahiClientState state, void* self) {
    auto& client = *static_cast<Client*>(self);
    if (state == AVAHI_CLIENT_S_RUNNING) client.Publish(owner);
    // The host's own name changed: the services are published afresh.
    if (state == AVAHI_CLIENT_S_COLLISION && client.group != nullptr) {
      avahi_entry_group_reset(client.group);
    }
  }
};

MdnsAnnouncement::MdnsAnnouncement(const ServiceRecord& record,
                                   std::function<void(const std::string&)> say)
    : client_(std::make_unique<Client>()) {
  Client& c = *client_;
  c.record = record;
  c.say = std::move(say);
  c.name = "capmeter " + record.serialNumber;
  c.poll = avahi_threaded_poll_new();
  int error = AVAHI_ERR_NO_MEMORY;
  if (c.poll != nullptr) {
    c.client = avahi_client_new(avahi_threaded_poll_get(c.poll), AvahiClientFlags{},
                                &Client::OnClient, &c, &error);
  }
  if (c.client == nullptr) {
    c.Say("no avahi-daemon for the mDNS announcement", error);
    if (c.poll != nullptr) avahi_threaded_poll_free(c.poll);
    client_.reset();
    return;
  }
  avahi_threaded_poll_start(c.poll);
}

MdnsAnnouncement::~MdnsAnnouncement() {
  if (!client_) return;
  avahi_threaded_poll_stop(client_->poll);
  avahi_client_free(client_->client);  // withdraws the services
  avahi_threaded_poll_free(client_->poll);
}

#else

struct MdnsAnnouncement::Client {};

MdnsAnnouncement::MdnsAnnouncement(const ServiceRecord&,
                                   std::function<void(const std::string&)> say) {
  say("built without Avahi: the meter is not announced over mDNS");
}

MdnsAnnouncement::~MdnsAnnouncement() = default;

#endif

}  // namespace capmeter::cli
