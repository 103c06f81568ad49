#pragma once
// What each key of tavolen-view does to its control:
//   o OpenSound        O CloseSound
//   t StartTalk / StopTalk, as TalkState says
//   r StartRecord / StopRecord, as RecordState says
//   p CapturePic       f SetFlip, through 1, 2, 3 and back to 0
//   a SetAlias         c SetOsd (the caption)   C RemoveOsd
//   m ShowMax          n ShowNormal             F11 either, as the window is
//   s OnSearchCameras  q or Escape: quit
//
// Main thread only (the window's host thread).

#include <cstdint>
#include <string>

#include "tavolen/window.h"
#include "view_control.h"

namespace tavolen::view {

class KeyCommands {
 public:
  KeyCommands(ViewControl& control, TavolenWindow* window, std::string caption, std::string alias)
      : control_(control), window_(window), caption_(std::move(caption)), alias_(std::move(alias)) {}

  // Carries out the key's command; false for the keys that quit. Other keys
  // do nothing.
  bool press(int32_t key);

 private:
  ViewControl& control_;
  TavolenWindow* window_;
  std::string caption_;
  std::string alias_;
  int32_t flip_ = 0;
};

}  // namespace tavolen::view
