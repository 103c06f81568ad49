// Talk and mixer on a machine without any sound card: every call gives its
// failure result, nothing hangs and nothing is left running.
#include <gtest/gtest.h>

#include "audio/wave_in.h"
#include "sound_rig.h"
#include "tavolen/player.h"

namespace tavolen {
namespace {

int32_t ignoreTalk(const uint8_t*, int32_t, void*) { return 0; }

class NoCard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::useAlsaWithoutCard(); }
};

TEST_F(NoCard, MixerCallsFail) {
  struct Case {
    const char* call;
    int32_t (*fn)();
    int32_t result;
  };
  const Case cases[] = {
      {"setPlayVolume", [] { return x_player_setPlayVolume(50); }, TAVOLEN_E_FAIL},
      {"getPlayVolume", x_player_getPlayVolume, -1},
      {"setMute", [] { return x_player_setMute(1); }, TAVOLEN_E_FAIL},
      {"getMute", x_player_getMute, 0},
      {"setMicPlayVolume", [] { return x_player_setMicPlayVolume(50); }, TAVOLEN_E_FAIL},
      {"getMicPlayVolume", x_player_getMicPlayVolume, -1},
      {"setMicMute", [] { return x_player_setMicMute(0); }, TAVOLEN_E_FAIL},
      {"getMicMute", x_player_getMicMute, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.fn(), c.result) << c.call;
}

TEST_F(NoCard, TalkDoesNotStart) {
  CWaveIn talk;
  EXPECT_EQ(talk.startDualTalk(nullptr, nullptr), 0);
  EXPECT_EQ(talk.startDualTalk(&ignoreTalk, nullptr), 0);
  // The capture thread started for it is stopped again.
  EXPECT_FALSE(talk.threadRunning());
  EXPECT_FALSE(talk.capturing());
  EXPECT_NE(talk.lastResult(), 0);
  EXPECT_EQ(talk.stopDualTalk(), 1);

  DualtalkHandle h = x_player_createDualtalkInstance();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(x_player_StartDualTalk(h, nullptr, nullptr), 0);
  EXPECT_EQ(x_player_StartDualTalk(h, &ignoreTalk, nullptr), 0);
  EXPECT_EQ(x_player_StopDualTalk(h), 1);
  EXPECT_EQ(x_player_destroyDualtalkInstance(h), 1);
}

}  // namespace
}  // namespace tavolen
