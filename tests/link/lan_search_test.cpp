// LAN search against real UDP sockets. Every test runs inside a private network
// namespace (see netns_lab.h): the search request really is broadcast, and the
// broadcast stays inside.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/lan_search.h"
#include "link/netns_lab.h"
#include "support/manual_clock.h"
#include "tavolen/search.h"

namespace tavolen {
namespace {

using namespace std::chrono_literals;
using test::ManualClock;
using test::NetnsLab;

struct Reply {
  std::string ip;
  uint16_t port;
  std::string name;
  std::vector<uint8_t> record;
};

class Collector {
 public:
  static int32_t onReply(const uint8_t* record, void* user) {
    auto* self = static_cast<Collector*>(user);
    const SearchReplyFields f = readSearchReply(record);
    Reply r{f.ip, f.port, f.name, {}};
    r.record.assign(record, record + SEARCH_REPLY_COPY_SIZE);
    std::lock_guard<std::mutex> lock(self->lock_);
    self->replies_.push_back(std::move(r));
    self->changed_.notify_all();
    return 0;
  }

  // Waits until pred(replies) holds or the time is up; returns a copy.
  template <class Pred>
  std::vector<Reply> waitFor(Pred pred, std::chrono::milliseconds limit = 5000ms) {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait_for(lock, limit, [&] { return pred(replies_); });
    return replies_;
  }
  std::vector<Reply> snapshot() {
    std::lock_guard<std::mutex> lock(lock_);
    return replies_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Reply> replies_;
};

bool hasIp(const std::vector<Reply>& replies, const std::string& ip) {
  for (const auto& r : replies)
    if (r.ip == ip) return true;
  return false;
}

// Sends one datagram to the search socket over loopback, as a camera would.
void sendToSearchSocket(const std::vector<uint8_t>& datagram) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(lanSearchLocalPort());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(s);
}

std::vector<uint8_t> datagram(const char* head, uint16_t command, const std::string& ip, size_t recordBytes) {
  std::vector<uint8_t> d(SEARCH_REPLY_HEADER_SIZE + recordBytes, 0);
  d[0] = static_cast<uint8_t>(head[0]);
  d[1] = static_cast<uint8_t>(head[1]);
  d[2] = static_cast<uint8_t>(command & 0xFF);
  d[3] = static_cast<uint8_t>(command >> 8);
  std::memcpy(d.data() + SEARCH_REPLY_HEADER_SIZE, ip.data(), std::min(ip.size(), recordBytes));
  return d;
}

// UDP sockets bound in this namespace (the lab's cameras live in others).
int udpSocketCount() {
  std::ifstream in("/proc/self/net/udp");
  std::string line;
  int count = -1;  // header line
  while (std::getline(in, line)) ++count;
  return count;
}

// Receive threads of the search alive in this process (sanitizers add
// threads of their own, so only the named ones count).
int searchThreadCount() {
  int count = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
      std::string name;
      std::getline(comm, name);
      count += name == LanSearch::kReceiveThreadName;
    }
    closedir(d);
  }
  return count;
}

class LanSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    if (!NetnsLab::enter(whyNot)) {
      if (whyNot.find("Operation not permitted") != std::string::npos) GTEST_SKIP() << whyNot;
      FAIL() << whyNot;
    }
    unsetenv(kSearchAddressVariable);
  }
  void TearDown() override {
    device_broadcast_unInitialization();
    unsetenv(kSearchAddressVariable);
  }

  Collector collector_;
};

