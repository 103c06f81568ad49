// tavolen sd list / sd get: the camera's SD-card recordings. get plays one
// recording from the camera as fast as the camera sends it and writes it
// through the player's recorder into an AVI file.
#include <CLI/CLI.hpp>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "console.h"
#include "failure.h"
#include "progress_bar.h"
#include "sd_listing.h"
#include "session.h"
#include "settings_exchange.h"
#include "text_output.h"
#include "waits.h"

namespace tavolen::cli {

namespace fs = std::filesystem;

namespace {

// ---- list ----

struct ListOptions {
  std::string camera;
  std::string date;
  bool json = false;
};

void confirmAccountOnly(CameraLink& link) {
  startAccountCheck(link);
  link.confirmAccount();
  link.stopStream();
}

int runList(Session& session, const ListOptions& o) {
  LocalTime first, last;
  const std::string error = parseDay(o.date, first, last);
  if (!error.empty()) throw UsageError(error);
  CameraLink& link = session.openLink(o.camera);
  // A refused account gets an empty listing: ask the stream first.
  confirmAccountOnly(link);
  const std::vector<SdRecording> files = listRecordings(link, first, last);
  FILE* out = Console::out();
  if (o.json) {
    JsonWriter json;
    json.beginArray();
    for (const SdRecording& f : files) json.beginObject().key("name").value(f.name).key("size").value(f.size).endObject();
    json.endArray();
    std::fprintf(out, "%s\n", json.text().c_str());
  } else {
    for (const SdRecording& f : files) std::fprintf(out, "%s\t%u\n", printable(f.name).c_str(), f.size);
  }
  return 0;
}

// ---- get ----

// The link copies at most this much of a playback file name.
constexpr size_t kFileNameMax = 127;
// Large enough that one recording stays one file: the size limit in MiB the
// recorder computes in 32 bits, and the time limit whose milliseconds fit them.
constexpr uint32_t kWholeFileMB = 4095;
constexpr uint32_t kWholeFileMinutes = 71582;
constexpr const char* kSdFolder = "sd";

struct GetOptions {
  std::string camera;
  std::string file;
  std::string output;
  std::string date;
};

// The playback thread's side of a fetch: frames go to the player once the
// first starting frame came (as the SD-card player waits for it); every
// frame's bytes count for the progress.
struct Fetch {
  StreamPlayer* player = nullptr;
  bool started = false;  // playback thread only
  std::atomic<uint64_t> received{0};
  std::atomic<int64_t> lastFrameAt{0};  // steady clock, ns

  static int32_t onFrame(const uint8_t* frame, int32_t length, void* user) {
    auto* self = static_cast<Fetch*>(user);
    if (length < FRAME_HEADER_SIZE) return 1;
    if (!self->started) self->started = frame[4] == FRAME_H264_KEY || frame[4] == FRAME_JPEG;
    if (self->started) self->player->feed(frame, length);
    self->received += static_cast<uint64_t>(length);
    self->lastFrameAt = Clock::now().time_since_epoch().count();
    Waits::notify();
    return 1;
  }
};

// The recorder writes into a tree of its own next to the output; the file
// it names is moved to the output at the end, and the tree goes.
class RecordTree {
 public:
  explicit RecordTree(const std::string& output) {
    const fs::path dir = fs::path(output).parent_path();
    std::string pattern = ((dir.empty() ? fs::path(".") : dir) / ".tavolen-sd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw Failure("cannot write in " + fs::path(pattern).parent_path().string() + ": " + std::strerror(errno));
    path_ = pattern;
  }
  ~RecordTree() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::vector<fs::path> files() const {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(path_, ec))
      if (e.is_regular_file(ec) && e.path().extension() == ".avi") found.push_back(e.path());
    return found;
  }

