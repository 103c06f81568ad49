#pragma once
// CommandQueue: the link's queue of parameter and pan/tilt commands and the
// worker thread that runs them, in order, each over a fresh PlainConnection
// with one request and (except pan/tilt) one response.
//
// Threads: every method may be called from any thread, the callbacks included
// (they run on the worker, with no lock held, and may queue more commands).
// Locks: queueLock_ guards queue_; callbackLock_ guards the three callback
// fields. None is held while another is taken. The connection is the
// worker's; requestStop only cancels it, which the connection allows from
// any thread.
// Ownership: the queue owns its records; the worker owns the connection and
// its two response buffers.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/link_state.h"
#include "link/plain_connection.h"
#include "platform/event.h"
#include "tavolen/types.h"

namespace tavolen {

// One queued command: its code and a copy of its data, zero where not filled.
struct CommandRecord {
  int32_t code = 0;
  uint8_t data[COMMAND_DATA_SIZE] = {};
  int32_t length = 0;
};
static_assert(sizeof(CommandRecord) == 1032);

class CommandQueue {
 public:
  explicit CommandQueue(std::shared_ptr<LinkState> state);
  ~CommandQueue();
  CommandQueue(const CommandQueue&) = delete;
  CommandQueue& operator=(const CommandQueue&) = delete;

  // Starts the worker (link construction).
  void start();
  // Tells the worker to end and breaks off the connect, send or response it
  // is waiting for; never waits itself. No command connects afterwards.
  void requestStop();
  // Waits for the worker to end and frees the commands still queued.
  void stop();

  // Always 1. The user value goes to the ParamCallback only.
  int32_t setCallbacks(ParamCallback paramCallback, ResultCallback resultCallback, void* user);
  // Queues a command without data (ptz, get_network); always 1.
  int32_t queue(int32_t command);
  // Queues a command with a copy of its data (set_network); always 1. Data
  // past COMMAND_DATA_SIZE bytes is not copied; a null pointer or a negative
  // length queues the command without data.
  int32_t queue(int32_t command, const void* data, int32_t length);

  // Commands waiting (tests).
  size_t pending() const;

 private:
  void workerMain();
  void run(const CommandRecord& record);
  void append(std::unique_ptr<CommandRecord> record);
  void reportResult(int32_t code, int32_t result);
  bool connect();
  // Sends the request and, when one is answered, reads the answer into the
  // buffers; false (the connection closed, the body empty) when the request
  // could not be sent or the answer ran into a limit.
  bool exchange(const char* request, size_t requestLength, bool answered);

  std::shared_ptr<LinkState> state_;

  mutable std::mutex queueLock_;
  std::deque<std::unique_ptr<CommandRecord>> queue_;
  platform::Event wake_{platform::Event::Reset::Auto};

  std::mutex callbackLock_;
  ParamCallback paramCallback_ = nullptr;
  ResultCallback resultCallback_ = nullptr;
  void* paramUser_ = nullptr;

  std::atomic<int32_t> stopFlag_{0};
  std::thread worker_;

  // Worker only, except for requestStop's cancel.
  PlainConnection connection_;
  std::unique_ptr<char[]> headerStore_;
  std::unique_ptr<char[]> body_;
};

}  // namespace tavolen
