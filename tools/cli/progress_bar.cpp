#include "progress_bar.h"

#include <algorithm>
#include <cstdio>

#include "console.h"

namespace tavolen::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr auto kRedrawPeriod = std::chrono::milliseconds(200);

}  // namespace

ProgressBar::ProgressBar(uint64_t total)
    : total_(total), shown_(Console::errIsTerminal()), start_(Clock::now()) {}

void ProgressBar::update(uint64_t done) {
  if (!shown_ || total_ == 0) return;
  const auto now = Clock::now();
  if (now - lastDraw_ < kRedrawPeriod && done < total_) return;
  lastDraw_ = now;
  done = std::min(done, total_);
  const double part = static_cast<double>(done) / static_cast<double>(total_);
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  char bar[kBarWidth + 1];
  const int filled = static_cast<int>(part * kBarWidth);
  for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kBarWidth] = '\0';
  char left[32] = "--:--";
  if (done > 0 && elapsed > 0.5) {
    const auto seconds = static_cast<long>(elapsed * (1.0 - part) / part + 0.5);
    std::snprintf(left, sizeof left, "%ld:%02ld", seconds / 60, seconds % 60);
  }
  std::fprintf(Console::err(), "\r%3d%% [%s] %.1f / %.1f MB  %s left \x1b[K", static_cast<int>(part * 100), bar,
               static_cast<double>(done) / 1e6, static_cast<double>(total_) / 1e6, left);
  std::fflush(Console::err());
}

void ProgressBar::finish() {
  if (!shown_) return;
  std::fputs("\r\x1b[K", Console::err());
  std::fflush(Console::err());
  shown_ = false;
}

}  // namespace tavolen::cli
