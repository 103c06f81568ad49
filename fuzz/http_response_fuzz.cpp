// Feeds arbitrary bytes as a camera's answer to the response reader over a
// socket pair, then runs the value extractors over the body it stored.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/http_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tavolen;
  if (size > 100000) return 0;  // the pair's kernel buffer must take it whole
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  int big = 1 << 20;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  size_t sent = 0;
  while (sent < size) {
    const ssize_t n = write(pair[1], data + sent, size - sent);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  close(pair[1]);

  static std::unique_ptr<char[]> headers(new char[kHeaderStoreSize]);
  static std::unique_ptr<char[]> body(new char[kBodySize]);
  std::memset(body.get(), 0, kBodySize);
  const int32_t result = readResponse(headers.get(), pair[0], body.get());
  close(pair[0]);
  if (result > 0 && std::strlen(headers.get()) >= kHeaderStoreSize) std::abort();
  if (body[kBodySize - 1] != '\0') std::abort();

  char text[64];
  int32_t number = 0;
  static const char* const keys[] = {"ip=", "port=", "record_num0=", "ap_ssid[0] =", "result="};
  for (const char* key : keys) {
    extractText(text, sizeof text, key, body.get());
    if (std::strlen(text) >= sizeof text) std::abort();
    extractNumber(number, key, body.get());
  }
  extractResult(body.get());
  return 0;
}
