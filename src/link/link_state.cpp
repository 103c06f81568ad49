#include "link/link_state.h"

#include <cstring>
#include <thread>

#include "platform/tick.h"

namespace tavolen {

namespace {
std::mutex gTimingLock;
LinkTiming gTiming;

// Depth of gate passages on this thread, per gate, so that close() from inside
// a callback does not wait for itself.
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
    inFlight_.fetch_sub(1);
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
  inFlight_.fetch_sub(1);
}

void DeliveryGate::close() {
  closed_.store(1);
  const int32_t own = tGate == this ? tGateDepth : 0;
  while (inFlight_.load() > own) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

}  // namespace tavolen
