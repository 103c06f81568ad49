#include "control/tavolen_ctrl.h"

#include "platform/video_window.h"

namespace tavolen {

namespace {
constexpr const char* kFolderDialogTitle = "Selection";
}  // namespace

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
  ui_.call([this] { teardown(); });
  ui_.stop();
}

void CTavolenCtrl::teardown() {
  if (window_) destroyWindow();
  view_.releasePacingWait();
  found_.clear();
  view_.controlDestroying();
}

bool CTavolenCtrl::createWindow(TavolenWindow* window) {
  if (window_ || !platform::windowHandles().share(window)) return false;
  window_ = window;
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
  view_.windowDestroying();
  window_ = nullptr;
}

int32_t CTavolenCtrl::PlayVideo(std::string_view user, std::string_view pwd, std::string_view ip,
                                int32_t port, int32_t streamid, int32_t audioid) {
  return view_.PlayVideo(user, pwd, ip, port, streamid, audioid);
}

int32_t CTavolenCtrl::SetFocus(int32_t /*focus*/) { return 0; }
void CTavolenCtrl::ShowMax() {}
void CTavolenCtrl::ShowNormal() {}
void CTavolenCtrl::UpdataSize() {}

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

void* CTavolenCtrl::surfaceWindow() { return window_; }

void CTavolenCtrl::setStatusText(std::string_view utf8) { statusText_ = std::string(utf8); }

void CTavolenCtrl::clearAndShowStatus() {}

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
