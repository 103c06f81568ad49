#pragma once
// Reads a recording back with ffprobe, a reader independent of ours, which
// counts the frames by reading them.
//
// Threads: any; each call runs one ffprobe process.

#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct StreamReadBack {
  std::string kind;         // "video", "audio"
  int64_t promised = -1;    // samples the header counts (-1: not stated)
  int64_t read = -1;        // packets ffprobe read
};

struct RecordingReadBack {
  bool readable = false;    // ffprobe exited 0 and saw a video stream
  std::string error;        // lines of ffprobe's answer that name no stream
  std::vector<StreamReadBack> streams;
};

RecordingReadBack readRecording(const std::string& path);

// Empty when the file is readable with at least one video frame, else why
// not. The header's count is no measure: it also counts the empty samples
// that fill gaps in the stream, and a file cut off by a crash holds frames
// written after the header was last brought up to date.
std::string recordingProblem(const RecordingReadBack& r);
int64_t videoFramesRead(const RecordingReadBack& r);

// Every file ending in ".avi" under folder, at any depth, sorted.
std::vector<std::string> recordingsUnder(const std::string& folder);

}  // namespace soak
