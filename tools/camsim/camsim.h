#pragma once
// The substitute camera: a loopback server that answers the requests a camera
// link sends, with real H.264, tone audio, in-band status frames and faults
// scripted per connection. Used as a library by tests and benches, and wrapped
// by the tavolen-camsim program.
//
// Threads: one accept thread, one thread per connection (plus a talk reader for
// live connections). Every public method may be called from any thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera_settings.h"

namespace camsim {

// A live stream profile, selected by the request's streamid.
struct Profile {
  int streamId = 0;
  int width = 640;
  int height = 360;
  int fps = 25;
  // Unpaced: frames leave as fast as the peer takes them (benchmarks).
  bool paced = true;
  // When above 0, this many frames are encoded once and then looped, so that
  // an unpaced stream measures the network side rather than the encoder.
  int loopFrames = 0;
};

std::vector<Profile> defaultProfiles();

enum class AudioKind { Adpcm, Alaw };

enum class FaultKind {
  None,
  Silent,         // after `frames` frames, send nothing more but keep the connection
  CloseAfter,     // after `frames` frames, close
  HttpError,      // answer with an HTTP error page instead of frames
  BadMagic,       // after `frames` frames, send a frame with a broken magic
  StallMidFrame,  // after `frames` frames, send half a frame and go silent
  Drop,           // accept and close at once, without reading the request
};

struct Fault {
  FaultKind kind = FaultKind::None;
  int frames = 0;
};

// Parses "silent", "close:5", "http-error", "bad-magic:3", "stall:2", "drop".
bool parseFault(const std::string& text, Fault& out);
const char* faultName(FaultKind kind);

struct ScheduledStatus {
  uint8_t type = 0;
  int periodMs = 1000;
};

struct Config {
  std::string bindAddress = "127.0.0.1";
  uint16_t port = 0;  // 0: an ephemeral port, see Server::port()
  std::string user = "admin";
  std::string password = "";
  int maxClients = 4;  // live connections at once; one more is refused with 201
  bool videoLoss = false;
  int8_t timeZone = 0;  // frame header timeZone (shown time = timestamp - tz*3600)
  std::vector<Profile> profiles = defaultProfiles();
  AudioKind audio = AudioKind::Adpcm;
  int toneHz = 440;
  std::string videoFile;  // H.264 (Annex B) or MJPEG; empty: live test pattern
  std::string talkFile;   // when set, received talk is appended here (and .pcm)
  std::vector<ScheduledStatus> schedule;
  FILE* log = nullptr;  // one line per connection and request; null: quiet
  // Whether requests(), talk() and logLines() keep what arrives. A camera
  // that runs for hours (a soak) turns it off: talk alone is 16 KB a second.
  bool keepHistory = true;
  CameraSettings camera;  // settings, SD card, LAN search answer
};

// One talk packet as received on a live connection.
struct TalkPacket {
  uint32_t sequence = 0;
  uint32_t tick = 0;
  std::vector<uint8_t> payload;
  std::vector<int16_t> pcm;  // payload decoded as ADPCM
};

class Connection;
class Router;
class Service;

class Server {
 public:
  explicit Server(Config config);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts accepting; false when the address cannot be bound.
  bool start();
  void stop();
  uint16_t port() const { return port_; }
  const Config& config() const { return config_; }

  // Faults: the queued ones apply to the next connections, one each, in order;
  // the standing one to every connection after the queue is empty.
  void pushFault(Fault fault);
  void setStandingFault(Fault fault);
  void clearFaults();
  // While refusing, the listening socket is closed: connects fail at once.
  void setRefusing(bool refusing);
  void setVideoLoss(bool on);
  void setMaxClients(int n);

  // Sends a status or alarm frame of this type on every live connection.
  void sendStatus(uint8_t type);

  // Everything received so far, for tests.
  std::vector<std::string> requests() const;  // raw request heads, in order
  std::vector<TalkPacket> talk() const;
  std::vector<std::string> logLines() const;
  // Waits until at least n requests (or talk packets) have arrived.
  bool waitForRequests(size_t n, int timeoutMs) const;
  bool waitForTalk(size_t n, int timeoutMs) const;
  int liveConnections() const;

  // ---- used by request handlers ----
  Fault takeFault();
  bool videoLoss() const;
  int maxClients() const;
  const Profile* profile(int streamId) const;
  void addTalk(TalkPacket packet);
  void logLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool stopping() const { return stopping_.load(); }
  // Live connections register to receive status frames.
  bool addLive(Connection* c);  // false when maxClients are streaming
  void removeLive(Connection* c);
  void addService(std::unique_ptr<Service> service);
  // Drops every live stream, and every new connection for camera.rebootDownMs;
  // returns when the camera is back.
  void reboot();
  bool rebooting() const;

 private:
  void acceptLoop();
  void serve(std::shared_ptr<Connection> c);
  bool openListener();
  void closeListener();
  void reapFinished();
  void scheduleLoop();

  Config config_;
  uint16_t port_ = 0;
  std::unique_ptr<Router> router_;
  std::vector<std::unique_ptr<Service>> services_;
  std::atomic<bool> stopping_{false};
  int wakeFd_ = -1;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  int listenFd_ = -1;
  bool refusing_ = false;
  bool videoLoss_ = false;
  int maxClients_ = 4;
  std::deque<Fault> faults_;
  Fault standing_;
  std::vector<std::string> requests_;
  std::vector<TalkPacket> talk_;
  std::vector<std::string> log_;
  std::vector<Connection*> live_;
  std::chrono::steady_clock::time_point rebootUntil_{};
  struct Worker {
    std::shared_ptr<Connection> connection;
    std::thread thread;
  };
  std::vector<Worker> workers_;
  int nextId_ = 1;
  std::thread acceptThread_;
  std::thread scheduleThread_;
  std::mutex scheduleMutex_;
  std::condition_variable scheduleWake_;
};

}  // namespace camsim
