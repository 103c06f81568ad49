#include "soak_view.h"

#include <algorithm>
#include <thread>

#include "control/tavolen_ctrl.h"
#include "control_support.h"
#include "recording_check.h"
#include "tavolen/tavolen.h"

namespace soak {

namespace {

using Clock = std::chrono::steady_clock;
using FaultKind = camsim::FaultKind;
using Way = FaultCase::Way;

constexpr int kStream = 3;
constexpr const char* kUser = "viewer";
constexpr const char* kPassword = "secret";
// The watchdog notices 5 s of silence and tries again about every 6 s; a
// rebooting camera is away for its down time on top.
constexpr auto kLossLimit = std::chrono::seconds(20);
constexpr auto kRecoveryLimit = std::chrono::seconds(40);
// How long a fault stays before it is undone: long enough for the view to
// meet it on a reconnection of its own.
constexpr auto kFaultHold = std::chrono::seconds(8);
constexpr uint32_t kPicturesForRecovery = 10;

void pause(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

}  // namespace

const std::vector<FaultCase>& faultCases() {
  static const std::vector<FaultCase> cases = {
      {"silent", Way::StreamFault, FaultKind::Silent},
      {"close after N bytes", Way::StreamFault, FaultKind::CloseAfter},
      {"HTTP error page", Way::StreamFault, FaultKind::HttpError},
      {"broken magic", Way::StreamFault, FaultKind::BadMagic},
      {"stall mid-frame", Way::StreamFault, FaultKind::StallMidFrame},
      {"drop", Way::StreamFault, FaultKind::Drop},
      {"reboot", Way::Reboot},
      {"refusal 200 (account)", Way::WrongPassword},
      {"refusal 201 (too many clients)", Way::TooManyClients},
      {"refusal 202 (unknown stream)", Way::UnknownStream},
      {"refusal 203 (video loss)", Way::VideoLoss},
  };
  return cases;
}

SoakView::SoakView(int index, std::string address, uint32_t seed, std::string recordRoot)
    : index_(index), address_(std::move(address)), random_(seed), recordRoot_(std::move(recordRoot)) {}

SoakView::~SoakView() {
  finish();
  if (camera_) camera_->stop();
}

std::string SoakView::name() const { return "view " + std::to_string(index_) + " (" + address_ + ")"; }

void SoakView::sink(void* user, int32_t dispid, const TavolenVariant* args, int32_t count) {
  auto* self = static_cast<SoakView*>(user);
  if (dispid != TAVOLEN_DISPID_MESSAGENOTIFY || count < 1 || args[0].vt != TAVOLEN_VT_I4) return;
  const int32_t type = args[0].i4;
  if (type >= 0 && type < static_cast<int32_t>(self->notify_.size())) ++self->notify_[static_cast<size_t>(type)];
}

bool SoakView::start() {
  camsim::Config config;
  config.bindAddress = address_;
  config.user = kUser;
  config.password = kPassword;
  config.maxClients = 8;
  config.profiles = {{kStream, 160, 96, 25, true, 0}};
  config.camera.rebootDownMs = 1500;
  config.keepHistory = false;  // it would grow all through the soak
  // Alarms on the camera's own schedule, as a camera with motion detection
  // and a door contact sends them.
  config.schedule = {{FRAME_MOTION_ALARM, 7000}, {FRAME_GPIO_ALARM, 11000}, {FRAME_GPIO_ALARM_CLEAR, 17000}};
  camera_ = std::make_unique<camsim::Server>(config);
  if (!camera_->start()) return false;
  control_ = tavolen_control_create(&SoakView::sink, this);
  window_ = tavolen_window_create_offscreen(320, 240);
  if (control_ == nullptr || window_ == nullptr) return false;
  if (tavolen_control_create_window(control_, window_) != 1) return false;
  if (play(kPassword, kStream) != 0) return false;
  if (!waitForPictures(Pictures{}, kPicturesForRecovery, kRecoveryLimit)) return false;
  reopenSound();
  if (invoke("StartTalk") != 0) return false;
  startRecording();
  return recording_;
}

std::vector<std::string> SoakView::ownRecordings() const {
  std::string folder = address_;
  std::replace(folder.begin(), folder.end(), '.', '_');
  std::vector<std::string> own;
  for (const std::string& f : recordingsUnder(recordRoot_))
    if (f.find("/" + folder + "/") != std::string::npos) own.push_back(f);
  return own;
}

void SoakView::startRecording() {
  filesBefore_ = ownRecordings();
  framesAsked_ = videoFramesReceived();
  recording_ = invoke("StartRecord") == 0;
  framesStarted_ = videoFramesReceived();
}

void SoakView::stopRecording() {
  if (!recording_) return;
  RecordingSegment segment;
  const uint32_t asked = videoFramesReceived();
  invoke("StopRecord");
  recording_ = false;
  segment.fewestFrames = asked > framesStarted_ ? asked - framesStarted_ : 0;
  segment.mostFrames = videoFramesReceived() - framesAsked_;
  for (const std::string& f : ownRecordings())
    if (std::find(filesBefore_.begin(), filesBefore_.end(), f) == filesBefore_.end()) segment.files.push_back(f);
  segments_.push_back(std::move(segment));
}

int32_t SoakView::invoke(const char* name, std::vector<TavolenVariant> args) {
  return ctltest::callI4(control_, name, std::move(args));
}

int32_t SoakView::play(const char* password, int32_t stream) {
  using ctltest::i4;
  using ctltest::text;
  // A view plays one camera at a time: a new PlayVideo stops the old one.
  invoke("StopVideo");
  return invoke("PlayVideo", {text(kUser), text(password), text(address_), i4(camera_->port()), i4(stream), i4(0)});
}

void SoakView::reopenSound() {
  // A dropped sound connection stays down until the sound is opened again.
  invoke("CloseSound");
  invoke("OpenSound");
}

void SoakView::turnRecording() {
  stopRecording();
  startRecording();
}

void SoakView::finish() {
  if (control_ != nullptr) {
    stopRecording();
    invoke("StopTalk");
    invoke("CloseSound");
    invoke("StopVideo");
    tavolen_control_destroy(control_);
    control_ = nullptr;
  }
  if (window_ != nullptr) {
    tavolen_window_destroy(window_);
    window_ = nullptr;
  }
}

SoakView::Pictures SoakView::pictures() {
  // Looked at from inside: the public interface has no picture counter.
  auto& ctrl = *static_cast<tavolen::CTavolenCtrl*>(static_cast<void*>(control_));
  Pictures p;
  ctrl.ui().call([&] { p.player = ctrl.view().player(); });
  PlayerCounters counters{};
  if (x_player_getCounters(p.player, &counters) == 1) p.shown = counters.picturesPresented;
  return p;
}

uint32_t SoakView::videoFramesReceived() {
  const Pictures p = pictures();
  PlayerCounters counters{};
  if (x_player_getCounters(p.player, &counters) != 1) return 0;
  return counters.videoQueued + counters.droppedOverflow;
}

bool SoakView::waitForPictures(const Pictures& mark, uint32_t n, std::chrono::seconds limit) {
  const auto until = Clock::now() + limit;
  while (Clock::now() < until) {
    const Pictures now = pictures();
    const uint32_t base = now.player == mark.player ? mark.shown : 0;
    if (now.player != nullptr && now.shown >= base + n) return true;
    pause(std::chrono::milliseconds(50));
  }
  return false;
}

bool SoakView::waitForNotify(int type, uint32_t above, std::chrono::seconds limit) {
  const auto until = Clock::now() + limit;
  while (Clock::now() < until) {
    if (notifies(type) > above) return true;
    pause(std::chrono::milliseconds(50));
  }
  return false;
}

bool SoakView::waitForErrorShown(std::chrono::seconds limit) {
  auto& ctrl = *static_cast<tavolen::CTavolenCtrl*>(static_cast<void*>(control_));
  const auto until = Clock::now() + limit;
  while (Clock::now() < until) {
    bool shown = false;
    ctrl.ui().call([&] { shown = ctrl.view().errorShown(); });
    if (shown) return true;
    pause(std::chrono::milliseconds(50));
  }
  return false;
}

EpisodeResult SoakView::runEpisode(const FaultCase& fault) {
  EpisodeResult r;
  r.fault = fault.name;
  const uint32_t lostBefore = notifies(2);
  bool replay = false;  // a refusal suspends the link until the next PlayVideo
  switch (fault.way) {
    case Way::StreamFault: {
      const int frames = static_cast<int>(random_() % 40);
      camera_->setStandingFault(camsim::Fault{fault.kind, frames});
      camera_->reboot();  // cuts the streams that were fine, so the view meets the fault
      pause(kFaultHold);
      camera_->clearFaults();
      break;
    }
    case Way::Reboot:
      camera_->reboot();
      break;
    case Way::WrongPassword:
      stopRecording();
      play("not-the-password", kStream);
      replay = true;
      break;
    case Way::UnknownStream:
      stopRecording();
      play(kPassword, 7);
      replay = true;
      break;
    case Way::TooManyClients:
      camera_->setMaxClients(0);
      camera_->reboot();
      replay = true;
      break;
    case Way::VideoLoss:
      camera_->setVideoLoss(true);
      camera_->reboot();
      replay = true;
      break;
  }

  if (replay) {
    if (!waitForErrorShown(kLossLimit)) r.problem = "no error text shown";
    camera_->setMaxClients(8);
    camera_->setVideoLoss(false);
  } else if (!waitForNotify(2, lostBefore, kLossLimit)) {
    r.problem = "no stream-lost notification";
  }

  // A replay makes a new player, which counts from zero; its address may be
  // the old one's, so the old count must not be the mark.
  const Pictures mark = replay ? Pictures{} : pictures();
  const auto undone = Clock::now();
  if (replay) {
    stopRecording();
    if (play(kPassword, kStream) != 0) r.problem += " PlayVideo refused;";
  }
  if (!waitForPictures(mark, kPicturesForRecovery, kRecoveryLimit)) {
    r.problem += " the picture did not come back;";
  } else {
    r.recoverySeconds = std::chrono::duration<double>(Clock::now() - undone).count();
  }
  reopenSound();
  if (r.problem.empty()) {
    // Alarms reach a view that streams again.
    struct Alarm {
      uint8_t frame;
      int notify;
    };
    static constexpr Alarm kAlarms[] = {{FRAME_MOTION_ALARM, 3}, {FRAME_GPIO_ALARM, 4}, {FRAME_SOUND_ALARM, 4},
                                        {FRAME_MOTION_ALARM_CLEAR, 5}, {FRAME_GPIO_ALARM_CLEAR, 6}};
    const Alarm& alarm = kAlarms[random_() % std::size(kAlarms)];
    const uint32_t before = notifies(alarm.notify);
    camera_->sendStatus(alarm.frame);
    if (!waitForNotify(alarm.notify, before, kLossLimit))
      r.problem = "no MessageNotify " + std::to_string(alarm.notify) + " after an alarm";
  }
  if (replay) {
    invoke("StartTalk");
    startRecording();
  }
  r.ok = r.problem.empty();
  return r;
}

}  // namespace soak
