#pragma once
// CommandQueue: the link's queue of parameter and pan/tilt commands and the
// worker that runs them. For now it accepts every command and runs none; the
// worker and the exchanges come with the settings commands.
//
// Threads: every method may be called from any thread.

#include <cstdint>
#include <memory>

#include "link/link_state.h"
#include "tavolen/types.h"

namespace tavolen {

class CommandQueue {
 public:
  explicit CommandQueue(std::shared_ptr<LinkState> state);
  ~CommandQueue();
  CommandQueue(const CommandQueue&) = delete;
  CommandQueue& operator=(const CommandQueue&) = delete;

  // Called once the link is constructed, and when it is being destroyed.
  void start();
  void requestStop();
  void stop();

  // Always 1.
  int32_t setCallbacks(ParamCallback paramCallback, ResultCallback resultCallback, void* user);
  // Queues a command without data (ptz, get_network); always 1.
  int32_t queue(int32_t command);
  // Queues a command with a copy of its data (set_network); always 1.
  int32_t queue(int32_t command, const void* data, int32_t length);

 private:
  std::shared_ptr<LinkState> state_;
};

}  // namespace tavolen
