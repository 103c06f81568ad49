#include "link/link_state.h"

#include <cstring>

namespace tavolen {

namespace {
std::mutex gTimingLock;
LinkTiming gTiming;

// The gate this thread is passing through and how deeply, so that a stop
// asked from inside a callback can be told from one asked elsewhere.
thread_local const DeliveryGate* tGate = nullptr;
thread_local int32_t tGateDepth = 0;
}  // namespace

LinkTiming currentLinkTiming() {
  std::lock_guard<std::mutex> guard(gTimingLock);
  return gTiming;
}

void setLinkTiming(const LinkTiming& timing) {
  std::lock_guard<std::mutex> guard(gTimingLock);
  gTiming = timing;
}

LinkState::LinkState(const DeviceConnectParams& p, const char* block, const LinkTiming& t)
    : params(p), timing(t) {
  std::memcpy(headerBlock, block, kHeaderBlockSize);
}

std::string LinkState::resolvedAddress() const {
  std::lock_guard<std::mutex> guard(addressLock_);
  return resolvedAddress_;
}

void LinkState::setResolvedAddress(const std::string& dotted) {
  std::lock_guard<std::mutex> guard(addressLock_);
  const size_t n = std::min(dotted.size(), sizeof resolvedAddress_ - 1);
  std::memcpy(resolvedAddress_, dotted.data(), n);
  resolvedAddress_[n] = '\0';
}

void LinkState::setEventCallback(LinkEventCallback callback, void* user) {
  std::lock_guard<std::mutex> guard(eventLock_);
  eventCallback_ = callback;
  eventUser_ = user;
}

bool LinkState::hasEventCallback() const {
  std::lock_guard<std::mutex> guard(eventLock_);
  return eventCallback_ != nullptr;
}

void LinkState::raise(int32_t code) const {
  LinkEventCallback callback;
  void* user;
  {
    std::lock_guard<std::mutex> guard(eventLock_);
    callback = eventCallback_;
    user = eventUser_;
  }
  if (callback != nullptr) callback(code, user);
}

bool DeliveryGate::enter() {
  inFlight_.fetch_add(1);
  if (closed_.load() != 0) {
    if (inFlight_.fetch_sub(1) == 1) {
      std::lock_guard<std::mutex> guard(drainLock_);
      drained_.notify_all();
    }
    return false;
  }
  if (tGate == this) {
    ++tGateDepth;
  } else if (tGate == nullptr) {
    tGate = this;
    tGateDepth = 1;
  }
  return true;
}

void DeliveryGate::leave() {
  if (tGate == this && --tGateDepth == 0) tGate = nullptr;
  if (inFlight_.fetch_sub(1) == 1 && closed_.load() != 0) {
    std::lock_guard<std::mutex> guard(drainLock_);
    drained_.notify_all();
  }
}

void DeliveryGate::close() {
  closed_.store(1);
  std::unique_lock<std::mutex> guard(drainLock_);
  drained_.wait(guard, [&] { return inFlight_.load() == 0; });
}

bool DeliveryGate::enteredHere() const { return tGate == this; }

}  // namespace tavolen
