// Link reports on the UI thread: stream-lost notices, alarm captions in slots
// 2 and 3 with their 30 s timers on the test clock, what fires nothing, and
// the LAN search's reports.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "control/camera_view.h"
#include "link/lan_search.h"
#include "view_support.h"
#include "support/wait_until.h"

namespace {

using namespace ctltest;
using namespace tavolen;

class Alarms : public ViewFixture {
 protected:
  void SetUp() override {
    ViewFixture::SetUp();
    ASSERT_EQ(play(), 0);
    ASSERT_TRUE(log.waitForNotify(NOTIFY_STREAM_LOST));
    ASSERT_TRUE(waitForPictures(1));
    log.clear();
    notes.clear();
  }
  // What the link would report, on a thread of its own.
  void linkReports(int32_t code) {
    void* view = &ctrl().view();
    std::thread([&] { CameraView::linkEvent(code, view); }).join();
  }
  std::vector<std::pair<int32_t, int32_t>> settled() {
    flush(control);
    return log.notifies();
  }
  using Notes = std::vector<std::pair<int32_t, int32_t>>;
};

TEST_F(Alarms, MotionCaptionLastsThirtySeconds) {
  camera->sendStatus(FRAME_MOTION_ALARM);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_MOTION_ALARM));
  flush(control);
  const auto set = notes.calls("setOsdString");
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].slot, 2);
  EXPECT_TRUE(sameItem(set[0].item, expectedItem(5, 45, 165, 75, "[Motion Alarm]", 0, 11, 255)));

  clock.advance(29999);
  EXPECT_EQ(settled(), (Notes{{3, 0}}));
  clock.advance(1);
  EXPECT_EQ(settled(), (Notes{{3, 0}, {5, 0}}));
  ASSERT_EQ(notes.calls("removeOsdstring").size(), 1u);
  EXPECT_EQ(notes.calls("removeOsdstring")[0].slot, 2);
  clock.advance(60000);
  EXPECT_EQ(settled(), (Notes{{3, 0}, {5, 0}}));
}

TEST_F(Alarms, NewerOtherAlarmReplacesTheCaptionAndRestartsTheTimer) {
  camera->sendStatus(FRAME_GPIO_ALARM);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_ALARM));
  clock.advance(20000);
  camera->sendStatus(FRAME_SOUND_ALARM);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_ALARM, 2));
  const auto set = notes.calls("setOsdString");
  ASSERT_EQ(set.size(), 2u);
  EXPECT_TRUE(sameItem(set[0].item, expectedItem(165, 45, 325, 75, "[GPIO Alarm]", 0, 12, 255)));
  EXPECT_EQ(set[1].slot, 3);
  EXPECT_TRUE(sameItem(set[1].item, expectedItem(165, 45, 325, 75, "[Sound Alarm]", 0, 12, 255)));
  clock.advance(10000);  // 30 s after the first
  EXPECT_EQ(settled(), (Notes{{4, 0}, {4, 0}}));
  clock.advance(20000);  // 30 s after the second
  EXPECT_EQ(settled(), (Notes{{4, 0}, {4, 0}, {6, 0}}));
  clock.advance(30000);
  EXPECT_EQ(settled(), (Notes{{4, 0}, {4, 0}, {6, 0}}));
}

TEST_F(Alarms, EndReportStopsTheTimer) {
  camera->sendStatus(FRAME_MOTION_ALARM);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_MOTION_ALARM));
  clock.advance(10000);
  camera->sendStatus(FRAME_MOTION_ALARM_CLEAR);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_MOTION_ALARM_END));
  camera->sendStatus(FRAME_GPIO_ALARM_CLEAR);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_ALARM_END));
  clock.advance(60000);
  EXPECT_EQ(settled(), (Notes{{3, 0}, {5, 0}, {6, 0}}));
  const auto removed = notes.calls("removeOsdstring");
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(removed[0].slot, 2);
  EXPECT_EQ(removed[1].slot, 3);
}

