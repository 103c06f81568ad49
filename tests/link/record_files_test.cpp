// SD-card record files of a link, through the exports, against camsim's card.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "link/link_test_support.h"

namespace tavolen::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<uint8_t> frame(uint8_t type, uint32_t timestamp, uint32_t sequence, uint32_t payload, uint8_t fill) {
  std::vector<uint8_t> f(32 + payload, fill);
  std::memset(f.data(), 0, 32);
  const uint32_t magic = TAVOLEN_FRAME_MAGIC;
  std::memcpy(f.data(), &magic, 4);
  f[4] = type;
  std::memcpy(f.data() + 8, &timestamp, 4);
  std::memcpy(f.data() + 12, &sequence, 4);
  std::memcpy(f.data() + 16, &payload, 4);
  return f;
}

struct Recording {
  std::string name;
  std::vector<std::vector<uint8_t>> frames;
  std::vector<size_t> offsets;
  size_t size = 0;
};

Recording makeRecording(const fs::path& folder, const std::string& name, uint8_t firstType, uint32_t start,
                        int count) {
  Recording r{name, {}, {}, 0};
  std::ofstream out(folder / name, std::ios::binary);
  for (int i = 0; i < count; ++i) {
    const uint8_t type = i == 0 ? firstType : static_cast<uint8_t>(firstType == FRAME_JPEG ? FRAME_JPEG : FRAME_H264_DELTA);
    auto f = frame(type, start + static_cast<uint32_t>(i), static_cast<uint32_t>(i), 100 + 37 * i,
                   static_cast<uint8_t>(0x10 * (i + 1)));
    r.offsets.push_back(r.size);
    r.size += f.size();
    out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    r.frames.push_back(std::move(f));
  }
  return r;
}

class RecordLog {
 public:
  struct Entry {
    std::string name;
    std::vector<char> prefix;
    int32_t size;
  };
  static void callback(const char* name, const char* prefix, int32_t size, void* user) {
    auto* self = static_cast<RecordLog*>(user);
    std::lock_guard<std::mutex> guard(self->lock_);
    self->entries_.push_back({name, std::vector<char>(prefix, prefix + 128), size});
    self->changed_.notify_all();
  }
  bool waitFor(size_t n, int timeoutMs = 5000) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return entries_.size() >= n; });
  }
  std::vector<Entry> entries() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_;
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<Entry> entries_;
};

// Whole frames as delivered, copied.
class PlaybackLog {
 public:
  static int32_t callback(const uint8_t* frame, int32_t length, void* user) {
    auto* self = static_cast<PlaybackLog*>(user);
    if (self->delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(self->delayMs));
    std::lock_guard<std::mutex> guard(self->lock_);
    self->frames_.emplace_back(frame, frame + length);
    self->changed_.notify_all();
    return 0;
  }
  bool waitFor(size_t n, int timeoutMs = 5000) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return frames_.size() >= n; });
  }
  std::vector<std::vector<uint8_t>> frames() const {
    std::lock_guard<std::mutex> guard(lock_);
    return frames_;
  }
  int delayMs = 0;

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<std::vector<uint8_t>> frames_;
};

// 2026-01-01 12:00:00 and 12:05:00 UTC, and 2026-02-01 08:00:00 UTC.
constexpr uint32_t kNoon = 1767268800;
constexpr uint32_t kFivePast = kNoon + 300;
constexpr uint32_t kFebruary = 1769932800;

class RecordFilesTest : public LinkFixture {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    oldTz_ = old ? old : "";
    hadTz_ = old != nullptr;
    setTimeZone("UTC0");
    folder_ = fs::temp_directory_path() / ("tavolen-sd-" + std::to_string(getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    first_ = makeRecording(folder_, "20260101120000_010.h264", FRAME_H264_KEY, kNoon, 5);
    second_ = makeRecording(folder_, "20260101120500_010.h264", FRAME_H264_KEY, kFivePast, 3);
    later_ = makeRecording(folder_, "20260201080000_010.jpg", FRAME_JPEG, kFebruary, 2);
    std::ofstream(folder_ / "notes.txt") << "not a recording";

    setLinkTiming(fastTiming());
    camsim::Config c = smallCamera();
    c.camera.recordFolder = folder_.string();
    startCamera(c);
  }
  void TearDown() override {
    LinkFixture::TearDown();
    fs::remove_all(folder_);
    if (hadTz_) setTimeZone(oldTz_.c_str());
    else {
      unsetenv("TZ");
      tzset();
    }
  }
  static void setTimeZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  int32_t search(DeviceHandle h, std::array<int32_t, 12> f, RecordLog& log) {
    return device_record_file_search_list(h, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10],
                                          f[11], &RecordLog::callback, &log);
  }
  std::string line(size_t i) const {
    const auto r = camera_->requests();
    return i < r.size() ? r[i].substr(0, r[i].find("\r\n") + 2) : "";
  }

