#pragma once
// The connect steps shared by CTcpSocket and PlainConnection: host text to a
// dotted address, a TCP socket with the fixed options, and a connect bounded
// by a writability wait.

#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace tavolen {

// Dotted IPv4 text is used as it is (at most 127 characters); anything else is
// looked up. False, silently, when the lookup fails.
bool resolveHostText(const char* host, std::string& dotted);

// Creates an IPv4 stream socket with SO_REUSEADDR, TCP_NODELAY and 8192-byte
// buffers each way, writing the diagnostic line for each failing option.
// Returns kInvalidSocket when creation or SO_REUSEADDR fails.
platform::SocketHandle openConfiguredTcpSocket();

// Non-blocking connect, a wait of at most waitMs for writability, then back to
// blocking mode. On failure the socket is left to the caller to close.
bool connectWithWait(platform::SocketHandle s, const char* dottedHost, int32_t port, int waitMs);

}  // namespace tavolen
