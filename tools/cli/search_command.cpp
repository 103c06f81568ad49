// tavolen search: the cameras that answer the LAN search.
#include <CLI/CLI.hpp>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "failure.h"
#include "session.h"
#include "tavolen/search.h"
#include "text_output.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

struct SearchOptions {
  double seconds = 2;
  bool json = false;
};

struct FoundCamera {
  std::string name;
  std::string address;
  uint16_t port;
};

// Texts of the reply record end at their zero or where the next field starts.
constexpr size_t kAddressSpace = SEARCH_REPLY_PORT_OFFSET - SEARCH_REPLY_IP_OFFSET;
constexpr size_t kNameSpace = SEARCH_REPLY_COPY_SIZE - SEARCH_REPLY_NAME_OFFSET;

struct Found {
  std::vector<FoundCamera> cameras;  // guarded by Waits::mutex()
};

int32_t onReply(const uint8_t* reply, void* user) {
  const char* ip = reinterpret_cast<const char*>(reply + SEARCH_REPLY_IP_OFFSET);
  const char* name = reinterpret_cast<const char*>(reply + SEARCH_REPLY_NAME_OFFSET);
  FoundCamera camera{std::string(name, strnlen(name, kNameSpace)), std::string(ip, strnlen(ip, kAddressSpace)),
                     static_cast<uint16_t>(reply[SEARCH_REPLY_PORT_OFFSET] |
                                           (reply[SEARCH_REPLY_PORT_OFFSET + 1] << 8))};
  auto* found = static_cast<Found*>(user);
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    // A camera answers every request it hears; it is known by its address.
    for (const FoundCamera& c : found->cameras)
      if (c.address == camera.address) return 0;
    found->cameras.push_back(camera);
  }
  Waits::notify();
  return 0;
}

int runSearch(const SearchOptions& o) {
  if (device_broadcast_Initialization() != 1) {
    device_broadcast_unInitialization();
    throw Failure("cannot open the LAN search socket");
  }
  // The receive thread reports into it until unInitialization ends that
  // thread, which may outlive the wait for it: keep it for the process.
  static Found* found = new Found;
  device_broadcast_search(onReply, found);
  Waits::sleepUntil(secondsFromNow(o.seconds));
  device_broadcast_unInitialization();
  if (interrupted()) throw Interrupted();

  std::vector<FoundCamera> cameras;
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    cameras = found->cameras;
  }
  FILE* out = Console::out();
  if (o.json) {
    JsonWriter json;
    json.beginArray();
    for (const FoundCamera& c : cameras)
      json.beginObject().key("name").value(c.name).key("address").value(c.address).key("port").value(c.port).endObject();
    json.endArray();
    std::fprintf(out, "%s\n", json.text().c_str());
  } else {
    for (const FoundCamera& c : cameras)
      std::fprintf(out, "%s\t%s\t%u\n", printable(c.name).c_str(), printable(c.address).c_str(), c.port);
  }
  return 0;
}

}  // namespace

void addSearchCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<SearchOptions>();
  CLI::App* sub = app.add_subcommand("search", "List the cameras that answer the LAN search: name, address, port");
  sub->add_option("--seconds", o->seconds, "how long to listen for answers")
      ->check(CLI::Range(0.1, 60.0))
      ->capture_default_str();
  sub->add_flag("--json", o->json, "print a JSON array");
  sub->callback([o, &run] { run = [o](Session&) { return runSearch(*o); }; });
}

}  // namespace tavolen::cli
