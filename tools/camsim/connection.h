#pragma once
// One accepted client connection, handed to the request handler that matched.
// The handler runs on the connection's own thread; sendStatus() and stop() may
// come from any other thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "camsim.h"
#include "request.h"

namespace camsim {

// Largest payload camsim will put in one frame (the link rejects more).
inline constexpr uint32_t kMaxFramePayload = 0x80000 - 32;

using Clock = std::chrono::steady_clock;

class Connection {
 public:
  Connection(Server& server, int fd, int id, std::string peer);
  ~Connection();  // closes the descriptor
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Server& server;
  const int id;
  const std::string peer;
  Request request;
  Fault fault;

  int fd() const { return fd_; }

  // Reads the request head (bounded, 5 s at most). False on timeout, close or
  // a head over kMaxRequestHead.
  bool readHead(std::string& head);
  // Sends everything or fails (peer gone, connection stopped).
  bool sendAll(const void* data, size_t length);
  // Frame header stamped with the current time, then the payload.
  bool sendFrame(uint8_t type, const uint8_t* payload, uint32_t length, uint32_t sequence,
                 uint32_t magic = 0xA815AA55u);
  // Sends the header and only the first `partial` payload bytes.
  bool sendPartialFrame(uint8_t type, const uint8_t* payload, uint32_t length, uint32_t partial);
  // An HTTP response with a Content-length header and the body.
  bool sendHttp(int status, const char* reason, const std::string& contentType,
                const std::string& body);
  // Ends the connection politely: no more sends, wait briefly for the peer to
  // hang up, then the destructor closes.
  void finish(int lingerMs = 500);

  // Status frames queued by other threads; the streaming loop sends them.
  void queueStatus(uint8_t type);
  bool takeStatus(uint8_t& type);

  // Sleeps until the deadline; returns early (true) when a status frame is
  // queued, false when the connection is stopping or the peer hung up.
  bool waitUntil(Clock::time_point deadline);
  // Waits until the connection is stopped or the peer hung up.
  void waitForEnd();

  void stop();         // aborts blocking sends and reads (shutdown)
  void markPeerGone();  // the reader saw the peer hang up
  bool alive() const { return !stopped_.load() && !peerGone_.load(); }

  uint64_t framesSent() const { return framesSent_.load(); }
  uint64_t bytesSent() const { return bytesSent_.load(); }

 private:
  int fd_;
  std::atomic<bool> stopped_{false};
  std::atomic<bool> peerGone_{false};
  std::atomic<uint64_t> framesSent_{0};
  std::atomic<uint64_t> bytesSent_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<uint8_t> statuses_;
};

// Fills a 32-byte frame header for the current wall-clock time.
void stampHeader(uint8_t* header, uint8_t type, uint32_t length, uint32_t sequence,
                 int8_t timeZone, uint32_t magic = 0xA815AA55u);
// The same for a given time: seconds since 1970 UTC and milliseconds.
void stampHeaderAt(uint8_t* header, uint8_t type, uint32_t length, uint32_t sequence,
                   int8_t timeZone, uint32_t seconds, uint16_t millis, uint32_t magic = 0xA815AA55u);

}  // namespace camsim
