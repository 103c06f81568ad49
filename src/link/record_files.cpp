#include "link/record_files.h"

#include <cstring>
#include <memory>
#include <string>

#include "link/command_requests.h"
#include "link/http_exchange.h"
#include "link/record_list.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace tavolen {

RecordFiles::RecordFiles(std::shared_ptr<LinkState> state) : state_(std::move(state)) {
  playback_.bindDelivery(&RecordFiles::deliver, this);
  playback_.setSendTimeLimit(state_->timing.sendTimeLimitMs);
}

RecordFiles::~RecordFiles() { close(); }

void RecordFiles::deliver(const uint8_t* frame, int32_t length, void* owner) {
  auto* self = static_cast<RecordFiles*>(owner);
  if (self->playbackCallback_ != nullptr) self->playbackCallback_(frame, length, self->playbackUser_);
}

int32_t RecordFiles::searchList(const int32_t (&dateFields)[12], RecordListCallback callback, void* user) {
  // A list callback cannot wait for the search that is calling it.
  if (std::this_thread::get_id() == searchThreadId_.load()) return 0;
  std::lock_guard<std::mutex> lock(searchLock_);
  if (searchThread_.joinable()) searchThread_.join();
  if (closing_.load() != 0) return 0;
  std::memcpy(dateFields_, dateFields, sizeof dateFields_);
  listCallback_ = callback;
  listUser_ = user;
  searchThread_ = platform::startThread([this] { searchMain(); });
  return 1;
}

void RecordFiles::searchMain() {
  searchThreadId_.store(std::this_thread::get_id());
  struct Leave {
    std::atomic<std::thread::id>& id;
    ~Leave() { id.store(std::thread::id()); }
  } leave{searchThreadId_};
  const int32_t* f = dateFields_;
  const auto start = localSecondsFromFields({f[0], f[1], f[2], f[3], f[4], f[5]});
  const auto end = localSecondsFromFields({f[6], f[7], f[8], f[9], f[10], f[11]});
  if (!start || !end) return;

  const DeviceConnectParams& p = state_->params;
  std::string line;
  char request[kRecordRequestSize];
  size_t requestLength = 0;
  if (!formatRecordListRequestLine(fieldText(p.user, sizeof p.user), fieldText(p.password, sizeof p.password),
                                   *start, *end, kRequestLineSize, line) ||
      buildRequest(request, sizeof request, requestLength, state_->headerBlock, "%s", line.c_str()) !=
          RequestError::None)
    return;

  search_.close();
  if (connectPlain(fieldText(p.host, sizeof p.host).c_str(), search_, p.port) == 0) return;
  if (platform::sendAll(search_.socket(), request, requestLength, state_->timing.sendTimeLimitMs) !=
      platform::SendResult::Sent) {
    search_.close();
    return;
  }

  auto headerStore = std::make_unique<char[]>(kHeaderStoreSize);
  auto body = std::make_unique<char[]>(kBodySize + 1);
  std::memset(headerStore.get(), 0, kHeaderStoreSize);
  std::memset(body.get(), 0, kBodySize + 1);
  // An answer past a limit lists nothing, and the camera is let go at once.
  if (responseHitALimit(readResponse(headerStore.get(), search_.socket(), body.get(),
                                     state_->timing.responseDeadlineMs))) {
    search_.close();
    return;
  }

  for (const RecordFileEntry& file : parseRecordList(body.get())) {
    if (closing_.load() != 0) return;
    char name[kRecordNameMax + 1] = {};
    std::memcpy(name, file.name.data(), file.name.size());
    char prefix[kNamePrefixSize];
    fillNamePrefix(name, prefix);
    if (listCallback_ != nullptr) listCallback_(name, prefix, file.size, listUser_);
  }
}

int32_t RecordFiles::requestPlayback(int32_t offset) {
  const DeviceConnectParams& p = state_->params;
  std::string line;
  char request[kRecordRequestSize];
  size_t requestLength = 0;
  if (!formatPlaybackRequestLine(fieldText(p.user, sizeof p.user), fieldText(p.password, sizeof p.password),
                                 fileName_, offset, kRequestLineSize, line) ||
      buildRequest(request, sizeof request, requestLength, state_->headerBlock, "%s", line.c_str()) !=
          RequestError::None)
    return 0;
  if (playback_.connect(fieldText(p.host, sizeof p.host).c_str(), p.port) == 0) return 0;
  return playback_.send(request, requestLength) ? 1 : 0;
}

int32_t RecordFiles::start(const char* fileName, FrameCallback callback, void* user) {
  std::lock_guard<std::mutex> lock(playbackLock_);
  playback_.close();
  playbackCallback_ = callback;
  playbackUser_ = user;
  std::memset(fileName_, 0, sizeof fileName_);
  if (fileName != nullptr) std::memcpy(fileName_, fileName, strnlen(fileName, kFileNameMax));
  return requestPlayback(0);
}

int32_t RecordFiles::setPos(int32_t offset) {
  std::lock_guard<std::mutex> lock(playbackLock_);
  playback_.close();
  return requestPlayback(offset);
}

int32_t RecordFiles::stop() {
  // A start or seek still connecting or sending gives up first, so that the
  // lock below is never held by a call waiting on the camera.
  playback_.shutdown();
  std::lock_guard<std::mutex> lock(playbackLock_);
  playback_.close();
  return 1;
}

void RecordFiles::cancel() {
  closing_.store(1);
  playback_.cancel();
  search_.cancel();
}

void RecordFiles::close() {
  cancel();
  {
    std::lock_guard<std::mutex> lock(playbackLock_);
    playback_.close();
  }
  std::lock_guard<std::mutex> lock(searchLock_);
  if (searchThread_.joinable()) searchThread_.join();
  search_.close();
}

}  // namespace tavolen
