#include "session.h"

#include "failure.h"
#include "password_source.h"

namespace tavolen::cli {

CameraLink& Session::openLink(const std::string& camera) {
  CameraAddress address;
  const std::string error = parseCameraAddress(camera, address);
  if (!error.empty()) throw UsageError(error);
  findPassword(address);
  link_ = std::make_unique<CameraLink>(address, options_.timeoutSeconds);
  return *link_;
}

StreamPlayer& Session::openPlayer(StreamPlayer::Options options) {
  player_ = std::make_unique<StreamPlayer>(options);
  return *player_;
}

void Session::close() {
  if (player_) player_->release();
  if (link_ && link_->abandoned()) {
    abandoned_ = true;
    (void)link_.release();  // left to the process's end, with what feeds on it
    (void)player_.release();
    return;
  }
  link_.reset();
  player_.reset();
}

}  // namespace tavolen::cli
