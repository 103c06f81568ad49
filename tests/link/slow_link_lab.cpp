#include "link/slow_link_lab.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/lab_shell.h"


namespace tavolen::test {

namespace {

constexpr const char* kViewerDevice = "tvview";
constexpr const char* kCameraDevice = "tvcam";

// The hosts file the lab writes: the temporary file until it is mounted over
// /etc/hosts, then /etc/hosts itself (the temporary name is gone by then).
// Written in place, never replaced, because the mount holds on to the file.
std::string& hostsFile() {
  static std::string path;
  return path;
}

bool writeHosts(const std::string& cameraAddress) {
  FILE* f = std::fopen(hostsFile().c_str(), "w");
  if (f == nullptr) return false;
  std::fprintf(f, "127.0.0.1 localhost\n%s %s\n", cameraAddress.c_str(), SlowLinkLab::kCameraName);
  return std::fclose(f) == 0;
}

}  // namespace

bool SlowLinkLab::enter(std::string& whyNot) {
  static int entered = -1;
  static std::string reason;
  if (entered < 0) {
    entered = 0;
    char hosts[] = "/tmp/tavolen-lab-hosts-XXXXXX";
    const int fd = mkstemp(hosts);
    if (access("/dev/net/tun", R_OK | W_OK) != 0) {
      reason = "no TUN device (/dev/net/tun)";
    } else if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
      reason = std::string("cannot create network and mount namespaces: ") + std::strerror(errno);
    } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      // Without this a mount below could reach the machine's own namespace.
      reason = std::string("cannot make the mounts private: ") + std::strerror(errno);
    } else if (fd < 0 || (hostsFile() = hosts, !writeHosts(kCameraAddress)) ||
               mount(hosts, "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
      reason = "cannot put a private /etc/hosts in place";
    } else if (hostsFile() = "/etc/hosts", !sh("ip link set lo up")) {
      reason = "cannot bring up the private loopback";
    } else {
      entered = 1;
    }
    if (fd >= 0) close(fd);
    // The mount keeps the file alive; its name is not needed by anyone else.
    if (entered == 1) unlink(hosts);
  }
  whyNot = reason;
  return entered == 1;
}

SlowLinkLab::SlowLinkLab()
    : wire_(std::make_unique<TunWire>(kViewerDevice, kCameraDevice)), cameraAddress_(kCameraAddress) {}

SlowLinkLab::~SlowLinkLab() {
  if (camera_ > 0) {
    kill(camera_, SIGTERM);
    waitpid(camera_, nullptr, 0);
  }
  wire_.reset();
  writeHosts(kCameraAddress);
}

bool SlowLinkLab::startCamera(const std::vector<std::string>& argv) {
  if (!wire_->ok() || camera_ > 0) return false;
  bool ready = false;
  camera_ = startInOwnNetwork(argv, 10000, ready);
  if (camera_ < 0 || !ready) return false;

  const std::string target = std::to_string(camera_);
  const std::string cameraNet = "nsenter -t " + target + " -n ";
  const bool wired =
      sh(std::string("ip addr add ") + kViewerAddress + "/24 dev " + kViewerDevice) &&
      sh(std::string("ip link set ") + kViewerDevice + " up") &&
      sh(std::string("ip link set ") + kCameraDevice + " netns " + target) &&
      sh(cameraNet + "ip link set lo up") &&
      sh(cameraNet + "ip addr add " + cameraAddress_ + "/24 dev " + kCameraDevice) &&
      sh(cameraNet + "ip link set " + kCameraDevice + " up");
  if (!wired) return false;
  wire_->start();
  return writeHosts(cameraAddress_);
}

bool SlowLinkLab::moveCamera(const std::string& address) {
  const std::string cameraNet = "nsenter -t " + std::to_string(camera_) + " -n ";
  // The old address goes first: deleting a subnet's first address would take
  // a second one added beside it along.
  if (!sh(cameraNet + "ip addr del " + cameraAddress_ + "/24 dev " + kCameraDevice) ||
      !sh(cameraNet + "ip addr add " + address + "/24 dev " + kCameraDevice))
    return false;
  cameraAddress_ = address;
  return writeHosts(address);
}

}  // namespace tavolen::test
