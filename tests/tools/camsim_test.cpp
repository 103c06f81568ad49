// The substitute camera, spoken to over loopback by a bare socket client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "camsim.h"
#include "steering.h"
#include "media/adpcm_codec.h"
#include "request.h"
#include "video_source.h"

namespace {

using camsim::Fault;
using camsim::FaultKind;

struct RawFrame {
  uint32_t magic = 0;
  uint8_t type = 0;
  uint16_t milliseconds = 0;
  uint32_t timestamp = 0;
  uint32_t sequence = 0;
  int8_t timeZone = 0;
  std::vector<uint8_t> payload;
};

// A client that speaks to camsim with plain sockets and reads whole frames.
class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    connectError_ = connected_ ? 0 : errno;
  }
  ~RawClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  int connectError() const { return connectError_; }

  void send(const std::string& s) { ASSERT_EQ(::send(fd_, s.data(), s.size(), MSG_NOSIGNAL), (ssize_t)s.size()); }
  void sendBytes(const std::vector<uint8_t>& b) {
    ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), (ssize_t)b.size());
  }
  void request(const std::string& target) {
    send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n");
  }

  // Reads exactly n bytes; false on close or after timeoutMs without data.
  bool readExact(uint8_t* out, size_t n, int timeoutMs = 3000) {
    while (n > 0) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) return false;
      const ssize_t got = ::recv(fd_, out, n, 0);
      if (got <= 0) return false;
      out += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }
  bool readFrame(RawFrame& f, int timeoutMs = 3000) {
    uint8_t h[32];
    if (!readExact(h, 32, timeoutMs)) return false;
    uint32_t length;
    std::memcpy(&f.magic, h, 4);
    f.type = h[4];
    std::memcpy(&f.milliseconds, h + 6, 2);
    std::memcpy(&f.timestamp, h + 8, 4);
    std::memcpy(&f.sequence, h + 12, 4);
    std::memcpy(&length, h + 16, 4);
    f.timeZone = static_cast<int8_t>(h[25]);
    if (f.magic != 0xA815AA55u || length > 0x80000) {
      f.payload.clear();
      return true;
    }
    f.payload.resize(length);
    return readExact(f.payload.data(), length, timeoutMs);
  }
  // Everything until the peer closes (bounded by timeout); the close seen?
  bool readToClose(std::string& out, int timeoutMs = 3000) {
    char buf[4096];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) return false;
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return true;
      out.append(buf, static_cast<size_t>(n));
    }
  }
  // True when nothing arrives within ms (and the connection stays open).
  bool quietFor(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  int connectError_ = 0;
};

camsim::Config smallConfig() {
  camsim::Config c;
  c.user = "viewer";
  c.password = "secret";
  c.timeZone = -8;
  c.profiles = {{3, 160, 96, 25, true, 0}, {5, 96, 64, 50, false, 0}};
  return c;
}

const std::string kLive = "/livestream.cgi?user=viewer&pwd=secret&streamid=3&audio=0&filename=";

std::vector<int> nalTypes(const std::vector<uint8_t>& d) {
  std::vector<int> types;
  for (size_t i = 0; i + 3 < d.size(); ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
      types.push_back(d[i + 3] & 0x1F);
      i += 2;
    }
  }
  return types;
}

