#pragma once
// LinkState: the part of a camera link that its own threads may still touch
// after the link object is gone: a resolver thread abandoned inside a hanging
// lookup, or a watchdog abandoned inside a connect. The link, its resolver and
// every live session share it through a shared_ptr, so an abandoned thread
// writes into memory that is still valid and that nobody reads any more.
//
// Also the process-wide timing of new links, which tests shorten.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "link/http_exchange.h"
#include "link/plain_connection.h"
#include "platform/event.h"
#include "tavolen/types.h"

namespace tavolen {

using HostLookupFn = bool (*)(const char* name, std::string& dottedOut);

struct LinkTiming {
  uint32_t silenceMs = 5000;          // no whole frame for longer: reconnect
  uint32_t watchdogPeriodMs = 3000;   // the watchdog looks for silence this often
  uint32_t resolverPeriodMs = 10000;  // the resolver looks the name up again this often
  uint32_t resolverStopWaitMs = 100;
  uint32_t watchdogStopWaitMs = 200;
  uint32_t responseDeadlineMs = kResponseDeadlineMs;  // a whole answer to a request
  uint32_t sendTimeLimitMs = kSendTimeLimitMs;        // one request or talk packet
  HostLookupFn lookup = nullptr;      // null: the system's lookup
};

// New links copy the timing current at their construction.
LinkTiming currentLinkTiming();
void setLinkTiming(const LinkTiming& timing);

class LinkState {
 public:
  LinkState(const DeviceConnectParams& params, const char* headerBlock, const LinkTiming& timing);

  // Never change after construction.
  const DeviceConnectParams params;
  char headerBlock[kHeaderBlockSize];
  const LinkTiming timing;

  std::atomic<int32_t> hostResolved{0};
  std::atomic<int32_t> resolverStop{0};
  platform::Event resolverWake{platform::Event::Reset::Manual};  // signalled with resolverStop
  platform::Event resolved{platform::Event::Reset::Manual};      // signalled with hostResolved
  // Set by the link's cancel step (its destroy has begun): nothing new starts.
  std::atomic<int32_t> cancelled{0};

  // The dotted address as last resolved ("" before the first success).
  std::string resolvedAddress() const;
  void setResolvedAddress(const std::string& dotted);

  void setEventCallback(LinkEventCallback callback, void* user);
  bool hasEventCallback() const;
  // Calls the event callback, if one is set, outside the lock.
  void raise(int32_t code) const;

 private:
  mutable std::mutex addressLock_;
  char resolvedAddress_[16] = {};
  mutable std::mutex eventLock_;
  LinkEventCallback eventCallback_ = nullptr;
  void* eventUser_ = nullptr;
};

// Lets only the calls that began before close() run to their end: after close
// returns, no callback passes the gate again. enter and leave are the
// receive and watchdog threads' (a pair of atomic steps per frame); close
// waits for the calls in flight, so it must not run inside one of them.
class DeliveryGate {
 public:
  bool enter();
  void leave();
  void close();
  // True on a thread that is inside a call through this gate.
  bool enteredHere() const;

 private:
  std::atomic<int32_t> closed_{0};
  std::atomic<int32_t> inFlight_{0};
  std::mutex drainLock_;  // with drained_, only for close's wait
  std::condition_variable drained_;
};

}  // namespace tavolen
