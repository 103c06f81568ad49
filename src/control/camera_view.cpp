#include "control/camera_view.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "audio/wave_in.h"
#include "control/link_player_calls.h"
#include "control/utf_text.h"

namespace tavolen {

namespace {

// The caption face: U+5B8B U+4F53, in UTF-8 like every text of the record.
constexpr const char* kCaptionFace = "\xE5\xAE\x8B\xE4\xBD\x93";

OsdItem osdItem(OsdRect rect, std::string_view text, int32_t kind, int32_t position, uint8_t red) {
  OsdItem item{};
  copyUtf8Field(item.faceName, sizeof item.faceName, kCaptionFace);
  item.red = red;
  item.rect = rect;
  copyUtf8Field(item.text, sizeof item.text, text);
  item.kind = kind;
  item.position = position;
  return item;
}

const char* connectionErrorText(UiMessage m) {
  switch (m) {
    case UiMessage::BadCredentials: return "User or pwd is incorrect";
    case UiMessage::MaxConnections: return "Maximum of connections";
    case UiMessage::RequestTypeError: return "Request type error";
    case UiMessage::VideoLoss: return "Video Loss!";
    default: return "";
  }
}

std::string sensorCaption(int32_t code) {
  static constexpr const char* kGroups[] = {"Remote Control", "DoorBell", "Hall",      "Window",
                                            "Balcony",        "Bedroom",  "Courtyard", "Other"};
  const int32_t index = code - LinkEventSensorAlarmFirst;
  return "[" + std::string(kGroups[index / 4]) + " " + std::to_string(index % 4 + 1) + "]";
}

}  // namespace

CameraView::CameraView(CameraViewHost& host) : host_(host), makePlayer_(&createViewPlayer) {}

CameraView::~CameraView() {
  // The control has torn the view down already (controlDestroying); this
  // only releases what a host that did not is still holding, without
  // calling back into that host.
  sdWake_.signal();
  if (talkCapture_) stopTalkCapture();
  destroyLink();
  destroyPlayer();
}

// ---------------------------------------------------------------- callbacks

int32_t CameraView::liveFrame(const uint8_t* frame, int32_t length, void* user) {
  auto* view = static_cast<CameraView*>(user);
  return withPlayer(view->player_.load(),
                    [&](CNetStreamPlay& p) { return p.inputNetFrame(frame, length); });
}

int32_t CameraView::talk(const uint8_t* data, int32_t length, void* user) {
  auto* view = static_cast<CameraView*>(user);
  withLink(view->link_.load(), [&](CNetDevice& d) { return d.sendTalkData(data, length); });
  return 1;
}

void CameraView::linkEvent(int32_t event, void* user) {
  auto* view = static_cast<CameraView*>(user);
  const int32_t code = static_cast<int32_t>(static_cast<uint32_t>(event) & 0xFFFF);
  UiMessage message;
  int32_t param = 0;
  switch (code) {
    case LinkEventStreamLost: message = UiMessage::StreamLost; break;
    case LinkEventBadCredentials: message = UiMessage::BadCredentials; break;
    case LinkEventMaxConnections: message = UiMessage::MaxConnections; break;
    case LinkEventRequestTypeError: message = UiMessage::RequestTypeError; break;
    case LinkEventVideoLoss: message = UiMessage::VideoLoss; break;
    case LinkEventStreamConnected: message = UiMessage::StreamConnected; break;
    case LinkEventMotionAlarm: message = UiMessage::MotionAlarm; break;
    case LinkEventGpioAlarm: message = UiMessage::GpioAlarm; break;
    case LinkEventMotionAlarmClear: message = UiMessage::MotionAlarmOver; break;
    case LinkEventGpioAlarmClear: message = UiMessage::OtherAlarmOver; break;
    case LinkEventSoundAlarm: message = UiMessage::SoundAlarm; break;
    default:
      if (code < LinkEventSensorAlarmFirst || code > LinkEventSensorAlarmLast) return;
      message = UiMessage::SensorAlarm;
      param = code;
  }
  view->host_.postToUi([view, message, param] { view->onUiMessage(message, param); });
}

// ---------------------------------------------------------------- live view

void CameraView::startPlayer(int32_t kind) {
  // No process-wide picture library needs starting here (JPEG decoding has
  // no global set-up), so the view goes straight to the player.
  player_ = makePlayer_(kind);
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.setPlayWnd(host_.surfaceWindow()); });
  withPlayer(player_, [](CNetStreamPlay& p) { return p.startPlay(); });
}

