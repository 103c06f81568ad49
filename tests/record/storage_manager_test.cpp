#include "record/storage_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "record/avi_recorder.h"
#include "record_fixtures.h"
#include "support/wait_until.h"

// Free space comes from a seam over statvfs (FakeDisk); creation times of the
// prepared day folders too, since Linux cannot set a birth time.

namespace tavolen {
namespace {

namespace fs = std::filesystem;
using test::FakeDisk;
using test::FakeTime;
using test::ScratchDir;

void touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "x";
}

class StorageTest : public ::testing::Test {
 protected:
  FakeTime time;
  FakeDisk disk;
  ScratchDir dir;
  fs::path records() const { return fs::path(dir.path()) / "RecordFiles"; }

  // A day folder holding one recording, created at the given time.
  fs::path day(const std::string& name, int64_t created) {
    const fs::path d = records() / name;
    touch(d / "cam" / (name + "_120000_0.avi"));
    disk.setCreationTime(d.string(), created);
    return d;
  }

  // Waits until the storage thread is in its wait on the clock.
  void waitUntilWaiting() { ASSERT_TRUE(time.waitForSleepers(1)); }

  // Moves the clock over the storage thread's wait and lets its next pass run.
  void nextPass() {
    waitUntilWaiting();
    const int before = disk.queries();
    time.advance(5000);
    ASSERT_TRUE(test::waitUntil([&] { return disk.queries() > before; }));
  }
};

TEST_F(StorageTest, CoverModeDeletesTheEarliestCreatedDayEachPassWhileSpaceIsShort) {
  const fs::path d1 = day("20230701", 200);
  const fs::path d2 = day("20230702", 100);
  const fs::path d3 = day("20230703", 300);
  touch(records() / "notes.txt");
  touch(records() / "20230704" / "othercam" / "old.avi");
  disk.setCreationTime((records() / "20230704").string(), 400);
  disk.setFreeMB(250);

  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam", 0, 0, 300, 1), 0, 0, 0), 1);
  const std::string open = rec.currentFileName();
  ASSERT_TRUE(test::waitUntil([&] { return !fs::exists(d2); })) << "first pass runs at once";
  EXPECT_TRUE(fs::exists(d1));
  EXPECT_TRUE(fs::exists(d3));

  waitUntilWaiting();
  time.advance(4990);
  EXPECT_EQ(time.sleepers(), 1) << "no pass before 5 s: still waiting";
  EXPECT_TRUE(fs::exists(d1));
  time.advance(10);
  ASSERT_TRUE(test::waitUntil([&] { return !fs::exists(d1); }));
  EXPECT_TRUE(fs::exists(d3));

  nextPass();
  ASSERT_TRUE(test::waitUntil([&] { return !fs::exists(d3); }));

  // Today's folder is now the oldest: its other recordings go, the file being
  // written and its folders stay.
  nextPass();
  ASSERT_TRUE(test::waitUntil([&] { return !fs::exists(records() / "20230704" / "othercam"); }));
  EXPECT_TRUE(fs::is_regular_file(open));
  EXPECT_TRUE(fs::is_regular_file(records() / "notes.txt"));
  rec.stopRecord();
}

TEST_F(StorageTest, WithoutCoverNothingIsDeletedAndEveryFrameIsRefused) {
  const fs::path d1 = day("20230701", 100);
  disk.setFreeMB(250);
  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam", 0, 0, 300, 0), 0, 0, 0), 1);
  const uint8_t frame[4] = {0, 0, 0, 1};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rec.writeVideo(frame, 4), 0);
    nextPass();
  }
  EXPECT_TRUE(fs::exists(d1 / "cam" / "20230701_120000_0.avi"));
  // Space above the reserve again: the next measurement lets frames through.
  disk.setFreeMB(301);
  nextPass();
  EXPECT_EQ(rec.writeVideo(frame, 4), 1);
}

TEST_F(StorageTest, FailedFreeSpaceQueryKeepsTheLastFigure) {
  disk.setFreeMB(1000);
  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), 0, 0, 0), 1);
  const uint8_t frame[4] = {0, 0, 0, 1};
  EXPECT_EQ(rec.writeVideo(frame, 4), 1) << "a first file's first frame is not refused for want of a figure";
  EXPECT_EQ(rec.currentFreeMB(), 1000u);
  disk.setFreeMB(std::nullopt);
  nextPass();
  EXPECT_EQ(rec.currentFreeMB(), 1000u);
  EXPECT_EQ(rec.writeVideo(frame, 4), 1);
  disk.setFreeMB(150);
  nextPass();
  EXPECT_EQ(rec.currentFreeMB(), 150u);
  EXPECT_EQ(rec.writeVideo(frame, 4), 0);
}

