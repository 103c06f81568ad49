// listen: the camera's sound on the speakers, recorded back from the test
// rig's sound server; and a machine with no sound card.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "sound_rig.h"

namespace tavolen::test {
namespace {

using ListenCli = CliTest;

TEST_F(ListenCli, PlaysTheCamerasToneOfEitherKind) {
  TAVOLEN_REQUIRE_SOUND_RIG();
  struct Case {
    camsim::AudioKind kind;
    int hz;
  } cases[] = {{camsim::AudioKind::Adpcm, 440}, {camsim::AudioKind::Alaw, 700}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.hz);
    camsim::Config c = smallCamera();
    c.audio = k.kind;
    c.toneHz = k.hz;
    startCamera(c);
    MonitorRecorder monitor;
    ASSERT_TRUE(monitor.started());
    const CliResult r = runCli({"listen", camera(), "--seconds", "5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    monitor.stop();
    // The loud part of what was played crosses zero twice per period.
    const std::vector<int16_t> heard = monitor.samples();
    int crossings = 0, loud = 0;
    for (size_t i = 1; i < heard.size(); ++i) {
      if (std::abs(heard[i]) < 500 && std::abs(heard[i - 1]) < 500) continue;
      ++loud;
      crossings += (heard[i - 1] < 0) != (heard[i] < 0);
    }
    // The sound server's start-up, and a slow start of the program on a busy
    // machine, leave part of the 5 s unheard.
    ASSERT_GT(loud, 4000) << "less than half a second of sound was heard";
    EXPECT_NEAR(crossings * 8000.0 / loud, 2.0 * k.hz, 0.1 * 2 * k.hz);
  }
}

TEST_F(ListenCli, NoSoundCardIsOneClearError) {
  const char* noCard = rigValue("TAVOLEN_RIG_NOCARD");
  CliRun run{{"listen", camera(), "--seconds", "20"}};
  run.env = {std::string("ALSA_CONFIG_PATH=") + (noCard ? noCard : TAVOLEN_NOCARD_CONF)};
  const CliResult r = runCli(run);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.err), std::vector<std::string>{"tavolen: cannot open the sound output"});
}

}  // namespace
}  // namespace tavolen::test
