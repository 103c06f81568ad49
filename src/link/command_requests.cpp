#include "link/command_requests.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace tavolen {

namespace {

bool isPanTilt(int32_t code) {
  return (code >= 0 && code <= 7) || code == 11 || (code >= 25 && code <= 29) || (code >= 90 && code <= 95);
}

bool allSafe(std::initializer_list<const std::string*> values) {
  for (const std::string* v : values)
    if (!isSafeRequestValue(*v)) return false;
  return true;
}

template <class Record>
Record recordFrom(const uint8_t* data) {
  static_assert(sizeof(Record) <= COMMAND_DATA_SIZE);
  Record r;
  std::memcpy(&r, data, sizeof r);
  return r;
}

#define TEXT(field) fieldText(field, sizeof(field))

}  // namespace

CommandKind commandKind(int32_t code) {
  if (isPanTilt(code)) return CommandKind::PanTilt;
  switch (code) {
    case CommandGetNetwork:
    case CommandGetUsers:
    case CommandGetDdns:
    case CommandGetFtp:
    case CommandGetMail:
    case CommandGetMisc:
    case CommandGetWifiScan:
      return CommandKind::Read;
    case CommandSetNetwork:
    case CommandSetUsers:
    case CommandSetDdns:
    case CommandSetFtp:
    case CommandSetMail:
    case CommandSetMisc:
    case CommandSetWifi:
    case CommandSetAlias:
      return CommandKind::Write;
    case CommandReboot:
      return CommandKind::Reboot;
    default:
      return CommandKind::Dropped;
  }
}

bool rebootsAfterSuccess(int32_t code) {
  return code == CommandSetNetwork || code == CommandSetUsers || code == CommandSetWifi;
}

std::string fieldText(const char* field, size_t width) { return std::string(field, strnlen(field, width)); }

