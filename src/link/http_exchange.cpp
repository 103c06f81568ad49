#include "link/http_exchange.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

Ready waitForData(platform::SocketHandle s) {
  switch (platform::waitReadable(s, kSelectWaitMs)) {
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

// Parses what follows the first colon as a decimal integer, blanks allowed
// around it; -1 when it is negative or does not fit.
long long contentLengthOf(const char* line) {
  const char* colon = std::strchr(line, ':');
  if (colon == nullptr) return 0;
  char* end = nullptr;
  const long long value = std::strtoll(colon + 1, &end, 10);
  if (end == colon + 1) return 0;
  return value < 0 ? -1 : value;
}

}  // namespace

int32_t readLine(platform::SocketHandle s, char (&line)[kLineSize]) {
  const uint32_t start = platform::tickCount();
  int32_t count = 0;
  for (;;) {
    const Ready ready = waitForData(s);
    if (ready == Ready::Error) return -1;
    if (ready == Ready::Timeout) break;
    char byte;
    const long n = platform::receiveOnce(s, &byte, 1);
    if (n < 0) {
      reportReceiveError();
      return -1;
    }
    if (n == 0) break;
    line[count] = byte;
    if (byte == '\n') {
      line[count + 1] = '\0';
      return count + 1;
    }
    ++count;
    // Cut: the rest of an overlong line is read as the next line.
    if (static_cast<size_t>(count) == kLineSize - 1) break;
    if (platform::tickCount() - start > static_cast<uint32_t>(kLineTimeLimitMs)) return -2;
  }
  // Terminated at the count, so a partial line never carries the tail of a
  // longer line read before it.
  line[count] = '\0';
  return count;
}

int32_t readExact(int32_t length, platform::SocketHandle s, char* destination, int attempts) {
  int32_t total = 0;
  int32_t remaining = length;
  while (remaining > 0) {
    if (--attempts <= 0) return 0;
    const Ready ready = waitForData(s);
    if (ready == Ready::Error) return -1;
    if (ready == Ready::Timeout) return total;
    const long n = platform::receiveOnce(s, destination + total, static_cast<size_t>(remaining));
    if (n < 0) {
      reportReceiveError();
      return -1;
    }
    if (n == 0) return 0;
    total += static_cast<int32_t>(n);
    remaining -= static_cast<int32_t>(n);
  }
  return total;
}

int32_t readResponse(char* headerStore, platform::SocketHandle s, char* body) {
  long long contentLength = 0;
  size_t stored = 0;
  int32_t headerBytes = 0;
  headerStore[0] = '\0';
  char line[kLineSize];
  std::memset(line, 0, sizeof line);
  for (;;) {
    const int32_t n = readLine(s, line);
    if (n < 0) return n;
    if (n == 0) break;
    headerBytes += n;
    if (stored + static_cast<size_t>(n) < kHeaderStoreSize) {
      std::memcpy(headerStore + stored, line, static_cast<size_t>(n) + 1);
      stored += static_cast<size_t>(n);
    }
    if (std::strstr(line, "Content-length:") != nullptr) contentLength = contentLengthOf(line);
    if (std::strcmp(line, "\r\n") == 0) break;
  }
  if (contentLength != 0) {
    // The body buffer keeps one byte for the terminating zero.
    if (contentLength < 0 || contentLength >= static_cast<long long>(kBodySize)) return -1;
    const int32_t wanted = static_cast<int32_t>(contentLength);
    const int32_t got = readExact(wanted, s, body, kResponseBodyAttempts);
    if (got <= 0) return got;
    if (got != wanted) return -1;
  }
  return headerBytes + static_cast<int32_t>(contentLength);
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
