// The checks that keep other pages and other users away from the host's
// controls: origins, Host names, the peer's user, and the call rate.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "invoke_limiter.h"
#include "origin_list.h"
#include "peer_user.h"
#include "request_guard.h"

namespace tavolen::host {
namespace {

TEST(OriginList, NormalizesOrigins) {
  struct Case {
    const char* in;
    const char* out;  // nullptr: refused
  };
  const Case cases[] = {
      {"https://cams.example.com", "https://cams.example.com"},
      {"HTTPS://Cams.Example.COM/", "https://cams.example.com"},
      {"https://cams.example.com:443", "https://cams.example.com"},
      {"http://cams.example.com:80", "http://cams.example.com"},
      {"https://cams.example.com:8443", "https://cams.example.com:8443"},
      {"http://127.0.0.1:34781", "http://127.0.0.1:34781"},
      {"http://[::1]:34780", "http://[::1]:34780"},
      {"http://[::1]", "http://[::1]"},
      {"null", nullptr},
      {"", nullptr},
      {"file:///home", nullptr},
      {"ftp://a.example", nullptr},
      {"https://", nullptr},
      {"https://a.example/path", nullptr},
      {"https://a.example?x", nullptr},
      {"https://user@a.example", nullptr},
      {"https://a.example:", nullptr},
      {"https://a.example:0", nullptr},
      {"https://a.example:65536", nullptr},
      {"https://a.example:+80", nullptr},
      {"https://a example", nullptr},
      {"https://a.example\n", nullptr},
      {"http://[::1", nullptr},
      {"http://[zz]", nullptr},
      {"http://[::1]x", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const auto got = normalizeOrigin(c.in);
    if (c.out) {
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, c.out);
    } else {
      EXPECT_FALSE(got.has_value()) << *got;
    }
  }
  EXPECT_FALSE(normalizeOrigin("https://" + std::string(300, 'a')).has_value());
}

TEST(OriginList, FileKeepsValidDistinctOrigins) {
  char dir[] = "/tmp/tavolen-origins-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::filesystem::path file = std::filesystem::path(dir) / "sub" / "origins";
  EXPECT_TRUE(readOriginFile(file).empty());
  ASSERT_TRUE(writeOriginFile(file, {"https://a.example", "http://127.0.0.1:9000"}));
  {
    std::ofstream more(file, std::ios::app);
    more << "  HTTPS://A.example:443  \n# comment\n\nnot an origin\nhttps://b.example\r\n";
  }
  EXPECT_EQ(readOriginFile(file),
            (std::vector<std::string>{"https://a.example", "http://127.0.0.1:9000", "https://b.example"}));
  std::filesystem::remove_all(dir);
}

TEST(RequestGuard, HostHeaderNamesOnlyThisHost) {
  struct Case {
    const char* host;
    bool allowed;
  };
  const Case cases[] = {
      {"127.0.0.1:34780", true},   {"localhost:34780", true},  {"LocalHost:34780", true},
      {"[::1]:34780", true},       {"127.0.0.1", false},       {"127.0.0.1:34781", false},
      {"localhost", false},        {"evil.example:34780", false},
      {"127.0.0.1.evil.example:34780", false},                 {"localhost.:34780", false},
      {"127.0.0.2:34780", false},  {"", false},                {":34780", false},
      {"[::1]:34780:34780", false},
  };
  for (const Case& c : cases) EXPECT_EQ(hostHeaderAllowed(c.host, 34780), c.allowed) << c.host;
}

TEST(RequestGuard, OriginMustBeOwnOrListed) {
  const std::vector<std::string> list = {"https://cams.example.com", "http://127.0.0.1:9000"};
  struct Case {
    const char* origin;
    bool allowed;
  };
  const Case cases[] = {
      {"http://127.0.0.1:34780", true},    {"http://localhost:34780", true},
      {"http://[::1]:34780", true},        {"https://cams.example.com", true},
      {"https://CAMS.example.com:443", true}, {"http://127.0.0.1:9000", true},
      {"http://cams.example.com", false},  {"https://cams.example.com:8443", false},
      {"http://127.0.0.1:9001", false},    {"https://127.0.0.1:34780", false},
      {"null", false},                     {"", false},
      {"https://evil.example", false},
  };
  for (const Case& c : cases) EXPECT_EQ(originAllowed(c.origin, list, 34780), c.allowed) << c.origin;
}

TEST(PeerUser, FindsTheRowOfThePeerSocket) {
  // Rows as the kernel prints them: 127.0.0.1 is 0100007F, ports in hex.
  const char* table =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 0100007F:87DC 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1 1\n"
      "   1: 0100007F:87DC 0100007F:D431 01 00000000:00000000 00:00000000 00000000     0        0 2 1\n"
      "   2: 0100007F:D431 0100007F:87DC 01 00000000:00000000 00:00000000 00000000  1000        0 3 1\n"
      "   3: 0200007F:D431 0100007F:87DC 01 00000000:00000000 00:00000000 00000000  4242        0 4 1\n"
      "   4: garbage\n";
  const Endpoint host{0x7F000001, 0x87DC};
  const Endpoint page{0x7F000001, 0xD431};
  EXPECT_EQ(socketOwnerInTable(table, page, host), std::optional<uint32_t>(1000));
  EXPECT_EQ(socketOwnerInTable(table, host, page), std::optional<uint32_t>(0));
  EXPECT_EQ(socketOwnerInTable(table, Endpoint{0x7F000002, 0xD431}, host), std::optional<uint32_t>(4242));
  EXPECT_EQ(socketOwnerInTable(table, Endpoint{0x7F000001, 0xD432}, host), std::nullopt);
  EXPECT_EQ(socketOwnerInTable("", page, host), std::nullopt);
}

TEST(PeerUser, FindsOurOwnUserOnARealConnection) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const int server = ::accept(listener, nullptr, nullptr);
  sockaddr_in ours{}, peer{};
  len = sizeof ours;
  ::getsockname(server, reinterpret_cast<sockaddr*>(&ours), &len);
  len = sizeof peer;
  ::getpeername(server, reinterpret_cast<sockaddr*>(&peer), &len);
  const auto uid = peerUser(Endpoint{ntohl(ours.sin_addr.s_addr), ntohs(ours.sin_port)},
                            Endpoint{ntohl(peer.sin_addr.s_addr), ntohs(peer.sin_port)});
  EXPECT_EQ(uid, std::optional<uint32_t>(geteuid()));
  ::close(server);
  ::close(client);
  ::close(listener);
}

TEST(InvokeLimiter, AllowsABurstThenTheSteadyRate) {
  InvokeLimiter limiter;
  int allowed = 0;
  for (int i = 0; i < InvokeLimiter::kBurst + 50; ++i) allowed += limiter.allow(1000);
  EXPECT_EQ(allowed, InvokeLimiter::kBurst);
  EXPECT_FALSE(limiter.allow(1009));  // 0.9 of a call refilled
  EXPECT_TRUE(limiter.allow(1010));
  EXPECT_FALSE(limiter.allow(1010));
  allowed = 0;
  for (int i = 0; i < 1000; ++i) allowed += limiter.allow(2010);  // one second later
  EXPECT_EQ(allowed, InvokeLimiter::kPerSecond);
  // A clock that steps back refills nothing.
  EXPECT_FALSE(limiter.allow(5));
  // A long pause refills only up to the burst.
  allowed = 0;
  for (int i = 0; i < 1000; ++i) allowed += limiter.allow(100000);
  EXPECT_EQ(allowed, InvokeLimiter::kBurst);
}

}  // namespace
}  // namespace tavolen::host