RequestLineResult formatCommandRequestLine(int32_t code, std::string_view userView, std::string_view passwordView,
                                           const uint8_t* data, std::string& line) {
  const CommandKind kind = commandKind(code);
  if (kind == CommandKind::Dropped) return RequestLineResult::NoRequest;
  const std::string user(userView);
  const std::string pwd(passwordView);
  if (!allSafe({&user, &pwd})) return RequestLineResult::UnsafeValue;
  const char* u = user.c_str();
  const char* p = pwd.c_str();

  char buf[kRequestLineSize];
  int n = -1;
  if (kind == CommandKind::PanTilt) {
    n = std::snprintf(buf, sizeof buf, "GET decoder_control.cgi?loginuse=%s&loginpas=%s&command=%d HTTP/1.1\r\n", u,
                      p, code);
  } else {
    switch (code) {
      case CommandGetNetwork:
      case CommandGetUsers:
      case CommandGetDdns:
      case CommandGetFtp:
      case CommandGetMail:
        n = std::snprintf(buf, sizeof buf, "GET get_params.cgi?loginuse=%s&loginpas=%s HTTP/1.1\r\n", u, p);
        break;
      case CommandGetMisc:
        n = std::snprintf(buf, sizeof buf, "GET get_misc.cgi?loginuse=%s&loginpas=%s HTTP/1.1\r\n", u, p);
        break;
      case CommandGetWifiScan:
        n = std::snprintf(buf, sizeof buf, "GET get_wifi_scan_result.cgi?loginuse=%s&loginpas=%s HTTP/1.1\r\n", u, p);
        break;
      case CommandReboot:
        n = std::snprintf(buf, sizeof buf, "GET reboot.cgi?loginuse=%s&loginpas=%s HTTP/1.1\r\n", u, p);
        break;
      case CommandSetNetwork: {
        const auto r = recordFrom<NetworkParams>(data);
        const std::string ip = TEXT(r.ip), mask = TEXT(r.mask), gateway = TEXT(r.gateway), dns1 = TEXT(r.dns1),
                          dns2 = TEXT(r.dns2);
        if (!allSafe({&ip, &mask, &gateway, &dns1, &dns2})) return RequestLineResult::UnsafeValue;
        n = std::snprintf(buf, sizeof buf,
                          "GET set_network.cgi?loginuse=%s&loginpas=%s&ipaddr=%s&mask=%s&gateway=%s&dns1=%s&dns2=%s"
                          "&dhcp=%d&port=%d HTTP/1.1\r\n",
                          u, p, ip.c_str(), mask.c_str(), gateway.c_str(), dns1.c_str(), dns2.c_str(), r.dhcp,
                          r.port);
        break;
      }
      case CommandSetUsers: {
        const auto r = recordFrom<UserParams>(data);
        const std::string u1 = TEXT(r.user1), u2 = TEXT(r.user2), u3 = TEXT(r.user3), p1 = TEXT(r.pwd1),
                          p2 = TEXT(r.pwd2), p3 = TEXT(r.pwd3);
        if (!allSafe({&u1, &u2, &u3, &p1, &p2, &p3})) return RequestLineResult::UnsafeValue;
        n = std::snprintf(buf, sizeof buf,
                          "GET set_users.cgi?loginuse=%s&loginpas=%s&user1=%s&user2=%s&user3=%s&pwd1=%s&pwd2=%s"
                          "&pwd3=%s HTTP/1.1\r\n",
                          u, p, u1.c_str(), u2.c_str(), u3.c_str(), p1.c_str(), p2.c_str(), p3.c_str());
        break;
      }
      case CommandSetDdns: {
        const auto r = recordFrom<DdnsParams>(data);
        const std::string user1 = TEXT(r.user), pwd1 = TEXT(r.pwd), host = TEXT(r.host), proxy = TEXT(r.proxy_svr);
        if (!allSafe({&user1, &pwd1, &host, &proxy})) return RequestLineResult::UnsafeValue;
        n = std::snprintf(buf, sizeof buf,
                          "GET set_ddns.cgi?loginuse=%s&loginpas=%s&service=%d&user=%s&pwd=%s&host=%s&proxy_svr=%s"
                          "&proxy_port=%d&ddns_mode=%d HTTP/1.1\r\n",
                          u, p, r.service, user1.c_str(), pwd1.c_str(), host.c_str(), proxy.c_str(), r.proxy_port,
                          r.ddns_mode);
        break;
      }
      case CommandSetFtp: {
        const auto r = recordFrom<FtpParams>(data);
        const std::string svr = TEXT(r.svr), user1 = TEXT(r.user), pwd1 = TEXT(r.pwd), dir = TEXT(r.dir);
        if (!allSafe({&svr, &user1, &pwd1, &dir})) return RequestLineResult::UnsafeValue;
        n = std::snprintf(buf, sizeof buf,
                          "GET set_ftp.cgi?loginuse=%s&loginpas=%s&svr=%s&port=%d&user=%s&pwd=%s&dir=%s&mode=%d"
                          "&upload_interval=%d HTTP/1.1\r\n",
                          u, p, svr.c_str(), r.port, user1.c_str(), pwd1.c_str(), dir.c_str(), r.mode,
                          r.upload_interval);
        break;
      }
      case CommandSetMail: {
        const auto r = recordFrom<MailParams>(data);
        const std::string sender = TEXT(r.sender), r1 = TEXT(r.receiver1), r2 = TEXT(r.receiver2),
                          r3 = TEXT(r.receiver3), r4 = TEXT(r.receiver4), svr = TEXT(r.svr), user1 = TEXT(r.user),
                          pwd1 = TEXT(r.pwd);
        if (!allSafe({&sender, &r1, &r2, &r3, &r4, &svr, &user1, &pwd1})) return RequestLineResult::UnsafeValue;
        n = std::snprintf(buf, sizeof buf,
                          "GET set_mail.cgi?loginuse=%s&loginpas=%s&sender=%s&receiver1=%s&receiver2=%s"
                          "&receiver3=%s&receiver4=%s&ssl=%d&svr=%s&smtpport=%d&user=%s&pwd=%s HTTP/1.1\r\n",
                          u, p, sender.c_str(), r1.c_str(), r2.c_str(), r3.c_str(), r4.c_str(), r.ssl, svr.c_str(),
                          r.smtpport, user1.c_str(), pwd1.c_str());
        break;
      }
      case CommandSetMisc: {
        const auto r = recordFrom<MiscParams>(data);
        n = std::snprintf(buf, sizeof buf,
                          "GET set_misc.cgi?loginuse=%s&loginpas=%s&ptz_patrol_rate=%d&ptz_patrol_up_rate=%d"
                          "&ptz_patrol_down_rate=%d&ptz_patrol_left_rate=%d&ptz_patrol_right_rate=%d"
                          "&ptz_dispreset=%d&ptz_preset=%d&led_mode=%d&ptz_run_times=%d HTTP/1.1\r\n",
                          u, p, r.ptz_patrol_rate, r.ptz_patrol_up_rate, r.ptz_patrol_down_rate,
                          r.ptz_patrol_left_rate, r.ptz_patrol_right_rate, r.ptz_dispreset, r.ptz_preset, r.led_mode,
                          r.ptz_run_times);
        break;
      }
      case CommandSetWifi: {
        const auto r = recordFrom<WifiSettings>(data);
        const std::string ssid = TEXT(r.ssid), k1 = TEXT(r.key1), k2 = TEXT(r.key2), k3 = TEXT(r.key3),
                          k4 = TEXT(r.key4), psk = TEXT(r.wpa_psk);
        if (!allSafe({&ssid, &k1, &k2, &k3, &k4, &psk})) return RequestLineResult::UnsafeValue;
        n = std::snprintf(buf, sizeof buf,
                          "GET set_wifi.cgi?loginuse=%s&loginpas=%s&enable=%d&ssid=%s&mode=%d&encrypt=%d"
                          "&authtype=%d&keyformat=%d&defkey=%d&key1=%s&key2=%s&key3=%s&key4=%s&key1_bits=%d"
                          "&key2_bits=%d&key3_bits=%d&key4_bits=%d&wpa_psk=%s HTTP/1.1\r\n",
                          u, p, r.enable, ssid.c_str(), r.mode, r.encrypt, r.authtype, r.keyformat, r.defkey,
                          k1.c_str(), k2.c_str(), k3.c_str(), k4.c_str(), r.key1_bits, r.key2_bits, r.key3_bits,
                          r.key4_bits, psk.c_str());
        break;
      }
      case CommandSetAlias: {
        const std::string alias = fieldText(reinterpret_cast<const char*>(data), COMMAND_DATA_SIZE);
        if (!isSafeRequestValue(alias)) return RequestLineResult::UnsafeValue;
        n = std::snprintf(buf, sizeof buf, "GET set_alias.cgi?loginuse=%s&loginpas=%s&alias=%s HTTP/1.1\r\n", u, p,
                          alias.c_str());
        break;
      }
      default:
        return RequestLineResult::NoRequest;
    }
  }
  if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return RequestLineResult::TooLong;
  line.assign(buf, static_cast<size_t>(n));
  return RequestLineResult::Ok;
}

#undef TEXT

}  // namespace tavolen
