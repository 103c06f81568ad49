// Request lines of the parameter commands, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/command_requests.h"

namespace tavolen {
namespace {

struct DataArea {
  uint8_t bytes[COMMAND_DATA_SIZE] = {};
  template <class Record>
  explicit DataArea(const Record& r) {
    std::memcpy(bytes, &r, sizeof r);
  }
  DataArea() = default;
};

NetworkParams network() {
  NetworkParams p{};
  std::strcpy(p.ip, "192.168.1.20");
  std::strcpy(p.mask, "255.255.255.0");
  std::strcpy(p.gateway, "192.168.1.1");
  std::strcpy(p.dns1, "8.8.8.8");
  std::strcpy(p.dns2, "8.8.4.4");
  p.dhcp = 0;
  p.port = 81;
  return p;
}

UserParams users() {
  UserParams p{};
  std::strcpy(p.user1, "admin");
  std::strcpy(p.pwd1, "s3cret");
  std::strcpy(p.user2, "guest");
  std::strcpy(p.user3, "");
  std::strcpy(p.pwd2, "g");
  std::strcpy(p.pwd3, "");
  return p;
}

DdnsParams ddns() {
  DdnsParams p{};
  p.service = 3;
  std::strcpy(p.user, "du");
  std::strcpy(p.pwd, "dp");
  std::strcpy(p.host, "cam.example.org");
  std::strcpy(p.proxy_svr, "proxy.example.org");
  p.proxy_port = 8080;
  p.ddns_mode = 1;
  return p;
}

FtpParams ftp() {
  FtpParams p{};
  std::strcpy(p.svr, "ftp.example.org");
  p.port = 21;
  std::strcpy(p.user, "fu");
  std::strcpy(p.pwd, "fp");
  std::strcpy(p.dir, "/up");
  p.mode = 1;
  p.upload_interval = 30;
  return p;
}

MailParams mail() {
  MailParams p{};
  std::strcpy(p.sender, "cam@example.org");
  std::strcpy(p.receiver1, "a@example.org");
  std::strcpy(p.receiver2, "b@example.org");
  std::strcpy(p.svr, "smtp.example.org");
  std::strcpy(p.user, "mu");
  std::strcpy(p.pwd, "mp");
  p.ssl = 2;
  p.smtpport = 465;
  p.inet_ip = 7;  // read-only: never sent
  return p;
}

MiscParams misc() {
  MiscParams p{};
  p.led_mode = 1;
  p.ptz_center_onstart = 9;  // read-only: never sent
  p.ptz_run_times = 4;
  p.ptz_patrol_rate = 10;
  p.ptz_patrol_up_rate = 11;
  p.ptz_patrol_down_rate = 12;
  p.ptz_patrol_left_rate = 13;
  p.ptz_patrol_right_rate = 14;
  p.ptz_dispreset = 1;
  p.ptz_preset = 5;
  return p;
}

WifiSettings wifi() {
  WifiSettings p{};
  p.enable = 1;
  std::strcpy(p.ssid, "HomeNet");
  p.mode = 0;
  p.authtype = 2;
  p.encrypt = 3;
  p.keyformat = 1;
  p.defkey = 1;
  std::strcpy(p.key1, "k1");
  std::strcpy(p.key4, "k4");
  p.key1_bits = 64;
  p.key4_bits = 128;
  std::strcpy(p.wpa_psk, "passphrase");
  return p;
}

DataArea alias(const char* text) {
  DataArea d;
  std::memcpy(d.bytes, text, std::strlen(text));
  return d;
}

std::string line(int32_t code, const DataArea& data = DataArea()) {
  std::string out;
  EXPECT_EQ(formatCommandRequestLine(code, "admin", "pw", data.bytes, out), RequestLineResult::Ok) << code;
  return out;
}

TEST(CommandRequestLine, EveryCommandFollowsItsTemplate) {
  struct Case {
    int32_t code;
    DataArea data;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {0, {}, "GET decoder_control.cgi?loginuse=admin&loginpas=pw&command=0 HTTP/1.1\r\n"},
      {CommandSetNetwork, DataArea(network()),
       "GET set_network.cgi?loginuse=admin&loginpas=pw&ipaddr=192.168.1.20&mask=255.255.255.0"
       "&gateway=192.168.1.1&dns1=8.8.8.8&dns2=8.8.4.4&dhcp=0&port=81 HTTP/1.1\r\n"},
      {CommandGetNetwork, {}, "GET get_params.cgi?loginuse=admin&loginpas=pw HTTP/1.1\r\n"},
      {CommandSetUsers, DataArea(users()),
       "GET set_users.cgi?loginuse=admin&loginpas=pw&user1=admin&user2=guest&user3=&pwd1=s3cret&pwd2=g&pwd3="
       " HTTP/1.1\r\n"},
      {CommandGetUsers, {}, "GET get_params.cgi?loginuse=admin&loginpas=pw HTTP/1.1\r\n"},
      {CommandSetDdns, DataArea(ddns()),
       "GET set_ddns.cgi?loginuse=admin&loginpas=pw&service=3&user=du&pwd=dp&host=cam.example.org"
       "&proxy_svr=proxy.example.org&proxy_port=8080&ddns_mode=1 HTTP/1.1\r\n"},
      {CommandGetDdns, {}, "GET get_params.cgi?loginuse=admin&loginpas=pw HTTP/1.1\r\n"},
      {CommandSetFtp, DataArea(ftp()),
       "GET set_ftp.cgi?loginuse=admin&loginpas=pw&svr=ftp.example.org&port=21&user=fu&pwd=fp&dir=/up&mode=1"
       "&upload_interval=30 HTTP/1.1\r\n"},
      {CommandGetFtp, {}, "GET get_params.cgi?loginuse=admin&loginpas=pw HTTP/1.1\r\n"},
      {CommandSetMail, DataArea(mail()),
       "GET set_mail.cgi?loginuse=admin&loginpas=pw&sender=cam@example.org&receiver1=a@example.org"
       "&receiver2=b@example.org&receiver3=&receiver4=&ssl=2&svr=smtp.example.org&smtpport=465&user=mu&pwd=mp"
       " HTTP/1.1\r\n"},
      {CommandGetMail, {}, "GET get_params.cgi?loginuse=admin&loginpas=pw HTTP/1.1\r\n"},
      {CommandSetMisc, DataArea(misc()),
       "GET set_misc.cgi?loginuse=admin&loginpas=pw&ptz_patrol_rate=10&ptz_patrol_up_rate=11"
       "&ptz_patrol_down_rate=12&ptz_patrol_left_rate=13&ptz_patrol_right_rate=14&ptz_dispreset=1&ptz_preset=5"
       "&led_mode=1&ptz_run_times=4 HTTP/1.1\r\n"},
      {CommandGetMisc, {}, "GET get_misc.cgi?loginuse=admin&loginpas=pw HTTP/1.1\r\n"},
      {CommandSetWifi, DataArea(wifi()),
       "GET set_wifi.cgi?loginuse=admin&loginpas=pw&enable=1&ssid=HomeNet&mode=0&encrypt=3&authtype=2"
       "&keyformat=1&defkey=1&key1=k1&key2=&key3=&key4=k4&key1_bits=64&key2_bits=0&key3_bits=0&key4_bits=128"
       "&wpa_psk=passphrase HTTP/1.1\r\n"},
      {CommandGetWifiScan, {}, "GET get_wifi_scan_result.cgi?loginuse=admin&loginpas=pw HTTP/1.1\r\n"},
      {CommandReboot, {}, "GET reboot.cgi?loginuse=admin&loginpas=pw HTTP/1.1\r\n"},
      {CommandSetAlias, alias("Front_door"),
       "GET set_alias.cgi?loginuse=admin&loginpas=pw&alias=Front_door HTTP/1.1\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(line(c.code, c.data), c.expected) << std::hex << c.code;
}

TEST(CommandRequestLine, PanTiltCodesAreTheCommandValueAndOthersSendNothing) {
  for (int32_t code : {0, 1, 2, 3, 4, 5, 6, 7, 11, 25, 26, 27, 28, 29, 90, 91, 92, 93, 94, 95}) {
    EXPECT_EQ(commandKind(code), CommandKind::PanTilt) << code;
    EXPECT_EQ(line(code),
              "GET decoder_control.cgi?loginuse=admin&loginpas=pw&command=" + std::to_string(code) + " HTTP/1.1\r\n");
  }
  const DataArea none;
  for (int32_t code : {-1, 8, 9, 10, 12, 24, 30, 89, 96, 0x1FFF, 0x200A, 0x200F, 0x2014, 0x26FF, 0x2701, 0x2703,
                       0x7FFFFFFF}) {
    EXPECT_EQ(commandKind(code), CommandKind::Dropped) << code;
    std::string out = "untouched";
    EXPECT_EQ(formatCommandRequestLine(code, "admin", "pw", none.bytes, out), RequestLineResult::NoRequest) << code;
    EXPECT_EQ(out, "untouched");
  }
}

TEST(CommandRequestLine, CommandKindsAndReboots) {
  for (int32_t code : {CommandGetNetwork, CommandGetUsers, CommandGetDdns, CommandGetFtp, CommandGetMail,
                       CommandGetMisc, CommandGetWifiScan})
    EXPECT_EQ(commandKind(code), CommandKind::Read) << std::hex << code;
  for (int32_t code : {CommandSetNetwork, CommandSetUsers, CommandSetDdns, CommandSetFtp, CommandSetMail,
                       CommandSetMisc, CommandSetWifi, CommandSetAlias})
    EXPECT_EQ(commandKind(code), CommandKind::Write) << std::hex << code;
  EXPECT_EQ(commandKind(CommandReboot), CommandKind::Reboot);
  for (int32_t code : {CommandSetNetwork, CommandSetUsers, CommandSetWifi}) EXPECT_TRUE(rebootsAfterSuccess(code));
  for (int32_t code : {CommandSetDdns, CommandSetFtp, CommandSetMail, CommandSetMisc, CommandSetAlias, CommandReboot})
    EXPECT_FALSE(rebootsAfterSuccess(code));
}

// A record whose text fills its field without a NUL is read up to the field's
// end, never into the next field.
TEST(CommandRequestLine, UnterminatedFieldsStopAtTheirWidth) {
  NetworkParams p = network();
  std::memset(p.ip, '1', sizeof p.ip);
  const std::string out = line(CommandSetNetwork, DataArea(p));
  EXPECT_NE(out.find("ipaddr=" + std::string(64, '1') + "&mask=255.255.255.0&"), std::string::npos) << out;
}

TEST(CommandRequestLine, LongLinesAreRefusedNotCut) {
  WifiSettings w = wifi();
  std::memset(w.key1, 'a', sizeof w.key1 - 1);
  std::memset(w.key2, 'b', sizeof w.key2 - 1);
  std::memset(w.key3, 'c', sizeof w.key3 - 1);
  std::memset(w.key4, 'd', sizeof w.key4 - 1);
  const DataArea d(w);
  std::string out = "untouched";
  EXPECT_EQ(formatCommandRequestLine(CommandSetWifi, "admin", "pw", d.bytes, out), RequestLineResult::TooLong);
  EXPECT_EQ(out, "untouched");

  // One byte short of the limit passes; the byte that needs the NUL's room does not.
  const std::string head = "GET set_alias.cgi?loginuse=admin&loginpas=pw&alias=";
  const std::string tail = " HTTP/1.1\r\n";
  const size_t fits = kRequestLineSize - 1 - head.size() - tail.size();
  EXPECT_EQ(line(CommandSetAlias, alias(std::string(fits, 'x').c_str())), head + std::string(fits, 'x') + tail);
  EXPECT_EQ(formatCommandRequestLine(CommandSetAlias, "admin", "pw", alias(std::string(fits + 1, 'x').c_str()).bytes,
                                     out),
            RequestLineResult::TooLong);
}

TEST(CommandRequestLine, ValuesThatCouldBreakTheRequestAreRefused) {
  struct Case {
    const char* what;
    std::string value;
    bool safe;
  };
  const std::vector<Case> cases = {
      {"plain", "abc-DEF_1.2@x", true},
      {"utf-8", "caf\xc3\xa9", true},
      {"empty", "", true},
      {"space", "a b", false},
      {"CR", "a\rb", false},
      {"LF", "a\nb", false},
      {"tab", "a\tb", false},
      {"DEL", "a\x7f", false},
      {"escape", "\x1b[2J", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isSafeRequestValue(c.value), c.safe) << c.what;
    // In a record field, in the credentials, and in the alias alike.
    NetworkParams p = network();
    std::memcpy(p.dns2, c.value.data(), c.value.size());
    p.dns2[c.value.size()] = '\0';
    std::string out;
    const auto expected = c.safe ? RequestLineResult::Ok : RequestLineResult::UnsafeValue;
    EXPECT_EQ(formatCommandRequestLine(CommandSetNetwork, "admin", "pw", DataArea(p).bytes, out), expected) << c.what;
    EXPECT_EQ(formatCommandRequestLine(CommandGetNetwork, "admin", c.value, DataArea().bytes, out), expected)
        << c.what;
    EXPECT_EQ(formatCommandRequestLine(1, c.value, "pw", DataArea().bytes, out), expected) << c.what;
    EXPECT_EQ(formatCommandRequestLine(CommandSetAlias, "admin", "pw", alias(c.value.c_str()).bytes, out), expected)
        << c.what;
  }
}

}  // namespace
}  // namespace tavolen
