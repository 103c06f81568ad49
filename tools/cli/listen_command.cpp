// tavolen listen: the camera's sound on this computer's speakers, through a
// player's sound output, until Ctrl-C.
#include <CLI/CLI.hpp>

#include <atomic>
#include <memory>
#include <string>

#include "commands.h"
#include "failure.h"
#include "session.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

struct ListenOptions {
  std::string camera;
  double seconds = 0;
  int32_t stream = 0;
};

int runListen(Session& session, const ListenOptions& o) {
  CameraLink& link = session.openLink(o.camera);
  // The H.264 player plays both kinds of sound block.
  StreamPlayer& player = session.openPlayer({StreamPlayer::Kind::H264, false, true});
  // The sound comes only while the live stream runs; its pictures are not needed.
  link.startStream(o.stream);
  link.confirmAccount(true);
  std::atomic<uint64_t> blocks{0};
  const bool opened = link.startAudio([&](const uint8_t* f, int32_t n) {
    player.feed(f, n);
    ++blocks;
  });
  // The sound stream counts into `blocks`: it ends before `blocks` does.
  const struct StopAudio {
    CameraLink& link;
    ~StopAudio() { link.stopAudio(); }
  } stopAudio{link};
  if (!opened) throw Failure(link.name() + " did not open its sound stream");

  if (!Waits::poll(link.deadline(), [&] { return blocks.load() > 0; }))
    throw Failure("no sound from " + link.name());
  // A few blocks show whether the sound output took them.
  Waits::poll(secondsFromNow(1), [&] { return blocks.load() >= 4; });
  if (player.soundRefused()) throw Failure("cannot open the sound output");

  Waits::sleepUntil(secondsFromNow(o.seconds > 0 ? o.seconds : kForever));
  return 0;
}

}  // namespace

void addListenCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<ListenOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runListen, "listen", "Play the camera's sound on the speakers until Ctrl-C");
  sub->add_option("--seconds", o->seconds, "stop after this many seconds")->check(CLI::Range(0.1, 1e7));
  addStreamOption(sub, o->stream, "sound comes only with it");
}

}  // namespace tavolen::cli
