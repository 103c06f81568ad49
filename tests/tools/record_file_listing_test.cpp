// The host object's SD-card listing against the substitute camera, whose
// recordings camsim makes itself.
#include "record_file_listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "camsim.h"
#include "recording_maker.h"

namespace {

using tavolen::host::CameraAccount;
using tavolen::host::listRecordFiles;

class RecordFileListing : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("tavolen-listing-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::string error;
    const camsim::Profile small{1, 160, 96, 25, true, 0};
    ASSERT_TRUE(camsim::makeRecordings(folder_.string(), small, 2, 1, 0, error)) << error;
    camsim::Config config;
    config.camera.recordFolder = folder_.string();
    server_ = std::make_unique<camsim::Server>(config);
    ASSERT_TRUE(server_->start());
    camera_ = {"admin", "", "127.0.0.1", server_->port()};
  }
  void TearDown() override {
    if (server_) server_->stop();
    std::filesystem::remove_all(folder_);
  }

  std::filesystem::path folder_;
  std::unique_ptr<camsim::Server> server_;
  CameraAccount camera_;
};

TEST_F(RecordFileListing, ListsTheRecordingsOfTheirDayWithTheirSizes) {
  // The files are named after their local start time; list the last one's day.
  std::vector<std::filesystem::directory_entry> files(std::filesystem::directory_iterator(folder_), {});
  ASSERT_EQ(files.size(), 2u);
  std::sort(files.begin(), files.end());
  const std::string last = files.back().path().filename().string();
  ASSERT_EQ(last.size(), std::string("YYYYMMDDhhmmss.h264").size()) << last;
  const int year = std::stoi(last.substr(0, 4)), month = std::stoi(last.substr(4, 2)), day = std::stoi(last.substr(6, 2));

  const auto listed = listRecordFiles(camera_, year, month, day);
  ASSERT_TRUE(listed.has_value());
  size_t sameDay = 0;
  for (const auto& f : files) {
    const std::string name = f.path().filename().string();
    if (name.compare(0, 8, last, 0, 8) != 0) continue;
    ++sameDay;
    const auto found = std::find_if(listed->begin(), listed->end(), [&](const auto& row) { return row.name == name; });
    ASSERT_NE(found, listed->end()) << name;
    EXPECT_EQ(found->size, static_cast<int32_t>(f.file_size()));
  }
  EXPECT_EQ(listed->size(), sameDay);

  const auto empty = listRecordFiles(camera_, 2020, 1, 1);
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty->empty());
}

TEST_F(RecordFileListing, RefusesWhatIsNoDayOrDoesNotFitTheLink) {
  struct Case {
    const char* what;
    int year, month, day;
    std::string user;
  };
  const Case cases[] = {
      {"29 February of a common year", 2025, 2, 29, "admin"},
      {"month 13", 2025, 13, 1, "admin"},
      {"day 0", 2025, 1, 0, "admin"},
      {"before 1970", 1969, 12, 31, "admin"},
      {"after 2037", 2038, 1, 1, "admin"},
      {"a user longer than the link's field", 2025, 1, 1, std::string(64, 'u')},
  };
  for (const Case& c : cases) {
    CameraAccount camera = camera_;
    camera.user = c.user;
    EXPECT_FALSE(listRecordFiles(camera, c.year, c.month, c.day).has_value()) << c.what;
  }
  // 29 February of a leap year is a day.
  EXPECT_TRUE(listRecordFiles(camera_, 2024, 2, 29).has_value());
}

TEST_F(RecordFileListing, GivesUpOnACameraThatDoesNotAnswer) {
  server_->setStandingFault({camsim::FaultKind::Silent, 0});
  EXPECT_FALSE(listRecordFiles(camera_, 2025, 1, 1, std::chrono::milliseconds(200)).has_value());
  // The camera answers again: a new listing works, nothing was left behind.
  server_->setStandingFault({});
  EXPECT_TRUE(listRecordFiles(camera_, 2025, 1, 1).has_value());
}

}  // namespace
