// The tool's argument texts and outputs that need no camera: CAMERA, the
// set assignments, JSON and terminal-safe text, alarm names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "camera_address.h"
#include "event_names.h"
#include "settings_fields.h"
#include "text_output.h"

namespace tavolen::cli {
namespace {

TEST(CameraAddressText, ParsesTheAccountHostAndPort) {
  struct Case {
    const char* text;
    const char* user;
    const char* password;
    const char* host;
    int port;
    bool userGiven;
    bool passwordGiven;
  } cases[] = {
      {"cam.local", "admin", "", "cam.local", 80, false, false},
      {"192.168.1.20:8081", "admin", "", "192.168.1.20", 8081, false, false},
      {"viewer@10.0.0.2", "viewer", "", "10.0.0.2", 80, true, false},
      {"viewer:@10.0.0.2:1", "viewer", "", "10.0.0.2", 1, true, true},
      {"viewer:s3cret@10.0.0.2:65535", "viewer", "s3cret", "10.0.0.2", 65535, true, true},
      // The last '@' ends the account, so a password may hold '@' and ':'.
      {"viewer:p@ss:w@cam", "viewer", "p@ss:w", "cam", 80, true, true},
  };
  for (const Case& c : cases) {
    CameraAddress a;
    ASSERT_EQ(parseCameraAddress(c.text, a), "") << c.text;
    EXPECT_EQ(a.user, c.user) << c.text;
    EXPECT_EQ(a.password, c.password) << c.text;
    EXPECT_EQ(a.host, c.host) << c.text;
    EXPECT_EQ(a.port, c.port) << c.text;
    EXPECT_EQ(a.userGiven, c.userGiven) << c.text;
    EXPECT_EQ(a.passwordGiven, c.passwordGiven) << c.text;
  }
}

TEST(CameraAddressText, RefusesWhatCannotReachACamera) {
  const std::string long63(63, 'u'), long64(64, 'u');
  struct Case {
    std::string text;
    const char* reason;  // a word the message must hold
  } cases[] = {
      {"", "no camera"},
      {"@cam", "no user"},
      {":pw@cam", "no user"},
      {"viewer@", "no host"},
      {"cam:", "port"},
      {"cam:0", "port"},
      {"cam:65536", "port"},
      {"cam:81x", "port"},
      {"cam:81:82", "IPv4"},
      {"[::1]:80", "IPv4"},
      {"ca m", "host"},
      {"cam/x", "host"},
      {long64 + "@cam", "user name is longer than 63"},
      {"viewer:a b@cam", "space"},
      {"viewer:a&b@cam", "'&'"},
      {"viewer:a\x01@cam", "control"},
  };
  for (const Case& c : cases) {
    CameraAddress a;
    a.host = "untouched";
    const std::string error = parseCameraAddress(c.text, a);
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << ": " << error;
    EXPECT_EQ(a.host, "untouched") << c.text;
  }
  CameraAddress a;
  EXPECT_EQ(parseCameraAddress(long63 + ":" + long63 + "@cam", a), "");
}

TEST(CameraAddressText, ConnectRecordAndFolderName) {
  CameraAddress a;
  ASSERT_EQ(parseCameraAddress("viewer:secret@192.168.1.20:8081", a), "");
  const DeviceConnectParams p = connectParams(a);
  EXPECT_STREQ(p.user, "viewer");
  EXPECT_STREQ(p.password, "secret");
  EXPECT_STREQ(p.host, "192.168.1.20");
  EXPECT_EQ(p.port, 8081);
  const char zeros[sizeof p.reserved] = {};
  EXPECT_EQ(std::memcmp(p.reserved, zeros, sizeof zeros), 0);
  EXPECT_EQ(deviceTag("192.168.1.20"), "192_168_1_20");
  EXPECT_EQ(deviceTag("cam.local"), "cam_local");
}

TEST(SettingsAssignment, AcceptsWritableFieldsWithFittingValues) {
  struct Case {
    const char* text;
    const char* group;
    const char* field;
    const char* value;
  } cases[] = {
      {"network.ip=10.0.0.9", "network", "ip", "10.0.0.9"},
      {"network.dhcp=1", "network", "dhcp", "1"},
      {"ftp.dir=/a=b", "ftp", "dir", "/a=b"},  // the first '=' ends the key
      {"misc.led_mode=-2147483648", "misc", "led_mode", "-2147483648"},
      {"users.pwd2=", "users", "pwd2", ""},
      {"wifi.wpa_psk=k3y", "wifi", "wpa_psk", "k3y"},
  };
  for (const Case& c : cases) {
    SettingsAssignment a;
    ASSERT_EQ(parseAssignment(c.text, a), "") << c.text;
    EXPECT_STREQ(a.group->name, c.group);
    EXPECT_STREQ(a.field->name, c.field);
    EXPECT_EQ(a.value, c.value);
  }
}

TEST(SettingsAssignment, RefusesWhatTheCameraCouldNotTake) {
  struct Case {
    std::string text;
    const char* reason;
  } cases[] = {
      {"network.ip", "GROUP.FIELD=VALUE"},
      {"ip=1.2.3.4", "GROUP.FIELD=VALUE"},
      {"video.brightness=3", "no settings group video"},
      {"wifi_scan.ssid=x", "no settings group wifi_scan"},
      {"ftp.server=x", "no field server"},
      {"mail.inet_ip=5", "no field inet_ip"},  // read only
      {"misc.ptz_center_onstart=1", "no field ptz_center_onstart"},
      {"ftp.port=21x", "whole number"},
      {"ftp.port=", "whole number"},
      {"ftp.port=2147483648", "whole number"},
      {"network.ip=" + std::string(64, '1'), "longer than 63"},
      {"ftp.dir=" + std::string(128, 'd'), "longer than 127"},
      {"ftp.svr=a b", "space"},
      {"ftp.pwd=a&b", "'&'"},
  };
  for (const Case& c : cases) {
    SettingsAssignment a;
    const std::string error = parseAssignment(c.text, a);
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << ": " << error;
  }
}

TEST(SettingsAssignment, StoresIntoItsFieldOnly) {
  // A longer value stood there before: the new one replaces it whole.
  FtpParams record;
  std::memset(&record, 0x5A, sizeof record);
  std::memcpy(record.svr, "old.example.com", 16);
  SettingsAssignment a;
  ASSERT_EQ(parseAssignment("ftp.svr=new", a), "");
  store(a, reinterpret_cast<uint8_t*>(&record));
  EXPECT_STREQ(record.svr, "new");
  for (size_t i = 4; i < sizeof record.svr; ++i) ASSERT_EQ(record.svr[i], 0) << i;
  EXPECT_EQ(static_cast<uint8_t>(record.user[0]), 0x5A);

  ASSERT_EQ(parseAssignment("ftp.port=-21", a), "");
  store(a, reinterpret_cast<uint8_t*>(&record));
  EXPECT_EQ(record.port, -21);
  EXPECT_EQ(static_cast<uint8_t>(reinterpret_cast<uint8_t*>(&record.mode)[0]), 0x5A);

  // A value filling its field keeps the terminating zero.
  ASSERT_EQ(parseAssignment("ftp.user=" + std::string(63, 'u'), a), "");
  store(a, reinterpret_cast<uint8_t*>(&record));
  EXPECT_EQ(fieldText(a.group->fields[2], reinterpret_cast<uint8_t*>(&record)), std::string(63, 'u'));
}

TEST(SettingsFields, ReadsTextsWithoutTheirZeroAndListsUsedEntries) {
  const SettingsGroup* scan = findSettingsGroup("wifi_scan");
  ASSERT_NE(scan, nullptr);
  std::vector<uint8_t> list(sizeof(WifiScanList), 0);
  auto* entries = reinterpret_cast<WifiScanEntry*>(list.data());
  std::memset(entries[0].ssid, 'S', sizeof entries[0].ssid);  // no terminating zero
  entries[2].security = 3;                                     // entry 1 empty, entry 2 not
  EXPECT_EQ(usedEntries(*scan, list.data()), 3);
  EXPECT_EQ(fieldText(scan->fields[0], list.data()), std::string(64, 'S'));
  EXPECT_EQ(fieldText(scan->fields[2], list.data() + 2 * sizeof(WifiScanEntry)), "3");
  std::fill(list.begin(), list.end(), 0);
  EXPECT_EQ(usedEntries(*scan, list.data()), 0);
}

TEST(TextOutput, JsonStringsStayValid) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain", "\"plain\""},
      {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
      {"a\nb\tc\rd\x01\x7F", "\"a\\nb\\tc\\rd\\u0001\\u007f\""},
      {"\xE8\xBD\xA6\xE5\xBA\x93 camera", "\"\xE8\xBD\xA6\xE5\xBA\x93 camera\""},
      {"bad \xFF byte", "\"bad \xEF\xBF\xBD byte\""},
      {"cut \xE8\xBD", "\"cut \xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"overlong \xC0\xAF", "\"overlong \xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"surrogate \xED\xA0\x80", "\"surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
  };
  for (const Case& c : cases) EXPECT_EQ(jsonString(c.in), c.out) << c.in;
  EXPECT_EQ(printable("cam\x1b[2J\x7f!"), "cam?[2J?!");

  JsonWriter w;
  w.beginObject().key("a").value(1).key("b").beginArray().value("x").value(-2).endArray().key("c").beginObject().endObject().endObject();
  EXPECT_EQ(w.text(), "{\"a\":1,\"b\":[\"x\",-2],\"c\":{}}");
}

TEST(EventNames, AlarmsByTheirCameraNames) {
  struct Case {
    int32_t raw;
    const char* kind;
    const char* text;
    bool alarm;
  } cases[] = {
      {0, "stream-lost", "Stream lost", false},
      {1, "bad-credentials", "User or pwd is incorrect", false},
      {4, "video-loss", "Video Loss!", false},
      {32, "motion-alarm", "[Motion Alarm]", true},
      {65536 + 32, "motion-alarm", "[Motion Alarm]", true},  // only the low 16 bits count
      {33, "gpio-alarm", "[GPIO Alarm]", true},
      {34, "motion-alarm-end", "[Motion Alarm] over", false},
      {224, "sound-alarm", "[Sound Alarm]", true},
      {64, "sensor-alarm", "[Remote Control 1]", true},
      {70, "sensor-alarm", "[DoorBell 3]", true},
      {83, "sensor-alarm", "[Balcony 4]", true},
      {95, "sensor-alarm", "[Other 4]", true},
      {96, "unknown", "Event 96", false},
      {101, "connect-failed", "Connect failed", false},
  };
  for (const Case& c : cases) {
    const int32_t code = eventCode(c.raw);
    EXPECT_STREQ(eventKind(code), c.kind) << c.raw;
    EXPECT_EQ(eventText(code), c.text) << c.raw;
    EXPECT_EQ(isAlarm(code), c.alarm) << c.raw;
  }
}

}  // namespace
}  // namespace tavolen::cli