// The clock never moves here: the stop can only end the wait itself.
TEST_F(StorageTest, StopReturnsWithoutWaitingOutTheFiveSeconds) {
  CAviRecorder rec(time, disk);
  ASSERT_EQ(rec.startRecord(test::recordParams(dir.path(), "cam"), 0, 0, 0), 1);
  waitUntilWaiting();
  rec.stopRecord();
  EXPECT_EQ(time.sleepers(), 0);
}

struct PickCase {
  const char* name;
  std::vector<std::pair<std::string, int64_t>> days;
  std::string expected;  // empty: nothing to delete
};
void PrintTo(const PickCase& c, std::ostream* os) { *os << c.name; }

class OldestDayPick : public StorageTest, public ::testing::WithParamInterface<PickCase> {};

TEST_P(OldestDayPick, DeletesOnlyTheChosenRealFolder) {
  const PickCase& c = GetParam();
  for (const auto& [name, created] : c.days) day(name, created);
  touch(records() / "20230601.avi");
  const std::string chosen = deleteOldestDayFolder(dir.path(), disk);
  EXPECT_EQ(chosen, c.expected.empty() ? "" : (records() / c.expected).string());
  for (const auto& [name, created] : c.days) EXPECT_EQ(fs::exists(records() / name), name != c.expected) << name;
  EXPECT_TRUE(fs::exists(records() / "20230601.avi")) << "plain files in RecordFiles stay";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OldestDayPick,
    ::testing::Values(PickCase{"CreationTimeFirst", {{"20230701", 200}, {"20230702", 100}, {"20230703", 300}}, "20230702"},
                      PickCase{"EqualTimesBreakOnPath", {{"20230702", 100}, {"20230701", 100}, {"20230703", 100}}, "20230701"},
                      PickCase{"ShorterPrefixFirst", {{"20230701", 100}, {"2023070", 100}}, "2023070"},
                      PickCase{"OnlyPlainFiles", {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StorageTest, LinksAreRemovedAsLinksAndTheirTargetsStay) {
  ScratchDir outside;
  const fs::path target = fs::path(outside.path()) / "keep";
  touch(target / "precious.avi");
  touch(fs::path(outside.path()) / "single.avi");
  const fs::path d = day("20230701", 100);
  fs::create_directory_symlink(target, d / "cam" / "dirlink");
  fs::create_symlink(fs::path(outside.path()) / "single.avi", d / "filelink.avi");
  // A link in RecordFiles itself is no day folder, however old its target.
  fs::create_directory_symlink(target, records() / "20000101");
  disk.setCreationTime((records() / "20000101").string(), 1);

  EXPECT_EQ(deleteOldestDayFolder(dir.path(), disk), d.string());
  EXPECT_FALSE(fs::exists(d));
  EXPECT_TRUE(fs::is_regular_file(target / "precious.avi"));
  EXPECT_TRUE(fs::is_regular_file(fs::path(outside.path()) / "single.avi"));
  EXPECT_TRUE(fs::is_symlink(records() / "20000101"));

  // Asked to delete a link itself, deleteTree leaves it and its target alone.
  deleteTree((records() / "20000101").string());
  EXPECT_TRUE(fs::is_regular_file(target / "precious.avi"));
  EXPECT_EQ(deleteOldestDayFolder(dir.path(), disk), "");
}

TEST_F(StorageTest, DeletionReachesDownToABoundedDepth) {
  struct Case {
    int levels;
    bool removed;
  };
  for (const Case c : {Case{8, true}, Case{31, true}, Case{40, false}}) {
    SCOPED_TRACE(c.levels);
    fs::path deep = records() / "20230701";
    for (int i = 0; i < c.levels; ++i) deep /= "d" + std::to_string(i);
    touch(deep / "x.avi");
    deleteTree((records() / "20230701").string());
    EXPECT_EQ(fs::exists(records() / "20230701"), !c.removed);
    EXPECT_EQ(fs::exists(deep / "x.avi"), !c.removed);
    fs::remove_all(records() / "20230701");
  }
}

TEST(SystemDisk, AnswersForRealPaths) {
  ScratchDir dir;
  platform::Disk& disk = platform::systemDisk();
  const std::optional<uint64_t> free = disk.freeBytes(dir.path());
  ASSERT_TRUE(free.has_value());
  EXPECT_GT(*free, 0u);
  EXPECT_FALSE(disk.freeBytes(dir.path() + "/missing").has_value());
  EXPECT_EQ(disk.mountRoot("/proc/self/fd"), "/proc");
  EXPECT_EQ(disk.mountRoot("/"), "/");
  const std::string root = disk.mountRoot(dir.path() + "/not/yet/made");
  EXPECT_EQ(disk.freeBytes(root).has_value(), true);
  EXPECT_EQ(dir.path().rfind(root == "/" ? "/" : root + "/", 0), 0u);
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  EXPECT_NEAR(static_cast<double>(disk.creationTime(dir.path())), static_cast<double>(now), 60.0);
  EXPECT_EQ(disk.creationTime(dir.path() + "/missing"), 0);
}

}  // namespace
}  // namespace tavolen