TEST(CamsimRequest, ParsesRequestLinesAsTheLinkWritesThem) {
  struct Case {
    const char* head;
    bool ok;
    const char* path;
    bool slash;
    const char* key;
    const char* value;
  } cases[] = {
      {"GET /livestream.cgi?user=a&pwd=b&streamid=1 HTTP/1.1\r\n\r\n", true, "livestream.cgi", true, "streamid", "1"},
      {"GET get_params.cgi?loginuse=a&loginpas= HTTP/1.1\r\n\r\n", true, "get_params.cgi", false, "loginpas", ""},
      {"GET /livestream.cgi?filename=&x HTTP/1.1\r\n\r\n", true, "livestream.cgi", true, "x", ""},
      {"GET /a.cgi HTTP/1.1\r\n\r\n", true, "a.cgi", true, nullptr, nullptr},
      {"GET /a.cgi\r\n\r\n", false, "", false, nullptr, nullptr},
      {"GET  HTTP/1.1\r\n\r\n", false, "", false, nullptr, nullptr},
      {"GET /a.cgi FTP/1.0\r\n\r\n", false, "", false, nullptr, nullptr},
      {"no line end", false, "", false, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    camsim::Request r;
    EXPECT_EQ(camsim::parseRequest(c.head, r), c.ok) << c.head;
    if (!c.ok) continue;
    EXPECT_EQ(r.path, c.path) << c.head;
    EXPECT_EQ(r.leadingSlash, c.slash) << c.head;
    if (c.key) {
      EXPECT_EQ(r.param(c.key, "absent"), c.value) << c.head;
    }
  }
  camsim::Request r;
  ASSERT_TRUE(camsim::parseRequest("GET /x?n=12&m=1x HTTP/1.1\r\nHost: h:81\r\n\r\n", r));
  EXPECT_EQ(r.number("n", -1), 12);
  EXPECT_EQ(r.number("m", -1), -1);
  EXPECT_EQ(r.number("absent", -7), -7);
  EXPECT_EQ(r.headers["Host"], "h:81");
}

TEST(CamsimControl, FaultSpecsAndCommands) {
  struct FaultCase {
    const char* text;
    bool ok;
    FaultKind kind;
    int frames;
  } faults[] = {
      {"silent", true, FaultKind::Silent, 0},      {"close:5", true, FaultKind::CloseAfter, 5},
      {"http-error", true, FaultKind::HttpError, 0}, {"bad-magic:3", true, FaultKind::BadMagic, 3},
      {"stall:2", true, FaultKind::StallMidFrame, 2}, {"drop", true, FaultKind::Drop, 0},
      {"close:-1", false, FaultKind::None, 0},      {"close:x", false, FaultKind::None, 0},
      {"melt", false, FaultKind::None, 0},
  };
  for (const FaultCase& f : faults) {
    Fault out;
    ASSERT_EQ(camsim::parseFault(f.text, out), f.ok) << f.text;
    if (f.ok) {
      EXPECT_EQ(out.kind, f.kind) << f.text;
      EXPECT_EQ(out.frames, f.frames) << f.text;
    }
  }

  camsim::Server server(smallConfig());
  struct CommandCase {
    const char* line;
    bool ok;
  } commands[] = {
      {"status 33", true},    {"alarm 4", true},     {"status 256", false}, {"fault close:2", true},
      {"fault nope", false},  {"fault-all silent", true}, {"fault-clear", true}, {"refuse maybe", false},
      {"videoloss on", true}, {"clients 2", true},   {"clients -1", false}, {"dance", false},
      {"status 1 2", false},  {"", true},
  };
  for (const CommandCase& c : commands) {
    bool quit = false;
    EXPECT_EQ(camsim::runCommand(server, c.line, quit) == "ok", c.ok) << c.line;
    EXPECT_FALSE(quit);
  }
  bool quit = false;
  EXPECT_EQ(camsim::runCommand(server, "quit", quit), "ok");
  EXPECT_TRUE(quit);
}

TEST(CamsimVideo, SplitsAnnexBIntoAccessUnits) {
  // SPS, PPS, IDR slice (first_mb 0), a second slice of the same picture
  // (first_mb != 0), then a P slice opening the next picture.
  const std::vector<uint8_t> stream = {
      0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88, 0x11,
      0, 0, 1, 0x65, 0x40, 0x22, 0, 0, 0, 1, 0x41, 0x9A, 0x33};
  const auto units = camsim::splitAnnexB(stream.data(), stream.size());
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0].type, 0);
  EXPECT_EQ(nalTypes(units[0].data), (std::vector<int>{7, 8, 5, 5}));
  EXPECT_EQ(units[1].type, 1);
  EXPECT_EQ(nalTypes(units[1].data), (std::vector<int>{1}));
  // Headers alone, without a slice, make no unit.
  const std::vector<uint8_t> headersOnly = {0, 0, 1, 0x67, 0x42, 0, 0, 1, 0x68, 0xCE};
  EXPECT_TRUE(camsim::splitAnnexB(headersOnly.data(), headersOnly.size()).empty());
}

