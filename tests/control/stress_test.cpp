// Calls from several threads at once, in a random order, while the camera
// raises alarms and drops connections: nothing may crash, hang, leak or race
// (this suite runs under AddressSanitizer and ThreadSanitizer), and the
// control must still answer sensibly afterwards.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "control/camera_view.h"
#include "sound_rig.h"
#include "view_support.h"

namespace {

using namespace ctltest;
using namespace tavolen;

class Stress : public ViewFixture {
 protected:
  void configure(camsim::Config& c) override {
    c.camera.recordFolder = dir.file("card");
    std::filesystem::create_directories(c.camera.recordFolder);
    std::string rec;
    for (uint32_t i = 0; i < 40; ++i) {
      FrameHeader h{};
      h.magic = TAVOLEN_FRAME_MAGIC;
      h.frameType = i % 10 == 0 ? FRAME_H264_KEY : i % 3 == 0 ? FRAME_AUDIO_ADPCM : FRAME_H264_DELTA;
      h.timestamp = 1000 + i / 25;
      h.milliseconds = static_cast<uint16_t>(i % 25 * 40);
      h.payloadLength = h.frameType == FRAME_AUDIO_ADPCM ? 512 : 300;
      rec.append(reinterpret_cast<const char*>(&h), sizeof h);
      rec.append(h.payloadLength, static_cast<char>(i));
    }
    writeText(c.camera.recordFolder + "/a.rec", rec);
  }

  // One random call of the automation interface.
  void randomCall(std::mt19937& rng, TavolenControl* control) {
    const uint16_t port = camera->port();
    switch (rng() % 20) {
      case 0: call(control, "PlayVideo", {text("viewer"), text("secret"), text("127.0.0.1"), i4(port), i4(3), i4(0)}); break;
      case 1: call(control, "StopVideo"); break;
      case 2: call(control, "OpenSound"); break;
      case 3: call(control, "CloseSound"); break;
      case 4: call(control, "SetOsd", {text("caption " + std::to_string(rng() % 100))}); break;
      case 5: call(control, "RemoveOsd"); break;
      case 6: call(control, "CapturePic"); break;
      case 7: call(control, rng() % 2 ? "StartRecord" : "StopRecord"); break;
      case 8: call(control, "SdRecordFilePlay", {text("viewer"), text("secret"), text("127.0.0.1"), i4(port), text("a.rec"), i4(rng() % 2 ? 3 : 0)}); break;
      case 9: call(control, "SdRecordFileStop"); break;
      case 10: call(control, "SdRecordFileSetPos", {i4(static_cast<int32_t>(rng() % 20000))}); break;
      case 11: call(control, "SetAlias", {text("Porch")}); break;
      case 12: call(control, "SetFlip", {i4(static_cast<int32_t>(rng() % 4))}); break;
      case 13: put(control, "RecordState", i4(static_cast<int32_t>(rng() % 2))); break;
      case 14: get(control, "RecFilePath"); break;
      case 15: call(control, rng() % 2 ? "StartTalk" : "StopTalk"); break;
      case 16: call(control, "OnSearchCameras"); break;
      case 17: call(control, "SetRecordProperty", {i4(100), i4(5), i4(200), i4(0)}); break;
      case 18: call(control, "UpdataSize"); break;
      default: invoke(control, static_cast<int32_t>(rng() % 40), static_cast<int32_t>(rng() % 6), {text("x")});
    }
  }
};

TEST_F(Stress, RandomCallsFromSeveralThreadsRacingTheLink) {
  TAVOLEN_REQUIRE_SOUND_RIG();
  const uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  const std::string folder = dir.file("out");
  std::filesystem::create_directories(folder);
  writeText(dir.file("Tavolen.ini"), "[PATH]\nSETPATH=" + folder + "\n");
  // The sink calls back in now and then, as page script does.
  std::atomic<int> events{0};
  log.onEvent = [&](const Event&) {
    if (++events % 7 == 0) call(control, "GetVersion");
  };

  std::atomic<bool> done{false};
  std::thread camera([&] {
    std::mt19937 rng(seed ^ 0x5eed);
    const uint8_t kinds[] = {FRAME_MOTION_ALARM, FRAME_GPIO_ALARM, FRAME_MOTION_ALARM_CLEAR,
                             FRAME_GPIO_ALARM_CLEAR, FRAME_SOUND_ALARM, 70, FRAME_MAX_CONNECTIONS};
    while (!done) {
      this->camera->sendStatus(kinds[rng() % std::size(kinds)]);
      if (rng() % 10 == 0) this->camera->pushFault(camsim::Fault{camsim::FaultKind::CloseAfter, 5});
      clock.advance(rng() % 2 ? 30000 : 1000);
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  });
  std::vector<std::thread> callers;
  for (int t = 0; t < 3; ++t)
    callers.emplace_back([&, t] {
      std::mt19937 rng(seed + static_cast<uint32_t>(t));
      for (int i = 0; i < 120; ++i) randomCall(rng, control);
    });
  for (auto& c : callers) c.join();
  done = true;
  camera.join();

  // Still a working control.
  EXPECT_EQ(callI4(control, "StopVideo"), 0);
  for (const char* state : {"SoundState", "TalkState", "RecordState", "VideoState"})
    EXPECT_EQ(get(control, state).i4, 0) << state;
  EXPECT_EQ(callI4(control, "GetVersion"), 65536);
  EXPECT_EQ(play(), 0);
  EXPECT_TRUE(waitForPictures(1));
  log.onEvent = nullptr;
}

TEST_F(Stress, DestroyWhileOtherThreadsCall) {
  TAVOLEN_REQUIRE_SOUND_RIG();
  const uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int round = 0; round < 4; ++round) {
    std::vector<std::thread> callers;
    TavolenControl* target = control;
    for (int t = 0; t < 2; ++t)
      callers.emplace_back([&, t, target] {
        std::mt19937 rng(seed + static_cast<uint32_t>(round * 10 + t));
        // Calls on a control that goes away meanwhile fail cleanly.
        for (int i = 0; i < 30; ++i) randomCall(rng, target);
      });
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + round * 30));
    TavolenControl* old = control;
    tavolen_control_destroy(old);
    for (auto& c : callers) c.join();
    EXPECT_NE(invoke(old, 33, 1).hr, TAVOLEN_S_OK);
    control = createControl(log, clock);
    ASSERT_EQ(tavolen_control_create_window(control, window), 1);
  }
}

}  // namespace
