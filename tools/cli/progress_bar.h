#pragma once
// A one-line progress bar on the terminal (bytes done and time left), drawn
// on the tool's stderr only when that is a terminal: piped, the tool stays
// quiet. Main thread only.

#include <cstdint>

#include "waits.h"

namespace tavolen::cli {

class ProgressBar {
 public:
  explicit ProgressBar(uint64_t total);
  ~ProgressBar() { finish(); }
  void update(uint64_t done);
  // Clears the line.
  void finish();

 private:
  uint64_t total_;
  bool shown_;
  Clock::time_point start_;
  Clock::time_point lastDraw_{};
};

}  // namespace tavolen::cli
