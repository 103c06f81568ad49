// tavolen record: the live stream, with sound, into the recording tree
// through the player's recorder (DIR/RecordFiles/YYYYMMDD/<host>/...avi),
// until the time is up or Ctrl-C.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "commands.h"
#include "console.h"
#include "failure.h"
#include "session.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

struct RecordOptions {
  std::string camera;
  double seconds = 0;
  std::string dir = ".";
  uint32_t fileLenMB = 100;
  uint32_t timeLenMinutes = 5;
  uint32_t reserveMB = 200;
  bool cover = false;
  int32_t stream = 0;
};

RecordStartParams recordParams(const RecordOptions& o, const std::string& host) {
  RecordStartParams p{};
  std::snprintf(p.recordPath, sizeof p.recordPath, "%s", o.dir.c_str());
  std::snprintf(p.deviceFolder, sizeof p.deviceFolder, "%s", deviceTag(host).c_str());
  p.fileLen = o.fileLenMB;
  p.timeLen = o.timeLenMinutes;
  p.reserved = o.reserveMB;
  p.cover = o.cover ? 1 : 0;
  return p;
}

int runRecord(Session& session, const RecordOptions& o) {
  if (o.dir.size() >= sizeof(RecordStartParams::recordPath)) throw UsageError("the folder name is too long");
  CameraLink& link = session.openLink(o.camera);
  StreamPlayer& player = session.openPlayer({});
  const auto feed = [&player](const uint8_t* f, int32_t n) { player.feed(f, n); };
  // Armed before the stream starts, so that its first key frame opens the file.
  player.recordFrom(recordParams(o, link.address().host));
  link.startStream(o.stream, feed);
  link.confirmAccount(true);
  if (!link.startAudio(feed)) message("recording without sound: " + link.name() + " did not open its sound stream");
  Waits::untilOrThrow(link.deadline(), [&] { return player.recording() != StreamPlayer::Recording::Waiting; });
  StreamPlayer::Recording state;
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    state = player.recording();
  }
  if (state == StreamPlayer::Recording::Waiting)
    throw Failure("no picture from " + link.name() + " to start the recording with");
  if (state == StreamPlayer::Recording::Failed) throw Failure("cannot create a recording file under " + o.dir);

  // Ctrl-C is the usual end of a recording, not a failure.
  const auto end = secondsFromNow(o.seconds > 0 ? o.seconds : kForever);
  Waits::sleepUntil(end);
  player.stopRecording();
  return 0;
}

}  // namespace

void addRecordCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<RecordOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runRecord,
      "record",
      "Record the live stream with sound into DIR/RecordFiles/YYYYMMDD/HOST/ as the recorder names its AVI files, "
      "until --seconds pass or Ctrl-C");
  sub->add_option("--seconds", o->seconds, "stop after this many seconds (default: at Ctrl-C)")
      ->check(CLI::Range(0.1, 1e7));
  sub->add_option("--dir", o->dir, "the folder of the recording tree")->capture_default_str();
  sub->add_option("--file-len", o->fileLenMB, "size limit of one file in MiB (at least 100)")
      ->check(CLI::Range(0u, 4095u))
      ->capture_default_str();
  sub->add_option("--time-len", o->timeLenMinutes, "time limit of one file in minutes (at least 5)")
      ->check(CLI::Range(0u, 71582u))
      ->capture_default_str();
  sub->add_option("--reserve", o->reserveMB, "free disk space to keep, in MiB (at least 200)")->capture_default_str();
  sub->add_flag("--cover", o->cover, "when space runs short, delete the oldest day of recordings");
  addStreamOption(sub, o->stream, "");
}

}  // namespace tavolen::cli
