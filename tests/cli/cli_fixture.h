#pragma once
// The tavolen program as a user runs it: a child process in a session of its
// own (so no terminal of the test's leaks in), with its output collected, a
// time limit, and signals on demand; and the substitute camera it talks to,
// running in the test's process so that tests see every request it got.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "camsim.h"

namespace tavolen::test {

struct CliResult {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;  // the terminal's output when it ran on one
  bool timedOut = false;
};

struct CliRun {
  explicit CliRun(std::vector<std::string> arguments) : args(std::move(arguments)) {}
  std::vector<std::string> args;
  std::vector<std::string> env;  // NAME=VALUE, added to (or replacing in) the test's environment
  // A pseudo-terminal as controlling terminal and stderr; `typed` is typed on it.
  bool terminal = false;
  std::string typed;
  int timeoutMs = 60000;
};

class CliProcess {
 public:
  explicit CliProcess(const CliRun& run);
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  void signal(int sig);
  // Until stdout holds text (count times), the process ends or ms pass.
  bool waitForOutput(const std::string& text, int ms, int count = 1);
  CliResult wait();

 private:
  // Reads what is there within ms; false once both outputs are closed.
  bool pump(int ms);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int timeoutMs_;
  std::string out_;
  std::string err_;
};

CliResult runCli(const CliRun& run);
inline CliResult runCli(std::vector<std::string> args) { return runCli(CliRun{std::move(args)}); }

// Output lines, without their line ends.
std::vector<std::string> lines(const std::string& text);
std::string commandOutput(const std::string& command);
std::vector<uint8_t> readFile(const std::string& path);

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // viewer / secret, stream 0 of 160x96 at 25 frames/s, ADPCM tone.
  static camsim::Config smallCamera();
  void startCamera(camsim::Config config);
  // "viewer:secret@127.0.0.1:PORT" for the running camera.
  std::string camera(const std::string& account = "viewer:secret") const;
  // A path in this test's own scratch folder.
  std::string scratch(const std::string& name) const;
  // The request heads the camera got whose path starts with `path`.
  std::vector<std::string> requestsFor(const std::string& path) const;

  std::unique_ptr<camsim::Server> camera_;
  std::string dir_;
};

}  // namespace tavolen::test
