// A live view through control.h against the substitute camera: the picture,
// the captions, one stream-lost notice per PlayVideo, the result table before
// and during a view, snapshots, recording, alias, flip and StopVideo.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "control/camera_view.h"
#include "link/device_list.h"
#include "link/net_device.h"
#include "link/netns_lab.h"
#include "view_support.h"
#include "support/wait_until.h"

namespace {

using namespace ctltest;
using namespace tavolen;
namespace fs = std::filesystem;

int count(const std::vector<std::pair<int32_t, int32_t>>& notes, int32_t type) {
  int n = 0;
  for (auto [t, p] : notes)
    if (t == type) ++n;
  return n;
}

TEST_F(ViewFixture, LiveViewEndToEnd) {
  ASSERT_EQ(play(), 0);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_STREAM_LOST));
  ASSERT_TRUE(waitForPictures(10));
  const Pixels p = readPixels(window);
  EXPECT_GT(p.count(40, 40, 280, 200, [](uint32_t c) { return c != 0; }), 1000) << "no picture";

  EXPECT_EQ(callI4(control, "SetOsd", {text("Porch \xE9\x97\xA8")}), 0);
  const auto sent = notes.calls("setOsdString");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].slot, 0);
  EXPECT_TRUE(sameItem(sent[0].item, expectedItem(5, 5, 325, 35, "Porch \xE9\x97\xA8", 0, 10, 0)));
  EXPECT_EQ(sent[1].slot, 1);
  EXPECT_TRUE(sameItem(sent[1].item, expectedItem(5, 25, 325, 55, "", 1, 13, 0)));
  ASSERT_TRUE(waitForPictures(20));

  // The camera answered at once and kept streaming: one notice, not more.
  flush(control);
  EXPECT_EQ(count(log.notifies(), NOTIFY_STREAM_LOST), 1);
  EXPECT_EQ(log.notifies().front(), std::make_pair(2, 0));
  EXPECT_EQ(callI4(control, "StopVideo"), 0);
  EXPECT_EQ(play(), 0);
  ASSERT_TRUE(log.waitForNotify(NOTIFY_STREAM_LOST, 2));
}

// A camera whose picture is plain grey, so that drawn text stands out.
class GreyCamera : public ViewFixture {
 protected:
  void configure(camsim::Config& c) override {
    const std::string file = dir.file("grey.h264");
    const std::string command = "ffmpeg -loglevel error -y -f lavfi -i color=c=0x808080:s=640x360:r=25 -t 2 "
                                "-c:v libx264 -pix_fmt yuv420p -bf 0 -g 25 -f h264 '" + file + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    c.videoFile = file;
    c.profiles = {{3, 640, 360, 25, true, 0}};
  }
  // Pixels of the window region that are not the picture's grey.
  int textPixels(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return readPixels(window).count(left, top, right, bottom, [](uint32_t c) {
      const int r = c >> 16, g = (c >> 8) & 0xFF, b = c & 0xFF;
      return std::abs(r - 128) + std::abs(g - 128) + std::abs(b - 128) > 40;
    });
  }
};

TEST_F(GreyCamera, CaptionAndTimeStampAreDrawnOverThePicture) {
  ASSERT_EQ(play(), 0);
  ASSERT_TRUE(waitForPictures(3));
  // Inside the focus frame: the caption at the top left, the time at the
  // bottom right.
  EXPECT_EQ(textPixels(2, 2, 200, 60), 0);
  EXPECT_EQ(textPixels(120, 180, 318, 238), 0);
  ASSERT_EQ(callI4(control, "SetOsd", {text("TAVOLEN \xE5\x8D\xA1 CAPTION")}), 0);
  ASSERT_TRUE(waitForPictures(8));
  EXPECT_GT(textPixels(2, 2, 200, 60), 100);
  EXPECT_GT(textPixels(120, 180, 318, 238), 100);
  ASSERT_EQ(callI4(control, "RemoveOsd"), 0);
  ASSERT_TRUE(waitForPictures(13));
  EXPECT_EQ(textPixels(2, 2, 200, 60), 0);
  EXPECT_EQ(textPixels(120, 180, 318, 238), 0);
}

