// Settings answers parsed into their records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/http_exchange.h"
#include "link/settings_parsers.h"

namespace tavolen {
namespace {

// One get_params answer carries the network, user, DDNS, FTP and mail keys.
const std::string kParams =
    "var ip=\"192.168.1.20\";\r\nvar mask=\"255.255.255.0\";\r\nvar gateway=\"192.168.1.1\";\r\n"
    "var dns1=\"8.8.8.8\";\r\nvar dns2=\"8.8.4.4\";\r\nvar dhcpen=1;\r\nvar port=81;\r\n"
    "var user1_name=\"admin\";\r\nvar user1_pwd=\"s3cret\";\r\nvar user2_name=\"guest\";\r\n"
    "var user2_pwd=\"g\";\r\nvar user3_name=\"\";\r\nvar user3_pwd=\"\";\r\n"
    "var ddns_service=3;\r\nvar ddns_user=\"du\";\r\nvar ddns_pwd=\"dp\";\r\nvar ddns_host=\"cam.example.org\";\r\n"
    "var ddns_proxy_svr=\"proxy.example.org\";\r\nvar ddns_mode=1;\r\nvar ddns_proxy_port=8080;\r\n"
    "var ftp_svr=\"ftp.example.org\";\r\nvar ftp_user=\"fu\";\r\nvar ftp_pwd=\"fp\";\r\nvar ftp_dir=\"/up\";\r\n"
    "var ftp_port=21;\r\nvar ftp_mode=1;\r\nvar ftp_upload_interval=30;\r\n"
    "var mail_svr=\"smtp.example.org\";\r\nvar mail_user=\"mu\";\r\nvar mail_pwd=\"mp\";\r\n"
    "var mail_sender=\"cam@example.org\";\r\nvar mail_receiver1=\"a@example.org\";\r\n"
    "var mail_receiver2=\"b@example.org\";\r\nvar mail_receiver3=\"\";\r\nvar mail_receiver4=\"\";\r\n"
    "var mail_inet_ip=1;\r\nvar mail_port=465;\r\nvar mailssl=2;\r\n";

const std::string kMisc =
    "var led_mode=1;\r\nvar ptz_center_onstart=0;\r\nvar ptruntimes=4;\r\nvar ptz_patrol_rate=10;\r\n"
    "var ptz_patrol_up_rate=11;\r\nvar ptz_patrol_down_rate=12;\r\nvar ptz_patrol_left_rate=13;\r\n"
    "var ptz_patrol_right_rate=14;\r\nvar ptz_disppreset=1;\r\nvar preset_onstart=5;\r\n";

TEST(SettingsBody, RecordsFromACameraAnswer) {
  NetworkParams n{};
  ASSERT_TRUE(parseNetworkParams(kParams.c_str(), n));
  EXPECT_STREQ(n.ip, "192.168.1.20");
  EXPECT_STREQ(n.mask, "255.255.255.0");
  EXPECT_STREQ(n.gateway, "192.168.1.1");
  EXPECT_STREQ(n.dns1, "8.8.8.8");
  EXPECT_STREQ(n.dns2, "8.8.4.4");
  EXPECT_EQ(n.dhcp, 1);
  EXPECT_EQ(n.port, 81);

  UserParams u{};
  ASSERT_TRUE(parseUserParams(kParams.c_str(), u));
  EXPECT_STREQ(u.user1, "admin");
  EXPECT_STREQ(u.pwd1, "s3cret");
  EXPECT_STREQ(u.user2, "guest");
  EXPECT_STREQ(u.pwd2, "g");
  EXPECT_STREQ(u.user3, "");

  DdnsParams d{};
  ASSERT_TRUE(parseDdnsParams(kParams.c_str(), d));
  EXPECT_EQ(d.service, 3);
  EXPECT_STREQ(d.user, "du");
  EXPECT_STREQ(d.pwd, "dp");
  EXPECT_STREQ(d.host, "cam.example.org");
  EXPECT_STREQ(d.proxy_svr, "proxy.example.org");
  EXPECT_EQ(d.ddns_mode, 1);
  EXPECT_EQ(d.proxy_port, 8080);

  FtpParams f{};
  ASSERT_TRUE(parseFtpParams(kParams.c_str(), f));
  EXPECT_STREQ(f.svr, "ftp.example.org");
  EXPECT_STREQ(f.user, "fu");
  EXPECT_STREQ(f.pwd, "fp");
  EXPECT_STREQ(f.dir, "/up");
  EXPECT_EQ(f.port, 21);
  EXPECT_EQ(f.mode, 1);
  EXPECT_EQ(f.upload_interval, 30);

  MailParams m{};
  ASSERT_TRUE(parseMailParams(kParams.c_str(), m));
  EXPECT_STREQ(m.svr, "smtp.example.org");
  EXPECT_STREQ(m.user, "mu");
  EXPECT_STREQ(m.pwd, "mp");
  EXPECT_STREQ(m.sender, "cam@example.org");
  EXPECT_STREQ(m.receiver1, "a@example.org");
  EXPECT_STREQ(m.receiver2, "b@example.org");
  EXPECT_STREQ(m.receiver4, "");
  EXPECT_EQ(m.inet_ip, 1);
  EXPECT_EQ(m.smtpport, 465);
  EXPECT_EQ(m.ssl, 2);

  MiscParams x{};
  ASSERT_TRUE(parseMiscParams(kMisc.c_str(), x));
  EXPECT_EQ(x.led_mode, 1);
  EXPECT_EQ(x.ptz_center_onstart, 0);
  EXPECT_EQ(x.unused, 0);
  EXPECT_EQ(x.ptz_run_times, 4);
  EXPECT_EQ(x.ptz_patrol_rate, 10);
  EXPECT_EQ(x.ptz_patrol_up_rate, 11);
  EXPECT_EQ(x.ptz_patrol_down_rate, 12);
  EXPECT_EQ(x.ptz_patrol_left_rate, 13);
  EXPECT_EQ(x.ptz_patrol_right_rate, 14);
  EXPECT_EQ(x.ptz_dispreset, 1);
  EXPECT_EQ(x.ptz_preset, 5);
}

std::string without(const std::string& body, const std::string& key) {
  std::string out = body;
  for (size_t at = out.find(key); at != std::string::npos; at = out.find(key)) out[at + key.size() - 1] = ':';
  return out;
}

// Every key of every record is required: taking any one away loses the record.
TEST(SettingsBody, AnyMissingKeyLosesTheRecord) {
  struct Case {
    int32_t code;
    const std::string* body;
    std::vector<std::string> keys;
  };
  const std::vector<Case> cases = {
      {CommandGetNetwork, &kParams, {"ip=", "mask=", "gateway=", "dns1=", "dns2=", "dhcpen="}},
      {CommandGetUsers,
       &kParams,
       {"user1_name=", "user1_pwd=", "user2_name=", "user2_pwd=", "user3_name=", "user3_pwd="}},
      {CommandGetDdns,
       &kParams,
       {"ddns_service=", "ddns_proxy_svr=", "ddns_host=", "ddns_user=", "ddns_pwd=", "ddns_proxy_port=",
        "ddns_mode="}},
      {CommandGetFtp,
       &kParams,
       {"ftp_svr=", "ftp_user=", "ftp_pwd=", "ftp_dir=", "ftp_port=", "ftp_mode=", "ftp_upload_interval="}},
      {CommandGetMail,
       &kParams,
       {"mail_sender=", "mail_receiver1=", "mail_receiver2=", "mail_receiver3=", "mail_receiver4=", "mail_svr=",
        "mail_user=", "mail_pwd=", "mail_port=", "mail_inet_ip=", "mailssl="}},
      {CommandGetMisc,
       &kMisc,
       {"ptz_patrol_rate=", "ptz_patrol_up_rate=", "ptz_patrol_down_rate=", "ptz_patrol_left_rate=",
        "ptz_patrol_right_rate=", "ptz_center_onstart=", "ptz_disppreset=", "led_mode=", "preset_onstart=",
        "ptruntimes="}},
  };
  std::vector<uint8_t> record(kLargestReadRecord);
  for (const auto& c : cases) {
    const ReadCommandAnswer* answer = readCommandAnswer(c.code);
    ASSERT_NE(answer, nullptr);
    EXPECT_TRUE(answer->parse(c.body->c_str(), record.data())) << std::hex << c.code;
    for (const auto& key : c.keys) {
      const std::string body = without(*c.body, key);
      EXPECT_FALSE(answer->parse(body.c_str(), record.data())) << std::hex << c.code << " without " << key;
    }
    EXPECT_FALSE(answer->parse("", record.data())) << std::hex << c.code;
  }
  // "port=" alone goes missing only when no longer name ends in it either.
  std::string noPort = without(without(without(kParams, "ddns_proxy_port="), "ftp_port="), "mail_port=");
  NetworkParams n{};
  EXPECT_FALSE(parseNetworkParams(without(noPort, "port=").c_str(), n));
}

TEST(SettingsBody, FieldsBeforeTheMissingKeyAreFilled) {
  NetworkParams n{};
  EXPECT_FALSE(parseNetworkParams(without(kParams, "dns2=").c_str(), n));
  EXPECT_STREQ(n.dns1, "8.8.8.8");
  EXPECT_STREQ(n.dns2, "");
  EXPECT_EQ(n.port, 0);
}

TEST(SettingsBody, KeysMatchTheirFirstOccurrenceAnywhere) {
  const std::string body = "var ddns_proxy_port=8080;\r\n" + kParams;
  NetworkParams n{};
  ASSERT_TRUE(parseNetworkParams(body.c_str(), n));
  EXPECT_EQ(n.port, 8080);
  // "ip=" is found inside a longer name that comes first.
  const std::string wifiFirst = "var wifi_ip=\"10.1.1.1\";\r\n" + kParams;
  ASSERT_TRUE(parseNetworkParams(wifiFirst.c_str(), n));
  EXPECT_STREQ(n.ip, "10.1.1.1");
}

TEST(SettingsBody, TextsAreCutAtTheirField) {
  const std::string longIp(100, '9');
  const std::string body = "var ip=\"" + longIp + "\";" + kParams.substr(kParams.find("var mask"));
  NetworkParams n{};
  std::memset(&n, 0, sizeof n);
  ASSERT_TRUE(parseNetworkParams(body.c_str(), n));
  EXPECT_EQ(std::string(n.ip), longIp.substr(0, sizeof n.ip - 1));
  EXPECT_STREQ(n.mask, "255.255.255.0");

  FtpParams f{};
  const std::string dir(500, 'd');
  const std::string ftpBody = "var ftp_dir=\"" + dir + "\";" + kParams;
  ASSERT_TRUE(parseFtpParams(ftpBody.c_str(), f));
  EXPECT_EQ(std::string(f.dir), dir.substr(0, sizeof f.dir - 1));
  EXPECT_EQ(f.port, 21);
}

TEST(BodyValues, TextAndNumberScans) {
  struct TextCase {
    const char* body;
    bool found;
    const char* value;  // the field starts as "old"
  };
  const TextCase texts[] = {
      {"var k=\"v\";", true, "v"},
      {"var k=\"\";", true, "old"},          // empty value leaves the field
      {"var k=v;", true, "old"},             // not quoted
      {"var k=\"unterminated", true, "unterminated"},
      {"var k = \"v\";", false, "old"},      // the key includes its "="
      {"", false, "old"},
      {"xk=\"first\";k=\"second\"", true, "first"},
  };
  for (const auto& c : texts) {
    char field[16] = "old";
    EXPECT_EQ(extractText(field, sizeof field, "k=", c.body) != 0, c.found) << c.body;
    EXPECT_STREQ(field, c.value) << c.body;
  }

  struct NumberCase {
    const char* body;
    bool found;
    int32_t value;  // starts as 77
  };
  const NumberCase numbers[] = {
      {"var n=81;", true, 81},
      {"var n=-5;", true, -5},
      {"var n=;", true, 0},
      {"var n= 12 ;", true, 12},
      {"var n=\"81\";", true, 0},
      {"var n=99999999999;", true, INT32_MAX},
      {"var n=-99999999999;", true, INT32_MIN},
      {"var n=12", true, 12},
      {"var m=12;", false, 77},
  };
  for (const auto& c : numbers) {
    int32_t v = 77;
    EXPECT_EQ(extractNumber(v, "n=", c.body) != 0, c.found) << c.body;
    EXPECT_EQ(v, c.value) << c.body;
  }
  // Only the first kNumberTextSize - 1 characters of a number are read.
  const std::string longNumber = "n=" + std::string(kNumberTextSize - 2, '0') + "42;";
  int32_t v = 0;
  EXPECT_TRUE(extractNumber(v, "n=", longNumber.c_str()));
  EXPECT_EQ(v, 4);
}

std::string scanBody(int count, int entries) {
  std::string body = "var ap_number=" + std::to_string(count) + ";\r\n";
  for (int i = 0; i < entries; ++i) {
    const std::string n = std::to_string(i);
    body += "var ap_ssid[" + n + "] =\"net" + n + "\";\r\nvar ap_mac[" + n + "]=\"00:11:22:33:44:" + n +
            "\";\r\nvar ap_security[" + n + "]=" + std::to_string(i % 4) + ";\r\nvar ap_dbm0[" + n + "]=\"-" + n +
            "\";\r\nvar ap_dbm1[" + n + "]=\"" + n + "%\";\r\nvar ap_mode[" + n + "]=" + std::to_string(i % 2) +
            ";\r\n";
  }
  return body;
}

TEST(WifiScanBody, FillsOnlyTheCountedEntries) {
  auto list = std::make_unique<WifiScanList>();
  std::memset(list.get(), 0, sizeof *list);
  ASSERT_TRUE(parseWifiScanList(scanBody(3, 6).c_str(), *list));
  for (int i = 0; i < 3; ++i) {
    const WifiScanEntry& e = list->entries[i];
    EXPECT_EQ(std::string(e.ssid), "net" + std::to_string(i));
    EXPECT_EQ(std::string(e.mac), "00:11:22:33:44:" + std::to_string(i));
    EXPECT_EQ(e.security, i % 4);
    EXPECT_EQ(std::string(e.dbm0), "-" + std::to_string(i));
    EXPECT_EQ(std::string(e.dbm1), std::to_string(i) + "%");
    EXPECT_EQ(e.mode, i % 2);
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(&list->entries[3]);
  for (size_t b = 0; b < sizeof(WifiScanEntry) * (WIFI_SCAN_MAX_ENTRIES - 3); ++b) ASSERT_EQ(bytes[b], 0) << b;
}

TEST(WifiScanBody, CountBoundsAndQuirks) {
  auto list = std::make_unique<WifiScanList>();
  // Above 100 reads 100 (entry 100 exists in the body but has no room).
  std::memset(list.get(), 0, sizeof *list);
  ASSERT_TRUE(parseWifiScanList(scanBody(150, 101).c_str(), *list));
  EXPECT_STREQ(list->entries[99].ssid, "net99");

  for (const char* body : {"var ap_number=0;", "var ap_number=-2;", "var ap_numbers=3;", ""}) {
    std::memset(list.get(), 0, sizeof *list);
    EXPECT_FALSE(parseWifiScanList(body, *list)) << body;
  }

  // Entries whose keys are missing stay zero; the SSID key has its blank.
  std::memset(list.get(), 0, sizeof *list);
  ASSERT_TRUE(parseWifiScanList("var ap_number=2;var ap_ssid[0]=\"no blank\";var ap_mac[1]=\"m1\";", *list));
  EXPECT_STREQ(list->entries[0].ssid, "");
  EXPECT_STREQ(list->entries[1].mac, "m1");
  EXPECT_EQ(list->entries[1].security, 0);
}

TEST(ReadCommands, DeliveredCodesAndSizes) {
  struct Case {
    int32_t code, delivered, size;
  };
  const Case cases[] = {
      {CommandGetNetwork, CommandGetNetwork, 332}, {CommandGetUsers, CommandGetUsers, 384},
      {CommandGetDdns, CommandGetDdns, 268},       {CommandGetFtp, CommandGetFtp, 332},
      {CommandGetMail, CommandGetMail, 524},       {CommandGetMisc, 0x2008, 44},
      {CommandGetWifiScan, CommandGetWifiScan, 20000},
  };
  for (const auto& c : cases) {
    const ReadCommandAnswer* a = readCommandAnswer(c.code);
    ASSERT_NE(a, nullptr) << std::hex << c.code;
    EXPECT_EQ(a->deliveredCode, c.delivered) << std::hex << c.code;
    EXPECT_EQ(a->recordSize, c.size) << std::hex << c.code;
  }
  for (int32_t code : {int32_t{CommandSetNetwork}, int32_t{CommandReboot}, 0, 0x2014}) EXPECT_EQ(readCommandAnswer(code), nullptr);
}

}  // namespace
}  // namespace tavolen
