#pragma once
// Which user owns the other end of a loopback TCP connection. The kernel's
// table of TCP sockets (/proc/net/tcp) lists, for every socket, its two
// endpoints and the uid that created it; the peer's socket is the row whose
// local end is our remote end and whose remote end is our local end.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tavolen::host {

struct Endpoint {
  uint32_t address = 0;  // IPv4, host byte order (127.0.0.1 = 0x7F000001)
  uint16_t port = 0;
};

// The uid in the row of `table` (the text of /proc/net/tcp) whose local
// address is `local` and remote address is `remote`; nullopt when no row
// matches or the row is malformed.
std::optional<uint32_t> socketOwnerInTable(std::string_view table, Endpoint local, Endpoint remote);

// Looks the peer of a connection up in the running kernel: `ours` is our end
// of the connection, `peer` the other. nullopt when the table cannot be read or
// the peer's socket is not in it (then it is not a process on this machine's
// loopback, or it is already gone).
std::optional<uint32_t> peerUser(Endpoint ours, Endpoint peer);

}  // namespace tavolen::host
