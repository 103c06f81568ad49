// tavolen talk: a sound file through the camera's speaker. The file is
// decoded and resampled to 8000 Hz mono, coded into talk blocks with the
// library's own talk encoding, and sent over the live stream's connection in
// real time, one 64 ms block after another.
#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "commands.h"
#include "failure.h"
#include "session.h"
#include "talk_source.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

constexpr auto kBlockDuration = std::chrono::milliseconds(1000 * TALK_BLOCK_SAMPLES / 8000);

struct TalkOptions {
  std::string camera;
  std::string file;
  int32_t stream = 0;
};

int runTalk(Session& session, const TalkOptions& o) {
  TalkSource source(o.file);
  CameraLink& link = session.openLink(o.camera);
  // Talk travels on the live stream's connection once its request went out.
  link.startStream(o.stream);
  link.confirmAccount(true);
  const size_t from = link.eventCount();

  int16_t pcm[TALK_BLOCK_SAMPLES];
  uint8_t block[TALK_BLOCK_BYTES];
  const auto start = Clock::now();
  for (int64_t n = 0; source.next(pcm); ++n) {
    Waits::sleepUntil(start + n * kBlockDuration);
    if (interrupted()) throw Interrupted();
    // While the link reconnects it drops talk without a word: say it.
    bool lost;
    {
      std::lock_guard<std::mutex> lock(Waits::mutex());
      lost = link.state().events.contains(from, LinkEventStreamLost);
    }
    if (lost) throw Failure(link.name() + " dropped the connection while talking");
    x_player_encodeTalkBlock(pcm, block);
    device_net_work_sendTalkData(link.handle(), block, TALK_BLOCK_BYTES);
  }
  return 0;
}

}  // namespace

void addTalkCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<TalkOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runTalk, "talk", "Play a sound file (WAV, MP3, Ogg, ...) through the camera's speaker");
  sub->add_option("-f,--file", o->file, "the sound file")->required();
  addStreamOption(sub, o->stream, "talk travels on its connection");
}

}  // namespace tavolen::cli
