// Parameter and pan/tilt commands of a link, through the exports, against
// camsim's settings CGIs.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

#include "link/link_test_support.h"

namespace tavolen::test {
namespace {

using namespace std::chrono_literals;

// What the two settings callbacks saw, in order, with how many requests camsim
// had received at that moment.
class CommandLog {
 public:
  struct Entry {
    bool param;  // ParamCallback (else ResultCallback)
    int32_t code;
    int32_t result;  // ResultCallback only
    std::vector<uint8_t> record;
    size_t requestsSoFar;
  };

  static CommandLog* current;
  const camsim::Server* camera = nullptr;

  static void onParam(int32_t code, const void* record, int32_t size, void* user) {
    auto* self = static_cast<CommandLog*>(user);
    const auto* bytes = static_cast<const uint8_t*>(record);
    self->add({true, code, 0, std::vector<uint8_t>(bytes, bytes + size), self->camera->requests().size()});
  }
  // The ResultCallback has no user value: it reports to the log of the test.
  static void onResult(int32_t code, int32_t result) {
    current->add({false, code, result, {}, current->camera->requests().size()});
  }

  void add(Entry e) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_.push_back(std::move(e));
    changed_.notify_all();
  }
  bool waitFor(size_t n, int timeoutMs = 5000) const {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return entries_.size() >= n; });
  }
  std::vector<Entry> entries() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_;
  }

  template <class Record>
  static Record as(const Entry& e) {
    Record r;
    EXPECT_EQ(e.record.size(), sizeof r);
    std::memcpy(&r, e.record.data(), std::min(sizeof r, e.record.size()));
    return r;
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable changed_;
  std::vector<Entry> entries_;
};
CommandLog* CommandLog::current = nullptr;

std::string firstLine(const std::string& head) { return head.substr(0, head.find("\r\n") + 2); }