TEST_F(Alarms, SensorCaptionsFireOnlyTheirEnd) {
  struct Case {
    uint8_t code;
    const char* caption;
  } cases[] = {
      {64, "[Remote Control 1]"}, {67, "[Remote Control 4]"}, {70, "[DoorBell 3]"}, {72, "[Hall 1]"},
      {77, "[Window 2]"},         {83, "[Balcony 4]"},        {84, "[Bedroom 1]"},  {90, "[Courtyard 3]"},
      {95, "[Other 4]"},
  };
  for (const Case& c : cases) {
    notes.clear();
    log.clear();
    camera->sendStatus(c.code);
    tavolen::test::waitUntil([&] { return !notes.calls("setOsdString").empty(); });
    const auto set = notes.calls("setOsdString");
    ASSERT_EQ(set.size(), 1u) << int(c.code);
    EXPECT_EQ(set[0].slot, 3);
    EXPECT_TRUE(sameItem(set[0].item, expectedItem(165, 45, 325, 75, c.caption, 0, 12, 255))) << c.caption;
    EXPECT_TRUE(settled().empty()) << int(c.code);
    clock.advance(30000);
    EXPECT_EQ(settled(), (Notes{{6, 0}})) << int(c.code);
  }
}

TEST_F(Alarms, OnlyTheLowSixteenBitsCountAndOtherCodesDoNothing) {
  linkReports(65536 + 32);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_MOTION_ALARM));
  EXPECT_EQ(notes.calls("setOsdString").at(0).slot, 2);
  log.clear();
  notes.clear();
  for (int32_t code : {101, 5, 36, 63, 96, 200, 223, 225, 65536 + 101, -1}) linkReports(code);
  EXPECT_TRUE(settled().empty());
  EXPECT_TRUE(notes.calls("").empty());
  linkReports(100);  // connected: nothing either
  linkReports(0x10000);  // low bits 0: stream lost
  ASSERT_TRUE(log.waitForNotify(NOTIFY_STREAM_LOST));
  EXPECT_EQ(settled(), (Notes{{2, 0}}));
}

TEST_F(Alarms, AfterStopVideoNoticesStillFireButNoCaptionOrTimer) {
  void* view = &ctrl().view();
  ASSERT_EQ(callI4(control, "StopVideo"), 0);
  notes.clear();
  CameraView::linkEvent(LinkEventMotionAlarm, view);
  CameraView::linkEvent(LinkEventGpioAlarm, view);
  CameraView::linkEvent(LinkEventMotionAlarmClear, view);
  EXPECT_EQ(settled(), (Notes{{3, 0}, {4, 0}, {5, 0}}));
  EXPECT_TRUE(notes.calls("").empty());
  bool timers = true;
  ctrl().ui().call([&] { timers = ctrl().ui().timerRunning(1023) || ctrl().ui().timerRunning(1024); });
  EXPECT_FALSE(timers);
}

TEST_F(Alarms, StopVideoKillsTheAlarmTimers) {
  camera->sendStatus(FRAME_MOTION_ALARM);
  camera->sendStatus(FRAME_GPIO_ALARM);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_ALARM));
  ASSERT_TRUE(log.waitForNotify(NOTIFY_MOTION_ALARM));
  ASSERT_EQ(callI4(control, "StopVideo"), 0);
  clock.advance(30000);
  EXPECT_EQ(settled().size(), 2u);
}

// --- LAN search ---

// A camera's answer, sent to the control's search socket from loopback.
void answer(const std::string& ip, uint16_t port, const std::string& name) {
  uint8_t datagram[4 + SEARCH_REPLY_COPY_SIZE] = {'D', 'H', 0x01, 0x08};
  uint8_t* record = datagram + 4;
  std::memcpy(record, ip.data(), ip.size());
  record[SEARCH_REPLY_PORT_OFFSET] = static_cast<uint8_t>(port & 0xFF);
  record[SEARCH_REPLY_PORT_OFFSET + 1] = static_cast<uint8_t>(port >> 8);
  std::memcpy(record + SEARCH_REPLY_NAME_OFFSET, name.data(), name.size());
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(lanSearchLocalPort());
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  ::sendto(fd, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  ::close(fd);
}

class Search : public ::testing::Test {
 protected:
  // The request goes to a loopback port nobody answers; the answers come
  // from the test.
  EnvOverride destination{"TAVOLEN_SEARCH_ADDRESS", "127.0.0.1:9"};
  ScratchFolder dir;
  EnvOverride settings{"TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini")};
  FakeClock clock;

  struct Control {
    EventLog log;
    TavolenControl* handle = nullptr;
    TavolenWindow* window = nullptr;
  };
  void make(Control& c) {
    c.handle = createControl(c.log, clock);
    c.window = tavolen_window_create_offscreen(64, 48);
    ASSERT_EQ(tavolen_control_create_window(c.handle, c.window), 1);
  }
  void destroy(Control& c) {
    tavolen_control_destroy(c.handle);
    tavolen_window_destroy(c.window);
  }
  // Answers until the control has reported count cameras (datagrams on
  // loopback are not lost, but the first may beat the search request).
  static std::vector<Event> reports(Control& c, size_t count) {
    c.log.waitFor([&](const std::vector<Event>& e) {
      size_t n = 0;
      for (const Event& x : e) n += x.dispid == TAVOLEN_DISPID_ONCAMERASEARCHED;
      return n >= count;
    });
    flush(c.handle);
    return c.log.searched();
  }
};

