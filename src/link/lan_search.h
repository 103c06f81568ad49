#pragma once
// The process-wide LAN camera search: one UDP socket bound to a random local
// port, one receive thread that reports every "DH" 0x0801 answer.
//
// Threads: lanSearchInitialization, lanSearchSearch and lanSearchUnInitialization
// may be called from any thread; they are serialised by one process-wide lock
// that is never held while the callback runs. The callback runs on the receive
// thread; the reply record it gets is valid only during the call.

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "tavolen/types.h"

namespace tavolen {

// Where the search request goes. The default is the limited broadcast address;
// the environment variable TAVOLEN_SEARCH_ADDRESS ("a.b.c.d:port") overrides it,
// so that demos and tests can aim the request at a loopback responder.
struct SearchDestination {
  std::string host = "255.255.255.255";
  uint16_t port = SEARCH_PORT;
};

inline constexpr const char* kSearchAddressVariable = "TAVOLEN_SEARCH_ADDRESS";

// Parses "a.b.c.d:port" (dotted IPv4, port 1..65535). False leaves out untouched.
bool parseSearchAddress(const char* text, SearchDestination& out);
// The default destination, or the override when the variable holds a valid address.
SearchDestination searchDestinationFromEnvironment();

// What the receive thread does with one datagram: true when it is a search
// reply that goes to the callback. Bytes past the datagram read as zero.
bool isSearchReply(const uint8_t* datagram, size_t length);

// The fields of a reply record that this system reads. The texts stop at their
// NUL or at the next field (the IP text before the port, the name at the end of
// the 320 bytes a caller keeps), whichever comes first.
struct SearchReplyFields {
  std::string ip;
  uint16_t port = 0;
  std::string name;
};
SearchReplyFields readSearchReply(const uint8_t* record);

// Maps a pseudo-random value to the local port range 1000..65534.
uint16_t searchPortFromRandom(int value);

class LanSearch {
 public:
  explicit LanSearch(SearchDestination destination);
  // Ends the receive thread (waiting at most kStopWaitMs) and closes the socket.
  ~LanSearch();
  LanSearch(const LanSearch&) = delete;
  LanSearch& operator=(const LanSearch&) = delete;

  // Opens the UDP socket with SO_BROADCAST, binds it to a random port and starts
  // the receive thread. True when open (also when it already was).
  bool open();
  bool isOpen() const;
  // Stores the callback and user value as one pair, then sends the 4-byte
  // request. Nothing is sent while the socket is closed.
  void search(SearchCallback callback, void* user);
  uint16_t boundPort() const;
  const SearchDestination& destination() const { return destination_; }

  static constexpr uint32_t kStopWaitMs = 500;
  static constexpr const char* kReceiveThreadName = "tavolen-search";

 private:
  struct Shared;
  void close();

  SearchDestination destination_;
  std::shared_ptr<Shared> shared_;  // also held by the receive thread
  std::thread thread_;
};

// The process-wide object behind the device_broadcast_* exports.
int32_t lanSearchInitialization();
int32_t lanSearchSearch(SearchCallback callback, void* user);
int32_t lanSearchUnInitialization();
// Local port of the process-wide socket, 0 when there is none (tests, demo).
uint16_t lanSearchLocalPort();

}  // namespace tavolen
