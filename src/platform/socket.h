#pragma once
// POSIX sockets behind the small set of calls the link and the search need.
// Errors are reported with errno values (lastSocketError), as the Win32 code
// reported its last socket error. Time limits run on the clock in use
// (clock.h).

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/clock.h"

namespace tavolen::platform {

using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;

int lastSocketError();
const char* errorText(int error);

// True when text is a dotted IPv4 address (four decimal parts, inet_pton rules).
bool isDottedIPv4(const char* text);
// Looks the name up (IPv4 only) and writes the first address as dotted text.
bool resolveIPv4(const char* name, std::string& dottedOut);

SocketHandle createTcpSocket();
SocketHandle createUdpSocket();
enum class SocketOption { ReuseAddress, NoDelay, SendBuffer, ReceiveBuffer, Broadcast };
bool setSocketOption(SocketHandle s, SocketOption option, int value);
bool setNonBlocking(SocketHandle s, bool on);

enum class ConnectStart { Done, InProgress, Failed };
// Starts a connect to dotted IPv4 host:port on a (non-blocking) socket.
ConnectStart startConnect(SocketHandle s, const char* dottedHost, int port);

enum class WaitResult { Ready, Timeout, Error };
// Waits for writability, then checks the connect outcome (SO_ERROR).
WaitResult waitConnected(SocketHandle s, int timeoutMs);
WaitResult waitReadable(SocketHandle s, int timeoutMs);

enum class SocketOrEvent { Socket, SocketClosed, Event, Timeout, Error, NotASocket };
// Waits for data (or hang-up) on s or a signal on eventFd, at most timeoutMs
// of the clock.
SocketOrEvent waitSocketOrEvent(SocketHandle s, int eventFd, int timeoutMs, Clock& on = currentClock());

// Single calls; results as the C library's (-1 with errno on error).
long sendOnce(SocketHandle s, const void* data, size_t length);

enum class SendResult { Sent, TimedOut, Failed };
// Sends every byte, waiting at most timeoutMs in all for the peer to make
// room. A send that times out or fails may have sent a part: the connection's
// byte stream is then broken and the caller should end it. A shutdown of the
// socket from another thread makes a waiting sendAll fail at once.
SendResult sendAll(SocketHandle s, const void* data, size_t length, uint32_t timeoutMs);
long receiveOnce(SocketHandle s, void* data, size_t length);
// As receiveOnce, but never waits: -1 with errno EAGAIN when nothing is there.
long receiveNow(SocketHandle s, void* data, size_t length);
bool wouldBlock(int error);

bool bindAny(SocketHandle s, uint16_t port);
bool bindAddress(SocketHandle s, const char* dottedHost, uint16_t port);
long sendTo(SocketHandle s, const void* data, size_t length, const char* dottedHost, uint16_t port);
long receiveFrom(SocketHandle s, void* data, size_t length);
uint16_t localPort(SocketHandle s);

void shutdownBoth(SocketHandle s);
void shutdownReceive(SocketHandle s);
void closeSocket(SocketHandle s);

}  // namespace tavolen::platform
