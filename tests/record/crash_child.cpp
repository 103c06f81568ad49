// Records real H.264 and sound until it is killed, printing after every frame
// how many frames it has handed to the recorder. argv[1]: the record path.

#include <cstdio>

#include "record/avi_recorder.h"
#include "record_fixtures.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  using namespace tavolen;
  // 40 ms per frame on the recorder's clock, with no real waiting.
  test::FakeTime time;
  test::FakeDisk disk;
  const auto& frames = test::h264AccessUnits(320, 240, 50);
  CAviRecorder rec(time, disk);
  if (rec.startRecord(test::recordParams(argv[1], "cam"), 320, 240, CAviRecorder::kCodecH264) != 1) return 3;
  std::printf("file %s\n", rec.currentFileName().c_str());
  std::fflush(stdout);
  for (long n = 0;; ++n) {
    const test::Bytes& f = frames[n % frames.size()];
    if (rec.writeVideo(f.data(), static_cast<uint32_t>(f.size())) != 1) return 4;
    if (n % 3 == 0 && rec.writeAudio(test::decodedSoundBlock(static_cast<int>(n % 50)).data()) != 1) return 5;
    std::printf("%ld\n", n + 1);
    std::fflush(stdout);
    time.advance(40);
  }
}