// The test pattern's clock keeps clear of the four corners, where a viewer
// draws its captions (the caption top left, the time bottom right, alarms in
// the other two), and the pattern still moves under it.
TEST(CamsimVideo, ClockSitsAtTheMiddleOfTheLeftEdgeAndThePatternMoves) {
  static constexpr int kW = 640, kH = 360;
  static constexpr uint8_t kBand = 16;  // the band's luma; the pattern's lies in 64..235
  struct Picture {
    std::vector<uint8_t> y = std::vector<uint8_t>(kW * kH), u = std::vector<uint8_t>(kW * kH / 4),
                         v = std::vector<uint8_t>(kW * kH / 4);
    int bandRowsIn(int from, int to) const {
      int rows = 0;
      for (int row = from; row < to; ++row)
        rows += std::count(y.begin() + row * kW, y.begin() + row * kW + kW / 2, kBand) > 0;
      return rows;
    }
  };
  Picture a, b;
  camsim::drawTestPattern(a.y.data(), kW, a.u.data(), kW / 2, a.v.data(), kW / 2, kW, kH, 0,
                          "12:34:56.789 #0");
  camsim::drawTestPattern(b.y.data(), kW, b.u.data(), kW / 2, b.v.data(), kW / 2, kW, kH, 1,
                          "12:34:56.829 #1");
  // Font pixels of 3: a band 27 rows high, centred on the middle row.
  EXPECT_EQ(a.bandRowsIn(0, kH), 27);
  EXPECT_EQ(a.bandRowsIn(kH / 2 - 13, kH / 2 + 14), a.bandRowsIn(0, kH));
  EXPECT_EQ(a.bandRowsIn(0, 60), 0);
  EXPECT_EQ(a.bandRowsIn(kH - 60, kH), 0);
  EXPECT_EQ(a.y[kH / 2 * kW + 2], kBand) << "the band starts at the left edge";
  size_t moved = 0;
  for (int row = 0; row < 60; ++row)
    for (int col = 0; col < kW; ++col) moved += a.y[row * kW + col] != b.y[row * kW + col];
  EXPECT_GT(moved, size_t{kW * 30});
}

class CamsimServer : public ::testing::Test {
 protected:
  void SetUp() override { start(smallConfig()); }
  void start(camsim::Config config) {
    server_ = std::make_unique<camsim::Server>(std::move(config));
    ASSERT_TRUE(server_->start());
  }
  uint16_t port() const { return server_->port(); }
  std::unique_ptr<camsim::Server> server_;
};

TEST_F(CamsimServer, LiveStreamIsDecodableH264WithHeadersAtEveryKeyFrame) {
  RawClient client(port());
  client.request(kLive);
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("camsim_live_" + std::to_string(getpid()) + ".h264");
  FILE* out = std::fopen(file.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
  int keys = 0;
  for (uint32_t i = 0; i < 30; ++i) {
    RawFrame f;
    ASSERT_TRUE(client.readFrame(f));
    ASSERT_EQ(f.magic, 0xA815AA55u);
    ASSERT_TRUE(f.type == 0 || f.type == 1) << int(f.type);
    EXPECT_EQ(f.sequence, i);
    EXPECT_EQ(f.timeZone, -8);
    EXPECT_LT(f.milliseconds, 1000);
    EXPECT_LE(std::abs(static_cast<int64_t>(f.timestamp) - now), 5);
    const auto types = nalTypes(f.payload);
    ASSERT_FALSE(types.empty());
    if (f.type == 0) {
      ++keys;
      // SPS and PPS precede the IDR slice in every key frame.
      auto sps = std::find(types.begin(), types.end(), 7);
      auto pps = std::find(types.begin(), types.end(), 8);
      auto idr = std::find(types.begin(), types.end(), 5);
      EXPECT_TRUE(sps < pps && pps < idr && idr != types.end());
    } else {
      EXPECT_EQ(std::count(types.begin(), types.end(), 5), 0);
    }
    if (i == 0) {
      EXPECT_EQ(f.type, 0);
    }
    std::fwrite(f.payload.data(), 1, f.payload.size(), out);
  }
  std::fclose(out);
  EXPECT_EQ(keys, 2);  // one IDR per second at 25 frames/s: frames 0 and 25

  const std::string probe = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=codec_name,width,height,nb_read_frames -of csv=p=0 " +
                            file.string();
  FILE* p = popen(probe.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, p), nullptr);
  pclose(p);
  std::filesystem::remove(file);
  EXPECT_STREQ(line, "h264,160,96,30\n");
}

TEST_F(CamsimServer, RefusalsArriveAsStatusFrames) {
  struct Case {
    const char* target;
    uint8_t expected;
  } cases[] = {
      {"/livestream.cgi?user=viewer&pwd=wrong&streamid=3&audio=0&filename=", 200},
      {"/livestream.cgi?user=other&pwd=secret&streamid=3&audio=0&filename=", 200},
      {"/livestream.cgi?pwd=secret&streamid=3", 200},
      {"/livestream.cgi?user=viewer&pwd=secret&streamid=99&audio=0&filename=", 202},
      {"/audiostream.cgi?user=viewer&pwd=bad&streamid=2&filename=", 200},
  };
  for (const Case& c : cases) {
    RawClient client(port());
    client.request(c.target);
    RawFrame f;
    ASSERT_TRUE(client.readFrame(f)) << c.target;
    EXPECT_EQ(f.magic, 0xA815AA55u);
    EXPECT_EQ(f.type, c.expected) << c.target;
    EXPECT_TRUE(f.payload.empty());
  }

  server_->setVideoLoss(true);
  {
    RawClient client(port());
    client.request(kLive);
    RawFrame f;
    ASSERT_TRUE(client.readFrame(f));
    EXPECT_EQ(f.type, 203);
  }
  server_->setVideoLoss(false);

  server_->setMaxClients(1);
  RawClient first(port());
  first.request(kLive);
  RawFrame f;
  ASSERT_TRUE(first.readFrame(f));
  EXPECT_EQ(f.type, 0);
  RawClient second(port());
  second.request(kLive);
  ASSERT_TRUE(second.readFrame(f));
  EXPECT_EQ(f.type, 201);
}

