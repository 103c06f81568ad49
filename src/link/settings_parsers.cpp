#include "link/settings_parsers.h"

#include <cstdio>
#include <cstring>

#include "link/http_exchange.h"

namespace tavolen {

namespace {

template <size_t N>
bool text(char (&field)[N], const char* key, const char* body) {
  return extractText(field, N, key, body) != 0;
}
bool number(int32_t& field, const char* key, const char* body) { return extractNumber(field, key, body) != 0; }

}  // namespace

bool parseNetworkParams(const char* body, NetworkParams& r) {
  return text(r.ip, "ip=", body) && text(r.mask, "mask=", body) && text(r.gateway, "gateway=", body) &&
         text(r.dns1, "dns1=", body) && text(r.dns2, "dns2=", body) && number(r.dhcp, "dhcpen=", body) &&
         number(r.port, "port=", body);
}

bool parseUserParams(const char* body, UserParams& r) {
  return text(r.user1, "user1_name=", body) && text(r.pwd1, "user1_pwd=", body) &&
         text(r.user2, "user2_name=", body) && text(r.pwd2, "user2_pwd=", body) &&
         text(r.user3, "user3_name=", body) && text(r.pwd3, "user3_pwd=", body);
}

bool parseDdnsParams(const char* body, DdnsParams& r) {
  return number(r.service, "ddns_service=", body) && text(r.proxy_svr, "ddns_proxy_svr=", body) &&
         text(r.host, "ddns_host=", body) && text(r.user, "ddns_user=", body) && text(r.pwd, "ddns_pwd=", body) &&
         number(r.proxy_port, "ddns_proxy_port=", body) && number(r.ddns_mode, "ddns_mode=", body);
}

bool parseFtpParams(const char* body, FtpParams& r) {
  return text(r.svr, "ftp_svr=", body) && text(r.user, "ftp_user=", body) && text(r.pwd, "ftp_pwd=", body) &&
         text(r.dir, "ftp_dir=", body) && number(r.port, "ftp_port=", body) && number(r.mode, "ftp_mode=", body) &&
         number(r.upload_interval, "ftp_upload_interval=", body);
}

bool parseMailParams(const char* body, MailParams& r) {
  return text(r.sender, "mail_sender=", body) && text(r.receiver1, "mail_receiver1=", body) &&
         text(r.receiver2, "mail_receiver2=", body) && text(r.receiver3, "mail_receiver3=", body) &&
         text(r.receiver4, "mail_receiver4=", body) && text(r.svr, "mail_svr=", body) &&
         text(r.user, "mail_user=", body) && text(r.pwd, "mail_pwd=", body) &&
         number(r.smtpport, "mail_port=", body) && number(r.inet_ip, "mail_inet_ip=", body) &&
         number(r.ssl, "mailssl=", body);
}

bool parseMiscParams(const char* body, MiscParams& r) {
  return number(r.ptz_patrol_rate, "ptz_patrol_rate=", body) &&
         number(r.ptz_patrol_up_rate, "ptz_patrol_up_rate=", body) &&
         number(r.ptz_patrol_down_rate, "ptz_patrol_down_rate=", body) &&
         number(r.ptz_patrol_left_rate, "ptz_patrol_left_rate=", body) &&
         number(r.ptz_patrol_right_rate, "ptz_patrol_right_rate=", body) &&
         number(r.ptz_center_onstart, "ptz_center_onstart=", body) &&
         number(r.ptz_dispreset, "ptz_disppreset=", body) && number(r.led_mode, "led_mode=", body) &&
         number(r.ptz_preset, "preset_onstart=", body) && number(r.ptz_run_times, "ptruntimes=", body);
}

bool parseWifiScanList(const char* body, WifiScanList& r) {
  int32_t count = 0;
  if (!number(count, "ap_number=", body) || count <= 0) return false;
  if (count > WIFI_SCAN_MAX_ENTRIES) count = WIFI_SCAN_MAX_ENTRIES;
  char key[32];
  for (int32_t i = 0; i < count; ++i) {
    WifiScanEntry& e = r.entries[i];
    std::snprintf(key, sizeof key, "ap_ssid[%d] =", i);
    text(e.ssid, key, body);
    std::snprintf(key, sizeof key, "ap_mac[%d]=", i);
    text(e.mac, key, body);
    std::snprintf(key, sizeof key, "ap_security[%d]=", i);
    number(e.security, key, body);
    std::snprintf(key, sizeof key, "ap_dbm0[%d]=", i);
    text(e.dbm0, key, body);
    std::snprintf(key, sizeof key, "ap_dbm1[%d]=", i);
    text(e.dbm1, key, body);
    std::snprintf(key, sizeof key, "ap_mode[%d]=", i);
    number(e.mode, key, body);
  }
  return true;
}

namespace {

template <class Record, bool (*Parse)(const char*, Record&)>
bool parseInto(const char* body, void* record) {
  return Parse(body, *static_cast<Record*>(record));
}

constexpr ReadCommandAnswer kNetwork{CommandGetNetwork, sizeof(NetworkParams),
                                     parseInto<NetworkParams, parseNetworkParams>};
constexpr ReadCommandAnswer kUsers{CommandGetUsers, sizeof(UserParams), parseInto<UserParams, parseUserParams>};
constexpr ReadCommandAnswer kDdns{CommandGetDdns, sizeof(DdnsParams), parseInto<DdnsParams, parseDdnsParams>};
constexpr ReadCommandAnswer kFtp{CommandGetFtp, sizeof(FtpParams), parseInto<FtpParams, parseFtpParams>};
constexpr ReadCommandAnswer kMail{CommandGetMail, sizeof(MailParams), parseInto<MailParams, parseMailParams>};
// The misc record has always been delivered under the code of the mail write.
constexpr ReadCommandAnswer kMisc{CommandSetMail, sizeof(MiscParams), parseInto<MiscParams, parseMiscParams>};
constexpr ReadCommandAnswer kWifiScan{CommandGetWifiScan, sizeof(WifiScanList),
                                      parseInto<WifiScanList, parseWifiScanList>};

}  // namespace

const ReadCommandAnswer* readCommandAnswer(int32_t code) {
  switch (code) {
    case CommandGetNetwork: return &kNetwork;
    case CommandGetUsers: return &kUsers;
    case CommandGetDdns: return &kDdns;
    case CommandGetFtp: return &kFtp;
    case CommandGetMail: return &kMail;
    case CommandGetMisc: return &kMisc;
    case CommandGetWifiScan: return &kWifiScan;
    default: return nullptr;
  }
}

}  // namespace tavolen