void CameraView::createLink(std::string_view user, std::string_view pwd, std::string_view host,
                            int32_t port) {
  DeviceConnectParams params{};
  copyUtf8Field(params.user, sizeof params.user, user);
  copyUtf8Field(params.password, sizeof params.password, pwd);
  copyUtf8Field(params.host, sizeof params.host, host);
  params.port = port;
  link_ = createViewLink(params);
  withLink(link_, [&](CNetDevice& d) { return d.set_event_callback(&CameraView::linkEvent, this); });
}

int32_t CameraView::PlayVideo(std::string_view user, std::string_view pwd, std::string_view ip,
                              int32_t port, int32_t streamid, int32_t /*audioid*/) {
  if (link_) return 1;
  errorShown_ = false;
  host_.setStatusText("");
  deviceTag_ = std::string(cutUtf8(ip, kFolderTextMax));
  if (ip.empty()) return 0;
  for (const char c : {'/', ':', '.'})
    for (char& t : deviceTag_)
      if (t == c) t = '_';

  startPlayer(0);
  createLink(user, pwd, ip, port);
  withLink(link_, [&](CNetDevice& d) { return d.startStream(streamid, &CameraView::liveFrame, this); });
  return 0;
}

void CameraView::stopTalkCapture() {
  talkCapture_->stopDualTalk();
  talkCapture_.reset();
}

// A destroy that throws has still unlisted and released its object.
void CameraView::destroyLink() {
  void* link = link_.exchange(nullptr);
  try {
    destroyListedLink(link);
  } catch (...) {
  }
}

void CameraView::destroyPlayer() {
  void* player = player_.exchange(nullptr);
  try {
    PlayerRegistry::instance().destroy(player);
  } catch (...) {
  }
}

void CameraView::setState(int32_t ControlProperties::*field, int32_t value) {
  ControlProperties& props = host_.properties();
  props.*field = value;
  props.setModified();
}

int32_t CameraView::StopVideo() {
  if (talkCapture_) stopTalkCapture();
  if (void* link = link_.load()) {
    // A pacing wait of an SD playback would otherwise hold the link's
    // teardown for the rest of its interval.
    beginRelease();
    withLink(link, [](CNetDevice& d) { return d.stopAudio(); });
    withLink(link, [](CNetDevice& d) { return d.stopStream(); });
    destroyLink();
    endRelease();
  }
  if (void* player = player_.load()) {
    if (host_.windowExists()) {
      host_.killTimer(kAlarmTimerMotion);
      host_.killTimer(kAlarmTimerOther);
    }
    withPlayer(player, [](CNetStreamPlay& p) { return p.stoplocalrecord(); });
    withPlayer(player, [](CNetStreamPlay& p) { return p.closeSound(); });
    withPlayer(player, [](CNetStreamPlay& p) { return p.stopPlay(); });
    destroyPlayer();
  }
  setState(&ControlProperties::SoundState, 0);
  setState(&ControlProperties::RecordState, 0);
  setState(&ControlProperties::VideoState, 0);
  setState(&ControlProperties::TalkState, 0);
  return 0;
}

int32_t CameraView::OpenSound() {
  if (!player_) return -1;
  withLink(link_, [&](CNetDevice& d) { return d.startAudio(2, &CameraView::liveFrame, this); });
  withPlayer(player_, [](CNetStreamPlay& p) { return p.openSound(); });
  setState(&ControlProperties::SoundState, 1);
  return 0;
}

