#include "control/tavolen_ctrl.h"

#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/video_window.h"

namespace tavolen {

namespace {

constexpr const char* kFolderDialogTitle = "Selection";

// The windows that hold a control: one window, one control (a window has one
// observer and one focus frame).
std::mutex gWindowsLock;
std::set<const void*> gWindowsInUse;

bool claimWindow(const void* window) {
  std::lock_guard guard(gWindowsLock);
  return gWindowsInUse.insert(window).second;
}

void releaseWindow(const void* window) {
  std::lock_guard guard(gWindowsLock);
  gWindowsInUse.erase(window);
}

}  // namespace

// Carries the host window's reports to the UI thread and waits for them to
// be handled. The window may still call it after detach() (it keeps its own
// reference); such a call finds no control and returns. Calls that got past
// the check hold the control up: the destructor waits for them once the UI
// thread has stopped, which makes their carried calls return.
class CTavolenCtrl::WindowBridge : public platform::WindowObserver {
 public:
  explicit WindowBridge(CTavolenCtrl* control) : control_(control) {}

  void windowEvent(const platform::WindowEvent& event) override {
    CTavolenCtrl* control;
    {
      std::lock_guard guard(lock_);
      control = control_;
      if (!control) return;
      ++calls_;
    }
    control->ui().call([control, event] { control->onWindowEvent(event); });
    std::lock_guard guard(lock_);
    if (--calls_ == 0) idle_.notify_all();
  }

  // UI thread: no new report reaches the control.
  void detach() {
    std::lock_guard guard(lock_);
    control_ = nullptr;
  }

  // Host thread, after the UI thread stopped.
  void waitIdle() {
    std::unique_lock guard(lock_);
    idle_.wait(guard, [&] { return calls_ == 0; });
  }

 private:
  std::mutex lock_;  // guards control_ and calls_
  std::condition_variable idle_;
  CTavolenCtrl* control_;
  int calls_ = 0;
};

CTavolenCtrl::CTavolenCtrl(TavolenEventSink sink, void* user, ControlClock& clock,
                           std::unique_ptr<platform::FolderDialog> folderDialog)
    : sink_(sink),
      sinkUser_(user),
      folderDialog_(std::move(folderDialog)),
      ui_(clock, [this](int32_t id) { view_.onTimer(id); }),
      view_(*this),
      found_(*this) {}

void CTavolenCtrl::cancel() {
  if (folderDialog_) folderDialog_->cancel();
}

CTavolenCtrl::~CTavolenCtrl() {
  // A chooser left open would hold the UI thread, and with it this teardown.
  cancel();
  std::shared_ptr<WindowBridge> bridge;
  ui_.call([&] {
    bridge = bridge_;
    teardown();
  });
  ui_.stop();
  if (bridge) bridge->waitIdle();
}

void CTavolenCtrl::teardown() {
  if (window_) destroyWindow();
  view_.releasePacingWait();
  found_.clear();
  view_.controlDestroying();
}

bool CTavolenCtrl::createWindow(TavolenWindow* window) {
  if (window_) return false;
  std::shared_ptr<platform::VideoWindow> host = platform::windowHandles().share(window);
  if (!host || !claimWindow(window)) return false;
  // The video window first: it paints at once, showing the (empty) view.
  if (!videoView_.create(this, window)) {
    releaseWindow(window);
    return false;
  }
  window_ = window;
  bridge_ = std::make_shared<WindowBridge>(this);
  host->setObserver(bridge_);
  view_.windowCreated();
  settings_.emplace(SettingsFile::locate());
  settings_->loadSettings(props_);
  for (int32_t ControlProperties::*state :
       {&ControlProperties::VideoState, &ControlProperties::SoundState,
        &ControlProperties::RecordState, &ControlProperties::TalkState}) {
    props_.*state = 0;
    props_.setModified();
  }
  return true;
}

void CTavolenCtrl::destroyWindow() {
  if (auto host = platform::windowHandles().share(window_)) host->setObserver(nullptr);
  bridge_->detach();
  view_.windowDestroying();
  videoView_.destroy();
  releaseWindow(window_);
  window_ = nullptr;
}

void CTavolenCtrl::onWindowEvent(const platform::WindowEvent& event) {
  if (window_) videoView_.onWindowEvent(event);
}

int32_t CTavolenCtrl::PlayVideo(std::string_view user, std::string_view pwd, std::string_view ip,
                                int32_t port, int32_t streamid, int32_t audioid) {
  return view_.PlayVideo(user, pwd, ip, port, streamid, audioid);
}

int32_t CTavolenCtrl::SetFocus(int32_t focus) {
  if (videoView_.exists()) videoView_.drawFocusFrame(focus);
  return 0;
}

void CTavolenCtrl::ShowMax() { videoView_.ShowMax(); }
void CTavolenCtrl::ShowNormal() { videoView_.ShowNormal(); }
void CTavolenCtrl::UpdataSize() { videoView_.UpdataSize(); }

void CTavolenCtrl::SetPath() {
  const std::optional<std::string> chosen = folderDialog_ ? folderDialog_->choose(kFolderDialogTitle)
                                                          : std::nullopt;
  // A folder too long for the file's field has no usable name here.
  if (!chosen || chosen->size() > kSetPathMaxBytes || !settings_) return;
  settings_->storeFolder(props_, *chosen);
}

void CTavolenCtrl::SetRecordProperty(int32_t fileLen, int32_t timeLen, int32_t reserved,
                                     int32_t cover) {
  if (settings_) settings_->SetRecordProperty(props_, fileLen, timeLen, reserved, cover);
}

std::string CTavolenCtrl::readRecordFolder() {
  return settings_ ? settings_->readRecordFolder() : std::string();
}

void* CTavolenCtrl::surfaceWindow() { return videoView_.surfaceWindow(); }

void CTavolenCtrl::setStatusText(std::string_view utf8) { videoView_.setStatusText(utf8); }

void CTavolenCtrl::clearAndShowStatus() { videoView_.clearAndShowStatus(); }

void CTavolenCtrl::fire(int32_t dispid, std::vector<EventArg> args) {
  if (!sink_) return;
  ui_.post([this, dispid, args = std::move(args)] {
    std::vector<TavolenVariant> variants;
    for (const EventArg& a : args) {
      if (a.isText)
        variants.push_back(TavolenVariant{TAVOLEN_VT_BSTR, 0,
                                          reinterpret_cast<const uint16_t*>(a.text.c_str()),
                                          static_cast<int32_t>(a.text.size())});
      else
        variants.push_back(TavolenVariant{TAVOLEN_VT_I4, a.i4, nullptr, 0});
    }
    sink_(sinkUser_, dispid, variants.data(), static_cast<int32_t>(variants.size()));
  });
}

void CTavolenCtrl::fireMessageNotify(int32_t type, int32_t param) {
  fire(TAVOLEN_DISPID_MESSAGENOTIFY, {EventArg::number(type), EventArg::number(param)});
}

void CTavolenCtrl::fireCameraSearched(const std::u16string& name, const std::u16string& ip,
                                      int32_t port) {
  fire(TAVOLEN_DISPID_ONCAMERASEARCHED,
       {EventArg::number(0), EventArg::string(name), EventArg::string(ip), EventArg::number(port),
        EventArg::number(port), EventArg::number(port), EventArg::number(1)});
}

}  // namespace tavolen
