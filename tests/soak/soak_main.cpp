// A soak: four live views of substitute cameras with sound, talk and local
// recording, each camera breaking in a random way every few seconds while
// its alarms run on a schedule, for as long as asked (--seconds N). It fails
// (exit status 1) when a view does not react to a fault as it must or does
// not get its picture back, when the process's memory, descriptors or
// threads keep growing after the warm-up, or when a recording does not read
// back whole. Run it inside the sound rig (tests/rig/run.sh), which gives
// talk a microphone and the sound somewhere to play.
//
// Options: --seconds N (default 120), --seed S, --folder DIR (recordings and
// settings; default a fresh temporary folder, removed after a clean run).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "process_usage.h"
#include "recording_check.h"
#include "soak_view.h"

namespace {

using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' own bookkeeping (quarantine, shadow memory) grows with
// the work done, so resident memory says nothing about leaks there; the
// leak checker does.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// Resident memory settles only once the allocator has met the threads the
// faults bring about and kept a heap for them: the memory in use is flat from
// the second minute, but resident memory climbs by half over the first ten
// minutes before it flattens. So the warm-up is the first third of the run,
// and only runs of twenty minutes or more hold resident memory to its bound;
// shorter runs (CI's) hold descriptors and threads.
constexpr int kResidentRunSeconds = 1200;
constexpr int kViews = 4;
// The bounds after warm-up: resident memory within 10% of the warm-up's
// peak (long runs); descriptors and threads within what the cameras' connections in
// flight may add (each view's camera serves video, sound and talk).
constexpr double kResidentGrowth = 0.10;
constexpr uint32_t kFileSlack = 6 * kViews;
constexpr uint32_t kThreadSlack = 4 * kViews;

struct Options {
  int seconds = 120;
  uint32_t seed = std::random_device{}();
  std::string folder;
};

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return false;
    if (a == "--seconds")
      o.seconds = std::atoi(argv[++i]);
    else if (a == "--seed")
      o.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    else if (a == "--folder")
      o.folder = argv[++i];
    else
      return false;
  }
  return o.seconds > 0;
}

struct Tally {
  std::mutex lock;
  std::map<std::string, int> runs, failures;
  std::vector<std::string> problems;
  double worstRecovery = 0;
  double recoveryTotal = 0;
  int recovered = 0;