TEST_F(CamsimServer, FaultsApplyToOneConnectionEachInOrder) {
  server_->pushFault({FaultKind::CloseAfter, 3});
  server_->pushFault({FaultKind::HttpError, 0});
  server_->pushFault({FaultKind::BadMagic, 2});
  server_->pushFault({FaultKind::StallMidFrame, 1});
  server_->pushFault({FaultKind::Drop, 0});
  server_->pushFault({FaultKind::Silent, 1});
  RawFrame f;
  {
    RawClient c(port());
    c.request(kLive);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(c.readFrame(f));
    std::string rest;
    EXPECT_TRUE(c.readToClose(rest));
    EXPECT_TRUE(rest.empty());
  }
  {
    RawClient c(port());
    c.request(kLive);
    std::string page;
    ASSERT_TRUE(c.readToClose(page));
    EXPECT_EQ(page.rfind("HTTP/1.1 503", 0), 0u) << page;
  }
  {
    RawClient c(port());
    c.request(kLive);
    ASSERT_TRUE(c.readFrame(f));
    ASSERT_TRUE(c.readFrame(f));
    ASSERT_TRUE(c.readFrame(f));
    EXPECT_NE(f.magic, 0xA815AA55u);
  }
  {
    RawClient c(port());
    c.request(kLive);
    ASSERT_TRUE(c.readFrame(f));
    uint8_t h[32];
    ASSERT_TRUE(c.readExact(h, 32));
    uint32_t length;
    std::memcpy(&length, h + 16, 4);
    std::vector<uint8_t> half(length / 2);
    ASSERT_TRUE(c.readExact(half.data(), half.size()));
    EXPECT_TRUE(c.quietFor(300));  // the rest of the frame never comes
  }
  {
    RawClient c(port());
    std::string nothing;
    EXPECT_TRUE(c.readToClose(nothing));
    EXPECT_TRUE(nothing.empty());
  }
  {
    RawClient c(port());
    c.request(kLive);
    ASSERT_TRUE(c.readFrame(f));
    server_->sendStatus(33);  // dead air: not even status frames
    EXPECT_TRUE(c.quietFor(300));
  }
  // The queue is used up: the next connection streams normally.
  RawClient c(port());
  c.request(kLive);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(c.readFrame(f));
  EXPECT_EQ(f.magic, 0xA815AA55u);
}

TEST_F(CamsimServer, RefusingClosesTheListenerUntilResumed) {
  server_->setRefusing(true);
  {
    RawClient c(port());
    EXPECT_FALSE(c.connected());
    EXPECT_EQ(c.connectError(), ECONNREFUSED);
  }
  server_->setRefusing(false);
  RawClient c(port());
  ASSERT_TRUE(c.connected());
  c.request(kLive);
  RawFrame f;
  EXPECT_TRUE(c.readFrame(f));
}

TEST_F(CamsimServer, StatusFramesOnDemandReachEveryLiveConnection) {
  RawClient a(port()), b(port());
  a.request(kLive);
  b.request(kLive);
  RawFrame f;
  ASSERT_TRUE(a.readFrame(f));
  ASSERT_TRUE(b.readFrame(f));
  ASSERT_EQ(server_->liveConnections(), 2);
  server_->sendStatus(70);
  for (RawClient* c : {&a, &b}) {
    bool seen = false;
    for (int i = 0; i < 20 && !seen; ++i) {
      ASSERT_TRUE(c->readFrame(f));
      seen = f.type == 70 && f.payload.empty();
    }
    EXPECT_TRUE(seen);
  }
}

