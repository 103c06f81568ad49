// CWaveOut on a machine without any sound card.
#include <gtest/gtest.h>

#include <vector>

#include "player/wave_out.h"
#include "sound_rig.h"

namespace tavolen {
namespace {

class WaveOutNoCard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { test::useAlsaWithoutCard(); }
};

TEST_F(WaveOutNoCard, OpenFailsAndTheRestStaysHarmless) {
  CWaveOut out;
  std::vector<int16_t> pcm(1024, 1);
  EXPECT_EQ(out.openOutput(), 0);
  EXPECT_EQ(out.openOutput(), 0);  // tried again, still nothing
  out.queuePcm(2048, pcm.data());
  EXPECT_EQ(out.queuedChunks(), 1u);
  EXPECT_EQ(out.closeOutput(), 1);
}

}  // namespace
}  // namespace tavolen
