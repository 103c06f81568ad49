#pragma once
// CTavolenCtrl: the control. It owns the UI thread on which everything of the
// control runs, the nine automation properties (plain members), the camera
// view, the video window once the host gives it a window, the settings file
// and the found-camera list, and fires the two events to its host's sink.
//
// Threads: the constructor and destructor run on the host's thread (never
// the control's own UI thread). Every other member function runs on the UI
// thread; ui().call() carries a host's call there. The sink is called only
// from the top of the UI thread's loop (events are posted, never fired
// inside the call that raised them).
//
// Before createWindow the control has no video window and no settings: the
// automation layer then answers every call itself (see automation.h).
//
// The host's window reports what the host does to it (size, mouse,
// visibility, expose) through an observer on the thread that did it; the
// observer carries each report to the UI thread and returns once it has been
// handled there, so the host's call (tavolen_window_set_size, ...) returns
// with the window already redrawn.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/camera_view.h"
#include "control/camera_view_host.h"
#include "control/control_clock.h"
#include "control/control_properties.h"
#include "control/found_cameras.h"
#include "control/settings_file.h"
#include "control/ui_thread.h"
#include "control/video_view_dlg.h"
#include "platform/folder_dialog.h"
#include "platform/window_observer.h"
#include "tavolen/control.h"

namespace tavolen {

class CTavolenCtrl final : private CameraViewHost,
                           private FoundCamerasOwner,
                           private control::VideoViewOwner {
 public:
  CTavolenCtrl(TavolenEventSink sink, void* user, ControlClock& clock = systemControlClock(),
               std::unique_ptr<platform::FolderDialog> folderDialog = platform::createFolderDialog());
  // The control's destruction: window first, then the view's teardown and the
  // LAN search share; no sink call after it returns.
  ~CTavolenCtrl();
  CTavolenCtrl(const CTavolenCtrl&) = delete;
  CTavolenCtrl& operator=(const CTavolenCtrl&) = delete;

  UiThread& ui() { return ui_; }
  // Any thread: ends a folder chooser the UI thread is waiting in (the
  // control is going away).
  void cancel();

  // --- UI thread ---
  // The container activates the control in a host window. False when a
  // window exists already or the handle is not a window.
  bool createWindow(TavolenWindow* window);
  bool hasWindow() const { return window_ != nullptr; }
  // A report from the host's window, carried here by the observer.
  void onWindowEvent(const platform::WindowEvent& event);
  ControlProperties& properties() override { return props_; }
  CameraView& view() { return view_; }

  // Automation methods (window created).
  int32_t PlayVideo(std::string_view user, std::string_view pwd, std::string_view ip, int32_t port,
                    int32_t streamid, int32_t audioid);
  int32_t StopVideo() { return view_.StopVideo(); }
  int32_t SetFocus(int32_t focus);
  void ShowMax();
  void ShowNormal();
  int32_t CapturePic() { return view_.CapturePic(); }
  int32_t OpenSound() { return view_.OpenSound(); }
  int32_t CloseSound() { return view_.CloseSound(); }
  int32_t StartTalk() { return view_.StartTalk(); }
  int32_t StopTalk() { return view_.StopTalk(); }
  int32_t StartRecord() { return view_.StartRecord(); }
  int32_t StopRecord() { return view_.StopRecord(); }
  void SetPath();
  void OnSearchCameras() { found_.search(); }
  int32_t SetFlip(int32_t type) { return view_.SetFlip(type); }
  int32_t SetOsd(std::string_view osd) { return view_.SetOsd(osd); }
  int32_t RemoveOsd() { return view_.RemoveOsd(); }
  void UpdataSize();
  void SetRecordProperty(int32_t fileLen, int32_t timeLen, int32_t reserved, int32_t cover);
  int32_t SdRecordFilePlay(std::string_view user, std::string_view pwd, std::string_view serverIp,
                           int32_t serverPort, std::string_view fileName, int32_t streamid) {
    return view_.SdRecordFilePlay(user, pwd, serverIp, serverPort, fileName, streamid);
  }
  int32_t SdRecordFileStop() { return view_.SdRecordFileStop(); }
  int32_t SdRecordFileSetPos(int32_t pos) { return view_.SdRecordFileSetPos(pos); }
  int32_t SetAlias(std::string_view alias) { return view_.SetAlias(alias); }

  // Events: queued in order and fired from the top of the UI thread's loop.
  void fireMessageNotify(int32_t type, int32_t param) override;
  void fireCameraSearched(const std::u16string& name, const std::u16string& ip,
                          int32_t port) override;

  // VideoViewOwner: the video window's paint and mouse handlers.
  void repaint() override { view_.repaint(); }
  void MessageNotify(int32_t type, int32_t param) override { fireMessageNotify(type, param); }

  // For tests: the settings file's name once the window exists.
  std::string settingsPath() const { return settings_ ? settings_->path() : std::string(); }
  size_t foundCameraCount() const { return found_.size(); }

 private:
  // CameraViewHost
  bool windowExists() override { return hasWindow(); }
  void* surfaceWindow() override;
  void setStatusText(std::string_view utf8) override;
  void clearAndShowStatus() override;
  bool postToUi(std::function<void()> work) override { return ui_.post(std::move(work)); }
  void setTimer(int32_t id, uint32_t periodMs) override { ui_.setTimer(id, periodMs); }
  void killTimer(int32_t id) override { ui_.killTimer(id); }
  ControlClock& clock() override { return ui_.clock(); }
  std::string readRecordFolder() override;

  class WindowBridge;

  void destroyWindow();
  void teardown();
  struct EventArg {
    static EventArg number(int32_t v) { return EventArg{v, {}, false}; }
    static EventArg string(std::u16string t) { return EventArg{0, std::move(t), true}; }
    int32_t i4;
    std::u16string text;
    bool isText;
  };
  void fire(int32_t dispid, std::vector<EventArg> args);

  TavolenEventSink sink_;
  void* sinkUser_;
  std::unique_ptr<platform::FolderDialog> folderDialog_;

  // UI thread only.
  ControlProperties props_;
  TavolenWindow* window_ = nullptr;
  control::CVideoViewDlg videoView_;
  std::shared_ptr<WindowBridge> bridge_;  // while a window is created
  std::optional<SettingsFile> settings_;

  // Made before the view and the list, which post to it; stopped in the
  // destructor's body, before any member its queued work touches goes.
  UiThread ui_;
  CameraView view_;
  FoundCameras found_;
};

}  // namespace tavolen
