// Reading a camera's answer: a response of 200 header lines and a 60 KB body
// is written whole into a socket pair, then read once by readResponse (line
// rules, header store, body) and once by a bare loop that receives into one
// buffer until the writer closes. The two alternate response by response, so
// that the load of a shared machine falls on both alike; the medians count.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/http_exchange.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kResponses = 2000;

std::string makeResponse() {
  std::string body;
  for (int i = 0; body.size() < 60000; ++i) body += "record_name0[" + std::to_string(i) + "]=\"20260101120000_010.h264\";\n";
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 200; ++i) head += "X-Header-" + std::to_string(i) + ": some value of a header\r\n";
  head += "Content-length: " + std::to_string(body.size()) + "\r\n\r\n";
  return head + body;
}

// A socket pair holding the whole response, its writer closed.
int loaded(const std::string& response) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return -1;
  int big = 1 << 20;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  for (size_t at = 0; at < response.size();) {
    const ssize_t n = write(pair[1], response.data() + at, response.size() - at);
    if (n <= 0) break;
    at += static_cast<size_t>(n);
  }
  close(pair[1]);
  return pair[0];
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  const std::string response = makeResponse();
  auto headers = std::make_unique<char[]>(tavolen::kHeaderStoreSize);
  auto body = std::make_unique<char[]>(tavolen::kBodySize + 1);
  std::vector<char> bare(response.size() + 1);
  std::vector<double> ours, peer;
  for (int i = 0; i < kResponses; ++i) {
    int fd = loaded(response);
    std::memset(body.get(), 0, tavolen::kBodySize + 1);
    auto start = Clock::now();
    const int32_t n = tavolen::readResponse(headers.get(), fd, body.get());
    ours.push_back(seconds(Clock::now() - start));
    close(fd);
    if (n != static_cast<int32_t>(response.size())) {
      std::printf("readResponse gave %d of %zu bytes\n", n, response.size());
      return 1;
    }
    fd = loaded(response);
    start = Clock::now();
    size_t got = 0;
    for (ssize_t k; (k = recv(fd, bare.data() + got, bare.size() - got, 0)) > 0;) got += static_cast<size_t>(k);
    peer.push_back(seconds(Clock::now() - start));
    close(fd);
  }
  const double o = 1 / median(ours), p = 1 / median(peer);
  std::printf("response read (%zu bytes, 200 header lines): readResponse %.0f/s, bare recv %.0f/s, ratio %.2f\n",
              response.size(), o, p, o / p);
  return 0;
}
