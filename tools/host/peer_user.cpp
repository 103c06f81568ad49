#include "peer_user.h"

#include <bit>
#include <fstream>
#include <sstream>
#include <string>

namespace tavolen::host {
namespace {

// The table prints an address as the 32-bit word the kernel stores (network
// byte order) in the machine's own order, then ':' and the port in host order.
std::optional<Endpoint> parseEndpoint(std::string_view text) {
  if (text.size() != 13 || text[8] != ':') return std::nullopt;
  uint64_t address = 0;
  uint32_t port = 0;
  for (size_t i = 0; i < 13; ++i) {
    if (i == 8) continue;
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else return std::nullopt;
    if (i < 8) address = address * 16 + static_cast<uint64_t>(digit);
    else port = port * 16 + static_cast<uint32_t>(digit);
  }
  auto word = static_cast<uint32_t>(address);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
  return Endpoint{word, static_cast<uint16_t>(port)};
}

bool same(Endpoint a, Endpoint b) { return a.address == b.address && a.port == b.port; }

}  // namespace

std::optional<uint32_t> socketOwnerInTable(std::string_view table, Endpoint local, Endpoint remote) {
  std::istringstream lines{std::string(table)};
  std::string line;
  std::getline(lines, line);  // column titles
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, localText, remoteText, state, queues, timer, retransmits, uid;
    if (!(fields >> slot >> localText >> remoteText >> state >> queues >> timer >> retransmits >> uid))
      continue;
    const auto l = parseEndpoint(localText);
    const auto r = parseEndpoint(remoteText);
    if (!l || !r || !same(*l, local) || !same(*r, remote)) continue;
    if (uid.empty() || uid.size() > 10 || uid.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    const unsigned long long value = std::stoull(uid);
    if (value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(value);
  }
  return std::nullopt;
}

std::optional<uint32_t> peerUser(Endpoint ours, Endpoint peer) {
  std::ifstream in("/proc/net/tcp");
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return socketOwnerInTable(text.str(), peer, ours);
}

}  // namespace tavolen::host