  fs::path folder_;
  Recording first_, second_, later_;
  std::string oldTz_;
  bool hadTz_ = false;
};

constexpr std::array<int32_t, 12> kNewYearsDay = {2026, 1, 1, 0, 0, 0, 2026, 1, 1, 23, 59, 59};

TEST_F(RecordFilesTest, ListsTheFilesBetweenTwoDatesInIndexOrder) {
  DeviceHandle h = link();
  RecordLog log;
  ASSERT_EQ(search(h, kNewYearsDay, log), 1);
  ASSERT_TRUE(log.waitFor(2));
  std::this_thread::sleep_for(100ms);
  const auto e = log.entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].name, first_.name);
  EXPECT_EQ(e[0].size, static_cast<int32_t>(first_.size));
  EXPECT_EQ(e[1].name, second_.name);
  EXPECT_EQ(e[1].size, static_cast<int32_t>(second_.size));
  // The prefix buffer: the name's first 8 bytes, then zeros.
  for (const auto& entry : e) {
    EXPECT_EQ(std::string(entry.prefix.data(), 8), "20260101");
    for (size_t i = 8; i < 128; ++i) ASSERT_EQ(entry.prefix[i], 0) << i;
  }
  EXPECT_EQ(line(0),
            "GET get_record_file.cgi?loginuse=viewer&loginpas=secret&startdate=1767225600&enddate=1767311999"
            " HTTP/1.1\r\n");
}

TEST_F(RecordFilesTest, DatesAreLocalTime) {
  setTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
  DeviceHandle h = link();
  RecordLog log;
  // Midnight to 13:02 winter time is 23:00 the day before to 12:02 UTC: only the
  // first file.
  ASSERT_EQ(search(h, {2026, 1, 1, 0, 0, 0, 2026, 1, 1, 13, 2, 0}, log), 1);
  ASSERT_TRUE(log.waitFor(1));
  EXPECT_EQ(line(0),
            "GET get_record_file.cgi?loginuse=viewer&loginpas=secret&startdate=1767222000&enddate=1767268920"
            " HTTP/1.1\r\n");
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(log.entries().size(), 1u);
  EXPECT_EQ(log.entries()[0].name, first_.name);
}

TEST_F(RecordFilesTest, OutOfRangeDatesSendNothing) {
  DeviceHandle h = link();
  RecordLog log;
  const std::array<int32_t, 12> bad[] = {
      {1899, 12, 31, 0, 0, 0, 2026, 1, 1, 0, 0, 0},  {2026, 0, 1, 0, 0, 0, 2026, 1, 1, 0, 0, 0},
      {2026, 1, 32, 0, 0, 0, 2026, 1, 1, 0, 0, 0},   {2026, 1, 1, 24, 0, 0, 2026, 1, 1, 0, 0, 0},
      {2026, 1, 1, 0, 0, 0, 2026, 13, 1, 0, 0, 0},   {2026, 1, 1, 0, 0, 0, 2026, 1, 0, 0, 0, 0},
      {2026, 1, 1, 0, 0, 0, 2026, 1, 1, 0, 60, 0},   {2026, 1, 1, 0, 0, 0, 2026, 1, 1, 0, 0, 60},
  };
  for (const auto& f : bad) ASSERT_EQ(search(h, f, log), 1);
  // A good search after them proves they have all ended.
  ASSERT_EQ(search(h, kNewYearsDay, log), 1);
  ASSERT_TRUE(log.waitFor(2));
  EXPECT_EQ(camera_->requests().size(), 1u);
}

// The first search gives up on its answer after the reader's wait
// (kSelectWaitMs of the link's clock); the second starts only then.
TEST_F(RecordFilesTest, ASecondSearchWaitsForTheFirst) {
  ManualClock& clock = manualClock();
  LinkTiming timing = fastTiming();
  timing.resolverPeriodMs = 60000;  // a sleeper that stays asleep
  setLinkTiming(timing);
  DeviceHandle h = link();
  RecordLog first, second;
  camera_->pushFault({camsim::FaultKind::Silent, 0});
  ASSERT_EQ(search(h, kNewYearsDay, first), 1);
  ASSERT_TRUE(camera_->waitForRequests(1, 5000));
  // Two sleepers: the resolver, and the first search's reader.
  EXPECT_EQ(clock.callThroughLimit(kSelectWaitMs, 2, [&] { return search(h, kNewYearsDay, second); }), 1);
  ASSERT_TRUE(second.waitFor(2));
  EXPECT_TRUE(first.entries().empty());
  EXPECT_EQ(camera_->requests().size(), 2u);
}