class CommandTest : public LinkFixture {
 protected:
  void SetUp() override {
    setLinkTiming(fastTiming());
    startCamera(cameraConfig());
    CommandLog::current = &log_;
    log_.camera = camera_.get();
  }
  virtual camsim::Config cameraConfig() {
    camsim::Config c = smallCamera();
    c.camera.rebootDownMs = 0;
    return c;
  }
  void TearDown() override {
    if (HasFailure() && camera_)
      for (const auto& line : camera_->logLines()) std::printf("camsim: %s\n", line.c_str());
    LinkFixture::TearDown();
    CommandLog::current = nullptr;
  }
  DeviceHandle commandLink() {
    DeviceHandle h = link();
    EXPECT_EQ(device_net_work_param_callback(h, &CommandLog::onParam, &CommandLog::onResult, &log_), 1);
    return h;
  }
  // Requests camsim has received on the settings paths (no stream requests).
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& r : camera_->requests()) out.push_back(firstLine(r));
    return out;
  }
  // Request lines in the order the link connected (camsim numbers its
  // connections as it accepts them), once at least n have been logged.
  std::vector<std::string> linesInConnectOrder(size_t n) const {
    std::map<int, std::string> byConnection;
    for (int i = 0; i < 500; ++i) {
      byConnection.clear();
      for (const auto& line : camera_->logLines()) {
        if (line.rfind("request ", 0) != 0) continue;
        const size_t space = line.find(' ', 8);
        byConnection[std::stoi(line.substr(8, space - 8))] = line.substr(space + 1) + "\r\n";
      }
      if (byConnection.size() >= n) break;
      std::this_thread::sleep_for(10ms);
    }
    std::vector<std::string> out;
    for (const auto& [id, line] : byConnection) out.push_back(line);
    return out;
  }
  bool waitForLog(const std::string& text, size_t n = 1) const {
    for (int i = 0; i < 500; ++i) {
      size_t k = 0;
      for (const auto& line : camera_->logLines()) k += line == text;
      if (k >= n) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  CommandLog log_;
};

template <class Record>
std::vector<uint8_t> bytesOf(const Record& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  return std::vector<uint8_t>(p, p + sizeof r);
}

TEST_F(CommandTest, EveryRequestLineReachesTheCameraAsFormatted) {
  NetworkParams net{};
  std::strcpy(net.ip, "192.168.1.20");
  std::strcpy(net.mask, "255.255.255.0");
  std::strcpy(net.gateway, "192.168.1.1");
  std::strcpy(net.dns1, "8.8.8.8");
  std::strcpy(net.dns2, "8.8.4.4");
  net.port = 81;
  UserParams users{};
  std::strcpy(users.user1, "viewer");
  std::strcpy(users.pwd1, "secret");
  DdnsParams ddns{};
  ddns.service = 3;
  std::strcpy(ddns.host, "cam.example.org");
  ddns.proxy_port = 8080;
  FtpParams ftp{};
  std::strcpy(ftp.svr, "ftp.example.org");
  ftp.port = 21;
  std::strcpy(ftp.dir, "/up");
  MailParams mail{};
  std::strcpy(mail.sender, "cam@example.org");
  mail.smtpport = 25;
  MiscParams misc{};
  misc.led_mode = 1;
  misc.ptz_patrol_rate = 7;
  WifiSettings wifi{};
  wifi.enable = 1;
  std::strcpy(wifi.ssid, "HomeNet");
  std::strcpy(wifi.wpa_psk, "passphrase");
  const char alias[64] = "Porch";

  struct Case {
    int32_t code;
    std::vector<uint8_t> data;
    std::string line;
  };
  const std::string who = "loginuse=viewer&loginpas=secret";
  const std::vector<Case> cases = {
      {0, {}, "GET decoder_control.cgi?" + who + "&command=0 HTTP/1.1\r\n"},
      {95, {}, "GET decoder_control.cgi?" + who + "&command=95 HTTP/1.1\r\n"},
      {CommandGetNetwork, {}, "GET get_params.cgi?" + who + " HTTP/1.1\r\n"},
      {CommandGetUsers, {}, "GET get_params.cgi?" + who + " HTTP/1.1\r\n"},
      {CommandGetDdns, {}, "GET get_params.cgi?" + who + " HTTP/1.1\r\n"},
      {CommandGetFtp, {}, "GET get_params.cgi?" + who + " HTTP/1.1\r\n"},
      {CommandGetMail, {}, "GET get_params.cgi?" + who + " HTTP/1.1\r\n"},
      {CommandGetMisc, {}, "GET get_misc.cgi?" + who + " HTTP/1.1\r\n"},
      {CommandGetWifiScan, {}, "GET get_wifi_scan_result.cgi?" + who + " HTTP/1.1\r\n"},
      {CommandReboot, {}, "GET reboot.cgi?" + who + " HTTP/1.1\r\n"},
      {CommandSetDdns, bytesOf(ddns),
       "GET set_ddns.cgi?" + who +
           "&service=3&user=&pwd=&host=cam.example.org&proxy_svr=&proxy_port=8080&ddns_mode=0 HTTP/1.1\r\n"},
      {CommandSetFtp, bytesOf(ftp),
       "GET set_ftp.cgi?" + who +
           "&svr=ftp.example.org&port=21&user=&pwd=&dir=/up&mode=0&upload_interval=0 HTTP/1.1\r\n"},
      {CommandSetMail, bytesOf(mail),
       "GET set_mail.cgi?" + who +
           "&sender=cam@example.org&receiver1=&receiver2=&receiver3=&receiver4=&ssl=0&svr=&smtpport=25&user=&pwd="
           " HTTP/1.1\r\n"},
      {CommandSetMisc, bytesOf(misc),
       "GET set_misc.cgi?" + who +
           "&ptz_patrol_rate=7&ptz_patrol_up_rate=0&ptz_patrol_down_rate=0&ptz_patrol_left_rate=0"
           "&ptz_patrol_right_rate=0&ptz_dispreset=0&ptz_preset=0&led_mode=1&ptz_run_times=0 HTTP/1.1\r\n"},
      {CommandSetAlias, std::vector<uint8_t>(alias, alias + sizeof alias),
       "GET set_alias.cgi?" + who + "&alias=Porch HTTP/1.1\r\n"},
      // These three reboot the camera after their success.
      {CommandSetNetwork, bytesOf(net),
       "GET set_network.cgi?" + who +
           "&ipaddr=192.168.1.20&mask=255.255.255.0&gateway=192.168.1.1&dns1=8.8.8.8&dns2=8.8.4.4&dhcp=0&port=81"
           " HTTP/1.1\r\n"},
      {CommandSetUsers, bytesOf(users),
       "GET set_users.cgi?" + who + "&user1=viewer&user2=&user3=&pwd1=secret&pwd2=&pwd3= HTTP/1.1\r\n"},
      {CommandSetWifi, bytesOf(wifi),
       "GET set_wifi.cgi?" + who +
           "&enable=1&ssid=HomeNet&mode=0&encrypt=0&authtype=0&keyformat=0&defkey=0&key1=&key2=&key3=&key4="
           "&key1_bits=0&key2_bits=0&key3_bits=0&key4_bits=0&wpa_psk=passphrase HTTP/1.1\r\n"},
  };
  DeviceHandle h = commandLink();
  const std::string reboot = "GET reboot.cgi?" + who + " HTTP/1.1\r\n";
  size_t reboots = 0;
  for (const auto& c : cases) {
    const size_t before = camera_->requests().size();
    if (c.data.empty()) {
      ASSERT_EQ(device_net_work_get_network(h, c.code), 1);
    } else {
      ASSERT_EQ(device_net_work_set_network(h, c.code, c.data.data(), static_cast<int32_t>(c.data.size())), 1);
    }
    const bool rebootsAfter = c.code == CommandSetNetwork || c.code == CommandSetUsers || c.code == CommandSetWifi;
    ASSERT_TRUE(camera_->waitForRequests(before + (rebootsAfter ? 2 : 1), 5000)) << std::hex << c.code;
    const auto sent = lines();
    EXPECT_EQ(sent[before], c.line) << std::hex << c.code;
    if (rebootsAfter) {
      EXPECT_EQ(sent[before + 1], reboot) << std::hex << c.code;
    }
    // The camera is away for a moment after each reboot; what the link sends
    // meanwhile is lost, as with a real camera.
    if (rebootsAfter || c.code == CommandReboot) {
      ASSERT_TRUE(waitForLog("back after reboot", ++reboots));
    }
  }
  // Each request also carries the link's header block, and no leading "/".
  const std::string head = camera_->requests().front();
  EXPECT_NE(head.find("\r\nHost: 127.0.0.1:" + std::to_string(camera_->port()) + "\r\n"), std::string::npos);
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
}

TEST_F(CommandTest, CodesOutsideTheTableSendNothing) {
  DeviceHandle h = commandLink();
  for (int32_t code : {8, 9, 10, 12, 24, 30, 89, 96, 0x1FFF, 0x200A, 0x2014, 0x2701, 0x2703}) {
    ASSERT_EQ(device_net_work_ptz(h, code), 1);
  }
  ASSERT_EQ(device_net_work_ptz(h, 90), 1);
  ASSERT_TRUE(camera_->waitForRequests(1, 5000));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(lines(), std::vector<std::string>{"GET decoder_control.cgi?loginuse=viewer&loginpas=secret&command=90 HTTP/1.1\r\n"});
  EXPECT_TRUE(log_.entries().empty());
}

TEST_F(CommandTest, ReadCommandsDeliverTheCamerasSettings) {
  DeviceHandle h = commandLink();
  for (int32_t code : {CommandGetNetwork, CommandGetUsers, CommandGetMisc, CommandGetWifiScan})
    ASSERT_EQ(device_net_work_get_network(h, code), 1);
  ASSERT_TRUE(log_.waitFor(4));
  const auto e = log_.entries();
  ASSERT_EQ(e.size(), 4u);
  for (const auto& entry : e) EXPECT_TRUE(entry.param);

  EXPECT_EQ(e[0].code, CommandGetNetwork);
  const auto net = CommandLog::as<NetworkParams>(e[0]);
  EXPECT_STREQ(net.ip, "192.168.1.88");
  EXPECT_STREQ(net.mask, "255.255.255.0");
  EXPECT_STREQ(net.gateway, "192.168.1.1");
  EXPECT_STREQ(net.dns1, "192.168.1.1");
  EXPECT_STREQ(net.dns2, "8.8.8.8");
  EXPECT_EQ(net.dhcp, 0);
  EXPECT_EQ(net.port, 81);

  EXPECT_EQ(e[1].code, CommandGetUsers);
  const auto users = CommandLog::as<UserParams>(e[1]);
  EXPECT_STREQ(users.user1, "viewer");
  EXPECT_STREQ(users.pwd1, "secret");

  // The misc record arrives under the mail write's code.
  EXPECT_EQ(e[2].code, 0x2008);
  const auto misc = CommandLog::as<MiscParams>(e[2]);
  EXPECT_EQ(misc.ptz_patrol_rate, 10);
  EXPECT_EQ(misc.ptz_run_times, 1);

  EXPECT_EQ(e[3].code, CommandGetWifiScan);
  ASSERT_EQ(e[3].record.size(), sizeof(WifiScanList));
  auto scan = std::make_unique<WifiScanList>();
  std::memcpy(scan.get(), e[3].record.data(), sizeof *scan);
  const auto expected = camsim::defaultWifiScan();
  ASSERT_EQ(expected.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(scan->entries[i].ssid, expected[i].ssid) << i;
    EXPECT_EQ(scan->entries[i].mac, expected[i].mac) << i;
    EXPECT_EQ(scan->entries[i].security, expected[i].security) << i;
    EXPECT_EQ(scan->entries[i].dbm0, expected[i].dbm0) << i;
    EXPECT_EQ(scan->entries[i].dbm1, expected[i].dbm1) << i;
    EXPECT_EQ(scan->entries[i].mode, expected[i].mode) << i;
  }
  const auto* rest = reinterpret_cast<const uint8_t*>(&scan->entries[3]);
  for (size_t b = 0; b < sizeof(WifiScanEntry) * 97; ++b) ASSERT_EQ(rest[b], 0) << b;
}

TEST_F(CommandTest, AWriteIsSeenByTheNextRead) {
  DeviceHandle h = commandLink();
  FtpParams ftp{};
  std::strcpy(ftp.svr, "ftp.example.org");
  std::strcpy(ftp.user, "uploader");
  std::strcpy(ftp.dir, "/cam/porch");
  ftp.port = 2121;
  ftp.mode = 1;
  ftp.upload_interval = 60;
  ASSERT_EQ(device_net_work_set_network(h, CommandSetFtp, &ftp, sizeof ftp), 1);
  ASSERT_EQ(device_net_work_get_network(h, CommandGetFtp), 1);
  ASSERT_TRUE(log_.waitFor(2));
  const auto e = log_.entries();
  EXPECT_FALSE(e[0].param);
  EXPECT_EQ(e[0].code, CommandSetFtp);
  EXPECT_EQ(e[0].result, 0);
  ASSERT_TRUE(e[1].param);
  EXPECT_EQ(e[1].record, bytesOf(ftp));
}

class CameraVariantTest : public CommandTest {
 protected:
  camsim::Config cameraConfig() override {
    camsim::Config c = CommandTest::cameraConfig();
    c.camera.ddnsFirst = true;
    c.camera.omitKeys = {"mail_svr"};
    return c;
  }
};

TEST_F(CameraVariantTest, KeysAreMatchedWhereverTheyFirstOccur) {
  DeviceHandle h = commandLink();
  DdnsParams ddns{};
  ddns.proxy_port = 8080;
  ASSERT_EQ(device_net_work_set_network(h, CommandSetDdns, &ddns, sizeof ddns), 1);
  ASSERT_EQ(device_net_work_get_network(h, CommandGetNetwork), 1);
  // A record missing one key is not delivered; the next command still runs.
  ASSERT_EQ(device_net_work_get_network(h, CommandGetMail), 1);
  ASSERT_EQ(device_net_work_get_network(h, CommandGetDdns), 1);
  ASSERT_TRUE(log_.waitFor(3));
  ASSERT_TRUE(camera_->waitForRequests(4, 5000));
  std::this_thread::sleep_for(100ms);
  const auto e = log_.entries();
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].code, CommandSetDdns);
  EXPECT_EQ(e[1].code, CommandGetNetwork);
  // ddns_proxy_port comes first in this camera's answer, and ends in "port=".
  EXPECT_EQ(CommandLog::as<NetworkParams>(e[1]).port, 8080);
  EXPECT_EQ(e[2].code, CommandGetDdns);
  EXPECT_EQ(CommandLog::as<DdnsParams>(e[2]).proxy_port, 8080);
}

