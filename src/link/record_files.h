#pragma once
// RecordFiles: the SD-card record files of a link. A listing runs on its own
// search thread (one at a time; a new one waits for the previous) over the
// search PlainConnection and reports each file to a RecordListCallback.
// Playback is a stream request on the playback CTcpSocket whose frames go,
// unchanged and in order, to a FrameCallback on that socket's receive thread;
// the callback may block to pace playback.
//
// Threads: every method may be called from any thread except from inside the
// playback frame callback (stop and setPos close the playback connection and
// wait for its receive thread), and searchList not from inside the list
// callback (it would wait for the search that is calling; it returns 0).
// Locks: playbackLock_ serialises start/setPos/stop; searchLock_ serialises
// searchList/close. The playback callback fields change only while no receive
// thread runs. The search connection is the search thread's; cancel only
// shuts it down, which the connection allows from any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "link/link_state.h"
#include "link/plain_connection.h"
#include "link/tcp_socket.h"
#include "tavolen/types.h"

namespace tavolen {

class RecordFiles {
 public:
  explicit RecordFiles(std::shared_ptr<LinkState> state);
  ~RecordFiles();
  RecordFiles(const RecordFiles&) = delete;
  RecordFiles& operator=(const RecordFiles&) = delete;

  // 1: the search was started (after the previous one ended, which its
  // response deadline bounds). Out-of-range dates end it without a request.
  // 0 when called from the list callback, which cannot wait for its own
  // search to end, or once cancel has run.
  int32_t searchList(const int32_t (&dateFields)[12], RecordListCallback callback, void* user);
  // 1 when the playback request was sent from offset 0, 0 when the connect
  // failed or the request was refused (a name unsafe in a query, or too long).
  int32_t start(const char* fileName, FrameCallback callback, void* user);
  // Restarts playback of the stored file name at offset; results as start.
  int32_t setPos(int32_t offset);
  // Always 1. The callback stays stored. A start or seek in progress on
  // another thread is broken off first, so stop never waits on the camera.
  int32_t stop();
  // Any thread, never waits (the link's destroy): breaks off the playback and
  // search connections and whatever waits on them; nothing connects again and
  // no more files are reported.
  void cancel();
  // Cancels, closes the playback connection and waits for a running search.
  void close();

  // The longest file name kept for playback.
  static constexpr size_t kFileNameMax = 127;

 private:
  static void deliver(const uint8_t* frame, int32_t length, void* owner);
  void searchMain();
  int32_t requestPlayback(int32_t offset);

  std::shared_ptr<LinkState> state_;

  std::mutex playbackLock_;
  CTcpSocket playback_;
  char fileName_[kFileNameMax + 1] = {};
  FrameCallback playbackCallback_ = nullptr;
  void* playbackUser_ = nullptr;

  std::mutex searchLock_;
  std::thread searchThread_;
  std::atomic<std::thread::id> searchThreadId_{};
  std::atomic<int32_t> closing_{0};
  // Written by searchList only while no search thread runs.
  int32_t dateFields_[12] = {};
  RecordListCallback listCallback_ = nullptr;
  void* listUser_ = nullptr;
  PlainConnection search_;
};

}  // namespace tavolen
