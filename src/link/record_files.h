#pragma once
// RecordFiles: the SD-card record-file listing and playback of a link. For now
// a listing is accepted and finds nothing, and playback cannot be started; the
// requests come with the SD-card support.
//
// Threads: every method may be called from any thread except from inside the
// playback frame callback (stop and setPos close the playback connection).

#include <cstdint>
#include <memory>

#include "link/link_state.h"
#include "tavolen/types.h"

namespace tavolen {

class RecordFiles {
 public:
  explicit RecordFiles(std::shared_ptr<LinkState> state);
  ~RecordFiles();
  RecordFiles(const RecordFiles&) = delete;
  RecordFiles& operator=(const RecordFiles&) = delete;

  // 1: the search was started.
  int32_t searchList(const int32_t (&dateFields)[12], RecordListCallback callback, void* user);
  // 1 when the playback request was sent, 0 when it could not be.
  int32_t start(const char* fileName, FrameCallback callback, void* user);
  int32_t setPos(int32_t offset);
  // Always 1.
  int32_t stop();
  // Closes the playback connection and waits for a running search (destroy).
  void close();

 private:
  std::shared_ptr<LinkState> state_;
};

}  // namespace tavolen