  void add(const std::string& view, const soak::EpisodeResult& r) {
    std::lock_guard<std::mutex> g(lock);
    ++runs[r.fault];
    if (!r.ok) {
      ++failures[r.fault];
      problems.push_back(view + ", " + r.fault + ":" + r.problem);
    }
    if (r.recoverySeconds > 0) {
      worstRecovery = std::max(worstRecovery, r.recoverySeconds);
      recoveryTotal += r.recoverySeconds;
      ++recovered;
    }
  }
  void fail(const std::string& what) {
    std::lock_guard<std::mutex> g(lock);
    problems.push_back(what);
  }
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--seconds N] [--seed S] [--folder DIR]\n", argv[0]);
    return 2;
  }
  const bool ownFolder = options.folder.empty();
  if (ownFolder) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavolen-soak-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return 2;
    options.folder = pattern;
  }
  const std::string records = options.folder + "/records";
  std::filesystem::create_directories(records);
  const std::string settings = options.folder + "/Tavolen.ini";
  {
    FILE* f = std::fopen(settings.c_str(), "w");
    if (f == nullptr) return 2;
    std::fprintf(f, "[PATH]\nSETPATH=%s\n", records.c_str());
    std::fclose(f);
  }
  ::setenv("TAVOLEN_SETTINGS_FILE", settings.c_str(), 1);
  ::setenv("TAVOLEN_FOLDER_DIALOG", "exit 1", 1);
  std::printf("soak: %d s, seed %u, folder %s\n", options.seconds, options.seed, options.folder.c_str());
  std::fflush(stdout);

  const auto begin = Clock::now();
  const auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - begin).count(); };
  const bool checkResident = !kSanitized && options.seconds >= kResidentRunSeconds;
  const double warmUp = options.seconds / 3.0;
  const auto end = begin + std::chrono::seconds(options.seconds);
  // No fault begins so late that its recovery could outlast the run by much.
  const auto lastFault = end - std::chrono::seconds(std::min(20, options.seconds / 4));

  Tally tally;
  std::vector<std::unique_ptr<soak::SoakView>> views;
  for (int i = 0; i < kViews; ++i)
    views.push_back(std::make_unique<soak::SoakView>(i, "127.0.0." + std::to_string(i + 1), options.seed + i, records));

  std::atomic<bool> sampling{true};
  std::vector<soak::ProcessUsage> samples;
  std::thread sampler([&] {
    while (sampling) {
      samples.push_back(soak::sampleProcessUsage(elapsed()));
      if (samples.size() % 60 == 0) {
        const soak::ProcessUsage& u = samples.back();
        std::printf("at %4.0f s: %llu KiB resident (heap in use %llu KiB), %u descriptors, %u threads\n",
                    u.atSeconds, static_cast<unsigned long long>(u.residentKiB),
                    static_cast<unsigned long long>(u.heapInUseKiB), u.openFiles, u.threads);
        std::fflush(stdout);
      }
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  });

  std::vector<std::thread> drivers;
  for (auto& v : views)
    drivers.emplace_back([&, view = v.get()] {
      if (!view->start()) {
        tally.fail(view->name() + ": did not start playing");
        return;
      }
      auto nextTurn = Clock::now() + std::chrono::seconds(20);
      const auto& cases = soak::faultCases();
      while (Clock::now() < lastFault) {
        // A fault every few seconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000 + view->random()() % 3000));
        if (Clock::now() >= lastFault) break;
        const soak::FaultCase& fault = cases[view->random()() % cases.size()];
        tally.add(view->name(), view->runEpisode(fault));
        if (Clock::now() >= nextTurn) {
          view->turnRecording();
          nextTurn = Clock::now() + std::chrono::seconds(20);
        }
      }
      while (Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });
  for (auto& d : drivers) d.join();
  sampling = false;
  sampler.join();

  for (auto& v : views) v->finish();

  const std::string growth = soak::flatAfterWarmUp(samples, warmUp, checkResident, kResidentGrowth,
                                                   kFileSlack, kThreadSlack);
  if (!growth.empty()) tally.fail("after warm-up: " + growth);

  // Each stretch of recording holds every video frame the player took while
  // it surely recorded, and none it took before or after (one frame of
  // leeway each side: the count is read beside the recorder, not by it).
  int files = 0, frames = 0, dropped = 0;
  for (auto& v : views) {
    for (const soak::RecordingSegment& segment : v->recordings()) {
      if (segment.files.empty()) {
        ++dropped;  // shorter than the recorder keeps
        continue;
      }
      int64_t read = 0;
      for (const std::string& path : segment.files) {
        ++files;
        const soak::RecordingReadBack r = soak::readRecording(path);
        read += soak::videoFramesRead(r);
        const std::string problem = soak::recordingProblem(r);
        if (!problem.empty()) tally.fail(path + ": " + problem);
      }
      frames += static_cast<int>(read);
      if (read + 1 < segment.fewestFrames || read > segment.mostFrames + 1)
        tally.fail(segment.files.front() + ": " + std::to_string(read) + " video frames read, " +
                   std::to_string(segment.fewestFrames) + " to " + std::to_string(segment.mostFrames) +
                   " taken while it recorded");
    }
  }
  if (files < kViews) tally.fail("only " + std::to_string(files) + " recordings written");

  const soak::ProcessUsage warm = soak::peakUsage(samples, 0, warmUp);
  const soak::ProcessUsage later = soak::peakUsage(samples, warmUp, 1e18);
  std::printf("faults:\n");
  int episodes = 0;
  for (const auto& [fault, n] : tally.runs) {
    episodes += n;
    std::printf("  %-32s %3d run, %d failed\n", fault.c_str(), n, tally.failures[fault]);
  }
  std::printf("recovery: mean %.1f s, worst %.1f s over %d episodes\n",
              tally.recovered ? tally.recoveryTotal / tally.recovered : 0.0, tally.worstRecovery, episodes);
  std::printf("warm-up peak (first %.0f s): %llu KiB resident, %u descriptors, %u threads\n", warmUp,
              static_cast<unsigned long long>(warm.residentKiB), warm.openFiles, warm.threads);
  std::printf("peak after warm-up: %llu KiB resident, %u descriptors, %u threads\n",
              static_cast<unsigned long long>(later.residentKiB), later.openFiles, later.threads);
  std::printf("recordings: %d files, %d video frames read back by ffprobe; %d stretches too short to keep\n",
              files, frames, dropped);
  for (const std::string& p : tally.problems) std::printf("FAILED: %s\n", p.c_str());
  std::printf("soak %s after %.0f s\n", tally.problems.empty() ? "passed" : "FAILED", elapsed());
  std::fflush(stdout);
  if (tally.problems.empty() && ownFolder) std::filesystem::remove_all(options.folder);
  return tally.problems.empty() ? 0 : 1;
}
