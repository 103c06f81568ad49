#include "substitute_camera.h"

#include "loopback_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace tavolen::view {
namespace {

using tools::canConnect;
using tools::freeLoopbackPort;

std::string siblingTool(const char* name) {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return name;
  self[n] = '\0';
  std::string dir(self);
  dir.erase(dir.rfind('/'));
  // build/tools/view/tavolen-view next to build/tools/camsim/tavolen-camsim
  for (const std::string& candidate : {dir + "/../camsim/" + name, dir + "/" + name})
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  return name;  // from PATH
}

}  // namespace

bool SubstituteCamera::start(const std::vector<std::string>& extraArgs) {
  const int port = freeLoopbackPort();
  if (port <= 0) return false;
  const std::string path = siblingTool("tavolen-camsim");
  // It answers the LAN search on loopback only (main sends the search there).
  std::vector<std::string> args = {path,     "--port",        std::to_string(port), "--quiet",
                                   "--search", "--search-bind", "127.0.0.1"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    // A viewer killed outright takes its camera with it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) std::_Exit(0);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "tavolen-view: cannot start %s\n", path.c_str());
    std::_Exit(127);
  }
  if (pid < 0) return false;
  pid_ = pid;
  for (int i = 0; i < 300 && !canConnect(port); ++i) {
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  port_ = port;
  return true;
}

void SubstituteCamera::stop() {
  if (pid_ <= 0) return;
  const pid_t pid = pid_;
  pid_ = -1;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace tavolen::view
