// The hosts' crash dump: a real crash leaves a core file named after the
// local time, in the program's folder or the state folder, that gdb reads
// with the program, showing the crashing thread; the process still dies of
// its signal.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "crash_dump.h"

namespace {
namespace fs = std::filesystem;

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  pclose(pipe);
  return out;
}

std::vector<fs::path> dumpsIn(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().filename().string().rfind("ocx_CrashDump", 0) == 0) found.push_back(entry.path());
  return found;
}

class CrashDump : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tavolen::tools::crashDumpAvailable()) GTEST_SKIP() << "no crash dump in sanitizer builds";
    char dir[] = "/tmp/tavolen-crash-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    program_ = root_ / "crash_dump_child";
    fs::copy_file(TAVOLEN_CRASH_DUMP_CHILD, program_);
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  // Runs the child (optionally through a prefix such as setpriv) and returns
  // its wait status.
  int crash(const std::string& mode, const std::string& prefix = "", const std::string& env = "") {
    const std::string command = "env " + env + " " + prefix + " " + program_.string() + " " + mode;
    const int status = std::system(("exec " + command + " >/dev/null 2>&1").c_str());
    return status;
  }

  void expectReadableDump(const fs::path& folder, const char* function) {
    const auto dumps = dumpsIn(folder);
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_TRUE(std::regex_match(dumps[0].filename().string(),
                                 std::regex(R"(ocx_CrashDump\d{4}_\d\d_\d\d_\d\d_\d\d_\d\d\.dmp)")))
        << dumps[0];
    const std::string bt =
        run("gdb -batch -nx " + program_.string() + " " + dumps[0].string() + " -ex bt 2>&1");
    EXPECT_NE(bt.find(function), std::string::npos) << bt;
  }

  fs::path root_;
  fs::path program_;
};

TEST(CrashDumpName, FollowsTheLocalTime) {
  struct Case {
    int year, month, day, hour, minute, second;
    const char* name;
  };
  const Case cases[] = {
      {2024, 3, 5, 14, 7, 9, "ocx_CrashDump2024_03_05_14_07_09.dmp"},
      {999, 12, 31, 23, 59, 60, "ocx_CrashDump 999_12_31_23_59_60.dmp"},  // width 4, spaces
  };
  for (const Case& c : cases) {
    std::tm t{};
    t.tm_year = c.year - 1900;
    t.tm_mon = c.month - 1;
    t.tm_mday = c.day;
    t.tm_hour = c.hour;
    t.tm_min = c.minute;
    t.tm_sec = c.second;
    EXPECT_EQ(tavolen::tools::crashDumpName(t), c.name);
  }
}

TEST_F(CrashDump, CrashOnAWorkerThreadLeavesACoreShowingThatThread) {
  const int status = crash("segv-thread");
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  expectReadableDump(root_, "crashInWorkerOnPurpose");
}

TEST_F(CrashDump, AbortEndsWithSigabrtAfterTheDump) {
  const int status = crash("abort");
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  expectReadableDump(root_, "main");
}

TEST_F(CrashDump, UnwritableProgramFolderSendsTheDumpToTheStateFolder) {
  // Root may write anywhere, so the program runs as a throwaway user for whom
  // its folder (owned by root) is read-only.
  const fs::path state = root_ / "state";
  fs::create_directory(state);
  ASSERT_EQ(chown(state.c_str(), 65534, 65534), 0);
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  const int status = crash("segv-thread", "setpriv --reuid=65534 --regid=65534 --clear-groups",
                           "XDG_STATE_HOME=" + state.string());
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_TRUE(dumpsIn(root_).empty());
  expectReadableDump(state / "tavolen", "crashInWorkerOnPurpose");
}

#ifdef TAVOLEN_HOST_PROGRAM
// tavolen-host killed by a fatal signal while it serves: the dump lands beside
// the program and gdb shows where its threads were.
TEST_F(CrashDump, CrashedHostLeavesADumpBesideTheProgram) {
  const fs::path host = root_ / "tavolen-host";
  fs::copy_file(TAVOLEN_HOST_PROGRAM, host);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    execl(host.c_str(), host.c_str(), "--port", "0", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string seen;
  char buffer[256];
  ssize_t n;
  while (seen.find("listening") == std::string::npos && (n = read(out[0], buffer, sizeof buffer)) > 0)
    seen.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  ASSERT_NE(seen.find("listening"), std::string::npos) << seen;
  kill(pid, SIGSEGV);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGSEGV);
  const auto dumps = dumpsIn(root_);
  ASSERT_EQ(dumps.size(), 1u);
  const std::string bt = run("gdb -batch -nx " + host.string() + " " + dumps[0].string() +
                             " -ex 'thread apply all bt' 2>&1");
  EXPECT_NE(bt.find("in main"), std::string::npos) << bt;
}
#endif

}  // namespace
