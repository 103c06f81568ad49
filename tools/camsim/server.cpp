#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "camsim.h"
#include "connection.h"
#include "router.h"

namespace camsim {

std::vector<Profile> defaultProfiles() {
  return {
      {0, 1280, 720, 25, true, 0},   // main stream
      {1, 640, 360, 25, true, 0},    // sub stream
      {3, 320, 180, 25, true, 0},    // small stream, cheap to encode in tests
      {10, 1920, 1080, 30, false, 60},  // 1080p, unpaced, looped: throughput runs
  };
}

bool parseFault(const std::string& text, Fault& out) {
  static const struct {
    const char* name;
    FaultKind kind;
  } names[] = {{"none", FaultKind::None},         {"silent", FaultKind::Silent},
               {"close", FaultKind::CloseAfter},  {"http-error", FaultKind::HttpError},
               {"bad-magic", FaultKind::BadMagic}, {"stall", FaultKind::StallMidFrame},
               {"drop", FaultKind::Drop}};
  const size_t colon = text.find(':');
  const std::string name = text.substr(0, colon);
  int frames = 0;
  if (colon != std::string::npos) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (end == nullptr || *end != '\0' || v < 0 || v > 1000000) return false;
    frames = static_cast<int>(v);
  }
  for (const auto& n : names) {
    if (name == n.name) {
      out = Fault{n.kind, frames};
      return true;
    }
  }
  return false;
}

const char* faultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::None: return "none";
    case FaultKind::Silent: return "silent";
    case FaultKind::CloseAfter: return "close";
    case FaultKind::HttpError: return "http-error";
    case FaultKind::BadMagic: return "bad-magic";
    case FaultKind::StallMidFrame: return "stall";
    case FaultKind::Drop: return "drop";
  }
  return "?";
}

Server::Server(Config config)
    : config_(std::move(config)), router_(std::make_unique<Router>()) {
  videoLoss_ = config_.videoLoss;
  maxClients_ = config_.maxClients;
  registerAllFamilies(*router_, *this);
}

Server::~Server() { stop(); }

bool Server::openListener() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port_ != 0 ? port_ : config_.port);
  if (inet_pton(AF_INET, config_.bindAddress.c_str(), &addr.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return false;
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  listenFd_ = fd;
  return true;
}

void Server::closeListener() {
  if (listenFd_ >= 0) {
    // The accept thread may be polling this descriptor, which keeps the socket
    // listening past close(); shutdown stops it at once and wakes the poll.
    ::shutdown(listenFd_, SHUT_RDWR);
    ::close(listenFd_);
    listenFd_ = -1;
  }
}

bool Server::start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!openListener()) return false;
  }
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  for (auto& s : services_) s->start();
  logLine("listening on %s:%u", config_.bindAddress.c_str(), port_);
  acceptThread_ = std::thread([this] { acceptLoop(); });
  if (!config_.schedule.empty()) scheduleThread_ = std::thread([this] { scheduleLoop(); });
  return true;
}

void Server::stop() {
  if (!acceptThread_.joinable()) return;
  stopping_ = true;
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  scheduleWake_.notify_all();
  acceptThread_.join();
  if (scheduleThread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(scheduleMutex_);
    }
    scheduleWake_.notify_all();
    scheduleThread_.join();
  }
  for (auto& s : services_) s->stop();
  std::vector<Worker> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
    closeListener();
  }
  for (auto& w : workers) w.connection->stop();
  for (auto& w : workers) w.thread.join();
  ::close(wakeFd_);
  wakeFd_ = -1;
}

void Server::acceptLoop() {
  while (!stopping_) {
    int fd;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fd = listenFd_;
    }
    pollfd p[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
    const int n = ::poll(p, fd >= 0 ? 2 : 1, 50);
    if (stopping_) break;
    reapFinished();
    if (n <= 0 || fd < 0 || !(p[1].revents & POLLIN)) continue;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    std::lock_guard<std::mutex> lock(mutex_);
    if (listenFd_ != fd) continue;  // closed for refusing meanwhile
    const int c = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (c < 0) continue;
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    auto connection = std::make_shared<Connection>(
        *this, c, nextId_++, std::string(text) + ":" + std::to_string(ntohs(peer.sin_port)));
    workers_.push_back(Worker{connection, std::thread([this, connection] { serve(connection); })});
  }
}

void Server::reapFinished() {
  std::vector<Worker> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      // Only the worker itself and this list hold the connection while it runs.
      if (it->connection.use_count() == 1) {
        done.push_back(std::move(*it));
        it = workers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& w : done) w.thread.join();
}