class CameraWithoutDns2Test : public CommandTest {
 protected:
  camsim::Config cameraConfig() override {
    camsim::Config c = CommandTest::cameraConfig();
    c.camera.omitKeys = {"dns2"};
    return c;
  }
};

TEST_F(CameraWithoutDns2Test, TheNetworkRecordIsNotDeliveredButTheOthersAre) {
  DeviceHandle h = commandLink();
  ASSERT_EQ(device_net_work_get_network(h, CommandGetNetwork), 1);
  ASSERT_EQ(device_net_work_get_network(h, CommandGetUsers), 1);
  ASSERT_TRUE(log_.waitFor(1));
  ASSERT_TRUE(camera_->waitForRequests(2, 5000));
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(log_.entries().size(), 1u);
  EXPECT_EQ(log_.entries()[0].code, CommandGetUsers);
  EXPECT_EQ(camera_->requests()[0].find("get_params.cgi"), 4u);
}

TEST_F(CommandTest, WriteResults) {
  // A wrong account: the camera answers, but not "ok".
  DeviceHandle wrong = linkTo("127.0.0.1", camera_->port(), "viewer", "nope");
  device_net_work_param_callback(wrong, &CommandLog::onParam, &CommandLog::onResult, &log_);
  MiscParams misc{};
  ASSERT_EQ(device_net_work_set_network(wrong, CommandSetMisc, &misc, sizeof misc), 1);
  ASSERT_TRUE(log_.waitFor(1));
  // The camera hangs up without answering: an empty body.
  camera_->pushFault({camsim::FaultKind::Drop, 0});
  ASSERT_EQ(device_net_work_set_network(wrong, CommandSetMisc, &misc, sizeof misc), 1);
  ASSERT_TRUE(log_.waitFor(2));
  DeviceHandle h = commandLink();
  ASSERT_EQ(device_net_work_set_network(h, CommandSetMisc, &misc, sizeof misc), 1);
  ASSERT_TRUE(log_.waitFor(3));
  // A read with the wrong account delivers nothing at all.
  ASSERT_EQ(device_net_work_get_network(wrong, CommandGetMisc), 1);
  // (The dropped connection never got as far as a request.)
  ASSERT_TRUE(camera_->waitForRequests(3, 5000));
  std::this_thread::sleep_for(200ms);

  const auto e = log_.entries();
  ASSERT_EQ(e.size(), 3u);
  for (const auto& entry : e) {
    EXPECT_FALSE(entry.param);
    EXPECT_EQ(entry.code, CommandSetMisc);
  }
  EXPECT_EQ(e[0].result, -1);
  EXPECT_EQ(e[1].result, -1);
  EXPECT_EQ(e[2].result, 0);
}