TEST_F(LanSearchTest, EveryCameraOnTheNetworkIsReported) {
  NetnsLab lab;
  // Two substitute cameras, each in a namespace of its own on the lab's bridge.
  ASSERT_TRUE(lab.addCamera(11, {CAMSIM, "--port", "81", "--search", "--search-ip", "192.0.2.11", "--name", "Porch"}));
  ASSERT_TRUE(
      lab.addCamera(12, {CAMSIM, "--port", "8080", "--search", "--search-ip", "192.0.2.12", "--name", "车库 camera"}));
  ASSERT_EQ(device_broadcast_Initialization(), 1);

  // Links in the lab come up asynchronously; repeated searches are how a user
  // would ask again, and every answer is reported each time.
  std::vector<Reply> replies;
  for (int attempt = 0; attempt < 50; ++attempt) {
    ASSERT_EQ(device_broadcast_search(&Collector::onReply, &collector_), 1);
    replies = collector_.waitFor(
        [](const auto& r) { return hasIp(r, "192.0.2.11") && hasIp(r, "192.0.2.12"); }, 100ms);
    if (hasIp(replies, "192.0.2.11") && hasIp(replies, "192.0.2.12")) break;
  }
  ASSERT_TRUE(hasIp(replies, "192.0.2.11") && hasIp(replies, "192.0.2.12"));
  for (const auto& r : replies) {
    if (r.ip == "192.0.2.11") {
      EXPECT_EQ(r.port, 81);
      EXPECT_EQ(r.name, "Porch");
    } else {
      EXPECT_EQ(r.ip, "192.0.2.12");
      EXPECT_EQ(r.port, 8080);
      EXPECT_EQ(r.name, "车库 camera");
    }
  }
}

TEST_F(LanSearchTest, OnlySearchRepliesReachTheCallback) {
  ASSERT_EQ(device_broadcast_Initialization(), 1);
  ASSERT_EQ(device_broadcast_search(&Collector::onReply, &collector_), 1);

  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool reported;
  };
  const std::vector<Case> cases = {
      {"reply", datagram("DH", 0x0801, "10.0.0.1", SEARCH_REPLY_COPY_SIZE), true},
      {"swapped magic", datagram("HD", 0x0801, "10.0.0.2", SEARCH_REPLY_COPY_SIZE), false},
      {"another host's request", datagram("DH", 0x0101, "10.0.0.3", SEARCH_REPLY_COPY_SIZE), false},
      {"other command", datagram("DH", 0x0802, "10.0.0.4", SEARCH_REPLY_COPY_SIZE), false},
      {"byte-swapped command", datagram("DH", 0x0108, "10.0.0.5", SEARCH_REPLY_COPY_SIZE), false},
      {"header only", datagram("DH", 0x0801, "", 0), true},
      {"short record", datagram("DH", 0x0801, "10.0.0.7", 20), true},
      {"three bytes", {'D', 'H', 0x01}, false},
      {"empty datagram", {}, false},
  };
  for (const auto& c : cases) sendToSearchSocket(c.bytes);
  // A final reply proves everything before it has been looked at (loopback
  // keeps the order) and that an empty datagram did not end the receive thread.
  sendToSearchSocket(datagram("DH", 0x0801, "10.0.0.99", SEARCH_REPLY_COPY_SIZE));
  const auto replies = collector_.waitFor([](const auto& r) { return hasIp(r, "10.0.0.99"); });
  ASSERT_TRUE(hasIp(replies, "10.0.0.99"));

  std::vector<std::string> expected;
  for (const auto& c : cases)
    if (c.reported) expected.push_back(c.what);
  ASSERT_EQ(replies.size(), expected.size() + 1);
  EXPECT_EQ(replies[0].ip, "10.0.0.1");
  EXPECT_EQ(replies[1].ip, "");
  EXPECT_EQ(replies[2].ip, "10.0.0.7");
  // What the camera did not send reads as zero, up to the end of the record.
  for (size_t i = 1; i <= 2; ++i)
    for (size_t b = 20; b < SEARCH_REPLY_COPY_SIZE; ++b) ASSERT_EQ(replies[i].record[b], 0) << i << ":" << b;
}

TEST_F(LanSearchTest, SearchBeforeInitialisationFailsAndSendsNothing) {
  const int before = udpSocketCount();
  EXPECT_EQ(device_broadcast_search(&Collector::onReply, &collector_), 0);
  EXPECT_EQ(udpSocketCount(), before);
  EXPECT_EQ(lanSearchLocalPort(), 0);
}

