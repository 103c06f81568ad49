#include "origin_list.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace tavolen::host {
namespace {

constexpr size_t kMaxOriginLength = 255;

bool isHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A port of 1..65535 written in decimal without a sign; -1 otherwise.
int parsePort(std::string_view s) {
  if (s.empty() || s.size() > 5) return -1;
  int port = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return -1;
    port = port * 10 + (c - '0');
  }
  return port >= 1 && port <= 65535 ? port : -1;
}

}  // namespace

std::optional<std::string> normalizeOrigin(std::string_view origin) {
  if (origin.empty() || origin.size() > kMaxOriginLength) return std::nullopt;
  for (char c : origin)
    if (c <= ' ' || c > '~') return std::nullopt;
  std::string text = lower(origin);
  if (!text.empty() && text.back() == '/') text.pop_back();
  std::string scheme;
  int defaultPort = 0;
  if (text.rfind("http://", 0) == 0) {
    scheme = "http";
    defaultPort = 80;
  } else if (text.rfind("https://", 0) == 0) {
    scheme = "https";
    defaultPort = 443;
  } else {
    return std::nullopt;
  }
  std::string_view rest = std::string_view(text).substr(scheme.size() + 3);
  std::string_view host;
  std::string_view portText;
  if (!rest.empty() && rest.front() == '[') {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = rest.substr(0, close + 1);
    for (char c : host.substr(1, host.size() - 2))
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == ':' || c == '.'))
        return std::nullopt;
    if (host.size() < 3) return std::nullopt;
    rest.remove_prefix(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      portText = rest.substr(1);
      if (portText.empty()) return std::nullopt;
    }
  } else {
    const size_t colon = rest.find(':');
    host = rest.substr(0, colon);
    if (colon != std::string_view::npos) {
      portText = rest.substr(colon + 1);
      if (portText.empty()) return std::nullopt;
    }
    if (host.empty() || !std::all_of(host.begin(), host.end(), isHostChar)) return std::nullopt;
  }
  int port = defaultPort;
  if (!portText.empty()) {
    port = parsePort(portText);
    if (port < 0) return std::nullopt;
  }
  std::string out = scheme + "://" + std::string(host);
  if (port != defaultPort) out += ":" + std::to_string(port);
  return out;
}

std::filesystem::path configFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::filesystem::path(xdg) / "tavolen";
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && home[0] ? home : "/") / ".config" / "tavolen";
}

std::vector<std::string> readOriginFile(const std::filesystem::path& file) {
  std::vector<std::string> origins;
  std::ifstream in(file);
  std::string line;
  while (origins.size() < kMaxOrigins && std::getline(in, line)) {
    if (line.size() > kMaxOriginLength * 4) continue;
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const size_t last = line.find_last_not_of(" \t\r");
    if (auto origin = normalizeOrigin(std::string_view(line).substr(first, last - first + 1)))
      if (std::find(origins.begin(), origins.end(), *origin) == origins.end())
        origins.push_back(*origin);
  }
  return origins;
}

bool writeOriginFile(const std::filesystem::path& file, const std::vector<std::string>& origins) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  const std::filesystem::path temporary = file.string() + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    if (!out) return false;
    out << "# Web origins allowed to drive a Tavolen control through tavolen-host.\n";
    for (const std::string& origin : origins) out << origin << '\n';
    if (!out.flush()) return false;
  }
  std::filesystem::rename(temporary, file, ec);
  return !ec;
}

std::vector<std::string> ownOrigins(int port) {
  const std::string suffix = port == 80 ? "" : ":" + std::to_string(port);
  return {"http://127.0.0.1" + suffix, "http://localhost" + suffix, "http://[::1]" + suffix};
}

}  // namespace tavolen::host
