#include "link/netns_lab.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/lab_shell.h"


namespace tavolen::test {

bool NetnsLab::enter(std::string& whyNot) {
  static int entered = -1;
  static std::string reason;
  if (entered < 0) {
    if (unshare(CLONE_NEWNET) != 0) {
      reason = std::string("cannot create a network namespace: ") + std::strerror(errno);
      entered = 0;
    } else {
      const bool ok = sh("ip link set lo up") && sh("ip link add tvbr0 type bridge") &&
                      sh(std::string("ip addr add ") + kViewerAddress + "/24 dev tvbr0") &&
                      sh("ip link set tvbr0 up") && sh("ip route add default dev tvbr0");
      if (!ok) reason = "cannot set up the bridge in the private namespace";
      // Even a failed set-up leaves the process inside the private namespace,
      // which is what keeps broadcasts away from the machine's network.
      entered = ok ? 1 : 0;
    }
  }
  whyNot = reason;
  return entered == 1;
}

NetnsLab::~NetnsLab() {
  for (pid_t pid : children_) kill(pid, SIGTERM);
  for (pid_t pid : children_) waitpid(pid, nullptr, 0);
}

bool NetnsLab::addCamera(int hostByte, const std::vector<std::string>& argv) {
  bool ready = false;
  const pid_t pid = startInOwnNetwork(argv, 5000, ready);
  if (pid < 0) return false;
  children_.push_back(pid);
  if (!ready) return false;

  const int n = next_++;
  const std::string cam = "tvc" + std::to_string(n);
  const std::string port = "tvp" + std::to_string(n);
  const std::string target = std::to_string(pid);
  const std::string address = "192.0.2." + std::to_string(hostByte) + "/24";
  return sh("ip link add " + cam + " type veth peer name " + port) &&
         sh("ip link set " + port + " master tvbr0") && sh("ip link set " + port + " up") &&
         sh("ip link set " + cam + " netns " + target) &&
         sh("nsenter -t " + target + " -n ip link set lo up") &&
         sh("nsenter -t " + target + " -n ip addr add " + address + " dev " + cam) &&
         sh("nsenter -t " + target + " -n ip link set " + cam + " up");
}

}  // namespace tavolen::test
