// The LAN search answer: "DH" 0x0101 on UDP port 8600 gets "DH" 0x0801 and a
// reply record (address text at 0, HTTP port at 86, UTF-8 name at 120) back to
// the sender, from port 8600.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "camsim.h"
#include "router.h"

namespace camsim {

namespace {

constexpr uint16_t kSearchPort = 8600;
constexpr size_t kRecordSize = 320;

class SearchAnswer : public Service {
 public:
  explicit SearchAnswer(Server& server) : server_(server) {}
  ~SearchAnswer() override { stop(); }

  bool start() override {
    const CameraSettings& cam = server_.config().camera;
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    const int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kSearchPort);
    if (inet_pton(AF_INET, cam.searchBind.c_str(), &local.sin_addr) != 1 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      server_.logLine("search answer: cannot bind %s:%u", cam.searchBind.c_str(), kSearchPort);
      ::close(fd_);
      fd_ = -1;
      return false;
    }
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::thread([this] { loop(); });
    server_.logLine("answering LAN search on %s:%u", cam.searchBind.c_str(), kSearchPort);
    return true;
  }

  void stop() override {
    if (!thread_.joinable()) return;
    uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    thread_.join();
    ::close(wake_);
    ::close(fd_);
    fd_ = -1;
  }

 private:
  void loop() {
    const CameraSettings& cam = server_.config().camera;
    uint8_t reply[4 + kRecordSize] = {'D', 'H', 0x01, 0x08};
    uint8_t* record = reply + 4;
    const std::string ip = !cam.searchIp.empty() ? cam.searchIp : server_.config().bindAddress;
    std::strncpy(reinterpret_cast<char*>(record), ip.c_str(), 85);
    record[86] = static_cast<uint8_t>(server_.port() & 0xFF);
    record[87] = static_cast<uint8_t>(server_.port() >> 8);
    std::strncpy(reinterpret_cast<char*>(record + 120), cam.name.c_str(), kRecordSize - 120 - 1);
    for (;;) {
      pollfd p[2] = {{wake_, POLLIN, 0}, {fd_, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) continue;
      if (p[0].revents & POLLIN) return;
      if (!(p[1].revents & POLLIN)) continue;
      uint8_t request[64];
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      const ssize_t n = ::recvfrom(fd_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&peer), &length);
      if (n < 4 || request[0] != 'D' || request[1] != 'H' || request[2] != 0x01 || request[3] != 0x01) continue;
      ::sendto(fd_, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&peer), length);
      char from[INET_ADDRSTRLEN] = "?";
      inet_ntop(AF_INET, &peer.sin_addr, from, sizeof from);
      server_.logLine("search from %s:%u answered", from, ntohs(peer.sin_port));
    }
  }

  Server& server_;
  int fd_ = -1;
  int wake_ = -1;
  std::thread thread_;
};

}  // namespace

void registerSearchAnswer(Router&, Server& server) {
  if (server.config().camera.searchAnswer) server.addService(std::make_unique<SearchAnswer>(server));
}

}  // namespace camsim
