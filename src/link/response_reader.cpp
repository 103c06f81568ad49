#include "link/response_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tavolen {

namespace {

// Parses what follows the first colon as a decimal integer, blanks allowed
// around it; -1 when it is negative.
long long contentLengthOf(const char* line) {
  const char* colon = std::strchr(line, ':');
  if (colon == nullptr) return 0;
  char* end = nullptr;
  const long long value = std::strtoll(colon + 1, &end, 10);
  if (end == colon + 1) return 0;
  return value < 0 ? -1 : value;
}

}  // namespace

ResponseReader::ResponseReader(char* headerStore, char* body, uint32_t nowMs)
    : headerStore_(headerStore), body_(body), lineStart_(nowMs) {
  headerStore_[0] = '\0';
}

void ResponseReader::take(const char* data, size_t length, uint32_t nowMs) {
  size_t i = 0;
  while (phase_ == Phase::Head && i < length) {
    const bool late = nowMs - lineStart_ > static_cast<uint32_t>(kLineTimeLimitMs);
    // The line runs to its "\n" or to the cut, whichever comes first.
    const size_t room = kLineSize - 1 - lineLength_;
    const size_t span = std::min(length - i, room);
    const auto* newline = static_cast<const char*>(std::memchr(data + i, '\n', span));
    const size_t n = newline != nullptr ? static_cast<size_t>(newline - (data + i)) + 1 : span;
    // A line may take kLineTimeLimitMs: a byte past that fails the response,
    // unless it is the "\n" or the byte at which the line is cut.
    const bool ends = newline != nullptr || n == room;
    if (late && (ends ? n - 1 : n) > 0) {
      fail(kResponseTooSlow);
      return;
    }
    std::memcpy(line_ + lineLength_, data + i, n);
    lineLength_ += n;
    i += n;
    if (ends) endLine(lineLength_, nowMs);
  }
  if (phase_ != Phase::Body || i == length) return;
  const size_t n = std::min(length - i, bodyMissing());
  std::memcpy(bodySpace(), data + i, n);
  tookBody(n);
}

void ResponseReader::tookBody(size_t length) {
  bodyHave_ += length;
  if (bodyHave_ == bodyWanted_) {
    phase_ = Phase::Done;
    result_ = headerBytes_ + static_cast<int32_t>(bodyWanted_);
  }
}

void ResponseReader::silence(uint32_t nowMs) {
  if (phase_ == Phase::Body) {
    fail(bodyHave_ == 0 ? 0 : -1);
  } else if (phase_ == Phase::Head) {
    if (lineLength_ > 0) {
      endLine(lineLength_, nowMs);
    } else {
      endHead();
    }
  }
}

void ResponseReader::closed(uint32_t nowMs) {
  if (phase_ == Phase::Head && lineLength_ > 0) endLine(lineLength_, nowMs);
  if (phase_ == Phase::Head) endHead();
  if (phase_ == Phase::Body) fail(0);
}

void ResponseReader::expire() {
  if (phase_ != Phase::Head && phase_ != Phase::Body) return;
  std::memset(body_, 0, bodyHave_);
  bodyHave_ = 0;
  fail(kResponseTooSlow);
}

void ResponseReader::endLine(size_t length, uint32_t nowMs) {
  line_[length] = '\0';
  lineLength_ = 0;
  lineStart_ = nowMs;
  if (++lines_ > kMaxHeaderLines) {
    fail(kResponseTooManyLines);
    return;
  }
  headerBytes_ += static_cast<int32_t>(length);
  // Lines past the store's end are read but not kept; it stays terminated.
  if (stored_ + length < kHeaderStoreSize) {
    std::memcpy(headerStore_ + stored_, line_, length + 1);
    stored_ += length;
  }
  if (std::strstr(line_, "Content-length:") != nullptr) contentLength_ = contentLengthOf(line_);
  if (std::strcmp(line_, "\r\n") == 0) endHead();
}

void ResponseReader::endHead() {
  if (contentLength_ == 0) {
    phase_ = Phase::Done;
    result_ = headerBytes_;
    return;
  }
  // The body buffer keeps one byte for the terminating zero.
  if (contentLength_ < 0 || contentLength_ >= static_cast<long long>(kBodySize)) {
    fail(-1);
    return;
  }
  phase_ = Phase::Body;
  bodyWanted_ = static_cast<size_t>(contentLength_);
}

void ResponseReader::fail(int32_t code) {
  phase_ = Phase::Failed;
  result_ = code;
}

}  // namespace tavolen
