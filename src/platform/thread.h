#pragma once
// Thread start with the priorities the subsystems ask for.

#include <functional>
#include <thread>

namespace tavolen::platform {

enum class ThreadPriority { Normal, TimeCritical };

// Starts fn on a new thread. TimeCritical asks for real-time scheduling and
// quietly stays at normal priority where the process may not have it.
std::thread startThread(std::function<void()> fn, ThreadPriority priority = ThreadPriority::Normal);

// Names the calling thread for debuggers and /proc (at most 15 bytes are kept).
void setCurrentThreadName(const char* name);

}  // namespace tavolen::platform
