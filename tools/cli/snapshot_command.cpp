// tavolen snapshot: one picture from the live stream. The player writes it:
// a BMP from the H.264 renderer, or the JPEG as received from a JPEG stream;
// a FILE ending in .png gets a PNG made from that picture.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "commands.h"
#include "failure.h"
#include "png_file.h"
#include "session.h"
#include "waits.h"

namespace tavolen::cli {

namespace {

struct SnapshotOptions {
  std::string camera;
  std::string output;
  int32_t stream = 0;
};

bool endsWithPng(const std::string& name) {
  if (name.size() < 4) return false;
  std::string ext = name.substr(name.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".png";
}

// What the player writes begins with the BMP or JPEG signature.
bool isPicture(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char head[2] = {};
  if (!in.read(reinterpret_cast<char*>(head), 2)) return false;
  return (head[0] == 'B' && head[1] == 'M') || (head[0] == 0xFF && head[1] == 0xD8);
}

// A file next to the output that the player overwrites; creating it first
// makes an unwritable folder an error now rather than a silent no-picture.
class PictureFile {
 public:
  PictureFile(const std::string& output, bool jpeg) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(output).parent_path();
    path_ = (dir / (".tavolen-snapshot-" + std::to_string(::getpid()) + (jpeg ? ".jpg" : ".bmp"))).string();
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw Failure("cannot write in " + (dir.empty() ? std::string(".") : dir.string()) + ": " + std::strerror(errno));
    ::close(fd);
  }
  ~PictureFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

int runSnapshot(Session& session, const SnapshotOptions& o) {
  CameraLink& link = session.openLink(o.camera);
  StreamPlayer& player = session.openPlayer({StreamPlayer::Kind::FromStream, true, false});
  link.startStream(o.stream, [&player](const uint8_t* f, int32_t n) { player.feed(f, n); });
  link.confirmAccount(true);

  // The H.264 renderer writes the snapshot when it shows a picture, the JPEG
  // player when it decodes one: wait until the player has done that once.
  const auto deadline = link.deadline();
  const bool ready = Waits::poll(deadline, [&] {
    const PlayerCounters c = player.counters();
    return player.handle() != nullptr && (player.isJpeg() ? c.picturesDecoded : c.picturesPresented) > 0;
  });
  if (!ready) throw Failure("no picture from " + link.name() + " within " + secondsText(link.timeoutSeconds()));

  PictureFile picture(o.output, player.isJpeg());
  // A request that found no picture in its 200 ms leaves the file empty: ask again.
  const bool taken = Waits::poll(deadline, [&] {
    return x_player_capturePicture(player.handle(), picture.path().c_str()) == 1 && isPicture(picture.path());
  });
  if (!taken) throw Failure("the player wrote no picture");
  link.stopStream();

  if (endsWithPng(o.output)) {
    writePng(picture.path(), o.output);
  } else if (std::rename(picture.path().c_str(), o.output.c_str()) != 0) {
    throw Failure("cannot write " + o.output + ": " + std::strerror(errno));
  }
  return 0;
}

}  // namespace

void addSnapshotCommand(CLI::App& app, Runner& run) {
  auto o = std::make_shared<SnapshotOptions>();
  CLI::App* sub = cameraSubcommand(app, run, o, runSnapshot,
      "snapshot",
      "Write one picture of the live stream: a BMP (H.264 cameras) or the JPEG as received (JPEG streams); "
      "PNG when FILE ends in .png");
  sub->add_option("-o,--output", o->output, "the picture file")->required();
  addStreamOption(sub, o->stream, "");
}

}  // namespace tavolen::cli
