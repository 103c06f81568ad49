#include "cli_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char** environ;

namespace tavolen::test {

namespace {

std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    // A password of the test's own environment must not reach the tool.
    if (std::strncmp(*e, "TAVOLEN_PASSWORD=", 17) == 0) continue;
    env.emplace_back(*e);
  }
  for (const std::string& e : extra) {
    const std::string name = e.substr(0, e.find('=') + 1);
    std::erase_if(env, [&](const std::string& have) { return have.rfind(name, 0) == 0; });
    env.push_back(e);
  }
  return env;
}

}  // namespace

CliProcess::CliProcess(const CliRun& run) : timeoutMs_(run.timeoutMs) {
  int out[2], err[2] = {-1, -1};
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  int master = -1;
  std::string slave;
  if (run.terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    slave = ptsname(master);
  } else {
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
  }

  std::vector<std::string> args = {TAVOLEN_CLI};
  args.insert(args.end(), run.args.begin(), run.args.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = childEnvironment(run.env);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&files, out[1], 1);
  if (run.terminal) {
    // Opened by the new session's leader, the terminal becomes its controlling one.
    posix_spawn_file_actions_addopen(&files, 2, slave.c_str(), O_RDWR, 0);
  } else {
    posix_spawn_file_actions_adddup2(&files, err[1], 2);
  }
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  EXPECT_EQ(posix_spawn(&pid_, TAVOLEN_CLI, &files, &attr, argv.data(), envp.data()), 0);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&files);
  close(out[1]);
  outFd_ = out[0];
  if (run.terminal) {
    errFd_ = master;
    if (!run.typed.empty()) {
      // Typed once the tool has asked (echo off by then), or at once when it never asks.
      for (int i = 0; i < 500 && err_.find(':') == std::string::npos; ++i) pump(10);
      EXPECT_EQ(write(master, run.typed.data(), run.typed.size()), static_cast<ssize_t>(run.typed.size()));
    }
  } else {
    close(err[1]);
    errFd_ = err[0];
  }
}

CliProcess::~CliProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

void CliProcess::signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

bool CliProcess::pump(int ms) {
  pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (outFd_ < 0 && errFd_ < 0) return false;
  if (poll(p, 2, ms) <= 0) return true;
  char buf[4096];
  for (int i = 0; i < 2; ++i) {
    if (p[i].fd < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    const ssize_t n = read(p[i].fd, buf, sizeof buf);
    if (n > 0) {
      (i == 0 ? out_ : err_).append(buf, static_cast<size_t>(n));
    } else {
      close(p[i].fd);
      (i == 0 ? outFd_ : errFd_) = -1;
    }
  }
  return true;
}

bool CliProcess::waitForOutput(const std::string& text, int ms, int count) {
  const auto seen = [&] {
    int n = 0;
    for (size_t at = out_.find(text); at != std::string::npos; at = out_.find(text, at + 1)) ++n;
    return n >= count;
  };
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!seen()) {
    if (std::chrono::steady_clock::now() >= end || !pump(20)) return seen();
  }
  return true;
}

CliResult CliProcess::wait() {
  CliResult r;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
  int status = 0;
  for (;;) {
    pump(20);
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (std::chrono::steady_clock::now() >= end) {
      r.timedOut = true;
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
  }
  pid_ = -1;
  // What the tool wrote last; a terminal reports an error once its other end is gone.
  while ((outFd_ >= 0 || errFd_ >= 0) && pump(200)) {
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = out_;
  r.err = err_;
  return r;
}

CliResult runCli(const CliRun& run) {
  CliProcess p(run);
  return p.wait();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) out.push_back(text.substr(from, nl - from));
  if (from < text.size()) out.push_back(text.substr(from));
  return out;
}

std::string commandOutput(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void CliTest::SetUp() {
  char tmpl[] = "/tmp/tavolen-cli-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir_ = tmpl;
  startCamera(smallCamera());
}

void CliTest::TearDown() {
  camera_.reset();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

camsim::Config CliTest::smallCamera() {
  camsim::Config c;
  c.user = "viewer";
  c.password = "secret";
  c.profiles = {{0, 160, 96, 25, true, 0}};
  return c;
}

void CliTest::startCamera(camsim::Config config) {
  camera_.reset();
  camera_ = std::make_unique<camsim::Server>(std::move(config));
  ASSERT_TRUE(camera_->start());
}

std::string CliTest::camera(const std::string& account) const {
  return account + "@127.0.0.1:" + std::to_string(camera_->port());
}

std::string CliTest::scratch(const std::string& name) const { return dir_ + "/" + name; }

std::vector<std::string> CliTest::requestsFor(const std::string& path) const {
  std::vector<std::string> found;
  for (const std::string& r : camera_->requests()) {
    const size_t start = r.find(' ') + 1;
    const size_t skip = r.compare(start, 1, "/") == 0 ? 1 : 0;
    if (r.compare(start + skip, path.size(), path) == 0) found.push_back(r.substr(0, r.find("\r\n")));
  }
  return found;
}

}  // namespace tavolen::test
