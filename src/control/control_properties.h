#pragma once
// The nine automation properties of the control, as plain members. Reading a
// property returns the member; writing one stores the value and marks the
// control modified, nothing more: a script that writes SoundState changes only
// the number, and RecFileLen written from script is what the next StartRecord
// passes on, without the minimums SetRecordProperty applies.
//
// Owned by CTavolenCtrl; touched only on the control's UI thread.

#include <cstdint>
#include <string>

namespace tavolen {

struct ControlProperties {
  int32_t SoundState = 0;
  int32_t TalkState = 0;
  int32_t RecordState = 0;
  int32_t VideoState = 0;
  std::string RecFilePath;  // UTF-8
  int32_t RecFileLen = 0;
  int32_t RecTimeLen = 0;
  int32_t ReservedSpace = 0;
  int32_t RecCover = 0;

  // Whether the control's persistent state changed since creation (what a
  // container would ask before saving). Nothing here persists it.
  bool modified = false;
  void setModified() { modified = true; }
};

}  // namespace tavolen
