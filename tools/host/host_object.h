#pragma once
// The host's own scriptable object, which a page reaches at /host beside its
// controls: what a camera page needs that the control has no member for, the
// camera's SD-card listing and the PC's mixer, over the library's C exports.
// It has a member table of its own, sent to the page in "ready" as a
// control's is, and answers "invoke" messages; its events go out as "event"
// messages. The control's member table stays exactly the control's.
//
// Members (all methods, results I4):
//   1 listRecordFiles(user, pwd, ip BSTR, port, year, month, day I4): fires
//     onRecordFile once per recording of that local day, in the camera's
//     order, then returns their number; -1 when the date is no day, the
//     account does not fit, or the camera did not answer in time.
//   2 getPlayVolume()          speaker volume in percent, -1 on failure
//   3 setPlayVolume(volume I4) 0, or E_FAIL
//   4 getMute()                1 muted, 0 not
//   5 setMute(mute I4)         0, or E_FAIL
//   6 getMicPlayVolume()       microphone volume in percent, -1 on failure
//   7 setMicPlayVolume(volume I4)
//   8 getMicMute()
//   9 setMicMute(mute I4)
// Event 1 onRecordFile(fileName BSTR, size I4).
//
// Threads: handle() on the connection's network thread; the calls run in
// order on the object's own thread, which may block for the listing's
// deadline; the destructor (the host's reaper thread) waits for a call in
// progress.

#include <atomic>
#include <memory>
#include <vector>

#include "page_control.h"
#include "page_protocol.h"
#include "worker.h"

namespace tavolen::host {

class HostObject {
 public:
  // Sends "ready" at once. liveObjects counts the host's objects; this one
  // holds a count until destroyed.
  HostObject(Deliver deliver, std::atomic<int>& liveObjects);
  ~HostObject();
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;

  // invoke runs on the object's thread; every other op is refused.
  void handle(const PageMessage& message);

  static std::vector<MemberRow> members();

 private:
  void invoke(const PageMessage& message);

  Deliver deliver_;
  std::atomic<int>& liveObjects_;
  std::atomic<bool> closing_{false};
  std::unique_ptr<Worker> calls_;
};

}  // namespace tavolen::host