TEST_F(LanSearchTest, InitialisingTwiceKeepsOneSocket) {
  const int before = udpSocketCount();
  ASSERT_EQ(device_broadcast_Initialization(), 1);
  const uint16_t port = lanSearchLocalPort();
  EXPECT_GE(port, 1000);
  EXPECT_LE(port, 65534);
  ASSERT_EQ(device_broadcast_Initialization(), 1);
  EXPECT_EQ(lanSearchLocalPort(), port);
  EXPECT_EQ(udpSocketCount(), before + 1);
}

TEST_F(LanSearchTest, UnInitialisationEndsTheThreadAndClosesTheSocket) {
  const int threadsBefore = searchThreadCount();
  const int socketsBefore = udpSocketCount();
  ASSERT_EQ(device_broadcast_Initialization(), 1);
  ASSERT_EQ(device_broadcast_search(&Collector::onReply, &collector_), 1);
  // (It names itself once it runs.)
  for (int i = 0; i < 200 && searchThreadCount() != threadsBefore + 1; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(searchThreadCount(), threadsBefore + 1);
  EXPECT_EQ(device_broadcast_unInitialization(), 1);
  EXPECT_EQ(searchThreadCount(), threadsBefore);
  EXPECT_EQ(udpSocketCount(), socketsBefore);
  EXPECT_EQ(device_broadcast_search(&Collector::onReply, &collector_), 0);
  EXPECT_EQ(device_broadcast_unInitialization(), 1);  // again: nothing to do

  // And it can be set up again afterwards.
  ASSERT_EQ(device_broadcast_Initialization(), 1);
  ASSERT_EQ(device_broadcast_search(&Collector::onReply, &collector_), 1);
  sendToSearchSocket(datagram("DH", 0x0801, "10.0.0.1", SEARCH_REPLY_COPY_SIZE));
  EXPECT_TRUE(hasIp(collector_.waitFor([](const auto& r) { return !r.empty(); }), "10.0.0.1"));
}

// A callback that does not return must not hold unInitialization for more than
// its bounded wait (500 ms of the clock); the thread ends on its own once the
// callback returns.
TEST_F(LanSearchTest, UnInitialisationWaitIsBoundedWhileACallbackBlocks) {
  ManualClock clock;
  // Static: the receive thread outlives the wait and must find the gate alive.
  static struct Gate {
    std::mutex lock;
    std::condition_variable cv;
    bool entered = false;
    bool open = false;
    bool left = false;
  } gate;
  const int threadsBefore = searchThreadCount();
  ASSERT_EQ(device_broadcast_Initialization(), 1);
  ASSERT_EQ(device_broadcast_search(
                [](const uint8_t*, void* user) -> int32_t {
                  auto* g = static_cast<Gate*>(user);
                  std::unique_lock<std::mutex> lock(g->lock);
                  g->entered = true;
                  g->cv.notify_all();
                  g->cv.wait(lock, [g] { return g->open; });
                  g->left = true;
                  g->cv.notify_all();
                  return 0;
                },
                &gate),
            1);
  sendToSearchSocket(datagram("DH", 0x0801, "10.0.0.1", SEARCH_REPLY_COPY_SIZE));
  {
    std::unique_lock<std::mutex> lock(gate.lock);
    ASSERT_TRUE(gate.cv.wait_for(lock, 5s, [&] { return gate.entered; }));
  }
  EXPECT_EQ(clock.callThroughLimit(LanSearch::kStopWaitMs, 1, [] { return device_broadcast_unInitialization(); }),
            1);
  {
    std::unique_lock<std::mutex> lock(gate.lock);
    gate.open = true;
    gate.cv.notify_all();
    ASSERT_TRUE(gate.cv.wait_for(lock, 5s, [&] { return gate.left; }));
  }
  for (int i = 0; i < 200 && searchThreadCount() != threadsBefore; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(searchThreadCount(), threadsBefore);
}

TEST_F(LanSearchTest, AddressOverrideAimsTheRequestAtALoopbackResponder) {
  const int responder = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(responder, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  socklen_t length = sizeof local;
  getsockname(responder, reinterpret_cast<sockaddr*>(&local), &length);
  const std::string address = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
  setenv(kSearchAddressVariable, address.c_str(), 1);

  ASSERT_EQ(device_broadcast_Initialization(), 1);
  ASSERT_EQ(device_broadcast_search(&Collector::onReply, &collector_), 1);
  uint8_t request[16];
  sockaddr_in peer{};
  socklen_t peerLength = sizeof peer;
  timeval limit{5, 0};
  setsockopt(responder, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  const ssize_t n = recvfrom(responder, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&peer), &peerLength);
  ASSERT_EQ(n, 4);
  EXPECT_EQ(std::vector<uint8_t>(request, request + 4), (std::vector<uint8_t>{'D', 'H', 0x01, 0x01}));
  EXPECT_EQ(ntohs(peer.sin_port), lanSearchLocalPort());

  const auto reply = datagram("DH", 0x0801, "127.0.0.1", SEARCH_REPLY_COPY_SIZE);
  sendto(responder, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&peer), peerLength);
  EXPECT_TRUE(hasIp(collector_.waitFor([](const auto& r) { return !r.empty(); }), "127.0.0.1"));
  close(responder);
}

TEST(SearchAddress, ParsesOnlyADottedAddressWithAPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
  };
  const Case cases[] = {
      {"127.0.0.1:8600", true, "127.0.0.1", 8600},
      {"127.0.0.5:1", true, "127.0.0.5", 1},
      {"127.0.0.1:65535", true, "127.0.0.1", 65535},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:0", false, "", 0},
      {"127.0.0.1:", false, "", 0},
      {"127.0.0.1", false, "", 0},
      {":8600", false, "", 0},
      {"localhost:8600", false, "", 0},
      {"127.0.0.1:86x0", false, "", 0},
      {"127.0.0.1:-1", false, "", 0},
      {"", false, "", 0},
  };
  for (const auto& c : cases) {
    SearchDestination d;
    EXPECT_EQ(parseSearchAddress(c.text, d), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(d.host, c.host) << c.text;
      EXPECT_EQ(d.port, c.port) << c.text;
    } else {
      EXPECT_EQ(d.host, "255.255.255.255") << c.text;
      EXPECT_EQ(d.port, SEARCH_PORT) << c.text;
    }
  }
  SearchDestination d;
  EXPECT_FALSE(parseSearchAddress(nullptr, d));
}

TEST(SearchReplyRecord, TextsStopAtTheirFieldEnds) {
  uint8_t record[SEARCH_REPLY_COPY_SIZE];
  std::memset(record, 'x', sizeof record);
  record[SEARCH_REPLY_PORT_OFFSET] = 0x51;
  record[SEARCH_REPLY_PORT_OFFSET + 1] = 0x1F;
  const SearchReplyFields f = readSearchReply(record);
  EXPECT_EQ(f.ip.size(), size_t{SEARCH_REPLY_PORT_OFFSET});
  EXPECT_EQ(f.port, 0x1F51);
  EXPECT_EQ(f.name.size(), size_t{SEARCH_REPLY_COPY_SIZE - SEARCH_REPLY_NAME_OFFSET});
}

TEST(SearchPort, StaysWithinThousandAndTheTopPort) {
  for (int value : {0, 1, 999, 1000, 65534, 65535, 65535 + 999, 65535 + 1000, RAND_MAX, RAND_MAX - 1}) {
    const uint16_t p = searchPortFromRandom(value);
    EXPECT_GE(p, 1000) << value;
    EXPECT_LE(p, 65534) << value;
  }
  EXPECT_EQ(searchPortFromRandom(0), 1000);
  EXPECT_EQ(searchPortFromRandom(65534), 65534);
  EXPECT_EQ(searchPortFromRandom(65535), 1000);
  EXPECT_EQ(searchPortFromRandom(4321), 4321);
}

}  // namespace
}  // namespace tavolen
