#pragma once
// One live view of a soak: a substitute camera of its own on its own loopback
// address, with alarms on a schedule, and a control in an off-screen window
// showing it with sound, talk and local recording, all driven through the
// control's public entry points. A fault episode breaks the camera in one of
// the ways cameras break, checks that the view reacted as it must (a lost
// stream is reported, a refusal is shown), undoes the fault and checks that
// the picture comes back.
//
// Threads: one driver thread calls start(), runEpisode(), finish(); the
// event sink runs on the control's UI thread and only counts; failures() and
// the counters may be read from any thread.

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "camsim.h"
#include "tavolen/control.h"
#include "tavolen/window.h"

namespace soak {

// How a fault is brought about and what the view must show for it.
struct FaultCase {
  enum class Way {
    StreamFault,     // every connection misbehaves as camsim's fault says
    Reboot,          // streams dropped, connections refused for a while
    WrongPassword,   // the camera answers the live request with 200
    TooManyClients,  // ... with 201
    UnknownStream,   // ... with 202
    VideoLoss,       // ... with 203
  };
  const char* name;
  Way way;
  camsim::FaultKind kind = camsim::FaultKind::None;
};

const std::vector<FaultCase>& faultCases();

struct EpisodeResult {
  std::string fault;
  bool ok = false;
  std::string problem;
  double recoverySeconds = 0;  // fault undone → pictures again
};

// One stretch of local recording: the files it produced (more than one when
// the recorder moved on to a new file by itself; none when the file was too
// short to keep) and the video frames the player took meanwhile. Starting and
// stopping take a moment in which frames go on arriving, so the count is a
// range: at least the frames taken while the recording was surely on, at
// most those taken while it may have been.
struct RecordingSegment {
  std::vector<std::string> files;
  uint32_t fewestFrames = 0;
  uint32_t mostFrames = 0;
};

class SoakView {
 public:
  // address: the camera's own loopback address (127.0.0.N), which also names
  // the view's recording folder under recordRoot (the settings' folder).
  SoakView(int index, std::string address, uint32_t seed, std::string recordRoot);
  ~SoakView();
  SoakView(const SoakView&) = delete;
  SoakView& operator=(const SoakView&) = delete;

  // Camera up, control made, playing with sound, talk and recording. False
  // with a reason in failures() when any of it did not work.
  bool start();
  EpisodeResult runEpisode(const FaultCase& fault);
  // Starts a new recording file (the old one is closed).
  void turnRecording();
  // Stops everything and destroys the control; the camera stays up.
  void finish();

  // Calls a method of the control through its public entry point.
  int32_t invoke(const char* name, std::vector<TavolenVariant> args = {});
  // Video frames the view's player has taken from the link so far (each one
  // goes to the recording as it arrives).
  uint32_t videoFramesReceived();

  // Everything recorded so far, finished stretches only.
  const std::vector<RecordingSegment>& recordings() const { return segments_; }

  std::string name() const;
  uint32_t notifies(int type) const { return notify_[static_cast<size_t>(type)].load(); }
  std::mt19937& random() { return random_; }

 private:
  static void sink(void* user, int32_t dispid, const TavolenVariant* args, int32_t count);
  // The view's player and the pictures it has shown.
  struct Pictures {
    void* player = nullptr;
    uint32_t shown = 0;
  };
  Pictures pictures();
  // True once n pictures more than at mark (or n of a new player) were shown.
  bool waitForPictures(const Pictures& mark, uint32_t n, std::chrono::seconds limit);
  bool waitForNotify(int type, uint32_t above, std::chrono::seconds limit);
  bool waitForErrorShown(std::chrono::seconds limit);
  int32_t play(const char* password, int32_t stream);
  void reopenSound();
  void startRecording();
  void stopRecording();
  std::vector<std::string> ownRecordings() const;

  int index_;
  std::string address_;
  std::mt19937 random_;
  std::unique_ptr<camsim::Server> camera_;
  TavolenControl* control_ = nullptr;
  TavolenWindow* window_ = nullptr;
  std::array<std::atomic<uint32_t>, 11> notify_{};
  std::string recordRoot_;
  bool recording_ = false;
  std::vector<std::string> filesBefore_;  // when the current stretch began
  uint32_t framesAsked_ = 0;    // when StartRecord was asked for
  uint32_t framesStarted_ = 0;  // when it had returned
  std::vector<RecordingSegment> segments_;
};

}  // namespace soak
