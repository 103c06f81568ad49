#include "link/command_queue.h"

#include <cstring>
#include <vector>

#include "link/command_requests.h"
#include "link/http_exchange.h"
#include "link/settings_parsers.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace tavolen {

CommandQueue::CommandQueue(std::shared_ptr<LinkState> state)
    : state_(std::move(state)),
      headerStore_(std::make_unique<char[]>(kHeaderStoreSize)),
      body_(std::make_unique<char[]>(kBodySize + 1)) {}

CommandQueue::~CommandQueue() {
  requestStop();
  stop();
}

void CommandQueue::start() {
  if (worker_.joinable()) return;
  stopFlag_.store(0);
  worker_ = platform::startThread([this] { workerMain(); });
}

void CommandQueue::requestStop() {
  stopFlag_.store(1);
  wake_.signal();
  connection_.cancel();
}

void CommandQueue::stop() {
  requestStop();
  if (worker_.joinable()) worker_.join();
  connection_.close();
  std::lock_guard<std::mutex> lock(queueLock_);
  queue_.clear();
}

int32_t CommandQueue::setCallbacks(ParamCallback paramCallback, ResultCallback resultCallback, void* user) {
  std::lock_guard<std::mutex> lock(callbackLock_);
  paramCallback_ = paramCallback;
  resultCallback_ = resultCallback;
  paramUser_ = user;
  return 1;
}

int32_t CommandQueue::queue(int32_t command) { return queue(command, nullptr, 0); }

int32_t CommandQueue::queue(int32_t command, const void* data, int32_t length) {
  auto record = std::make_unique<CommandRecord>();
  record->code = command;
  if (data != nullptr && length > 0) {
    const auto n = static_cast<size_t>(length) < sizeof record->data ? static_cast<size_t>(length)
                                                                     : sizeof record->data;
    std::memcpy(record->data, data, n);
    record->length = static_cast<int32_t>(n);
  }
  append(std::move(record));
  return 1;
}

size_t CommandQueue::pending() const {
  std::lock_guard<std::mutex> lock(queueLock_);
  return queue_.size();
}

void CommandQueue::append(std::unique_ptr<CommandRecord> record) {
  {
    std::lock_guard<std::mutex> lock(queueLock_);
    queue_.push_back(std::move(record));
  }
  wake_.signal();
}

void CommandQueue::workerMain() {
  while (stopFlag_.load() == 0) {
    std::unique_ptr<CommandRecord> record;
    if (state_->hostResolved.load() != 0) {
      std::lock_guard<std::mutex> lock(queueLock_);
      if (!queue_.empty()) {
        record = std::move(queue_.front());
        queue_.pop_front();
      }
    }
    if (!record) {
      // Woken by a queued command, a stop, or the address becoming known.
      if (state_->hostResolved.load() != 0) {
        wake_.wait(platform::kWaitForever);
      } else {
        platform::Event::waitAny({&wake_, &state_->resolved}, platform::kWaitForever);
      }
      continue;
    }
    run(*record);
  }
}

void CommandQueue::reportResult(int32_t code, int32_t result) {
  ResultCallback callback;
  {
    std::lock_guard<std::mutex> lock(callbackLock_);
    callback = resultCallback_;
  }
  if (callback != nullptr && stopFlag_.load() == 0) callback(code, result);
}

bool CommandQueue::connect() {
  connection_.close();
  return connectPlain(state_->resolvedAddress().c_str(), connection_, state_->params.port) == 1;
}

bool CommandQueue::exchange(const char* request, size_t requestLength, bool answered) {
  std::memset(headerStore_.get(), 0, kHeaderStoreSize);
  std::memset(body_.get(), 0, kBodySize + 1);
  const bool sent = platform::sendAll(connection_.socket(), request, requestLength,
                                      state_->timing.sendTimeLimitMs) == platform::SendResult::Sent;
  if (sent && !answered) return true;
  // A camera that takes no request, or answers past a limit, has failed the
  // exchange: it is let go at once, and the empty body reports the failure.
  if (!sent || responseHitALimit(readResponse(headerStore_.get(), connection_.socket(), body_.get(),
                                              state_->timing.responseDeadlineMs))) {
    connection_.close();
    return false;
  }
  return true;
}

void CommandQueue::run(const CommandRecord& record) {
  const CommandKind kind = commandKind(record.code);
  if (kind == CommandKind::Dropped) return;

  // The request is formatted before connecting: one the camera must not get
  // (a value that would break the request, a line or request too long for its
  // buffer) is refused whole, never cut, and a write reports the failure.
  const DeviceConnectParams& p = state_->params;
  std::string line;
  const RequestLineResult formatted =
      formatCommandRequestLine(record.code, fieldText(p.user, sizeof p.user),
                               fieldText(p.password, sizeof p.password), record.data, line);
  char request[kStreamRequestSize];
  size_t requestLength = 0;
  const bool ready = formatted == RequestLineResult::Ok &&
                     buildRequest(request, sizeof request, requestLength, state_->headerBlock, "%s",
                                  line.c_str()) == RequestError::None;
  if (!ready) {
    if (kind == CommandKind::Write) reportResult(record.code, -1);
    return;
  }

  if (!connect()) return;  // lost without a word, as a camera that is away
  (void)exchange(request, requestLength, kind != CommandKind::PanTilt);
  if (kind == CommandKind::PanTilt) return;

  // What arrived is parsed whatever the exchange gave: an empty body simply
  // lacks every key.
  const char* body = body_.get();

  if (kind == CommandKind::Read) {
    const ReadCommandAnswer* answer = readCommandAnswer(record.code);
    std::vector<uint8_t> result(static_cast<size_t>(answer->recordSize), 0);
    if (!answer->parse(body, result.data())) return;
    ParamCallback callback;
    void* user;
    {
      std::lock_guard<std::mutex> lock(callbackLock_);
      callback = paramCallback_;
      user = paramUser_;
    }
    if (callback != nullptr && stopFlag_.load() == 0) callback(answer->deliveredCode, result.data(), answer->recordSize, user);
  } else if (kind == CommandKind::Write) {
    const int32_t result = extractResult(body);
    if (result == 0 && rebootsAfterSuccess(record.code)) {
      auto reboot = std::make_unique<CommandRecord>();
      reboot->code = CommandReboot;
      append(std::move(reboot));
    }
    reportResult(record.code, result);
  }
}

}  // namespace tavolen
