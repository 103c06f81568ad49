#include "request_guard.h"

#include <algorithm>

#include "origin_list.h"

namespace tavolen::host {

bool hostHeaderAllowed(std::string_view host, int port) {
  const std::string suffix = ":" + std::to_string(port);
  if (host.size() <= suffix.size() || host.substr(host.size() - suffix.size()) != suffix)
    return false;
  std::string name(host.substr(0, host.size() - suffix.size()));
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name == "127.0.0.1" || name == "localhost" || name == "[::1]";
}

bool originAllowed(std::string_view origin, const std::vector<std::string>& allowList, int port) {
  const auto normalized = normalizeOrigin(origin);
  if (!normalized) return false;
  const auto own = ownOrigins(port);
  return std::find(own.begin(), own.end(), *normalized) != own.end() ||
         std::find(allowList.begin(), allowList.end(), *normalized) != allowList.end();
}

}  // namespace tavolen::host