TEST_F(ViewFixture, ResultsBeforeAndDuringAView) {
  struct Step {
    const char* method;
    std::vector<TavolenVariant> args;
    int32_t result;
  };
  const std::vector<Step> idle = {
      {"OpenSound", {}, -1},   {"CloseSound", {}, -1}, {"StopRecord", {}, -1},  {"CapturePic", {}, -1},
      {"StartRecord", {}, -1}, {"SetAlias", {text("x")}, -1}, {"StopTalk", {}, -1},
      {"SetOsd", {text("x")}, 0}, {"RemoveOsd", {}, 0}, {"SetFlip", {i4(1)}, 0}, {"StopVideo", {}, 0},
      {"SdRecordFileStop", {}, 0}, {"SdRecordFileSetPos", {i4(100)}, 0},
  };
  for (const Step& s : idle) EXPECT_EQ(callI4(control, s.method, s.args), s.result) << "idle " << s.method;
  EXPECT_TRUE(notes.calls("").empty()) << "no player may exist while idle";

  ASSERT_EQ(play(), 0);
  const std::vector<Step> viewing = {
      {"PlayVideo", {text("viewer"), text("secret"), text("127.0.0.1"), i4(camera->port()), i4(3), i4(0)}, 1},
      {"SdRecordFilePlay", {text("viewer"), text("secret"), text("127.0.0.1"), i4(camera->port()), text("a.rec"), i4(3)}, -1},
      {"CloseSound", {}, 0},  {"StartRecord", {}, 0}, {"StopRecord", {}, 0},  {"CapturePic", {}, 0},
      {"SetFlip", {i4(2)}, 0}, {"SetOsd", {text("y")}, 0}, {"RemoveOsd", {}, 0}, {"SetAlias", {text("Porch")}, 0},
  };
  for (const Step& s : viewing) EXPECT_EQ(callI4(control, s.method, s.args), s.result) << "viewing " << s.method;
  EXPECT_EQ(notes.kinds().size(), 1u) << "the second PlayVideo made a player";
  EXPECT_EQ(notes.calls("setRenderEffect").front().value, 2);
  EXPECT_EQ(notes.calls("removeOsdstring").size(), 2u);

  // State properties follow the operations; StopVideo clears them all.
  EXPECT_EQ(callI4(control, "StartRecord"), 0);
  EXPECT_EQ(get(control, "RecordState").i4, 1);
  EXPECT_EQ(callI4(control, "StopRecord"), 0);
  EXPECT_EQ(get(control, "RecordState").i4, 0);
  EXPECT_EQ(callI4(control, "StartRecord"), 0);
  EXPECT_EQ(put(control, "TalkState", i4(1)).hr, TAVOLEN_S_OK);
  EXPECT_EQ(put(control, "VideoState", i4(1)).hr, TAVOLEN_S_OK);
  EXPECT_EQ(callI4(control, "StopVideo"), 0);
  for (const char* state : {"SoundState", "TalkState", "RecordState", "VideoState"})
    EXPECT_EQ(get(control, state).i4, 0) << state;
  for (const Step& s : idle) EXPECT_EQ(callI4(control, s.method, s.args), s.result) << "after " << s.method;
}

TEST_F(ViewFixture, PlayVideoWithoutAnIpStartsNothing) {
  EXPECT_EQ(callI4(control, "PlayVideo", {text("viewer"), text("secret"), text(""), i4(camera->port()), i4(3), i4(0)}), 0);
  EXPECT_TRUE(notes.kinds().empty());
  bool idle = false;
  ctrl().ui().call([&] { idle = !ctrl().view().link() && !ctrl().view().player(); });
  EXPECT_TRUE(idle);
  EXPECT_EQ(callI4(control, "OpenSound"), -1);
  EXPECT_EQ(play(), 0);
  EXPECT_TRUE(log.waitForNotify(NOTIFY_STREAM_LOST));
  EXPECT_EQ(notes.kinds(), std::vector<int32_t>{0});
}

TEST_F(ViewFixture, SnapshotNameAndTheCaptionSentAgain) {
  const std::string folder = dir.file("shots");
  fs::create_directories(folder);
  writeText(dir.file("Tavolen.ini"), "[PATH]\nSETPATH=" + folder + "\n");
  clock.setLocalTime({2024, 3, 5, 14, 7, 9, 42});

  EXPECT_EQ(callI4(control, "SetOsd", {text("lost")}), 0);  // no player: nothing kept
  ASSERT_EQ(play(), 0);
  EXPECT_EQ(callI4(control, "SetOsd", {text("Gate")}), 0);
  ASSERT_EQ(callI4(control, "StopVideo"), 0);
  ASSERT_EQ(play(), 0);
  ASSERT_TRUE(waitForPictures(3));
  notes.clear();
  EXPECT_EQ(callI4(control, "CapturePic"), 0);
  const auto calls = notes.calls("");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].op, "setOsdString");
  EXPECT_TRUE(sameItem(calls[0].item, expectedItem(5, 5, 325, 35, "Gate", 0, 10, 0)));
  EXPECT_EQ(calls[1].slot, 1);
  EXPECT_EQ(calls[2].op, "capturePicture");
  const std::string name = folder + "/127_0_0_1-20240305_140709_42.bmp";
  EXPECT_EQ(calls[2].text, name);
  ASSERT_TRUE(tavolen::test::waitUntil([&] { return fs::exists(name); }, 10000));
  EXPECT_EQ(readText(name).substr(0, 2), "BM");

  // RemoveOsd: the next snapshot sends no caption.
  EXPECT_EQ(callI4(control, "RemoveOsd"), 0);
  notes.clear();
  EXPECT_EQ(callI4(control, "CapturePic"), 0);
  EXPECT_EQ(notes.calls("setOsdString").size(), 0u);
}

