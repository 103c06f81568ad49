#pragma once
// The cameras a control's LAN search found, and the control's share of the
// process's one search socket.
//
// The search socket is set up when the first control is made and shut down
// when the last one goes (a use count), so destroying one of two controls
// leaves the other a working search; a search socket shut down from outside
// (device_broadcast_unInitialization), or one whose random port was taken,
// is made again by the next search.
// Every control that has searched hears every answer from then on: the
// answers to one control's request are cameras on the same network for all.
//
// Each camera (by its IP text) is reported once per search: the list keeps
// what was reported since the control's last search. The search thread
// appends to it and posts the report; the UI thread empties it. Both go
// through listLock_. Reports already posted carry their own copy and need
// only the owner, which outlives the UI thread's queue.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavolen {

class FoundCamerasOwner {
 public:
  // Any thread; never blocks.
  virtual bool postToUi(std::function<void()> work) = 0;
  // UI thread: OnCameraSearched(0, name, ip, port, port, port, 1).
  virtual void fireCameraSearched(const std::u16string& name, const std::u16string& ip,
                                  int32_t port) = 0;

 protected:
  ~FoundCamerasOwner() = default;
};

class FoundCameras {
 public:
  static constexpr size_t kRecordSize = 320;
  using Record = std::array<uint8_t, kRecordSize>;

  // Takes a share of the search socket (made now when the first).
  explicit FoundCameras(FoundCamerasOwner& owner);
  // Stops hearing answers, then gives the share back (the last share shuts
  // the socket down).
  ~FoundCameras();
  FoundCameras(const FoundCameras&) = delete;
  FoundCameras& operator=(const FoundCameras&) = delete;

  // UI thread: forgets what was reported and sends a search request.
  void search();
  // UI thread: forgets what was reported (the control's destruction).
  void clear();
  // Search thread: one answer's record (kRecordSize bytes readable).
  void found(const uint8_t* record);

  size_t size() const;

 private:
  FoundCamerasOwner& owner_;
  mutable std::mutex listLock_;
  std::vector<std::shared_ptr<const Record>> list_;  // arrival order
};

}  // namespace tavolen
