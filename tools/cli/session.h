#pragma once
// What one subcommand opens, and the order it is closed in: waits inside a
// player's feed end first, then the link stops (so no frame arrives any
// more), then the player and its window go.
//
// Main thread only.

#include <memory>
#include <string>

#include "camera_address.h"
#include "camera_link.h"
#include "stream_player.h"

namespace tavolen::cli {

struct GlobalOptions {
  bool verbose = false;
  double timeoutSeconds = 10;
};

class Session {
 public:
  explicit Session(GlobalOptions options) : options_(options) {}
  ~Session() { close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const GlobalOptions& options() const { return options_; }

  // Parses CAMERA, finds its password (see password_source.h) and opens the
  // link. Throws Failure.
  CameraLink& openLink(const std::string& camera);
  StreamPlayer& openPlayer(StreamPlayer::Options options);

  // Closes everything, in order. When a link had to be abandoned, the
  // process must end with _exit: library threads still use it.
  void close();
  bool abandoned() const { return abandoned_; }

 private:
  bool abandoned_ = false;
  GlobalOptions options_;
  std::unique_ptr<CameraLink> link_;
  std::unique_ptr<StreamPlayer> player_;
};

}  // namespace tavolen::cli
