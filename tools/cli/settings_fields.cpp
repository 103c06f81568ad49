#include "settings_fields.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "camera_address.h"
#include "tavolen/types.h"

namespace tavolen::cli {

namespace {

constexpr FieldKind T = FieldKind::Text;
constexpr FieldKind N = FieldKind::Number;

#define TEXT(Record, member, name) \
  SettingsField { name, T, offsetof(Record, member), sizeof(Record::member), true }
#define NUMBER(Record, member, name) \
  SettingsField { name, N, offsetof(Record, member), sizeof(int32_t), true }
#define READ_ONLY_NUMBER(Record, member, name) \
  SettingsField { name, N, offsetof(Record, member), sizeof(int32_t), false }

const SettingsField kNetwork[] = {
    TEXT(NetworkParams, ip, "ip"),         TEXT(NetworkParams, mask, "mask"),
    TEXT(NetworkParams, gateway, "gateway"), TEXT(NetworkParams, dns1, "dns1"),
    TEXT(NetworkParams, dns2, "dns2"),     NUMBER(NetworkParams, dhcp, "dhcp"),
    NUMBER(NetworkParams, port, "port"),
};
const SettingsField kUsers[] = {
    TEXT(UserParams, user1, "user1"), TEXT(UserParams, pwd1, "pwd1"), TEXT(UserParams, user2, "user2"),
    TEXT(UserParams, pwd2, "pwd2"),   TEXT(UserParams, user3, "user3"), TEXT(UserParams, pwd3, "pwd3"),
};
const SettingsField kDdns[] = {
    NUMBER(DdnsParams, service, "service"),  TEXT(DdnsParams, user, "user"),
    TEXT(DdnsParams, pwd, "pwd"),            TEXT(DdnsParams, host, "host"),
    TEXT(DdnsParams, proxy_svr, "proxy_svr"), NUMBER(DdnsParams, proxy_port, "proxy_port"),
    NUMBER(DdnsParams, ddns_mode, "ddns_mode"),
};
const SettingsField kFtp[] = {
    TEXT(FtpParams, svr, "svr"),   NUMBER(FtpParams, port, "port"), TEXT(FtpParams, user, "user"),
    TEXT(FtpParams, pwd, "pwd"),   TEXT(FtpParams, dir, "dir"),     NUMBER(FtpParams, mode, "mode"),
    NUMBER(FtpParams, upload_interval, "upload_interval"),
};
const SettingsField kMail[] = {
    TEXT(MailParams, sender, "sender"),       TEXT(MailParams, receiver1, "receiver1"),
    TEXT(MailParams, receiver2, "receiver2"), TEXT(MailParams, receiver3, "receiver3"),
    TEXT(MailParams, receiver4, "receiver4"), TEXT(MailParams, svr, "svr"),
    NUMBER(MailParams, smtpport, "smtpport"), NUMBER(MailParams, ssl, "ssl"),
    TEXT(MailParams, user, "user"),           TEXT(MailParams, pwd, "pwd"),
    READ_ONLY_NUMBER(MailParams, inet_ip, "inet_ip"),
};
const SettingsField kMisc[] = {
    NUMBER(MiscParams, led_mode, "led_mode"),
    READ_ONLY_NUMBER(MiscParams, ptz_center_onstart, "ptz_center_onstart"),
    NUMBER(MiscParams, ptz_run_times, "ptz_run_times"),
    NUMBER(MiscParams, ptz_patrol_rate, "ptz_patrol_rate"),
    NUMBER(MiscParams, ptz_patrol_up_rate, "ptz_patrol_up_rate"),
    NUMBER(MiscParams, ptz_patrol_down_rate, "ptz_patrol_down_rate"),
    NUMBER(MiscParams, ptz_patrol_left_rate, "ptz_patrol_left_rate"),
    NUMBER(MiscParams, ptz_patrol_right_rate, "ptz_patrol_right_rate"),
    NUMBER(MiscParams, ptz_dispreset, "ptz_dispreset"),
    NUMBER(MiscParams, ptz_preset, "ptz_preset"),
};
const SettingsField kWifi[] = {
    NUMBER(WifiSettings, enable, "enable"),       TEXT(WifiSettings, ssid, "ssid"),
    NUMBER(WifiSettings, mode, "mode"),           NUMBER(WifiSettings, encrypt, "encrypt"),
    NUMBER(WifiSettings, authtype, "authtype"),   NUMBER(WifiSettings, keyformat, "keyformat"),
    NUMBER(WifiSettings, defkey, "defkey"),       TEXT(WifiSettings, key1, "key1"),
    TEXT(WifiSettings, key2, "key2"),             TEXT(WifiSettings, key3, "key3"),
    TEXT(WifiSettings, key4, "key4"),             NUMBER(WifiSettings, key1_bits, "key1_bits"),
    NUMBER(WifiSettings, key2_bits, "key2_bits"), NUMBER(WifiSettings, key3_bits, "key3_bits"),
    NUMBER(WifiSettings, key4_bits, "key4_bits"), TEXT(WifiSettings, wpa_psk, "wpa_psk"),
};
const SettingsField kWifiScan[] = {
    TEXT(WifiScanEntry, ssid, "ssid"),  TEXT(WifiScanEntry, mac, "mac"),
    READ_ONLY_NUMBER(WifiScanEntry, security, "security"),
    TEXT(WifiScanEntry, dbm0, "dbm0"),  TEXT(WifiScanEntry, dbm1, "dbm1"),
    READ_ONLY_NUMBER(WifiScanEntry, mode, "mode"),
};

#undef TEXT
#undef NUMBER
#undef READ_ONLY_NUMBER

// The misc record arrives under the mail write's code: that is the code the
// link reports it with.
const SettingsGroup kGroups[] = {
    {"network", CommandGetNetwork, CommandGetNetwork, CommandSetNetwork, sizeof(NetworkParams), true, 0, 0, kNetwork},
    {"users", CommandGetUsers, CommandGetUsers, CommandSetUsers, sizeof(UserParams), true, 0, 0, kUsers},
    {"ddns", CommandGetDdns, CommandGetDdns, CommandSetDdns, sizeof(DdnsParams), false, 0, 0, kDdns},
    {"ftp", CommandGetFtp, CommandGetFtp, CommandSetFtp, sizeof(FtpParams), false, 0, 0, kFtp},
    {"mail", CommandGetMail, CommandGetMail, CommandSetMail, sizeof(MailParams), false, 0, 0, kMail},
    {"misc", CommandGetMisc, CommandSetMail, CommandSetMisc, sizeof(MiscParams), false, 0, 0, kMisc},
    {"wifi", 0, 0, CommandSetWifi, sizeof(WifiSettings), true, 0, 0, kWifi},
    {"wifi_scan", CommandGetWifiScan, CommandGetWifiScan, 0, sizeof(WifiScanList), false,
     sizeof(WifiScanEntry), WIFI_SCAN_MAX_ENTRIES, kWifiScan},
};

bool parseNumber(const std::string& text, int32_t& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

std::string fieldNames(const SettingsGroup& group, bool writableOnly) {
  std::string names;
  for (const SettingsField& f : group.fields) {
    if (writableOnly && !f.writable) continue;
    if (!names.empty()) names += ", ";
    names += f.name;
  }
  return names;
}

}  // namespace

std::span<const SettingsGroup> settingsGroups() { return kGroups; }

const SettingsGroup* findSettingsGroup(std::string_view name) {
  for (const SettingsGroup& g : kGroups)
    if (name == g.name) return &g;
  return nullptr;
}

std::string parseAssignment(std::string_view text, SettingsAssignment& out) {
  const size_t eq = text.find('=');
  const size_t dot = text.find('.');
  if (eq == std::string_view::npos || dot == std::string_view::npos || dot > eq)
    return "expected GROUP.FIELD=VALUE, got " + std::string(text);
  const std::string_view groupName = text.substr(0, dot);
  const std::string_view fieldName = text.substr(dot + 1, eq - dot - 1);
  const SettingsGroup* group = findSettingsGroup(groupName);
  if (group == nullptr || group->writeCommand == 0) {
    std::string groups;
    for (const SettingsGroup& g : kGroups) {
      if (g.writeCommand == 0) continue;
      if (!groups.empty()) groups += ", ";
      groups += g.name;
    }
    return "no settings group " + std::string(groupName) + " to set (groups: " + groups + ")";
  }
  const SettingsField* field = nullptr;
  for (const SettingsField& f : group->fields)
    if (fieldName == f.name) field = &f;
  if (field == nullptr || !field->writable)
    return std::string(group->name) + " has no field " + std::string(fieldName) + " to set (fields: " +
           fieldNames(*group, true) + ")";
  SettingsAssignment a{group, field, std::string(text.substr(eq + 1))};
  const std::string key = std::string(group->name) + "." + field->name;
  if (field->kind == FieldKind::Number) {
    int32_t n;
    if (!parseNumber(a.value, n)) return key + " takes a whole number, not " + a.value;
  } else {
    const std::string error = checkRequestValue(key, a.value, field->size - 1u);
    if (!error.empty()) return error;
  }
  out = a;
  return "";
}

void store(const SettingsAssignment& a, uint8_t* record) {
  uint8_t* at = record + a.field->offset;
  if (a.field->kind == FieldKind::Number) {
    int32_t n = 0;
    parseNumber(a.value, n);
    std::memcpy(at, &n, sizeof n);
    return;
  }
  std::memset(at, 0, a.field->size);
  std::memcpy(at, a.value.data(), std::min<size_t>(a.value.size(), a.field->size - 1u));
}

std::string fieldText(const SettingsField& field, const uint8_t* record) {
  if (field.kind == FieldKind::Number) return std::to_string(fieldNumber(field, record));
  const char* text = reinterpret_cast<const char*>(record + field.offset);
  return std::string(text, strnlen(text, field.size));
}

int32_t fieldNumber(const SettingsField& field, const uint8_t* record) {
  int32_t n = 0;
  std::memcpy(&n, record + field.offset, sizeof n);
  return n;
}

int32_t usedEntries(const SettingsGroup& group, const uint8_t* record) {
  int32_t used = 0;
  for (int32_t i = 0; i < group.entryCount; ++i) {
    const uint8_t* entry = record + static_cast<size_t>(i) * group.entrySize;
    if (std::any_of(entry, entry + group.entrySize, [](uint8_t b) { return b != 0; })) used = i + 1;
  }
  return used;
}

}  // namespace tavolen::cli
