#include "control/found_cameras.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "control/utf_text.h"
#include "link/lan_search.h"

namespace tavolen {

namespace {

constexpr int kOpenTries = 4;

// Event texts are at most 256 characters with their terminator.
constexpr size_t kEventTextUnits = 255;

// The process-wide side: who hears the answers, and the use count.
class SearchShare {
 public:
  static SearchShare& instance() {
    static SearchShare* share = new SearchShare;  // outlives static destructors
    return *share;
  }

  void acquire() {
    std::lock_guard guard(lifeLock_);
    if (users_++ == 0) lanSearchInitialization();
  }

  void release(FoundCameras* listener) {
    {
      // Once this returns, the search thread is not inside listener.
      std::lock_guard guard(listenLock_);
      std::erase(listeners_, listener);
    }
    std::lock_guard guard(lifeLock_);
    if (--users_ == 0) lanSearchUnInitialization();
  }

  void search(FoundCameras* listener) {
    {
      std::lock_guard guard(listenLock_);
      if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
    }
    std::lock_guard guard(lifeLock_);
    // Missing (shut down from outside), or its random port was taken: each
    // try draws another port.
    for (int tries = 0; tries < kOpenTries && lanSearchLocalPort() == 0; ++tries)
      lanSearchInitialization();
    lanSearchSearch(&SearchShare::answer, nullptr);
  }

 private:
  static int32_t answer(const uint8_t* record, void*) {
    SearchShare& share = instance();
    std::lock_guard guard(share.listenLock_);
    for (FoundCameras* listener : share.listeners_) listener->found(record);
    return 1;
  }

  // lifeLock_ orders set-up and shut-down; it is held while the search
  // thread is joined, so the search thread never takes it. listenLock_
  // guards listeners_ and is held while answers are handed out.
  std::mutex lifeLock_;
  int users_ = 0;
  std::mutex listenLock_;
  std::vector<FoundCameras*> listeners_;
};

}  // namespace

FoundCameras::FoundCameras(FoundCamerasOwner& owner) : owner_(owner) {
  SearchShare::instance().acquire();
}

FoundCameras::~FoundCameras() { SearchShare::instance().release(this); }

void FoundCameras::search() {
  clear();
  SearchShare::instance().search(this);
}

void FoundCameras::clear() {
  std::lock_guard guard(listLock_);
  list_.clear();
}

size_t FoundCameras::size() const {
  std::lock_guard guard(listLock_);
  return list_.size();
}

void FoundCameras::found(const uint8_t* record) {
  auto copy = std::make_shared<Record>();
  std::memcpy(copy->data(), record, kRecordSize);
  const auto ipOf = [](const Record& r) {
    return fieldText(reinterpret_cast<const char*>(r.data()), SEARCH_REPLY_PORT_OFFSET);
  };
  {
    std::lock_guard guard(listLock_);
    for (const auto& listed : list_)
      if (ipOf(*listed) == ipOf(*copy)) return;
    list_.push_back(copy);
  }
  // The report carries its own reference: a new search may empty the list
  // before the UI thread gets to it.
  owner_.postToUi([&owner = owner_, copy] {
    const SearchReplyFields fields = readSearchReply(copy->data());
    owner.fireCameraSearched(utf8ToUtf16(fields.name, kEventTextUnits),
                              utf8ToUtf16(fields.ip, kEventTextUnits), fields.port);
  });
}

}  // namespace tavolen