TEST_F(CommandTest, ASuccessfulNetworkWriteIsFollowedByAReboot) {
  DeviceHandle h = commandLink();
  NetworkParams net{};
  std::strcpy(net.ip, "192.168.1.30");
  std::strcpy(net.mask, "255.255.255.0");
  net.port = 81;
  ASSERT_EQ(device_net_work_set_network(h, CommandSetNetwork, &net, sizeof net), 1);
  ASSERT_TRUE(camera_->waitForRequests(2, 5000));
  ASSERT_TRUE(log_.waitFor(1));
  const auto e = log_.entries();
  EXPECT_EQ(e[0].code, CommandSetNetwork);
  EXPECT_EQ(e[0].result, 0);
  // The result was reported before the reboot went out.
  EXPECT_EQ(e[0].requestsSoFar, 1u);
  // On a connection of its own.
  const auto sent = linesInConnectOrder(2);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].substr(0, 16), "GET set_network.");
  EXPECT_EQ(sent[1], "GET reboot.cgi?loginuse=viewer&loginpas=secret HTTP/1.1\r\n");
  ASSERT_TRUE(waitForLog("back after reboot"));

  // A failed write reboots nothing.
  DeviceHandle wrong = linkTo("127.0.0.1", camera_->port(), "viewer", "nope");
  device_net_work_param_callback(wrong, &CommandLog::onParam, &CommandLog::onResult, &log_);
  ASSERT_EQ(device_net_work_set_network(wrong, CommandSetNetwork, &net, sizeof net), 1);
  ASSERT_TRUE(log_.waitFor(2));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(log_.entries()[1].result, -1);
  EXPECT_EQ(camera_->requests().size(), 3u);
}

