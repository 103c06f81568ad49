#include "alarm_command.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "console.h"
#include "event_names.h"

extern char** environ;

namespace tavolen::cli {

namespace {

constexpr auto kLastCommandsWait = std::chrono::seconds(5);
const char* const kOwnVariables[] = {"TAVOLEN_EVENT=", "TAVOLEN_EVENT_CODE=", "TAVOLEN_EVENT_NAME=",
                                     "TAVOLEN_EVENT_TIME=", "TAVOLEN_CAMERA="};

bool isOwnVariable(const char* entry) {
  for (const char* prefix : kOwnVariables)
    if (std::strncmp(entry, prefix, std::strlen(prefix)) == 0) return true;
  return false;
}

}  // namespace

AlarmCommand::AlarmCommand(std::string command, std::string camera)
    : command_(std::move(command)), camera_(std::move(camera)) {}

AlarmCommand::~AlarmCommand() {
  const auto end = Clock::now() + kLastCommandsWait;
  while (!running_.empty() && Clock::now() < end) {
    reap();
    if (!running_.empty()) ::usleep(20 * 1000);
  }
}

bool AlarmCommand::run(int32_t code, const std::string& when) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (!isOwnVariable(*e)) env.emplace_back(*e);
  env.push_back(std::string("TAVOLEN_EVENT=") + eventKind(code));
  env.push_back("TAVOLEN_EVENT_CODE=" + std::to_string(code));
  env.push_back("TAVOLEN_EVENT_NAME=" + eventText(code));
  env.push_back("TAVOLEN_EVENT_TIME=" + when);
  env.push_back("TAVOLEN_CAMERA=" + camera_);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string shell = "/bin/sh", dashC = "-c";
  char* argv[] = {shell.data(), dashC.data(), command_.data(), nullptr};

  // The child gets the tool's real output, and the signals this process
  // blocks for its own handling back.
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, Console::outFd(), 1);
  posix_spawn_file_actions_adddup2(&files, Console::errFd(), 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::fflush(Console::out());
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, shell.c_str(), &files, &attr, argv, envp.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&files);
  if (rc != 0) {
    message("cannot run the alarm command: " + std::string(std::strerror(rc)));
    return false;
  }
  running_.push_back(pid);
  return true;
}

void AlarmCommand::reap() {
  running_.erase(std::remove_if(running_.begin(), running_.end(),
                                [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; }),
                 running_.end());
}

}  // namespace tavolen::cli