int32_t CameraView::CloseSound() {
  if (!player_) return -1;
  withLink(link_, [](CNetDevice& d) { return d.stopAudio(); });
  withPlayer(player_, [](CNetStreamPlay& p) { return p.closeSound(); });
  setState(&ControlProperties::SoundState, 0);
  return 0;
}

int32_t CameraView::StartTalk() {
  if (talkCapture_) return 0;
  talkCapture_.reset(new (std::nothrow) CWaveIn);
  if (!talkCapture_) return -1;
  talkCapture_->startDualTalk(&CameraView::talk, this);
  setState(&ControlProperties::TalkState, 1);
  return 0;
}

int32_t CameraView::StopTalk() {
  if (!talkCapture_) return -1;
  stopTalkCapture();
  setState(&ControlProperties::TalkState, 0);
  return 0;
}

int32_t CameraView::StartRecord() {
  const std::string folder = host_.readRecordFolder();
  if (folder.empty()) return -1;
  const ControlProperties& props = host_.properties();
  RecordStartParams params{};
  copyUtf8Field(params.recordPath, kFolderTextMax + 1, folder);
  copyUtf8Field(params.deviceFolder, sizeof params.deviceFolder, deviceTag_);
  params.fileLen = static_cast<uint32_t>(props.RecFileLen);
  params.timeLen = static_cast<uint32_t>(props.RecTimeLen);
  params.reserved = static_cast<uint32_t>(props.ReservedSpace);
  params.cover = static_cast<uint32_t>(props.RecCover);
  if (!player_) return -1;
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.startlocalrecord(params); });
  setState(&ControlProperties::RecordState, 1);
  return 0;
}

int32_t CameraView::StopRecord() {
  if (!player_) return -1;
  withPlayer(player_, [](CNetStreamPlay& p) { return p.stoplocalrecord(); });
  setState(&ControlProperties::RecordState, 0);
  return 0;
}

int32_t CameraView::CapturePic() {
  const std::string folder = host_.readRecordFolder();
  if (folder.empty()) return -1;
  const platform::LocalTime t = host_.clock().localTime();
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d_%02d%02d%02d_%d.bmp", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  const std::string full = folder + "/" + deviceTag_ + stamp;
  const std::string name(cutUtf8(full, kSnapshotNameMax));
  if (!player_) return -1;
  if (osdTextSet_) sendOsdSlots();
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.capturePicture(name.c_str()); });
  return 0;
}

int32_t CameraView::SetFlip(int32_t type) {
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.setRenderEffect(type); });
  return 0;
}

void CameraView::sendOsdSlots() {
  const std::string_view text = fieldText(osdText_, sizeof osdText_);
  const OsdItem caption = osdItem({5, 5, 325, 35}, text, OsdKindText, OsdTopLeft, 0);
  const OsdItem stamp = osdItem({5, 25, 325, 55}, "", OsdKindTimeStamp, OsdBottomRight, 0);
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.setOsdString(0, &caption); });
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.setOsdString(1, &stamp); });
}

int32_t CameraView::SetOsd(std::string_view osd) {
  if (!player_) return 0;
  osdTextSet_ = true;
  copyUtf8Field(osdText_, sizeof osdText_, osd);
  sendOsdSlots();
  return 0;
}

int32_t CameraView::RemoveOsd() {
  if (!player_) return 0;
  osdTextSet_ = false;
  withPlayer(player_, [](CNetStreamPlay& p) { return p.removeOsdstring(0); });
  withPlayer(player_, [](CNetStreamPlay& p) { return p.removeOsdstring(1); });
  return 0;
}

int32_t CameraView::SetAlias(std::string_view alias) {
  if (!link_) return -1;
  char buffer[kAliasMax + 1];
  copyUtf8Field(buffer, sizeof buffer, alias);
  withLink(link_, [&](CNetDevice& d) { return d.set_network(kAliasCommand, buffer, sizeof buffer); });
  return 0;
}

void CameraView::repaint() {
  if (!player_ || errorShown_) {
    host_.clearAndShowStatus();
    return;
  }
  if (withPlayer(player_, [](CNetStreamPlay& p) { return p.refreshLastPicture(); }) != 0) return;
  host_.clearAndShowStatus();
}

