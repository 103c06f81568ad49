#include "key_commands.h"

namespace tavolen::view {

bool KeyCommands::press(int32_t key) {
  switch (key) {
    case 'q':
    case 27:
      return false;
    case 'o':
      control_.call("OpenSound");
      break;
    case 'O':
      control_.call("CloseSound");
      break;
    case 't':
      control_.call(control_.readNumber("TalkState") ? "StopTalk" : "StartTalk");
      break;
    case 'r':
      control_.call(control_.readNumber("RecordState") ? "StopRecord" : "StartRecord");
      break;
    case 'p':
      control_.call("CapturePic");
      break;
    case 'f':
      flip_ = (flip_ + 1) % 4;
      control_.call("SetFlip", {flip_});
      break;
    case 'a':
      control_.call("SetAlias", {alias_});
      break;
    case 'c':
      control_.call("SetOsd", {caption_});
      break;
    case 'C':
      control_.call("RemoveOsd");
      break;
    case 'm':
      control_.call("ShowMax");
      break;
    case 'n':
      control_.call("ShowNormal");
      break;
    case TAVOLEN_KEY_F11: {
      TavolenWindowState s{};
      const bool full = tavolen_window_get_state(window_, &s) == 1 && s.fullScreen != 0;
      control_.call(full ? "ShowNormal" : "ShowMax");
      break;
    }
    case 's':
      control_.call("OnSearchCameras");
      break;
    default:
      break;
  }
  return true;
}

}  // namespace tavolen::view