TEST_F(CommandTest, RequestsThatCannotBeSentWholeAreRefused) {
  DeviceHandle h = commandLink();
  WifiSettings wifi{};
  for (char* key : {wifi.key1, wifi.key2, wifi.key3, wifi.key4}) std::memset(key, 'k', 127);
  ASSERT_EQ(device_net_work_set_network(h, CommandSetWifi, &wifi, sizeof wifi), 1);
  const char alias[64] = "front door";
  ASSERT_EQ(device_net_work_set_network(h, CommandSetAlias, alias, sizeof alias), 1);
  const char injected[64] = "x\r\nX-Injected: 1";
  ASSERT_EQ(device_net_work_set_network(h, CommandSetAlias, injected, sizeof injected), 1);
  ASSERT_TRUE(log_.waitFor(3));
  const auto e = log_.entries();
  EXPECT_EQ(e[0].code, CommandSetWifi);
  EXPECT_EQ(e[1].code, CommandSetAlias);
  EXPECT_EQ(e[2].code, CommandSetAlias);
  for (const auto& entry : e) EXPECT_EQ(entry.result, -1);
  EXPECT_TRUE(camera_->requests().empty());

  // The link's own credentials are checked the same way.
  DeviceHandle spaced = linkTo("127.0.0.1", camera_->port(), "the viewer", "secret");
  device_net_work_param_callback(spaced, &CommandLog::onParam, &CommandLog::onResult, &log_);
  const char ok[64] = "porch";
  ASSERT_EQ(device_net_work_set_network(spaced, CommandSetAlias, ok, sizeof ok), 1);
  ASSERT_TRUE(log_.waitFor(4));
  EXPECT_EQ(log_.entries()[3].result, -1);
  EXPECT_TRUE(camera_->requests().empty());
}