TEST_F(RecordFilesTest, PlaysFromTheStartAndFromAMidFileOffset) {
  DeviceHandle h = link();
  PlaybackLog log;
  ASSERT_EQ(device_record_file_start(h, first_.name.c_str(), &PlaybackLog::callback, &log), 1);
  ASSERT_TRUE(log.waitFor(first_.frames.size()));
  // An offset inside frame 2: the camera plays on from the next whole frame.
  const int32_t offset = static_cast<int32_t>(first_.offsets[2] + 10);
  ASSERT_EQ(device_record_file_set_pos(h, offset), 1);
  ASSERT_TRUE(log.waitFor(first_.frames.size() + 2));
  std::this_thread::sleep_for(100ms);

  auto expected = first_.frames;
  expected.push_back(first_.frames[3]);
  expected.push_back(first_.frames[4]);
  EXPECT_EQ(log.frames(), expected);
  EXPECT_EQ(line(0), "GET /livestream.cgi?user=viewer&pwd=secret&streamid=4&filename=" + first_.name +
                         "&offset=0 HTTP/1.1\r\n");
  EXPECT_EQ(line(1), "GET /livestream.cgi?user=viewer&pwd=secret&streamid=4&filename=" + first_.name +
                         "&offset=" + std::to_string(offset) + " HTTP/1.1\r\n");
  EXPECT_EQ(device_record_file_stop(h), 1);
}

TEST_F(RecordFilesTest, ABlockingCallbackPacesPlaybackWithoutLosingFrames) {
  DeviceHandle h = link();
  PlaybackLog log;
  log.delayMs = 40;
  ASSERT_EQ(device_record_file_start(h, later_.name.c_str(), &PlaybackLog::callback, &log), 1);
  ASSERT_TRUE(log.waitFor(later_.frames.size()));
  EXPECT_EQ(log.frames(), later_.frames);
}

TEST_F(RecordFilesTest, SetPosBeforeStartAsksForTheEmptyName) {
  DeviceHandle h = link();
  EXPECT_EQ(device_record_file_stop(h), 1);  // nothing plays
  ASSERT_EQ(device_record_file_set_pos(h, 100), 1);
  ASSERT_TRUE(camera_->waitForRequests(1, 5000));
  EXPECT_EQ(line(0), "GET /livestream.cgi?user=viewer&pwd=secret&streamid=4&filename=&offset=100 HTTP/1.1\r\n");
  EXPECT_EQ(device_record_file_stop(h), 1);
  EXPECT_EQ(device_record_file_stop(h), 1);
}

TEST_F(RecordFilesTest, PlaybackThatCannotBeRequestedReturnsZero) {
  DeviceHandle h = link();
  PlaybackLog log;
  EXPECT_EQ(device_record_file_start(h, "a b.h264", &PlaybackLog::callback, &log), 0);
  EXPECT_EQ(device_record_file_start(h, "a.h264\r\nX-Injected: 1", &PlaybackLog::callback, &log), 0);
  // The name is kept to 127 bytes, and the request to its 512-byte buffer.
  const std::string longName(300, 'n');
  EXPECT_EQ(device_record_file_start(h, longName.c_str(), &PlaybackLog::callback, &log), 0);
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(camera_->requests().empty());

  // And a camera that is not there.
  DeviceHandle away = linkTo("127.0.0.1", 1);
  EXPECT_EQ(device_record_file_start(away, first_.name.c_str(), &PlaybackLog::callback, &log), 0);
  EXPECT_EQ(device_record_file_set_pos(away, 0), 0);
  EXPECT_EQ(device_record_file_stop(away), 1);
}

TEST_F(RecordFilesTest, AListCallbackCannotStartTheNextSearch) {
  static DeviceHandle handle = nullptr;
  static std::atomic<int32_t> nested{-7};
  handle = link();
  ASSERT_EQ(device_record_file_search_list(
                handle, 2026, 1, 1, 0, 0, 0, 2026, 1, 1, 23, 59, 59,
                [](const char*, const char*, int32_t, void*) {
                  nested = device_record_file_search_list(handle, 2026, 1, 1, 0, 0, 0, 2026, 1, 1, 23, 59, 59,
                                                          nullptr, nullptr);
                },
                nullptr),
            1);
  for (int i = 0; i < 500 && nested.load() == -7; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(nested.load(), 0);
  // The link is still usable afterwards.
  RecordLog log;
  ASSERT_EQ(search(handle, kNewYearsDay, log), 1);
  EXPECT_TRUE(log.waitFor(2));
}

// The clock never moves: the destroy cannot be waiting out the reader's
// time limits, it ends the exchange.
TEST_F(RecordFilesTest, DestroyDuringAWithheldListingIsPrompt) {
  ManualClock& clock = manualClock();
  DeviceHandle h = link();
  RecordLog log;
  camera_->pushFault({camsim::FaultKind::Silent, 0});
  ASSERT_EQ(search(h, kNewYearsDay, log), 1);
  ASSERT_TRUE(camera_->waitForRequests(1, 5000));
  ASSERT_TRUE(clock.waitForSleepers(2));  // the resolver, and the search's reader
  destroy(h);
  EXPECT_EQ(clock.sleepers(), 0);
  EXPECT_TRUE(log.entries().empty());
}

}  // namespace
}  // namespace tavolen::test