void Server::serve(std::shared_ptr<Connection> c) {
  if (rebooting()) {
    logLine("connection %d from %s dropped (rebooting)", c->id, c->peer.c_str());
    c->stop();
    return;
  }
  c->fault = takeFault();
  logLine("connection %d from %s", c->id, c->peer.c_str());
  if (c->fault.kind == FaultKind::Drop) {
    logLine("connection %d dropped (fault)", c->id);
    c->stop();
    return;
  }
  std::string head;
  if (!c->readHead(head)) {
    logLine("connection %d closed without a request", c->id);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (config_.keepHistory) requests_.push_back(head);
  }
  changed_.notify_all();
  Request& request = c->request;
  if (!parseRequest(head, request)) {
    logLine("request %d malformed", c->id);
    c->sendHttp(400, "Bad Request", "text/html", "<html><body>400 Bad Request</body></html>");
    c->finish();
    return;
  }
  const Route* route = router_->find(request);
  logLine("request %d %s%s", c->id, request.line.c_str(), route ? "" : " (no handler)");
  if (route == nullptr) {
    c->sendHttp(404, "Not Found", "text/html", "<html><body>404 Not Found</body></html>");
    c->finish();
  } else {
    route->handle(*c);
  }
  logLine("connection %d closed after %llu frames, %llu bytes", c->id,
          static_cast<unsigned long long>(c->framesSent()),
          static_cast<unsigned long long>(c->bytesSent()));
}

void Server::pushFault(Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.push_back(fault);
}

void Server::setStandingFault(Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  standing_ = fault;
}

void Server::clearFaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
  standing_ = Fault{};
}

Fault Server::takeFault() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (faults_.empty()) return standing_;
  const Fault f = faults_.front();
  faults_.pop_front();
  return f;
}

void Server::setRefusing(bool refusing) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (refusing == refusing_) return;
  refusing_ = refusing;
  if (refusing) {
    closeListener();
  } else if (!stopping_) {
    openListener();
  }
}

void Server::setVideoLoss(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  videoLoss_ = on;
}

bool Server::videoLoss() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return videoLoss_;
}

void Server::setMaxClients(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  maxClients_ = n;
}

int Server::maxClients() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return maxClients_;
}

const Profile* Server::profile(int streamId) const {
  for (const Profile& p : config_.profiles) {
    if (p.streamId == streamId) return &p;
  }
  return nullptr;
}

void Server::sendStatus(uint8_t type) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Connection* c : live_) c->queueStatus(type);
}

bool Server::addLive(Connection* c) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (static_cast<int>(live_.size()) >= maxClients_) return false;
  live_.push_back(c);
  return true;
}

void Server::removeLive(Connection* c) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(live_, c);
}

int Server::liveConnections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(live_.size());
}

void Server::addService(std::unique_ptr<Service> service) { services_.push_back(std::move(service)); }

void Server::addTalk(TalkPacket packet) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!config_.talkFile.empty()) {
      if (FILE* f = std::fopen(config_.talkFile.c_str(), "a")) {
        std::fprintf(f, "seq=%u tick=%u bytes=%zu samples=%zu\n", packet.sequence, packet.tick,
                     packet.payload.size(), packet.pcm.size());
        std::fclose(f);
      }
      if (FILE* f = std::fopen((config_.talkFile + ".pcm").c_str(), "ab")) {
        std::fwrite(packet.pcm.data(), sizeof(int16_t), packet.pcm.size(), f);
        std::fclose(f);
      }
    }
    if (config_.keepHistory) talk_.push_back(std::move(packet));
  }
  changed_.notify_all();
}

std::vector<std::string> Server::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<TalkPacket> Server::talk() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return talk_;
}

std::vector<std::string> Server::logLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

bool Server::waitForRequests(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return requests_.size() >= n; });
}

bool Server::waitForTalk(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return talk_.size() >= n; });
}

void Server::logLine(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(mutex_);
  if (config_.keepHistory) log_.emplace_back(text);
  if (config_.log != nullptr) {
    std::fprintf(config_.log, "camsim: %s\n", text);
    std::fflush(config_.log);
  }
}

void Server::scheduleLoop() {
  std::vector<Clock::time_point> due;
  const auto start = Clock::now();
  for (const auto& s : config_.schedule) due.push_back(start + std::chrono::milliseconds(s.periodMs));
  std::unique_lock<std::mutex> lock(scheduleMutex_);
  while (!stopping_) {
    auto next = due.front();
    for (auto d : due) next = std::min(next, d);
    scheduleWake_.wait_until(lock, next, [&] { return stopping_.load(); });
    if (stopping_) break;
    const auto now = Clock::now();
    for (size_t i = 0; i < due.size(); ++i) {
      if (due[i] <= now) {
        sendStatus(config_.schedule[i].type);
        due[i] = now + std::chrono::milliseconds(std::max(1, config_.schedule[i].periodMs));
      }
    }
  }
}

}  // namespace camsim
