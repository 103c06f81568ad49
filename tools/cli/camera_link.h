#pragma once
// One camera link for the length of a subcommand, over the library's C
// interface: the link's events, the settings answers and results, and the
// frames of the live and sound streams, handed to the sinks a subcommand
// gives.
//
// Threads: every method runs on the main thread. The library calls back on
// its own threads (events on the watchdog and receive threads, frames on the
// receive threads, settings answers on the command worker); the callbacks
// touch only state() under Waits::mutex() and the sinks, which are set before
// their stream starts and dropped only after it stopped.
//
// One CameraLink exists at a time: the settings result callback carries no
// user value, so it finds the link through a process-wide pointer.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "camera_address.h"
#include "tavolen/link.h"
#include "waits.h"

namespace tavolen::cli {

inline constexpr int32_t kSoundStreamId = 2;

class CameraLink {
 public:
  using FrameSink = std::function<void(const uint8_t* frame, int32_t length)>;

  struct Event {
    int32_t code;  // low 16 bits of what the link raised
    std::chrono::system_clock::time_point when;
  };

  // The link's events in order, numbered from 0 for the link's life. Those
  // a reader is done with can be forgotten, so that a watch running for days
  // does not grow.
  class EventLog {
   public:
    size_t end() const { return forgotten_ + events_.size(); }
    // The events numbered from `from` on (those still kept).
    std::vector<Event> since(size_t from) const;
    bool contains(size_t from, int32_t code) const;
    void add(const Event& e) { events_.push_back(e); }
    void forgetBefore(size_t number);

   private:
    std::deque<Event> events_;
    size_t forgotten_ = 0;
  };

  // Guarded by Waits::mutex(); read it only inside a Waits predicate or under
  // that mutex.
  struct State {
    EventLog events;
    uint64_t mediaFrames = 0;  // live video frames delivered
    // Settings records by the code they arrived with, in arrival order.
    std::map<int32_t, std::vector<std::vector<uint8_t>>> answers;
    std::vector<std::pair<int32_t, int32_t>> results;  // (command, 0 ok / -1 failed)
  };

  // Fails when the host name does not resolve. timeoutSeconds bounds every
  // wait for an answer of the camera.
  CameraLink(const CameraAddress& address, double timeoutSeconds);
  ~CameraLink();
  CameraLink(const CameraLink&) = delete;
  CameraLink& operator=(const CameraLink&) = delete;

  DeviceHandle handle() const { return link_; }
  const CameraAddress& address() const { return address_; }
  std::string name() const { return displayName(address_); }
  double timeoutSeconds() const { return timeoutSeconds_; }
  Clock::time_point deadline() const { return secondsFromNow(timeoutSeconds_); }
  const State& state() const { return state_; }

  void startStream(int32_t streamId, FrameSink video = {});
  void stopStream();
  bool streaming() const { return streaming_; }
  // The sound stream into sink; false when it could not be opened.
  bool startAudio(FrameSink sink);
  void stopAudio();

  // Waits for the camera to show that it takes the account on the live
  // stream started before: a media frame, or a refusal that is not about the
  // account (too many connections, stream id, video loss: the settings may
  // still answer). Throws Failure for wrong credentials, a failed connection
  // or no answer in time. With needMedia, only media will do, and every
  // refusal is a Failure.
  void confirmAccount(bool needMedia = false);

  // Settings commands, run in order by the link's worker.
  void queueRead(int32_t command);
  void queueWrite(int32_t command, const void* data, int32_t length);
  void queuePtz(int32_t code);

  // Waits (up to the timeout) for the camera to drop the live stream, as it
  // does when it reboots. Counts only losses after the event index given.
  bool waitStreamLost(size_t fromEvent, Clock::time_point deadline);

  size_t eventCount() const;
  // Call under Waits::mutex(): the events before `number` are not needed any more.
  void forgetEventsBefore(size_t number) { state_.events.forgetBefore(number); }

  // Throws the Failure that says what the refusal event `code` means (wrong
  // credentials, no connection, too many connections, stream id, video loss).
  [[noreturn]] void failRefusal(int32_t code) const;

  // For a link whose library call is still running on another thread after
  // a time-out: it is never destroyed (that would wait for the call, or race
  // it), and the process ends without unwinding (see Session).
  void abandon() { abandoned_ = true; }
  bool abandoned() const { return abandoned_; }

 private:
  static void onEvent(int32_t event, void* user);
  static int32_t onVideo(const uint8_t* frame, int32_t length, void* user);
  static int32_t onAudio(const uint8_t* frame, int32_t length, void* user);
  static void onParam(int32_t code, const void* record, int32_t size, void* user);
  static void onResult(int32_t code, int32_t result);

  CameraAddress address_;
  double timeoutSeconds_;
  DeviceHandle link_ = nullptr;
  State state_;
  FrameSink video_;
  FrameSink audio_;
  bool streaming_ = false;
  bool audioOn_ = false;
  int32_t streamId_ = 0;
  size_t streamEventsFrom_ = 0;
  uint64_t streamFramesFrom_ = 0;
  bool abandoned_ = false;
};

}  // namespace tavolen::cli
