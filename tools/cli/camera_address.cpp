#include "camera_address.h"

#include <cstdio>
#include <cstring>

namespace tavolen::cli {

namespace {

bool isHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool parsePort(std::string_view text, int32_t& port) {
  if (text.empty() || text.size() > 5) return false;
  int32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

void copyText(char (&field)[64], const std::string& text) {
  std::snprintf(field, sizeof field, "%s", text.c_str());
}

}  // namespace

std::string parseCameraAddress(std::string_view text, CameraAddress& out) {
  CameraAddress a;
  if (text.empty()) return "no camera given";
  std::string_view hostPort = text;
  // The last '@' ends the account, so a password may hold '@' itself.
  const size_t at = text.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view account = text.substr(0, at);
    hostPort = text.substr(at + 1);
    const size_t colon = account.find(':');
    a.user = std::string(account.substr(0, colon));
    a.userGiven = true;
    if (colon != std::string_view::npos) {
      a.password = std::string(account.substr(colon + 1));
      a.passwordGiven = true;
    }
    if (a.user.empty()) return "no user name before ':' or '@' in " + std::string(text);
  }
  const size_t colon = hostPort.find(':');
  if (colon != std::string_view::npos) {
    if (hostPort.find(':', colon + 1) != std::string_view::npos)
      return "bad camera address " + std::string(hostPort) + " (cameras are reached over IPv4)";
    if (!parsePort(hostPort.substr(colon + 1), a.port))
      return "bad port in " + std::string(hostPort) + " (1 to 65535)";
    hostPort = hostPort.substr(0, colon);
  }
  if (hostPort.empty()) return "no host in " + std::string(text);
  for (char c : hostPort)
    if (!isHostByte(c)) return "bad host name " + std::string(hostPort);
  a.host = std::string(hostPort);
  for (const auto& [what, value] : {std::pair<const char*, const std::string&>{"the host name", a.host},
                                    {"the user name", a.user},
                                    {"the password", a.password}}) {
    const std::string error = checkRequestValue(what, value, kConnectTextMax);
    if (!error.empty()) return error;
  }
  out = a;
  return "";
}

std::string checkRequestValue(std::string_view what, std::string_view value, size_t maxBytes) {
  if (value.size() > maxBytes)
    return std::string(what) + " is longer than " + std::to_string(maxBytes) + " bytes";
  for (char c : value) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F)
      return std::string(what) + " holds a space or a control character, which a camera request cannot carry";
    if (c == '&') return std::string(what) + " holds '&', which a camera request cannot carry";
  }
  return "";
}

DeviceConnectParams connectParams(const CameraAddress& address) {
  DeviceConnectParams p;
  std::memset(&p, 0, sizeof p);
  copyText(p.user, address.user);
  copyText(p.password, address.password);
  copyText(p.host, address.host);
  p.port = address.port;
  return p;
}

std::string displayName(const CameraAddress& address) {
  return address.host + ":" + std::to_string(address.port);
}

std::string deviceTag(std::string_view host) {
  std::string tag(host);
  for (char& c : tag)
    if (c == '/' || c == ':' || c == '.') c = '_';
  return tag;
}

}  // namespace tavolen::cli
