#include "recording_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace soak {

namespace {

// The output of a command and its exit status.
int run(const std::string& command, std::string& out) {
  out.clear();
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return -1;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0) out.append(buffer.data(), n);
  return ::pclose(p);
}

std::string quoted(const std::string& path) {
  std::string q = "'";
  for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

int64_t number(const std::string& field) {
  if (field.empty() || field == "N/A") return -1;
  try {
    return std::stoll(field);
  } catch (...) {
    return -1;
  }
}

}  // namespace

RecordingReadBack readRecording(const std::string& path) {
  RecordingReadBack r;
  std::string out;
  const int status = run("ffprobe -v error -count_packets -show_entries "
                         "stream=codec_type,nb_frames,nb_read_packets -of csv=p=0 " +
                             quoted(path) + " 2>/dev/null",
                         out);
  std::istringstream lines(out);
  std::string line;
  bool video = false;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string kind, promised, read;
    std::getline(fields, kind, ',');
    std::getline(fields, promised, ',');
    std::getline(fields, read, ',');
    if (kind != "video" && kind != "audio") {
      r.error += line + "\n";
      continue;
    }
    video = video || kind == "video";
    r.streams.push_back(StreamReadBack{kind, number(promised), number(read)});
  }
  r.readable = status == 0 && video;
  return r;
}

std::string recordingProblem(const RecordingReadBack& r) {
  if (!r.readable) return "not readable by ffprobe" + (r.error.empty() ? std::string() : ": " + r.error);
  for (const StreamReadBack& s : r.streams) {
    if (s.kind != "video") continue;
    if (s.read < 1) return "no video frame";
  }
  return {};
}

int64_t videoFramesRead(const RecordingReadBack& r) {
  for (const StreamReadBack& s : r.streams)
    if (s.kind == "video") return s.read;
  return 0;
}

std::vector<std::string> recordingsUnder(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file() && it->path().extension() == ".avi") files.push_back(it->path().string());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace soak
