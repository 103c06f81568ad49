// The volume and mute exports against the rig's sound server, checked both
// through the exports and through the server's own view.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/mixer.h"
#include "sound_rig.h"
#include "tavolen/player.h"

namespace tavolen {
namespace {

using platform::MixerControlType;
using platform::MixerLine;

struct Line {
  const char* name;
  MixerLine line;
  int32_t (*setVolume)(int32_t);
  int32_t (*getVolume)();
  int32_t (*setMute)(int32_t);
  int32_t (*getMute)();
  const char* pactlVolume;  // the server's view of the same line
  const char* pactlMute;
};

const Line kLines[] = {
    {"speakers", MixerLine::Speakers, x_player_setPlayVolume, x_player_getPlayVolume, x_player_setMute,
     x_player_getMute, "pactl get-sink-volume @DEFAULT_SINK@", "pactl get-sink-mute @DEFAULT_SINK@"},
    {"microphone", MixerLine::Microphone, x_player_setMicPlayVolume, x_player_getMicPlayVolume,
     x_player_setMicMute, x_player_getMicMute, "pactl get-source-volume @DEFAULT_SOURCE@",
     "pactl get-source-mute @DEFAULT_SOURCE@"},
};

void PrintTo(const Line& l, std::ostream* os) { *os << l.name; }

// The raw volume the server reports for a mono line ("Volume: mono: 32768 / ...").
long serverVolume(const Line& l) {
  const std::string out = test::commandOutput(l.pactlVolume);
  long v = -1;
  const auto at = out.find("mono:");
  if (at != std::string::npos) std::sscanf(out.c_str() + at, "mono: %ld", &v);
  return v;
}

bool serverMuted(const Line& l) { return test::commandOutput(l.pactlMute).find("yes") != std::string::npos; }

int32_t volumeMaximum(MixerLine line) {
  auto mixer = platform::openMixer();
  if (!mixer) return -1;
  auto control = mixer->findControl(line, MixerControlType::Volume);
  return control ? control->maximum : -1;
}

class MixerRig : public ::testing::TestWithParam<Line> {
 protected:
  void SetUp() override { TAVOLEN_REQUIRE_SOUND_RIG(); }
  void TearDown() override {
    // Leave the server as the other sound tests expect it.
    GetParam().setVolume(100);
    GetParam().setMute(0);
  }
};

TEST_P(MixerRig, VolumeRoundTrips) {
  const Line& l = GetParam();
  const int32_t max = volumeMaximum(l.line);
  ASSERT_GT(max, 0);
  struct Case {
    int32_t set;
    int32_t get;
  };
  const Case cases[] = {
      {100, 100},
      {0, 0},
      // Truncated both ways: 50 x max / 100, and back x 100 / max.
      {50, static_cast<int32_t>(static_cast<int64_t>(50 * static_cast<int64_t>(max) / 100) * 100 / max)},
      {33, static_cast<int32_t>(static_cast<int64_t>(33 * static_cast<int64_t>(max) / 100) * 100 / max)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(l.setVolume(c.set), 0) << c.set;
    EXPECT_EQ(l.getVolume(), c.get) << c.set;
    EXPECT_EQ(serverVolume(l), static_cast<int64_t>(c.set) * max / 100) << c.set;
  }
}

TEST_P(MixerRig, VolumeOutsideTheRangeIsRefusedAndChangesNothing) {
  const Line& l = GetParam();
  ASSERT_EQ(l.setVolume(100), 0);
  const long before = serverVolume(l);
  for (int32_t v : {101, 150, -1, 100000000}) {
    EXPECT_EQ(l.setVolume(v), TAVOLEN_E_FAIL) << v;
    EXPECT_EQ(serverVolume(l), before) << v;
  }
  EXPECT_EQ(l.getVolume(), 100);
}

TEST_P(MixerRig, MuteRoundTrips) {
  const Line& l = GetParam();
  EXPECT_EQ(l.setMute(1), 0);
  EXPECT_EQ(l.getMute(), 1);
  EXPECT_TRUE(serverMuted(l));
  EXPECT_EQ(l.setMute(0), 0);
  EXPECT_EQ(l.getMute(), 0);
  EXPECT_FALSE(serverMuted(l));
  EXPECT_EQ(l.setMute(7), 0);  // any non-zero value mutes
  EXPECT_EQ(l.getMute(), 1);
  // Muting leaves the volume alone.
  EXPECT_EQ(l.setVolume(100), 0);
  EXPECT_EQ(l.getVolume(), 100);
  EXPECT_EQ(l.getMute(), 1);
}

INSTANTIATE_TEST_SUITE_P(Lines, MixerRig, ::testing::ValuesIn(kLines),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavolen
