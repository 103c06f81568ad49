#pragma once
// What the video window suites share: an owner that repaints as the control
// does and records the events it is asked to fire, and an observer that hands
// the host window's events to the video window at once, on the calling thread
// (in the control, the UI thread does this).

#include <cstdint>
#include <vector>

#include "control/video_view_dlg.h"
#include "tavolen/player.h"

namespace tavolen::test {

struct Notice {
  int32_t type, param;
  friend bool operator==(const Notice&, const Notice&) = default;
};

// A repaint redraws the player's last picture, or shows the status when there
// is no player or no picture yet.
class RecordingOwner : public control::VideoViewOwner {
 public:
  void repaint() override {
    ++repaints;
    if (!player || !x_player_refreshLastPicture(player)) dlg->clearAndShowStatus();
  }
  void MessageNotify(int32_t type, int32_t param) override { notices.push_back({type, param}); }

  control::CVideoViewDlg* dlg = nullptr;
  PlayerHandle player = nullptr;
  int repaints = 0;
  std::vector<Notice> notices;
};

class Forwarder : public platform::WindowObserver {
 public:
  explicit Forwarder(control::CVideoViewDlg& d) : dlg(d) {}
  void windowEvent(const platform::WindowEvent& e) override { dlg.onWindowEvent(e); }
  control::CVideoViewDlg& dlg;
};

}  // namespace tavolen::test
