#pragma once
// CameraView: one camera link and one player joined into a live view (with
// sound, talk, local recording, snapshots, captions and a camera alias), or
// into the playback of one SD-card recording, never both at once. It also
// turns the link's reports into notifications: status texts, 30 s alarm
// captions and MessageNotify events.
//
// Threads:
// - Every public operation, repaint, onUiMessage and onTimer run on the
//   control's UI thread.
// - The link calls liveFrame, sdFrame and linkEvent on its own threads; the
//   capture thread calls talk. They read `player_` and `link_` (atomic words
//   the UI thread writes) and check each handle against its registry before
//   using it, so a handle the UI thread destroyed meanwhile is skipped. They
//   touch no window and fire no event: they post to the UI thread.
// - The SD pacing fields are single words, written by the UI thread in the
//   SD operations and by the playback thread in sdFrame, atomic here.
// Ownership: the view owns the link, the player and the talk capture it
// creates; the host outlives the view.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "control/camera_view_host.h"
#include "platform/event.h"
#include "tavolen/types.h"

namespace tavolen {

class CWaveIn;

// The UI thread's messages: the control's window message numbers, kept as
// names for what is carried over.
enum class UiMessage : int32_t {
  CameraFound = 1124,
  StreamLost = 1125,
  BadCredentials = 1126,
  MaxConnections = 1127,
  RequestTypeError = 1128,
  VideoLoss = 1129,
  StreamConnected = 1130,
  MotionAlarm = 1131,
  GpioAlarm = 1132,
  MotionAlarmOver = 1133,
  OtherAlarmOver = 1134,
  SoundAlarm = 1135,
  SensorAlarm = 1136,
  SdPosition = 1734,
};

inline constexpr int32_t kAlarmTimerMotion = 1023;
inline constexpr int32_t kAlarmTimerOther = 1024;
inline constexpr uint32_t kAlarmCaptionMs = 30000;
// Longest pacing wait of an SD playback: a jump in a recording's time stamps
// must not hold the playback thread (and with it seek and stop) for hours.
inline constexpr uint32_t kMaxSdPacingMs = 10000;

// MessageNotify types.
enum NotifyType : int32_t {
  NOTIFY_CLICK = 0,
  NOTIFY_DOUBLE_CLICK = 1,
  NOTIFY_STREAM_LOST = 2,
  NOTIFY_MOTION_ALARM = 3,
  NOTIFY_ALARM = 4,
  NOTIFY_MOTION_ALARM_END = 5,
  NOTIFY_ALARM_END = 6,
  NOTIFY_SD_POSITION = 10,
};

// Field limits, in UTF-8 bytes without the terminating zero.
inline constexpr size_t kConnectTextMax = 63;   // user, pwd, host
inline constexpr size_t kFolderTextMax = 255;   // recording folder, deviceTag
inline constexpr size_t kSnapshotNameMax = 259;
inline constexpr size_t kAliasMax = 63;
inline constexpr size_t kOsdTextBytes = 260;
inline constexpr size_t kSdFileNameBytes = 512;
inline constexpr int32_t kAliasCommand = 9986;

class CameraView {
 public:
  explicit CameraView(CameraViewHost& host);
  ~CameraView();
  CameraView(const CameraView&) = delete;
  CameraView& operator=(const CameraView&) = delete;

  // --- live view ---
  int32_t PlayVideo(std::string_view user, std::string_view pwd, std::string_view ip, int32_t port,
                    int32_t streamid, int32_t audioid);
  int32_t StopVideo();
  int32_t OpenSound();
  int32_t CloseSound();
  int32_t StartTalk();
  int32_t StopTalk();
  int32_t StartRecord();
  int32_t StopRecord();
  int32_t CapturePic();
  int32_t SetFlip(int32_t type);
  int32_t SetOsd(std::string_view osd);
  int32_t RemoveOsd();
  int32_t SetAlias(std::string_view alias);
  // The video window's paint handler, after its focus frame.
  void repaint();

  // --- SD-card playback ---
  int32_t SdRecordFilePlay(std::string_view user, std::string_view pwd, std::string_view serverIp,
                           int32_t serverPort, std::string_view fileName, int32_t streamid);
  int32_t SdRecordFileStop();
  int32_t SdRecordFileSetPos(int32_t pos);

  // --- lifecycle steps of the control ---
  // Window creation: the fields start afresh.
  void windowCreated();
  // Window destruction: no new pacing wait; a running one ends; the playback
  // connection is stopped.
  void windowDestroying();
  // The control's destruction: first a pacing wait is released, then (after
  // the control freed its found-camera list) the playback connection is
  // stopped and StopVideo tears the rest down.
  void releasePacingWait();
  void controlDestroying();

  // --- notifications, on the UI thread ---
  void onUiMessage(UiMessage message, int32_t param);
  // Timers 1023 and 1024.
  void onTimer(int32_t id);

  // --- callbacks registered with the link and the capture (user: the view) ---
  static int32_t liveFrame(const uint8_t* frame, int32_t length, void* user);
  static int32_t sdFrame(const uint8_t* frame, int32_t length, void* user);
  static void linkEvent(int32_t event, void* user);
  static int32_t talk(const uint8_t* data, int32_t length, void* user);

  // --- for tests ---
  // How players are made: kind 0 H.264, 1 JPEG; the result must be listed
  // in the player registry. Set before the first player is made.
  using PlayerMaker = std::function<void*(int32_t kind)>;
  void setPlayerMaker(PlayerMaker maker) { makePlayer_ = std::move(maker); }
  const std::string& deviceTag() const { return deviceTag_; }
  bool errorShown() const { return errorShown_; }
  void* player() const { return player_.load(); }
  void* link() const { return link_.load(); }
  bool talking() const { return talkCapture_ != nullptr; }
  int32_t sdPosition() const { return sdPosition_.load(); }

 private:
  int32_t onSdFrame(const uint8_t* frame, int32_t length);
  void stopTalkCapture();
  void destroyLink();
  // Ends a pacing wait and lets none begin until endRelease.
  void beginRelease();
  void endRelease() { sdReleasing_ = 0; }
  void destroyPlayer();
  void sendOsdSlots();
  void showAlarm(int32_t slot, int32_t timer, std::string_view caption);
  void endAlarm(int32_t notify, int32_t slot, int32_t timer);
  void setState(int32_t ControlProperties::*field, int32_t value);
  void startPlayer(int32_t kind);
  void createLink(std::string_view user, std::string_view pwd, std::string_view host,
                  int32_t port);

  CameraViewHost& host_;
  PlayerMaker makePlayer_;

  std::atomic<void*> player_{nullptr};
  std::atomic<void*> link_{nullptr};
  std::unique_ptr<CWaveIn> talkCapture_;  // UI thread

  // UI thread only.
  std::string deviceTag_;
  bool errorShown_ = false;
  bool osdTextSet_ = false;
  char osdText_[kOsdTextBytes] = {};

  // SD playback (shared with the playback thread).
  std::atomic<int32_t> sdAwaitKeyFrame_{0};
  std::atomic<int32_t> sdStopping_{0};
  // Set while a stop tears the playback link down: a frame the link still
  // delivers meanwhile must not begin a wait that nobody would end early.
  std::atomic<int32_t> sdReleasing_{0};
  std::atomic<int32_t> sdPosition_{0};
  std::atomic<uint32_t> sdLastSecond_{0};
  std::atomic<uint32_t> sdLastMilliseconds_{0};
  std::atomic<uint32_t> sdDelay_{0};
  platform::Event sdWake_{platform::Event::Reset::Auto};
};

}  // namespace tavolen
