// CameraView's playback of SD-card recordings: the link streams the file,
// and the view holds the link's playback thread between frames for the
// interval their time stamps give, so frames reach the player at their
// recorded pace.
#include <cstring>

#include "control/camera_view.h"
#include "control/link_player_calls.h"
#include "control/utf_text.h"

namespace tavolen {

int32_t CameraView::SdRecordFilePlay(std::string_view user, std::string_view pwd,
                                     std::string_view serverIp, int32_t serverPort,
                                     std::string_view fileName, int32_t streamid) {
  if (link_) return -1;
  char name[kSdFileNameBytes];
  if (copyUtf8Field(name, sizeof name, fileName) == 0) return -1;
  sdAwaitKeyFrame_ = 1;
  sdDelay_ = 0;
  sdLastSecond_ = 0;
  sdWake_.reset();

  startPlayer(streamid == 3 ? PlayerKindJpeg : PlayerKindH264);
  // Sound is always on during a playback; SoundState is left alone.
  withPlayer(player_, [](CNetStreamPlay& p) { return p.openSound(); });
  sdPosition_ = 0;
  createLink(user, pwd, serverIp, serverPort);
  withLink(link_, [&](CNetDevice& d) { return d.record_file_start(name, &CameraView::sdFrame, this); });
  return 0;
}

int32_t CameraView::SdRecordFileStop() {
  beginRelease();
  if (link_) {
    withLink(link_, [](CNetDevice& d) { return d.record_file_stop(); });
    destroyLink();
  }
  endRelease();
  if (player_) {
    withPlayer(player_, [](CNetStreamPlay& p) { return p.closeSound(); });
    destroyPlayer();
  }
  return 0;
}

int32_t CameraView::SdRecordFileSetPos(int32_t pos) {
  if (!link_) return 0;
  // Pacing and the key-frame gate start afresh before the link reconnects:
  // the new connection's first frames may arrive before set_pos returns.
  sdAwaitKeyFrame_ = 1;
  sdDelay_ = 0;
  sdLastSecond_ = 0;
  sdPosition_ = pos;
  withLink(link_, [&](CNetDevice& d) { return d.record_file_set_pos(pos); });
  return 0;
}

int32_t CameraView::sdFrame(const uint8_t* frame, int32_t length, void* user) {
  return static_cast<CameraView*>(user)->onSdFrame(frame, length);
}

int32_t CameraView::onSdFrame(const uint8_t* frame, int32_t length) {
  if (!frame || length < FRAME_HEADER_SIZE) return 0;
  FrameHeader header;
  std::memcpy(&header, frame, sizeof header);

  int32_t result = 0;
  const bool starts = header.frameType == FRAME_H264_KEY || header.frameType == FRAME_JPEG;
  if (!sdAwaitKeyFrame_ || starts) {
    result = withPlayer(player_, [&](CNetStreamPlay& p) { return p.inputNetFrame(frame, length); });
    sdAwaitKeyFrame_ = 0;
  }
  sdPosition_ += length;
  host_.postToUi([this] { onUiMessage(UiMessage::SdPosition, 0); });

  if (sdStopping_ || sdReleasing_ || header.frameType == FRAME_AUDIO_ADPCM) return result;
  const uint32_t lastSecond = sdLastSecond_;
  if (lastSecond != 0) {
    const int64_t delay =
        (static_cast<int64_t>(header.timestamp) - lastSecond) * 1000 -
        static_cast<int64_t>(sdLastMilliseconds_) + header.milliseconds;
    // An earlier stamp than the last one waits nothing; a jump forward waits
    // at most the cap.
    sdDelay_ = static_cast<uint32_t>(delay < 0 ? 0 : delay > kMaxSdPacingMs ? kMaxSdPacingMs : delay);
  }
  sdLastSecond_ = header.timestamp;
  sdLastMilliseconds_ = header.milliseconds;
  host_.clock().waitEvent(sdWake_, sdDelay_);
  return result;
}

}  // namespace tavolen
