#include "link/lan_search.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/event.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace tavolen {

namespace {

constexpr uint8_t kRequest[4] = {'D', 'H', SEARCH_REQUEST_COMMAND & 0xFF, SEARCH_REQUEST_COMMAND >> 8};
constexpr int kReceiveSliceMs = 200;

}  // namespace

bool parseSearchAddress(const char* text, SearchDestination& out) {
  if (text == nullptr) return false;
  const char* colon = std::strrchr(text, ':');
  if (colon == nullptr || colon == text) return false;
  const std::string host(text, static_cast<size_t>(colon - text));
  if (!platform::isDottedIPv4(host.c_str())) return false;
  const char* digits = colon + 1;
  if (*digits == '\0' || std::strlen(digits) > 5) return false;
  long port = 0;
  for (const char* p = digits; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    port = port * 10 + (*p - '0');
  }
  if (port < 1 || port > 65535) return false;
  out.host = host;
  out.port = static_cast<uint16_t>(port);
  return true;
}

SearchDestination searchDestinationFromEnvironment() {
  SearchDestination destination;
  parseSearchAddress(std::getenv(kSearchAddressVariable), destination);
  return destination;
}

bool isSearchReply(const uint8_t* datagram, size_t length) {
  uint8_t head[SEARCH_REPLY_HEADER_SIZE] = {};
  std::memcpy(head, datagram, length < sizeof head ? length : sizeof head);
  const auto command = static_cast<int16_t>(head[2] | (head[3] << 8));
  return head[0] == 'D' && head[1] == 'H' && command == SEARCH_REPLY_COMMAND;
}

SearchReplyFields readSearchReply(const uint8_t* record) {
  const auto* text = reinterpret_cast<const char*>(record);
  SearchReplyFields f;
  f.ip.assign(text + SEARCH_REPLY_IP_OFFSET, strnlen(text + SEARCH_REPLY_IP_OFFSET, SEARCH_REPLY_PORT_OFFSET));
  f.port = static_cast<uint16_t>(record[SEARCH_REPLY_PORT_OFFSET] | (record[SEARCH_REPLY_PORT_OFFSET + 1] << 8));
  f.name.assign(text + SEARCH_REPLY_NAME_OFFSET,
                strnlen(text + SEARCH_REPLY_NAME_OFFSET, SEARCH_REPLY_COPY_SIZE - SEARCH_REPLY_NAME_OFFSET));
  return f;
}

uint16_t searchPortFromRandom(int value) {
  int p = (value < 0 ? -value : value) % 65535;
  if (p < 1000) p += 1000;
  return static_cast<uint16_t>(p);
}

// What the receive thread needs; shared so that a thread that outlives the
// 500 ms stop wait still finds its socket and events, and closes the socket
// itself when it finally ends.
struct LanSearch::Shared {
  platform::SocketHandle socket = platform::kInvalidSocket;
  std::atomic<int32_t> stopFlag{0};
  platform::Event stopEvent{platform::Event::Reset::Manual};
  platform::Event finished{platform::Event::Reset::Manual};
  // The callback and its user value change together under this lock, so the
  // receive thread never pairs one search's callback with another's user value.
  std::mutex callbackLock;
  SearchCallback callback = nullptr;
  void* user = nullptr;

  ~Shared() {
    if (socket != platform::kInvalidSocket) platform::closeSocket(socket);
  }

  void receiveLoop() {
    platform::setCurrentThreadName(kReceiveThreadName);
    uint8_t buffer[SEARCH_DATAGRAM_MAX];
    while (stopFlag.load() == 0) {
      // The slice only brings the stop flag to mind again: real time, whatever the clock.
      const auto ready =
          platform::waitSocketOrEvent(socket, stopEvent.fd(), kReceiveSliceMs, platform::systemClock());
      if (ready == platform::SocketOrEvent::Timeout) continue;
      if (ready != platform::SocketOrEvent::Socket) break;
      std::memset(buffer, 0, sizeof buffer);
      const long n = platform::receiveFrom(socket, buffer, sizeof buffer);
      if (n < 0) break;
      // An empty datagram is anyone's to send; it must not end the search.
      if (n == 0 || !isSearchReply(buffer, static_cast<size_t>(n))) continue;
      SearchCallback cb;
      void* cbUser;
      {
        std::lock_guard<std::mutex> lock(callbackLock);
        cb = callback;
        cbUser = user;
      }
      if (cb != nullptr) cb(buffer + SEARCH_REPLY_HEADER_SIZE, cbUser);
    }
    stopFlag.store(1);
    finished.signal();
  }
};

