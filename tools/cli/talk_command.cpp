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
    bool lost = false;
    {
      std::lock_guard<std::mutex> lock(Waits::mutex());
      const auto& events = link.state().events;
      for (size_t i = from; i < events.size(); ++i) lost |= events[i].code == LinkEventStreamLost;
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
  CLI::App* sub = app.add_subcommand("talk", "Play a sound file (WAV, MP3, Ogg, ...) through the camera's speaker");
  sub->add_option("camera", o->camera, "[user[:password]@]host[:port]")->required();
  sub->add_option("-f,--file", o->file, "the sound file")->required();
  sub->add_option("--stream", o->stream, "the live stream id (talk travels on its connection)")->capture_default_str();
  sub->callback([o, &run] { run = [o](Session& s) { return runTalk(s, *o); }; });
}

}  // namespace tavolen::cli
