// Sound and talk of a live view through the test rig's sound server: the
// camera's audio stream played, the microphone's blocks reaching the camera,
// one capture however often StartTalk is called.
#include <gtest/gtest.h>

#include "control/camera_view.h"
#include "sound_rig.h"
#include "view_support.h"

namespace {

using namespace ctltest;
using namespace tavolen;
using tavolen::test::eventually;

bool requested(camsim::Server& camera, const std::string& what) {
  for (const std::string& r : camera.requests())
    if (r.find(what) != std::string::npos) return true;
  return false;
}

TEST_F(ViewFixture, SoundOnAndOff) {
  TAVOLEN_REQUIRE_SOUND_RIG();
  ASSERT_EQ(play(), 0);
  ASSERT_TRUE(waitForPictures(2));
  EXPECT_EQ(callI4(control, "OpenSound"), 0);
  EXPECT_EQ(get(control, "SoundState").i4, 1);
  EXPECT_TRUE(eventually([&] { return requested(*camera, "audiostream.cgi"); }, 10000));
  EXPECT_TRUE(eventually([] { return test::sinkInputCount() >= 1; }, 10000)) << "nothing played";
  EXPECT_EQ(callI4(control, "CloseSound"), 0);
  EXPECT_EQ(get(control, "SoundState").i4, 0);
  EXPECT_TRUE(eventually([] { return test::sinkInputCount() == 0; }, 10000));
}

TEST_F(ViewFixture, TalkReachesTheCameraThroughOneCapture) {
  TAVOLEN_REQUIRE_SOUND_RIG();
  test::MicFeeder mic(test::glidingTone(8000 * 4));
  ASSERT_TRUE(mic.started());
  ASSERT_EQ(play(), 0);
  ASSERT_TRUE(waitForPictures(1));
  EXPECT_EQ(callI4(control, "StartTalk"), 0);
  EXPECT_EQ(callI4(control, "StartTalk"), 0);
  EXPECT_EQ(get(control, "TalkState").i4, 1);
  EXPECT_TRUE(camera->waitForTalk(5, 10000));
  EXPECT_EQ(test::sourceOutputCount(), 1);
  for (const auto& packet : camera->talk()) EXPECT_EQ(packet.payload.size(), 256u);
  EXPECT_EQ(callI4(control, "StopTalk"), 0);
  EXPECT_EQ(get(control, "TalkState").i4, 0);
  EXPECT_EQ(callI4(control, "StopTalk"), -1);
  EXPECT_TRUE(eventually([] { return test::sourceOutputCount() == 0; }, 10000));
}

TEST_F(ViewFixture, TalkWithoutAViewAndStopVideoEndsIt) {
  TAVOLEN_REQUIRE_SOUND_RIG();
  test::MicFeeder mic(test::glidingTone(8000 * 2));
  EXPECT_EQ(callI4(control, "StartTalk"), 0);  // nothing to send to: blocks are dropped
  EXPECT_TRUE(eventually([] { return test::sourceOutputCount() == 1; }, 10000));
  EXPECT_EQ(callI4(control, "StopVideo"), 0);
  EXPECT_EQ(get(control, "TalkState").i4, 0);
  bool talking = true;
  ctrl().ui().call([&] { talking = ctrl().view().talking(); });
  EXPECT_FALSE(talking);
  EXPECT_EQ(callI4(control, "StopTalk"), -1);
}

}  // namespace