TEST_F(CommandTest, DataIsCopiedAtMostTheDataArea) {
  DeviceHandle h = commandLink();
  std::vector<char> big(4096, 'a');
  big[4095] = '\0';
  std::memcpy(big.data(), "porch", 6);
  ASSERT_EQ(device_net_work_set_network(h, CommandSetAlias, big.data(), static_cast<int32_t>(big.size())), 1);
  ASSERT_EQ(device_net_work_set_network(h, CommandSetAlias, nullptr, 64), 1);
  ASSERT_EQ(device_net_work_set_network(h, CommandSetAlias, "back", -5), 1);
  ASSERT_TRUE(camera_->waitForRequests(3, 5000));
  const auto sent = lines();
  EXPECT_EQ(sent[0], "GET set_alias.cgi?loginuse=viewer&loginpas=secret&alias=porch HTTP/1.1\r\n");
  EXPECT_EQ(sent[1], "GET set_alias.cgi?loginuse=viewer&loginpas=secret&alias= HTTP/1.1\r\n");
  EXPECT_EQ(sent[2], "GET set_alias.cgi?loginuse=viewer&loginpas=secret&alias= HTTP/1.1\r\n");
}

// Name lookups that wait for the test to let them answer.
std::atomic<int> gLookupOpen{0};
bool gatedLookup(const char* name, std::string& dotted) {
  if (gLookupOpen.load() == 0 || std::strcmp(name, "camera.lan") != 0) return false;
  dotted = "127.0.0.1";
  return true;
}

TEST_F(CommandTest, CommandsQueuedBeforeTheAddressResolvesRunInOrderAfterwards) {
  LinkTiming timing = fastTiming();
  timing.lookup = &gatedLookup;
  setLinkTiming(timing);
  gLookupOpen = 0;
  DeviceHandle h = linkTo("camera.lan", camera_->port());
  device_net_work_param_callback(h, &CommandLog::onParam, &CommandLog::onResult, &log_);
  for (int32_t code : {1, int32_t{CommandGetMisc}, 2, int32_t{CommandGetNetwork}, 3}) ASSERT_EQ(device_net_work_ptz(h, code), 1);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(camera_->requests().empty());
  EXPECT_TRUE(log_.entries().empty());
  gLookupOpen = 1;
  ASSERT_TRUE(camera_->waitForRequests(5, 5000));
  const std::string who = "loginuse=viewer&loginpas=secret";
  EXPECT_EQ(linesInConnectOrder(5), (std::vector<std::string>{
                         "GET decoder_control.cgi?" + who + "&command=1 HTTP/1.1\r\n",
                         "GET get_misc.cgi?" + who + " HTTP/1.1\r\n",
                         "GET decoder_control.cgi?" + who + "&command=2 HTTP/1.1\r\n",
                         "GET get_params.cgi?" + who + " HTTP/1.1\r\n",
                         "GET decoder_control.cgi?" + who + "&command=3 HTTP/1.1\r\n",
                     }));
  ASSERT_TRUE(log_.waitFor(2));
  EXPECT_EQ(log_.entries()[0].code, 0x2008);
  EXPECT_EQ(log_.entries()[1].code, CommandGetNetwork);
}