TEST(CamsimSchedule, StatusFramesOnASchedule) {
  camsim::Config config = smallConfig();
  config.schedule = {{35, 50}};
  camsim::Server server(config);
  ASSERT_TRUE(server.start());
  RawClient c(server.port());
  c.request(kLive);
  RawFrame f;
  int alarms = 0;
  for (int i = 0; i < 60 && alarms < 2; ++i) {
    ASSERT_TRUE(c.readFrame(f));
    if (f.type == 35) ++alarms;
  }
  EXPECT_EQ(alarms, 2);
}

TEST(CamsimAudio, ToneBlocksOfEitherKind) {
  struct Case {
    camsim::AudioKind kind;
    uint8_t type;
    size_t bytes;
  } cases[] = {{camsim::AudioKind::Adpcm, 6, 512}, {camsim::AudioKind::Alaw, 7, 960}};
  for (const Case& k : cases) {
    camsim::Config config = smallConfig();
    config.audio = k.kind;
    config.toneHz = 500;
    camsim::Server server(config);
    ASSERT_TRUE(server.start());
    RawClient c(server.port());
    c.request("/audiostream.cgi?user=viewer&pwd=secret&streamid=2&filename=");
    RawFrame f;
    for (uint32_t i = 0; i < 3; ++i) {
      ASSERT_TRUE(c.readFrame(f));
      EXPECT_EQ(f.type, k.type);
      ASSERT_EQ(f.payload.size(), k.bytes);
      EXPECT_EQ(f.sequence, i);
    }
    std::vector<int16_t> pcm;
    if (k.kind == camsim::AudioKind::Adpcm) {
      pcm.resize(1024);
      tavolen::AdpcmState s;
      tavolen::adpcmDecode(s, f.payload.data(), 512, pcm.data());
    } else {
      pcm.resize(960);
      tavolen::alawExpand(f.payload.data(), 960, pcm.data());
    }
    // A 500 Hz tone crosses zero about 1000 times a second.
    int crossings = 0;
    for (size_t i = 1; i < pcm.size(); ++i) crossings += (pcm[i - 1] < 0) != (pcm[i] < 0);
    const double expected = 1000.0 * pcm.size() / 8000.0;
    EXPECT_NEAR(crossings, expected, expected * 0.1) << int(k.type);
  }
}

TEST_F(CamsimServer, TalkPacketsAreDecodedAndKept) {
  RawClient c(port());
  c.request(kLive);
  RawFrame f;
  ASSERT_TRUE(c.readFrame(f));
  std::vector<uint8_t> adpcm(256);
  for (size_t i = 0; i < adpcm.size(); ++i) adpcm[i] = static_cast<uint8_t>(i * 37);
  for (uint32_t seq : {5u, 9u}) {
    std::vector<uint8_t> packet(32, 0);
    packet[4] = 8;
    const uint32_t tick = 1234, length = static_cast<uint32_t>(adpcm.size());
    std::memcpy(&packet[8], &tick, 4);
    std::memcpy(&packet[12], &seq, 4);
    std::memcpy(&packet[16], &length, 4);
    packet.insert(packet.end(), adpcm.begin(), adpcm.end());
    c.sendBytes(packet);
  }
  ASSERT_TRUE(server_->waitForTalk(2, 3000));
  const auto talk = server_->talk();
  ASSERT_EQ(talk.size(), 2u);
  std::vector<int16_t> expected(512);
  tavolen::AdpcmState s;
  tavolen::adpcmDecode(s, adpcm.data(), 256, expected.data());
  EXPECT_EQ(talk[0].sequence, 5u);
  EXPECT_EQ(talk[1].sequence, 9u);
  EXPECT_EQ(talk[1].tick, 1234u);
  EXPECT_EQ(talk[1].pcm, expected);
}

TEST_F(CamsimServer, UnknownRequestsGetAnHttpErrorAndAreLogged) {
  RawClient c(port());
  c.request("/nothing.cgi?user=viewer");
  std::string page;
  ASSERT_TRUE(c.readToClose(page));
  EXPECT_EQ(page.rfind("HTTP/1.1 404", 0), 0u);
  ASSERT_TRUE(server_->waitForRequests(1, 1000));
  EXPECT_EQ(server_->requests()[0].rfind("GET /nothing.cgi?user=viewer HTTP/1.1\r\n", 0), 0u);
  bool logged = false;
  for (const auto& line : server_->logLines()) logged |= line.find("nothing.cgi") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(CamsimServer, OversizedRequestHeadIsDropped) {
  RawClient c(port());
  c.send("GET /livestream.cgi?user=" + std::string(camsim::kMaxRequestHead, 'a'));
  std::string nothing;
  EXPECT_TRUE(c.readToClose(nothing));
  EXPECT_TRUE(nothing.empty());
}

}  // namespace
