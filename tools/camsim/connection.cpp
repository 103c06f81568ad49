#include "connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace camsim {

void stampHeader(uint8_t* h, uint8_t type, uint32_t length, uint32_t sequence, int8_t timeZone,
                 uint32_t magic) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  stampHeaderAt(h, type, length, sequence, timeZone, static_cast<uint32_t>(now.tv_sec),
                static_cast<uint16_t>(now.tv_nsec / 1000000), magic);
}

void stampHeaderAt(uint8_t* h, uint8_t type, uint32_t length, uint32_t sequence, int8_t timeZone,
                   uint32_t seconds, uint16_t millis, uint32_t magic) {
  std::memset(h, 0, 32);
  std::memcpy(h + 0, &magic, 4);
  h[4] = type;
  std::memcpy(h + 6, &millis, 2);
  std::memcpy(h + 8, &seconds, 4);
  std::memcpy(h + 12, &sequence, 4);
  std::memcpy(h + 16, &length, 4);
  h[25] = static_cast<uint8_t>(timeZone);
}

Connection::Connection(Server& s, int fd, int id_, std::string peer_)
    : server(s), id(id_), peer(std::move(peer_)), fd_(fd) {}

Connection::~Connection() {
  if (fd_ >= 0) ::close(fd_);
}

bool Connection::readHead(std::string& head) {
  head.clear();
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  char buf[1024];
  while (head.size() < kMaxRequestHead) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || stopped_) return false;
    pollfd p{fd_, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
    if (n < 0 && errno != EINTR) return false;
    if (n <= 0) continue;
    // Peek first so that bytes after the head (a talk packet sent right behind
    // the request) stay in the socket for the stream handler.
    const ssize_t got = ::recv(fd_, buf, sizeof buf, MSG_PEEK);
    if (got <= 0) return false;
    std::string probe = head + std::string(buf, static_cast<size_t>(got));
    const size_t end = probe.find("\r\n\r\n");
    const size_t take = end == std::string::npos ? static_cast<size_t>(got) : end + 4 - head.size();
    const ssize_t r = ::recv(fd_, buf, take, 0);
    if (r <= 0) return false;
    head.append(buf, static_cast<size_t>(r));
    if (end != std::string::npos) return head.size() <= kMaxRequestHead;
  }
  return false;
}

bool Connection::sendAll(const void* data, size_t length) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    if (stopped_) return false;
    const ssize_t n = ::send(fd_, p, length, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    length -= static_cast<size_t>(n);
    bytesSent_ += static_cast<uint64_t>(n);
  }
  return true;
}

bool Connection::sendFrame(uint8_t type, const uint8_t* payload, uint32_t length,
                           uint32_t sequence, uint32_t magic) {
  uint8_t header[32];
  stampHeader(header, type, length, sequence, server.config().timeZone, magic);
  if (!sendAll(header, sizeof header)) return false;
  if (length > 0 && !sendAll(payload, length)) return false;
  ++framesSent_;
  return true;
}

bool Connection::sendPartialFrame(uint8_t type, const uint8_t* payload, uint32_t length,
                                  uint32_t partial) {
  uint8_t header[32];
  stampHeader(header, type, length, 0, server.config().timeZone);
  if (!sendAll(header, sizeof header)) return false;
  return sendAll(payload, std::min(partial, length));
}

bool Connection::sendHttp(int status, const char* reason, const std::string& contentType,
                          const std::string& body) {
  char head[256];
  std::snprintf(head, sizeof head,
                "HTTP/1.1 %d %s\r\nServer: camsim\r\nContent-Type: %s\r\nContent-length: %zu\r\n"
                "Connection: close\r\n\r\n",
                status, reason, contentType.c_str(), body.size());
  return sendAll(head, std::strlen(head)) && sendAll(body.data(), body.size());
}

void Connection::finish(int lingerMs) {
  ::shutdown(fd_, SHUT_WR);
  const auto deadline = Clock::now() + std::chrono::milliseconds(lingerMs);
  char sink[4096];
  while (!stopped_ && Clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
      if (n <= 0) break;
    }
  }
}

void Connection::queueStatus(uint8_t type) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    statuses_.push_back(type);
  }
  wake_.notify_all();
}

bool Connection::takeStatus(uint8_t& type) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (statuses_.empty()) return false;
  type = statuses_.front();
  statuses_.pop_front();
  return true;
}

bool Connection::waitUntil(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_until(lock, deadline, [&] { return !alive() || !statuses_.empty(); });
  return alive();
}

void Connection::waitForEnd() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [&] { return !alive(); });
}

void Connection::stop() {
  stopped_ = true;
  ::shutdown(fd_, SHUT_RDWR);
  std::lock_guard<std::mutex> lock(mutex_);
  wake_.notify_all();
}

void Connection::markPeerGone() {
  peerGone_ = true;
  std::lock_guard<std::mutex> lock(mutex_);
  wake_.notify_all();
}

}  // namespace camsim