TEST_F(ViewFixture, SnapshotAndRecordNeedTheFolderOfTheFile) {
  writeText(dir.file("Tavolen.ini"), "[PATH]\nSETPATH=\n");  // emptied after loading
  ASSERT_EQ(play(), 0);
  EXPECT_EQ(callI4(control, "StartRecord"), -1);
  EXPECT_EQ(callI4(control, "CapturePic"), -1);
  EXPECT_FALSE(get(control, "RecFilePath").text.empty());  // the property is not what counts
  EXPECT_TRUE(notes.calls("startlocalrecord").empty());
}

TEST_F(ViewFixture, RecordingTreeWithTheLimitsOfTheProperties) {
  const std::string folder = dir.file("rec");
  writeText(dir.file("Tavolen.ini"), "[PATH]\nSETPATH=" + folder + "\n");
  ASSERT_EQ(put(control, "RecFileLen", i4(10)).hr, TAVOLEN_S_OK);  // below the file's minimum
  ASSERT_EQ(put(control, "RecCover", i4(1)).hr, TAVOLEN_S_OK);
  ASSERT_EQ(play(), 0);
  ASSERT_TRUE(waitForPictures(2));
  ASSERT_EQ(callI4(control, "StartRecord"), 0);
  // Files below 32 KiB are not kept: record until it is past that.
  const auto aviBytes = [&] {
    uintmax_t most = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
      if (e.path().extension() == ".avi") most = std::max(most, e.file_size(ec));
    return most;
  };
  tavolen::test::waitUntil([&] { return aviBytes() >= 40000; }, 15000);
  ASSERT_EQ(callI4(control, "StopRecord"), 0);

  const auto started = notes.calls("startlocalrecord");
  ASSERT_EQ(started.size(), 1u);
  const RecordStartParams& r = started[0].record;
  EXPECT_EQ(std::string(r.recordPath), folder);
  EXPECT_EQ(std::string(r.deviceFolder), "127_0_0_1");
  EXPECT_EQ(r.fileLen, 10u);
  EXPECT_EQ(r.timeLen, 5u);
  EXPECT_EQ(r.reserved, 200u);
  EXPECT_EQ(r.cover, 1u);
  int avi = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.path().extension() == ".avi" && e.file_size() > 0) {
      ++avi;
      EXPECT_NE(e.path().string().find("/127_0_0_1/"), std::string::npos) << e.path();
    }
  EXPECT_EQ(avi, 1);
}

TEST_F(ViewFixture, AliasGoesToTheCamera) {
  ASSERT_EQ(play(), 0);
  EXPECT_EQ(callI4(control, "SetAlias", {text("Porch")}), 0);
  EXPECT_TRUE(tavolen::test::waitUntil([&] {
    for (const std::string& r : camera->requests())
      if (r.find("set_alias.cgi?") != std::string::npos && r.find("alias=Porch ") != std::string::npos) return true;
    return false;
  }));
}

TEST_F(ViewFixture, LongTextsAreCutAtCharacterBoundaries) {
  // 62 ASCII bytes then a 3-byte character: the user field keeps 62.
  const std::string user = std::string(62, 'u') + "\xE2\x82\xAC";
  const std::string caption = std::string(126, 'c') + "\xE2\x82\xAC";
  ASSERT_EQ(play(user, "secret"), 0);
  void* handle = nullptr;
  ctrl().ui().call([&] { handle = ctrl().view().link(); });
  {
    tavolen::DeviceList::Pin link = tavolen::deviceList().find(handle);
    ASSERT_TRUE(link);
    EXPECT_EQ(std::string(link->params().user), std::string(62, 'u'));
    EXPECT_EQ(std::string(link->params().host), "127.0.0.1");
  }
  EXPECT_EQ(callI4(control, "SetOsd", {text(caption)}), 0);
  EXPECT_EQ(std::string(notes.calls("setOsdString").at(0).item.text), std::string(126, 'c'));
}

TEST(DeviceTag, ReplacesSlashColonAndDot) {
  // The link would look the odd host up: keep that inside a private network.
  std::string whyNot;
  if (!tavolen::test::NetnsLab::enter(whyNot)) GTEST_SKIP() << whyNot;
  ScratchFolder dir;
  EnvOverride settings("TAVOLEN_SETTINGS_FILE", dir.file("Tavolen.ini"));
  FakeClock clock;
  EventLog log;
  TavolenControl* control = createControl(log, clock);
  TavolenWindow* window = tavolen_window_create_offscreen(64, 48);
  ASSERT_EQ(tavolen_control_create_window(control, window), 1);
  auto& ctrl = *static_cast<tavolen::CTavolenCtrl*>(static_cast<void*>(control));
  EXPECT_EQ(callI4(control, "PlayVideo", {text("u"), text("p"), text("10.0.0.7:81/live"), i4(81), i4(0), i4(0)}), 0);
  std::string tag;
  std::string host;
  ctrl.ui().call([&] {
    tag = ctrl.view().deviceTag();
    tavolen::DeviceList::Pin link = tavolen::deviceList().find(ctrl.view().link());
    if (link) host = link->params().host;
  });
  EXPECT_EQ(tag, "10_0_0_7_81_live");
  EXPECT_EQ(host, "10.0.0.7:81/live");
  tavolen_control_destroy(control);
  tavolen_window_destroy(window);
}

}  // namespace