 private:
  std::string path_;
};

uint32_t recordingSize(CameraLink& link, const GetOptions& o) {
  LocalTime first, last;
  if (o.date.empty()) {
    wholeRange(first, last);
  } else {
    const std::string error = parseDay(o.date, first, last);
    if (!error.empty()) throw UsageError(error);
  }
  for (const SdRecording& r : listRecordings(link, first, last))
    if (r.name == o.file) return r.size;
  throw Failure(link.name() + " has no recording named " + o.file + (o.date.empty() ? "" : " on " + o.date));
}

int runGet(Session& session, const GetOptions& o) {
  const std::string error = checkRequestValue("the file name", o.file, kFileNameMax);
  if (!error.empty() || o.file.empty()) throw UsageError(o.file.empty() ? "no file name given" : error);
  CameraLink& link = session.openLink(o.camera);
  confirmAccountOnly(link);
  const uint32_t size = recordingSize(link, o);

  RecordTree tree(o.output);
  StreamPlayer& player = session.openPlayer({});
  RecordStartParams params{};
  std::snprintf(params.recordPath, sizeof params.recordPath, "%s", tree.path().c_str());
  std::snprintf(params.deviceFolder, sizeof params.deviceFolder, "%s", kSdFolder);
  params.fileLen = kWholeFileMB;
  params.timeLen = kWholeFileMinutes;
  player.recordFrom(params);

  Fetch fetch;
  fetch.player = &player;
  fetch.lastFrameAt = Clock::now().time_since_epoch().count();
  // The playback thread writes into `fetch`: it ends before `fetch` does.
  const struct StopPlayback {
    DeviceHandle link;
    ~StopPlayback() { device_record_file_stop(link); }
  } stopPlayback{link.handle()};
  if (device_record_file_start(link.handle(), o.file.c_str(), Fetch::onFrame, &fetch) != 1)
    throw Failure("cannot connect to " + link.name());

  // Done when every byte of the file came; the camera then simply stops, so
  // a stop before that shows only as silence.
  ProgressBar progress(size);
  bool stalled = false;
  bool cut = false;
  while (fetch.received.load() < size) {
    const Clock::time_point last{Clock::duration(fetch.lastFrameAt.load())};
    const auto idleEnd = last + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(link.timeoutSeconds()));
    if (Clock::now() >= idleEnd) {
      stalled = true;
      break;
    }
    const uint64_t seen = fetch.received.load();
    Waits::until(std::min(idleEnd, Clock::now() + std::chrono::milliseconds(200)),
                 [&] { return fetch.received.load() != seen; });
    if (interrupted()) {
      cut = true;
      break;
    }
    progress.update(fetch.received.load());
  }
  progress.finish();
  // No frame comes after this; then the recorder closes its file.
  player.release();
  device_record_file_stop(link.handle());
  StreamPlayer::Recording state;
  {
    std::lock_guard<std::mutex> lock(Waits::mutex());
    state = player.recording();
  }
  player.stopRecording();

  const uint64_t got = fetch.received.load();
  const std::vector<fs::path> files = tree.files();
  if (state == StreamPlayer::Recording::Failed) throw Failure("cannot create the recording file in " + tree.path());
  if (files.empty()) {
    if (cut) throw Interrupted();
    throw Failure(link.name() + " sent " + (got == 0 ? "nothing" : "no picture") + " of " + o.file);
  }
  if (files.size() > 1)
    throw Failure("the recorder split " + o.file + " into " + std::to_string(files.size()) +
                  " files (less than its reserve of free disk space?)");
  std::error_code ec;
  fs::rename(files.front(), o.output, ec);
  if (ec) throw Failure("cannot write " + o.output + ": " + ec.message());
  const std::string partly = o.output + " holds the first " + std::to_string(got) + " of " + std::to_string(size) +
                             " bytes";
  if (cut) {
    message("interrupted; " + partly);
    throw Interrupted();
  }
  if (stalled) throw Failure(link.name() + " stopped sending " + o.file + "; " + partly);
  return 0;
}

}  // namespace

void addSdCommands(CLI::App& app, Runner& run) {
  CLI::App* sd = app.add_subcommand("sd", "The camera's SD-card recordings");
  sd->require_subcommand(1);

  auto l = std::make_shared<ListOptions>();
  CLI::App* list = cameraSubcommand(*sd, run, l, runList, "list", "List the recordings of one day: name and size in bytes");
  list->add_option("--date", l->date, "the day, YYYY-MM-DD (local time)")->required();
  list->add_flag("--json", l->json, "print a JSON array");

  auto g = std::make_shared<GetOptions>();
  CLI::App* get = cameraSubcommand(*sd, run, g, runGet,
      "get", "Fetch one recording into an AVI file, with a progress bar on a terminal");
  get->add_option("file", g->file, "the recording's name, as sd list prints it")->required();
  get->add_option("-o,--output", g->output, "the AVI file to write")->required();
  get->add_option("--date", g->date, "the recording's day, YYYY-MM-DD, to find it faster");
}

}  // namespace tavolen::cli
