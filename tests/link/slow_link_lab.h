#pragma once
// A camera behind a slow or lossy network, on this machine. enter() moves the
// whole process into fresh network and mount namespaces; the lab then runs a
// camera program in a network namespace of its own, joined to ours by a
// shaped wire (tun_wire.h) on the camera's side, the way `tc netem` on a
// camera's interface would shape it. The camera is also known by the name
// kCameraName through a private /etc/hosts, so a test can move it to another
// address and let the link's resolver find it there.
//
// Threads: build, use and destroy a lab on one thread; the wire runs its own.

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "link/tun_wire.h"

namespace tavolen::test {

class SlowLinkLab {
 public:
  static constexpr const char* kViewerAddress = "192.0.2.1";
  static constexpr const char* kCameraAddress = "192.0.2.2";
  static constexpr const char* kCameraName = "camera.lab";

  // True when the process now runs in its private namespaces with the viewer's
  // side of the wire ready to be made. Must be called while the process has a
  // single thread (a mount namespace cannot be entered otherwise), so test
  // programs call it from main. False with a reason when the machine does not
  // allow it (no privilege, no TUN device).
  static bool enter(std::string& whyNot);

  SlowLinkLab();
  ~SlowLinkLab();
  SlowLinkLab(const SlowLinkLab&) = delete;
  SlowLinkLab& operator=(const SlowLinkLab&) = delete;

  // Runs argv (a program listening on every address, printing one line once
  // it listens) in a new network namespace reached at kCameraAddress. False
  // when it did not come up.
  bool startCamera(const std::vector<std::string>& argv);
  // Gives the camera another address and points kCameraName at it; the old
  // address stops answering at once.
  bool moveCamera(const std::string& address);
  // Shapes what the camera sends; the viewer's packets pass unchanged.
  void shapeCameraSide(const LinkShape& shape) { wire_->shape(false, shape); }
  void setOutage(bool on) { wire_->setOutage(on); }
  WireCounters cameraSideCounters() const { return wire_->counters(false); }
  pid_t cameraPid() const { return camera_; }

 private:
  std::unique_ptr<TunWire> wire_;
  pid_t camera_ = -1;
  std::string cameraAddress_;
};

}  // namespace tavolen::test