// ---------------------------------------------------------------- lifecycle

void CameraView::windowCreated() {
  errorShown_ = false;
  sdStopping_ = 0;
}

void CameraView::windowDestroying() {
  sdStopping_ = 1;
  // Release a pacing wait before stopping the playback connection, which
  // waits for the thread that is pacing.
  sdWake_.signal();
  withLink(link_, [](CNetDevice& d) { return d.record_file_stop(); });
}

void CameraView::releasePacingWait() { beginRelease(); }

void CameraView::beginRelease() {
  sdReleasing_ = 1;
  sdWake_.signal();
}

void CameraView::controlDestroying() {
  withLink(link_, [](CNetDevice& d) { return d.record_file_stop(); });
  StopVideo();
}

// ---------------------------------------------------------------- notifications

void CameraView::showAlarm(int32_t slot, int32_t timer, std::string_view caption) {
  if (!player_) return;
  const bool motion = slot == 2;
  const OsdItem item = osdItem(motion ? OsdRect{5, 45, 165, 75} : OsdRect{165, 45, 325, 75},
                               caption, OsdKindText, motion ? OsdTopRight : OsdBottomLeft, 255);
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.setOsdString(slot, &item); });
  host_.killTimer(timer);
  host_.setTimer(timer, kAlarmCaptionMs);
}

void CameraView::endAlarm(int32_t notify, int32_t slot, int32_t timer) {
  host_.fireMessageNotify(notify, 0);
  host_.killTimer(timer);
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.removeOsdstring(slot); });
}

void CameraView::onUiMessage(UiMessage message, int32_t param) {
  switch (message) {
    case UiMessage::StreamLost:
      host_.fireMessageNotify(NOTIFY_STREAM_LOST, 0);
      break;
    case UiMessage::BadCredentials:
    case UiMessage::MaxConnections:
    case UiMessage::RequestTypeError:
    case UiMessage::VideoLoss:
      errorShown_ = true;
      host_.setStatusText(connectionErrorText(message));
      host_.clearAndShowStatus();
      break;
    case UiMessage::MotionAlarm:
      host_.fireMessageNotify(NOTIFY_MOTION_ALARM, 0);
      showAlarm(2, kAlarmTimerMotion, "[Motion Alarm]");
      break;
    case UiMessage::GpioAlarm:
      host_.fireMessageNotify(NOTIFY_ALARM, 0);
      showAlarm(3, kAlarmTimerOther, "[GPIO Alarm]");
      break;
    case UiMessage::SoundAlarm:
      host_.fireMessageNotify(NOTIFY_ALARM, 0);
      showAlarm(3, kAlarmTimerOther, "[Sound Alarm]");
      break;
    case UiMessage::SensorAlarm:
      if (param >= LinkEventSensorAlarmFirst && param <= LinkEventSensorAlarmLast)
        showAlarm(3, kAlarmTimerOther, sensorCaption(param));
      break;
    case UiMessage::MotionAlarmOver:
      endAlarm(NOTIFY_MOTION_ALARM_END, 2, kAlarmTimerMotion);
      break;
    case UiMessage::OtherAlarmOver:
      endAlarm(NOTIFY_ALARM_END, 3, kAlarmTimerOther);
      break;
    case UiMessage::SdPosition:
      host_.fireMessageNotify(NOTIFY_SD_POSITION, sdPosition_.load());
      break;
    case UiMessage::StreamConnected:
    case UiMessage::CameraFound:
      break;
  }
}

void CameraView::onTimer(int32_t id) {
  const bool motion = id == kAlarmTimerMotion;
  if (!motion && id != kAlarmTimerOther) return;
  host_.killTimer(id);
  if (!player_) return;
  host_.fireMessageNotify(motion ? NOTIFY_MOTION_ALARM_END : NOTIFY_ALARM_END, 0);
  withPlayer(player_, [&](CNetStreamPlay& p) { return p.removeOsdstring(motion ? 2 : 3); });
}

}  // namespace tavolen