TEST_F(CommandTest, ACallbackMayQueueTheNextCommand) {
  static DeviceHandle handle = nullptr;
  handle = link();
  device_net_work_param_callback(
      handle,
      [](int32_t code, const void*, int32_t, void* user) {
        auto* log = static_cast<CommandLog*>(user);
        if (code == CommandGetNetwork) device_net_work_get_network(handle, CommandGetUsers);
        log->add({true, code, 0, {}, 0});
      },
      nullptr, &log_);
  ASSERT_EQ(device_net_work_get_network(handle, CommandGetNetwork), 1);
  ASSERT_TRUE(log_.waitFor(2));
  EXPECT_EQ(log_.entries()[1].code, CommandGetUsers);
}

// The clock never moves: the destroy cannot be waiting out the reader's
// time limits, it ends the exchange.
TEST_F(CommandTest, DestroyDuringAnAnswerThatNeverComesIsPrompt) {
  ManualClock& clock = manualClock();
  DeviceHandle h = commandLink();
  camera_->pushFault({camsim::FaultKind::Silent, 0});
  ASSERT_EQ(device_net_work_get_network(h, CommandGetNetwork), 1);
  ASSERT_TRUE(camera_->waitForRequests(1, 5000));
  ASSERT_TRUE(clock.waitForSleepers(2));  // the resolver, and the worker reading the answer
  destroy(h);
  EXPECT_EQ(clock.sleepers(), 0);
  EXPECT_TRUE(log_.entries().empty());
}

TEST_F(CommandTest, ASettingsFileKeepsWritesAcrossRestarts) {
  const std::string file = ::testing::TempDir() + "camsim-settings-" + std::to_string(getpid());
  std::remove(file.c_str());
  camsim::Config config = cameraConfig();
  config.camera.settingsFile = file;
  startCamera(config);
  log_.camera = camera_.get();
  MiscParams misc{};
  misc.led_mode = 2;
  misc.ptz_patrol_rate = 33;
  ASSERT_EQ(device_net_work_set_network(commandLink(), CommandSetMisc, &misc, sizeof misc), 1);
  ASSERT_TRUE(log_.waitFor(1));
  EXPECT_EQ(log_.entries()[0].result, 0);

  startCamera(config);  // a new camera process, same file
  log_.camera = camera_.get();
  ASSERT_EQ(device_net_work_get_network(commandLink(), CommandGetMisc), 1);
  ASSERT_TRUE(log_.waitFor(2));
  const auto read = CommandLog::as<MiscParams>(log_.entries()[1]);
  EXPECT_EQ(read.led_mode, 2);
  EXPECT_EQ(read.ptz_patrol_rate, 33);
  std::remove(file.c_str());
}

class RebootTest : public CommandTest {
 protected:
  camsim::Config cameraConfig() override {
    camsim::Config c = CommandTest::cameraConfig();
    c.camera.rebootDownMs = 300;
    return c;
  }
};

TEST_F(RebootTest, ARebootDropsTheLiveStreamForAMoment) {
  DeviceHandle h = commandLink();
  EventLog events;
  FrameLog frames;
  device_net_work_set_event_callback(h, &EventLog::callback, &events);
  ASSERT_EQ(device_net_work_startStream(h, 1, &FrameLog::callback, &frames), 1);
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnected));
  ASSERT_TRUE(frames.waitFor(3));
  ASSERT_EQ(device_net_work_get_network(h, CommandReboot), 1);
  ASSERT_TRUE(waitForLog("back after reboot"));
  // The watchdog notices the silence and connects again once the camera is back.
  ASSERT_TRUE(events.waitFor(LinkEventStreamConnected, 2, 5000));
  const size_t before = frames.size();
  EXPECT_TRUE(frames.waitFor(before + 3));
  EXPECT_GE(liveRequests(), 2u);
}

}  // namespace
}  // namespace tavolen::test
