// A control host that is killed while it records: it plays a substitute
// camera with sound, talk and local recording (into the folder its settings
// file names), prints "recording" once the recording runs, then keeps
// rewriting the recording limits in its settings file and prints
// "video N" every 100 ms, N being the video frames taken for the recording
// so far. With --seconds N it stops cleanly after N seconds; without, it runs
// until it is killed. Run it inside the sound rig (talk needs a microphone).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "control_support.h"
#include "soak_view.h"

int main(int argc, char** argv) {
  int seconds = 0;
  if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0) seconds = std::atoi(argv[2]);
  soak::SoakView view(0, "127.0.0.1", 1, std::string());
  if (!view.start()) {
    std::puts("failed to start");
    return 1;
  }
  // Frames taken before the recording began are not in it; counting from
  // here only under-counts what the file holds.
  const uint32_t base = view.videoFramesReceived();
  std::puts("recording");
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (int i = 0; seconds == 0 || std::chrono::steady_clock::now() < end; ++i) {
    view.invoke("SetRecordProperty", {ctltest::i4(100 + i % 50), ctltest::i4(5 + i % 10), ctltest::i4(200),
                                      ctltest::i4(i % 2)});
    if (i % 5 == 0) {
      std::printf("video %u\n", view.videoFramesReceived() - base);
      std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  view.finish();
  std::puts("stopped");
  return 0;
}
