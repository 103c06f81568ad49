// Feeds arbitrary bytes as a camera's answer to the response reader over a
// socket pair, then runs the value extractors over the body it stored. The
// same bytes also go straight into the reader whole and in pieces cut by the
// input itself: every way of reading them must give the same result, the
// same header store and the same body.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/http_exchange.h"
#include "link/response_reader.h"

namespace {

using namespace tavolen;

struct Outcome {
  int32_t result = 0;
  std::unique_ptr<char[]> headers{new char[kHeaderStoreSize]};
  std::unique_ptr<char[]> body{new char[kBodySize + 1]};
  void clear() {
    std::memset(headers.get(), 0, kHeaderStoreSize);
    std::memset(body.get(), 0, kBodySize + 1);
  }
  bool operator==(const Outcome& o) const {
    return result == o.result && std::memcmp(headers.get(), o.headers.get(), kHeaderStoreSize) == 0 &&
           std::memcmp(body.get(), o.body.get(), kBodySize + 1) == 0;
  }
};

void overSocket(const uint8_t* data, size_t size, Outcome& out) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) std::abort();
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
  out.result = readResponse(out.headers.get(), pair[0], out.body.get());
  close(pair[0]);
}

// Pieces of 1 to 64 bytes, their sizes taken from the input; 0: whole.
void inPieces(const uint8_t* data, size_t size, bool split, Outcome& out) {
  ResponseReader reader(out.headers.get(), out.body.get(), 0);
  for (size_t at = 0; at < size;) {
    const size_t n = split ? std::min<size_t>(1 + data[at] % 64, size - at) : size;
    reader.take(reinterpret_cast<const char*>(data) + at, n, 0);
    at += n;
  }
  reader.closed(0);
  out.result = reader.result();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 100000) return 0;  // the pair's kernel buffer must take it whole
  static Outcome socketRead, whole, pieces;
  socketRead.clear();
  whole.clear();
  pieces.clear();
  overSocket(data, size, socketRead);
  inPieces(data, size, false, whole);
  inPieces(data, size, true, pieces);
  if (!(whole == pieces) || !(whole == socketRead)) std::abort();

  const char* body = socketRead.body.get();
  if (socketRead.result > 0 && std::strlen(socketRead.headers.get()) >= kHeaderStoreSize) std::abort();
  if (body[kBodySize] != '\0' || body[kBodySize - 1] != '\0') std::abort();

  int32_t number = 0;
  static const char* const keys[] = {"ip=", "port=", "record_num0=", "ap_ssid[0] =", "result="};
  for (const char* key : keys) {
    char text[64] = {};
    extractText(text, sizeof text, key, body);
    if (std::strlen(text) >= sizeof text) std::abort();
    extractNumber(number, key, body);
  }
  extractResult(body);
  return 0;
}
