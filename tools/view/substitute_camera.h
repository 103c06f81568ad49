#pragma once
// The substitute camera tavolen-view starts when no camera is given: the
// tavolen-camsim built next to it (or on PATH), on a free loopback port, in
// its own process group so that a Ctrl-C in the terminal reaches the viewer
// first and the viewer stops the camera in order. It answers the LAN search
// on loopback: kSearchAddress is where to send the search to find it.
//
// One thread (the viewer's main thread) starts and stops it.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavolen::view {

inline constexpr const char* kSearchAddress = "127.0.0.1:8600";

class SubstituteCamera {
 public:
  SubstituteCamera() = default;
  ~SubstituteCamera() { stop(); }
  SubstituteCamera(const SubstituteCamera&) = delete;
  SubstituteCamera& operator=(const SubstituteCamera&) = delete;

  // Starts it with the extra arguments and waits until it accepts
  // connections. False when it could not be started or exited early.
  bool start(const std::vector<std::string>& extraArgs);
  // Ends it (SIGTERM, then SIGKILL after two seconds). Safe to call twice.
  void stop();

  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace tavolen::view