TEST_F(Search, EachCameraOncePerSearch) {
  Control c;
  make(c);
  call(c.handle, "OnSearchCameras");
  ASSERT_NE(lanSearchLocalPort(), 0);
  answer("192.0.2.10", 8080, "Porch \xE9\x97\xA8");
  answer("192.0.2.10", 8080, "Porch \xE9\x97\xA8");  // the same camera again
  answer("192.0.2.11", 81, "Yard");
  auto found = reports(c, 2);
  answer("192.0.2.10", 8080, "Porch");
  flush(c.handle);
  found = c.log.searched();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].i4, (std::vector<int32_t>{0, 8080, 8080, 8080, 1}));
  EXPECT_EQ(found[0].texts, (std::vector<std::u16string>{u"Porch \u95e8", u"192.0.2.10"}));
  EXPECT_EQ(found[1].i4, (std::vector<int32_t>{0, 81, 81, 81, 1}));
  EXPECT_EQ(found[1].texts, (std::vector<std::u16string>{u"Yard", u"192.0.2.11"}));

  // A new search reports it again.
  call(c.handle, "OnSearchCameras");
  answer("192.0.2.10", 8080, "Porch");
  found = reports(c, 3);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[2].texts[1], u"192.0.2.10");
  destroy(c);
}

TEST_F(Search, AControlThatNeverSearchedHearsNothing) {
  Control quiet;
  Control searching;
  make(quiet);
  make(searching);
  call(searching.handle, "OnSearchCameras");
  answer("192.0.2.20", 80, "Cam");
  ASSERT_EQ(reports(searching, 1).size(), 1u);
  flush(quiet.handle);
  EXPECT_TRUE(quiet.log.all().empty());
  destroy(quiet);
  destroy(searching);
}

TEST_F(Search, DestroyingOneOfTwoControlsLeavesTheOtherASearch) {
  Control a;
  Control b;
  make(a);
  make(b);
  call(a.handle, "OnSearchCameras");
  destroy(a);
  ASSERT_NE(lanSearchLocalPort(), 0);
  call(b.handle, "OnSearchCameras");
  answer("192.0.2.30", 80, "Still here");
  ASSERT_EQ(reports(b, 1).size(), 1u);
  destroy(b);
  EXPECT_EQ(lanSearchLocalPort(), 0);  // the last one shut it down
}

TEST_F(Search, SearchShutDownFromOutsideIsMadeAgain) {
  Control c;
  make(c);
  device_broadcast_unInitialization();
  ASSERT_EQ(lanSearchLocalPort(), 0);
  call(c.handle, "OnSearchCameras");
  ASSERT_NE(lanSearchLocalPort(), 0);
  answer("192.0.2.40", 80, "Back");
  EXPECT_EQ(reports(c, 1).size(), 1u);
  destroy(c);
}

TEST(SearchWithCamera, TheSubstituteCameraAnswers) {
  // The camera answers on its own loopback address; the request goes there.
  EnvOverride destination("TAVOLEN_SEARCH_ADDRESS", "127.0.0.61:8600");
  ScratchFolder dir;
  EnvOverride settings("TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini"));
  camsim::Config config;
  config.camera.searchAnswer = true;
  config.camera.searchBind = "127.0.0.61";
  config.camera.searchIp = "127.0.0.61";
  config.camera.name = "camsim-porch";
  camsim::Server camera(config);
  ASSERT_TRUE(camera.start());
  FakeClock clock;
  EventLog log;
  TavolenControl* control = createControl(log, clock);
  TavolenWindow* window = tavolen_window_create_offscreen(64, 48);
  ASSERT_EQ(tavolen_control_create_window(control, window), 1);
  call(control, "OnSearchCameras");
  ASSERT_TRUE(log.waitFor([](const std::vector<Event>& e) { return !e.empty(); }));
  flush(control);
  const auto found = log.searched();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].texts, (std::vector<std::u16string>{u"camsim-porch", u"127.0.0.61"}));
  EXPECT_EQ(found[0].i4[1], camera.port());
  tavolen_control_destroy(control);
  tavolen_window_destroy(window);
}

}  // namespace
