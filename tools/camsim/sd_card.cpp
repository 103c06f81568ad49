// The SD card: get_record_file.cgi lists the recordings of the record folder
// whose first frame falls between two dates; livestream.cgi with stream id 4
// plays one of them from a byte offset until the file ends.
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "camsim.h"
#include "connection.h"
#include "router.h"

namespace camsim {

namespace {

constexpr uint32_t kMagic = 0xA815AA55u;
constexpr size_t kHeader = 32;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

struct Recording {
  std::string name;
  uint64_t size;
  uint32_t recorded;  // time stamp of the first frame, seconds since 1970 UTC
};

std::vector<Recording> recordings(const std::string& folder) {
  std::vector<Recording> out;
  std::error_code ec;
  if (folder.empty()) return out;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    uint8_t head[kHeader];
    if (!in.read(reinterpret_cast<char*>(head), sizeof head) || le32(head) != kMagic) continue;
    out.push_back({entry.path().filename().string(), entry.file_size(ec), le32(head + 8)});
  }
  std::sort(out.begin(), out.end(), [](const Recording& a, const Recording& b) { return a.name < b.name; });
  return out;
}

// A name from the request names a file directly in the folder, nothing else.
bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

void listFiles(Connection& c) {
  Server& server = c.server;
  if (!accountMatches(server, c.request, "loginuse", "loginpas")) {
    c.sendHttp(200, "OK", "text/plain", "var result=\"Auth Failed\";\r\n");
    c.finish();
    return;
  }
  if (c.fault.kind == FaultKind::Silent) {
    server.logLine("connection %d: listing withheld (fault)", c.id);
    // Until the viewer hangs up.
    char sink[256];
    while (c.alive() && !server.stopping()) {
      pollfd p{c.fd(), POLLIN, 0};
      if (::poll(&p, 1, 50) > 0 && ::recv(c.fd(), sink, sizeof sink, 0) <= 0) break;
    }
    return;
  }
  // Dates come as the low 32 bits of the seconds, signed.
  const int64_t start = static_cast<uint32_t>(static_cast<int32_t>(c.request.number("startdate", 0)));
  const int64_t end = static_cast<uint32_t>(static_cast<int32_t>(c.request.number("enddate", -1)));
  std::vector<Recording> found;
  for (const Recording& r : recordings(server.config().camera.recordFolder))
    if (r.recorded >= start && r.recorded <= end) found.push_back(r);
  std::string body = "var record_num0=" + std::to_string(found.size()) + ";\r\n";
  for (size_t i = 0; i < found.size(); ++i) {
    body += "var record_name0[" + std::to_string(i) + "]=\"" + found[i].name + "\";\r\n";
    body += "var record_size0[" + std::to_string(i) + "]=" + std::to_string(found[i].size) + ";\r\n";
  }
  server.logLine("connection %d: %zu recordings between %lld and %lld", c.id, found.size(),
                 static_cast<long long>(start), static_cast<long long>(end));
  c.sendHttp(200, "OK", "text/plain", body);
  c.finish();
}

// The first frame header at or after offset whose frame lies wholly in the file.
int64_t nextFrame(const std::vector<uint8_t>& file, int64_t offset) {
  for (int64_t at = std::max<int64_t>(offset, 0); at + static_cast<int64_t>(kHeader) <= static_cast<int64_t>(file.size());
       ++at) {
    const uint8_t* p = file.data() + at;
    if (le32(p) != kMagic) continue;
    const uint64_t length = le32(p + 16);
    if (at + kHeader + length <= file.size()) return at;
  }
  return -1;
}

void playFile(Connection& c) {
  Server& server = c.server;
  if (!accountMatches(server, c.request)) {
    c.sendFrame(200, nullptr, 0, 0);
    c.finish();
    return;
  }
  const std::string name = c.request.param("filename");
  const std::string folder = server.config().camera.recordFolder;
  std::vector<uint8_t> file;
  if (!folder.empty() && isPlainName(name)) {
    std::ifstream in(std::filesystem::path(folder) / name, std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const long offset = c.request.number("offset", 0);
  const int64_t from = file.empty() ? -1 : nextFrame(file, offset);
  if (from < 0) {
    server.logLine("connection %d: no recording \"%s\" to play from %ld", c.id, name.c_str(), offset);
    c.finish();
    return;
  }
  server.logLine("connection %d: playing \"%s\" from byte %lld", c.id, name.c_str(), static_cast<long long>(from));
  // Whole frames, back to back, as fast as the viewer takes them: the viewer
  // paces playback by the frames' time stamps.
  constexpr size_t kChunk = 64 * 1024;
  for (size_t at = static_cast<size_t>(from); at < file.size() && c.alive() && !server.stopping(); at += kChunk) {
    if (!c.sendAll(file.data() + at, std::min(kChunk, file.size() - at))) return;
  }
  c.finish();
}

}  // namespace

void registerSdCard(Router& router, Server&) {
  router.add(Route{"get_record_file.cgi", nullptr, listFiles, "sd-card"});
  router.add(Route{"livestream.cgi", [](const Request& r) { return r.number("streamid", -1) == 4; }, playFile,
                   "sd-card"});
}

}  // namespace camsim
