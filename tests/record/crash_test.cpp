#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "record_fixtures.h"

namespace tavolen {
namespace {

// Reads one line from fd (unbuffered, so nothing is read past it).
bool readLine(int fd, std::string& line) {
  line.clear();
  char c;
  while (read(fd, &c, 1) == 1) {
    if (c == '\n') return true;
    line += c;
  }
  return false;
}

TEST(RecorderCrash, KilledRecordingKeepsItsFramesUpToTheLastSecond) {
  test::ScratchDir dir;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execl(TAVOLEN_CRASH_CHILD, TAVOLEN_CRASH_CHILD, dir.path().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);

  std::string line;
  ASSERT_TRUE(readLine(out[0], line));
  ASSERT_EQ(line.rfind("file ", 0), 0u) << line;
  const std::string file = line.substr(5);
  long reported = 0;
  while (reported < 200 && readLine(out[0], line)) reported = std::atol(line.c_str());
  ASSERT_EQ(reported, 200) << "the child stopped early";
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  while (readLine(out[0], line)) reported = std::max(reported, std::atol(line.c_str()));
  close(out[0]);

  const std::vector<int64_t> sizes = test::packetSizes(file, "v");
  const long frames = std::count_if(sizes.begin(), sizes.end(), [](int64_t s) { return s > 0; });
  EXPECT_GE(frames, reported - 25) << "more than a second of frames lost";
  EXPECT_LE(frames, reported + 1);
  EXPECT_EQ(test::decodeStatus(file), 0);
  EXPECT_GE(test::decodedPictures(file), reported - 25);
  EXPECT_FALSE(test::packetSizes(file, "a").empty());
}

}  // namespace
}  // namespace tavolen