LanSearch::LanSearch(SearchDestination destination)
    : destination_(std::move(destination)), shared_(std::make_shared<Shared>()) {}

LanSearch::~LanSearch() { close(); }

bool LanSearch::isOpen() const { return shared_->socket != platform::kInvalidSocket; }

bool LanSearch::open() {
  if (isOpen()) return true;
  const platform::SocketHandle s = platform::createUdpSocket();
  if (s == platform::kInvalidSocket) return false;
  if (!platform::setSocketOption(s, platform::SocketOption::Broadcast, 1) ||
      !platform::bindAny(s, searchPortFromRandom(std::rand()))) {
    platform::closeSocket(s);
    return false;
  }
  shared_->socket = s;
  shared_->stopFlag.store(0);
  std::shared_ptr<Shared> shared = shared_;
  try {
    thread_ = std::thread([shared] { shared->receiveLoop(); });
  } catch (...) {
    // Without its receive thread the socket would look open and hear nothing.
    shared_->socket = platform::kInvalidSocket;
    platform::closeSocket(s);
    throw;
  }
  return true;
}

void LanSearch::search(SearchCallback callback, void* user) {
  {
    std::lock_guard<std::mutex> lock(shared_->callbackLock);
    shared_->callback = callback;
    shared_->user = user;
  }
  if (!isOpen()) return;
  (void)platform::sendTo(shared_->socket, kRequest, sizeof kRequest, destination_.host.c_str(),
                         destination_.port);
}

uint16_t LanSearch::boundPort() const { return isOpen() ? platform::localPort(shared_->socket) : 0; }

void LanSearch::close() {
  if (!thread_.joinable()) return;
  shared_->stopFlag.store(1);
  shared_->stopEvent.signal();
  platform::shutdownReceive(shared_->socket);
  const bool onReceiveThread = thread_.get_id() == std::this_thread::get_id();
  if (!onReceiveThread && shared_->finished.wait(kStopWaitMs)) {
    thread_.join();
  } else {
    // A callback that is still running (or that called us) keeps the thread;
    // it ends on its own at the stop flag and its reference closes the socket.
    thread_.detach();
  }
  shared_ = std::make_shared<Shared>();
}

namespace {
std::mutex gSearchLock;
std::unique_ptr<LanSearch> gSearch;
}  // namespace

int32_t lanSearchInitialization() {
  std::lock_guard<std::mutex> lock(gSearchLock);
  if (!gSearch) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    gSearch = std::make_unique<LanSearch>(searchDestinationFromEnvironment());
  }
  // A socket that failed to open earlier is tried again rather than reported
  // as ready.
  return gSearch->open() ? 1 : 0;
}

int32_t lanSearchSearch(SearchCallback callback, void* user) {
  std::lock_guard<std::mutex> lock(gSearchLock);
  if (!gSearch) return 0;
  gSearch->search(callback, user);
  return 1;
}

int32_t lanSearchUnInitialization() {
  std::unique_ptr<LanSearch> search;
  {
    std::lock_guard<std::mutex> lock(gSearchLock);
    search = std::move(gSearch);
  }
  // Destroyed outside the lock: a callback that searches again meanwhile finds
  // no object instead of waiting on us.
  search.reset();
  return 1;
}

uint16_t lanSearchLocalPort() {
  std::lock_guard<std::mutex> lock(gSearchLock);
  return gSearch ? gSearch->boundPort() : 0;
}

}  // namespace tavolen
