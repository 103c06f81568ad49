#include "request.h"

#include <cerrno>
#include <cstdlib>

namespace camsim {

std::string Request::param(const std::string& key, const std::string& fallback) const {
  auto it = query.find(key);
  return it == query.end() ? fallback : it->second;
}

long Request::number(const std::string& key, long fallback) const {
  auto it = query.find(key);
  if (it == query.end() || it->second.empty()) return fallback;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(it->second.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') return fallback;
  return v;
}

namespace {
std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}
}  // namespace

bool parseRequest(const std::string& head, Request& out) {
  out = Request{};
  out.head = head;
  const size_t lineEnd = head.find("\r\n");
  if (lineEnd == std::string::npos) return false;
  out.line = head.substr(0, lineEnd);

  const size_t sp1 = out.line.find(' ');
  if (sp1 == std::string::npos || sp1 == 0) return false;
  const size_t sp2 = out.line.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || sp2 == sp1 + 1) return false;
  out.method = out.line.substr(0, sp1);
  std::string target = out.line.substr(sp1 + 1, sp2 - sp1 - 1);
  out.version = out.line.substr(sp2 + 1);
  if (out.version.rfind("HTTP/", 0) != 0) return false;

  if (!target.empty() && target[0] == '/') {
    out.leadingSlash = true;
    target.erase(0, 1);
  }
  const size_t q = target.find('?');
  out.path = target.substr(0, q);
  if (q != std::string::npos) {
    const std::string qs = target.substr(q + 1);
    size_t pos = 0;
    while (pos <= qs.size()) {
      size_t amp = qs.find('&', pos);
      if (amp == std::string::npos) amp = qs.size();
      const std::string pair = qs.substr(pos, amp - pos);
      if (!pair.empty()) {
        const size_t eq = pair.find('=');
        if (eq == std::string::npos) {
          out.query.emplace(pair, "");
        } else {
          out.query.emplace(pair.substr(0, eq), pair.substr(eq + 1));
        }
      }
      pos = amp + 1;
    }
  }

  size_t pos = lineEnd + 2;
  while (pos < head.size()) {
    const size_t end = head.find("\r\n", pos);
    if (end == std::string::npos || end == pos) break;
    const std::string h = head.substr(pos, end - pos);
    const size_t colon = h.find(':');
    if (colon != std::string::npos) out.headers[h.substr(0, colon)] = trim(h.substr(colon + 1));
    pos = end + 2;
  }
  return true;
}

}  // namespace camsim
