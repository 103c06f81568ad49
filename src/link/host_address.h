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

// What every link socket asks of the kernel for its buffers. The send buffer
// is 8192 bytes: only requests and talk packets leave. The receive buffer
// bounds the TCP window, and with it a stream's rate to at most the buffer per
// round trip: at 8192 bytes a camera 50 ms away could send no more than about
// 1.3 Mbit/s, a quarter of a 1080p stream. Half a megabyte (the size of the
// reassembly buffer) carries such a stream over a 200 ms round trip; the
// kernel bounds it by its own maximum (net.core.rmem_max).
struct SocketBufferSizes {
  int send = 8192;
  int receive = 0x80000;
};
// 0 leaves that buffer to the kernel's own sizing (no option call); the
// network benchmark compares sizings this way. Read when a socket is made.
SocketBufferSizes linkSocketBuffers();
void setLinkSocketBuffers(const SocketBufferSizes& sizes);

// Creates an IPv4 stream socket with SO_REUSEADDR, TCP_NODELAY and the buffer
// sizes above, writing the diagnostic line for each failing option. Returns
// kInvalidSocket when creation or SO_REUSEADDR fails.
platform::SocketHandle openConfiguredTcpSocket();

// Non-blocking connect, a wait of at most waitMs for writability, then back to
// blocking mode. On failure the socket is left to the caller to close.
bool connectWithWait(platform::SocketHandle s, const char* dottedHost, int32_t port, int waitMs);

}  // namespace tavolen
