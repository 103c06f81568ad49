#include "link/http_exchange.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "link/response_reader.h"
#include "platform/tick.h"

namespace tavolen {

void buildHeaderBlock(char (&block)[kHeaderBlockSize], const char* host, int32_t port) {
  static const char* const kFixedLines[] = {
      "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
      "application/vnd.ms-powerpoint, application/msword, application/QVOD, */*\r\n",
      "Accept-Language: zh-cn\r\n",
      "UA-CPU: x86\r\n",
      "Accept-Encoding: gzip,deflate\r\n",
      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; windows NT 5.1; .NET CLR 1.1.4222; .NET CLR "
      "2.0.50727)\r\n",
  };
  std::memset(block, 0, sizeof block);
  size_t used = 0;
  for (const char* line : kFixedLines) {
    const size_t n = std::strlen(line);
    std::memcpy(block + used, line, n);
    used += n;
  }
  // The host line goes through a 512-byte buffer; a 63-character host keeps
  // the whole block far below its 1024 bytes.
  char hostLines[512];
  std::snprintf(hostLines, sizeof hostLines, "Host: %s:%d\r\nConnection: Keep-Alive\r\n\r\n",
                host != nullptr ? host : "", port);
  std::snprintf(block + used, sizeof block - used, "%s", hostLines);
}

bool isSafeRequestValue(std::string_view value) {
  for (char c : value) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) return false;
  }
  return true;
}

bool isSafeRequestLine(const char* line) {
  const size_t n = std::strlen(line);
  static const char kPrefix[] = "GET ";
  static const char kSuffix[] = " HTTP/1.1\r\n";
  const size_t prefix = sizeof kPrefix - 1;
  const size_t suffix = sizeof kSuffix - 1;
  if (n < prefix + suffix + 1) return false;
  if (std::memcmp(line, kPrefix, prefix) != 0) return false;
  if (std::memcmp(line + n - suffix, kSuffix, suffix) != 0) return false;
  return isSafeRequestValue(std::string_view(line + prefix, n - suffix - prefix));
}

RequestError buildRequest(char* out, size_t outSize, size_t& requestLength, const char* headerBlock,
                          const char* lineTemplate, ...) {
  requestLength = 0;
  char line[kRequestLineSize];
  va_list args;
  va_start(args, lineTemplate);
  const int n = std::vsnprintf(line, sizeof line, lineTemplate, args);
  va_end(args);
  if (n < 0 || static_cast<size_t>(n) >= sizeof line) return RequestError::TooLong;
  if (!isSafeRequestLine(line)) return RequestError::Unsafe;
  const size_t blockLength = std::strlen(headerBlock);
  if (static_cast<size_t>(n) + blockLength + 1 > outSize) return RequestError::TooLong;
  std::memcpy(out, line, static_cast<size_t>(n));
  std::memcpy(out + n, headerBlock, blockLength + 1);
  requestLength = static_cast<size_t>(n) + blockLength;
  return RequestError::None;
}

namespace {

enum class Ready { Yes, Timeout, Error };

Ready waitForData(platform::SocketHandle s, int waitMs) {
  switch (platform::waitReadable(s, waitMs)) {
    case platform::WaitResult::Ready: return Ready::Yes;
    case platform::WaitResult::Timeout: return Ready::Timeout;
    case platform::WaitResult::Error: break;
  }
  const int error = platform::lastSocketError();
  std::printf("select error %s, %d\n", platform::errorText(error), error);
  std::fflush(stdout);
  return Ready::Error;
}

void reportReceiveError() {
  std::printf("receive error %s\n", platform::errorText(platform::lastSocketError()));
  std::fflush(stdout);
}

}  // namespace

int32_t readResponse(char* headerStore, platform::SocketHandle s, char* body, uint32_t deadlineMs) {
  const uint32_t start = platform::tickCount();
  ResponseReader reader(headerStore, body, start);
  char block[kHeadBlockSize];
  int bodyAttempts = kResponseBodyAttempts;
  bool inBody = false;
  for (;;) {
    const ResponseReader::Phase phase = reader.phase();
    if (phase == ResponseReader::Phase::Done || phase == ResponseReader::Phase::Failed) break;
    if (phase == ResponseReader::Phase::Body) {
      // The bytes that came with the head's last block took one receive.
      if (!inBody && reader.bodyReceived() > 0) --bodyAttempts;
      inBody = true;
      if (--bodyAttempts <= 0) return 0;
    }
    const uint32_t spent = platform::tickCount() - start;
    if (spent >= deadlineMs) {
      reader.expire();
      break;
    }
    // Body bytes go straight to their place, as many as are still wanted.
    const bool toBody = phase == ResponseReader::Phase::Body;
    char* const into = toBody ? reader.bodySpace() : block;
    const size_t room = toBody ? reader.bodyMissing() : sizeof block;
    // Bytes already waiting are taken without a wait first.
    long n = platform::receiveNow(s, into, room);
    if (n < 0 && platform::wouldBlock(platform::lastSocketError())) {
      const bool deadlineFirst = deadlineMs - spent < static_cast<uint32_t>(kSelectWaitMs);
      const int waitMs = deadlineFirst ? static_cast<int>(deadlineMs - spent) : kSelectWaitMs;
      const Ready ready = waitForData(s, waitMs);
      if (ready == Ready::Error) return -1;
      if (ready == Ready::Timeout) {
        if (deadlineFirst) {
          reader.expire();
        } else {
          reader.silence(platform::tickCount());
        }
        continue;
      }
      n = platform::receiveOnce(s, into, room);
    }
    if (n < 0) {
      reportReceiveError();
      return -1;
    }
    if (n == 0) {
      reader.closed(platform::tickCount());
    } else if (toBody) {
      reader.tookBody(static_cast<size_t>(n));
    } else {
      reader.take(block, static_cast<size_t>(n), platform::tickCount());
    }
  }
  return reader.result();
}

int extractText(char* destination, size_t destSize, const char* key, const char* text) {
  const char* found = std::strstr(text, key);
  if (found == nullptr) return 0;
  const char* p = found + std::strlen(key);
  if (*p != '"' || destSize == 0) return 1;
  ++p;
  size_t n = 0;
  while (p[n] != '\0' && p[n] != '"') ++n;
  if (n == 0) return 1;
  if (n > destSize - 1) n = destSize - 1;
  std::memcpy(destination, p, n);
  destination[n] = '\0';
  return 1;
}

int extractNumber(int32_t& destination, const char* key, const char* text) {
  const char* found = std::strstr(text, key);
  if (found == nullptr) return 0;
  const char* p = found + std::strlen(key);
  char digits[kNumberTextSize] = {};
  size_t n = 0;
  while (p[n] != '\0' && p[n] != ';' && n < sizeof digits - 1) {
    digits[n] = p[n];
    ++n;
  }
  long long value = std::strtoll(digits, nullptr, 10);
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  destination = static_cast<int32_t>(value);
  return 1;
}

int extractResult(const char* text) {
  char value[kResultValueSize] = {};
  if (extractText(value, sizeof value, "result=", text) == 0) return -1;
  return std::strstr(value, "ok") != nullptr ? 0 : -1;
}

}  // namespace tavolen
