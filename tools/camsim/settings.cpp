// The settings CGIs: get_params.cgi, get_misc.cgi, get_wifi_scan_result.cgi,
// the set_*.cgi writes, reboot.cgi and decoder_control.cgi. Answers are HTTP
// responses whose body is JavaScript assignments; writes answer with
// result "ok" or an error text and are seen by the next read.
#include <poll.h>
#include <sys/socket.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "camsim.h"
#include "connection.h"
#include "router.h"

namespace camsim {

std::vector<WifiAccessPoint> defaultWifiScan() {
  return {
      {"HomeNet", "00:11:22:33:44:01", 3, "-41", "78", 0},
      {"Office 5G", "00:11:22:33:44:02", 4, "-60", "51", 0},
      {"open-cafe", "00:11:22:33:44:03", 0, "-77", "23", 1},
  };
}

namespace {

enum class Kind { Text, Number };

struct Key {
  const char* name;
  Kind kind;
  const char* initial;
};

// Every key the camera answers, in the order of its answers.
const Key kNetworkKeys[] = {
    {"ip", Kind::Text, "192.168.1.88"},     {"mask", Kind::Text, "255.255.255.0"},
    {"gateway", Kind::Text, "192.168.1.1"}, {"dns1", Kind::Text, "192.168.1.1"},
    {"dns2", Kind::Text, "8.8.8.8"},        {"dhcpen", Kind::Number, "0"},
    {"port", Kind::Number, "81"},
};
const Key kUserKeys[] = {
    {"user1_name", Kind::Text, ""}, {"user1_pwd", Kind::Text, ""}, {"user2_name", Kind::Text, ""},
    {"user2_pwd", Kind::Text, ""},  {"user3_name", Kind::Text, ""}, {"user3_pwd", Kind::Text, ""},
};
const Key kDdnsKeys[] = {
    {"ddns_service", Kind::Number, "0"}, {"ddns_user", Kind::Text, ""},       {"ddns_pwd", Kind::Text, ""},
    {"ddns_host", Kind::Text, ""},       {"ddns_proxy_svr", Kind::Text, ""}, {"ddns_mode", Kind::Number, "0"},
    {"ddns_proxy_port", Kind::Number, "0"},
};
const Key kFtpKeys[] = {
    {"ftp_svr", Kind::Text, ""},          {"ftp_user", Kind::Text, ""},       {"ftp_pwd", Kind::Text, ""},
    {"ftp_dir", Kind::Text, "/"},         {"ftp_port", Kind::Number, "21"},   {"ftp_mode", Kind::Number, "0"},
    {"ftp_upload_interval", Kind::Number, "0"},
};
const Key kMailKeys[] = {
    {"mail_svr", Kind::Text, ""},       {"mail_user", Kind::Text, ""},      {"mail_pwd", Kind::Text, ""},
    {"mail_sender", Kind::Text, ""},    {"mail_receiver1", Kind::Text, ""}, {"mail_receiver2", Kind::Text, ""},
    {"mail_receiver3", Kind::Text, ""}, {"mail_receiver4", Kind::Text, ""}, {"mail_inet_ip", Kind::Number, "0"},
    {"mail_port", Kind::Number, "25"},  {"mailssl", Kind::Number, "0"},
};
const Key kMiscKeys[] = {
    {"led_mode", Kind::Number, "0"},           {"ptz_center_onstart", Kind::Number, "0"},
    {"ptruntimes", Kind::Number, "1"},         {"ptz_patrol_rate", Kind::Number, "10"},
    {"ptz_patrol_up_rate", Kind::Number, "10"}, {"ptz_patrol_down_rate", Kind::Number, "10"},
    {"ptz_patrol_left_rate", Kind::Number, "10"}, {"ptz_patrol_right_rate", Kind::Number, "10"},
    {"ptz_disppreset", Kind::Number, "0"},     {"preset_onstart", Kind::Number, "0"},
};
const Key kOtherKeys[] = {
    {"alias", Kind::Text, "camsim"},     {"wifi_enable", Kind::Number, "0"}, {"wifi_ssid", Kind::Text, ""},
    {"wifi_mode", Kind::Number, "0"},    {"wifi_encrypt", Kind::Number, "0"}, {"wifi_authtype", Kind::Number, "0"},
    {"wifi_keyformat", Kind::Number, "0"}, {"wifi_defkey", Kind::Number, "0"}, {"wifi_key1", Kind::Text, ""},
    {"wifi_key2", Kind::Text, ""},       {"wifi_key3", Kind::Text, ""},      {"wifi_key4", Kind::Text, ""},
    {"wifi_key1_bits", Kind::Number, "0"}, {"wifi_key2_bits", Kind::Number, "0"},
    {"wifi_key3_bits", Kind::Number, "0"}, {"wifi_key4_bits", Kind::Number, "0"}, {"wifi_wpa_psk", Kind::Text, ""},
};

// A write: each query parameter it needs and the key it sets.
struct Write {
  const char* path;
  std::vector<std::pair<const char*, const char*>> params;  // parameter, key
};

const std::vector<Write>& writes() {
  static const std::vector<Write> table = {
      {"set_network.cgi",
       {{"ipaddr", "ip"}, {"mask", "mask"}, {"gateway", "gateway"}, {"dns1", "dns1"}, {"dns2", "dns2"},
        {"dhcp", "dhcpen"}, {"port", "port"}}},
      {"set_users.cgi",
       {{"user1", "user1_name"}, {"user2", "user2_name"}, {"user3", "user3_name"}, {"pwd1", "user1_pwd"},
        {"pwd2", "user2_pwd"}, {"pwd3", "user3_pwd"}}},
      {"set_ddns.cgi",
       {{"service", "ddns_service"}, {"user", "ddns_user"}, {"pwd", "ddns_pwd"}, {"host", "ddns_host"},
        {"proxy_svr", "ddns_proxy_svr"}, {"proxy_port", "ddns_proxy_port"}, {"ddns_mode", "ddns_mode"}}},
      {"set_ftp.cgi",
       {{"svr", "ftp_svr"}, {"port", "ftp_port"}, {"user", "ftp_user"}, {"pwd", "ftp_pwd"}, {"dir", "ftp_dir"},
        {"mode", "ftp_mode"}, {"upload_interval", "ftp_upload_interval"}}},
      {"set_mail.cgi",
       {{"sender", "mail_sender"}, {"receiver1", "mail_receiver1"}, {"receiver2", "mail_receiver2"},
        {"receiver3", "mail_receiver3"}, {"receiver4", "mail_receiver4"}, {"ssl", "mailssl"}, {"svr", "mail_svr"},
        {"smtpport", "mail_port"}, {"user", "mail_user"}, {"pwd", "mail_pwd"}}},
      {"set_misc.cgi",
       {{"ptz_patrol_rate", "ptz_patrol_rate"}, {"ptz_patrol_up_rate", "ptz_patrol_up_rate"},
        {"ptz_patrol_down_rate", "ptz_patrol_down_rate"}, {"ptz_patrol_left_rate", "ptz_patrol_left_rate"},
        {"ptz_patrol_right_rate", "ptz_patrol_right_rate"}, {"ptz_dispreset", "ptz_disppreset"},
        {"ptz_preset", "preset_onstart"}, {"led_mode", "led_mode"}, {"ptz_run_times", "ptruntimes"}}},
      {"set_wifi.cgi",
       {{"enable", "wifi_enable"}, {"ssid", "wifi_ssid"}, {"mode", "wifi_mode"}, {"encrypt", "wifi_encrypt"},
        {"authtype", "wifi_authtype"}, {"keyformat", "wifi_keyformat"}, {"defkey", "wifi_defkey"},
        {"key1", "wifi_key1"}, {"key2", "wifi_key2"}, {"key3", "wifi_key3"}, {"key4", "wifi_key4"},
        {"key1_bits", "wifi_key1_bits"}, {"key2_bits", "wifi_key2_bits"}, {"key3_bits", "wifi_key3_bits"},
        {"key4_bits", "wifi_key4_bits"}, {"wpa_psk", "wifi_wpa_psk"}}},
      {"set_alias.cgi", {{"alias", "alias"}}},
  };
  return table;
}

class SettingsStore {
 public:
  explicit SettingsStore(const Config& config)
      : file_(config.camera.settingsFile),
        ddnsFirst_(config.camera.ddnsFirst),
        omit_(config.camera.omitKeys.begin(), config.camera.omitKeys.end()) {
    addAll(kNetworkKeys);
    addAll(kUserKeys);
    addAll(kDdnsKeys);
    addAll(kFtpKeys);
    addAll(kMailKeys);
    addAll(kMiscKeys);
    addAll(kOtherKeys);
    values_["user1_name"] = config.user;
    values_["user1_pwd"] = config.password;
    load();
  }

  std::string paramsBody() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string body;
    if (ddnsFirst_) append(body, kDdnsKeys);
    append(body, kNetworkKeys);
    append(body, kUserKeys);
    if (!ddnsFirst_) append(body, kDdnsKeys);
    append(body, kFtpKeys);
    append(body, kMailKeys);
    return body;
  }

  std::string miscBody() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string body;
    append(body, kMiscKeys);
    return body;
  }

  // The error text for the first parameter that is missing or not a number,
  // or "" after storing every value.
  std::string apply(const Write& write, const Request& request) {
    for (const auto& [param, key] : write.params) {
      if (!request.has(param)) return std::string("error: missing ") + param;
      if (kinds_.at(key) == Kind::Number && request.number(param, LONG_MIN) == LONG_MIN)
        return std::string("error: ") + param + " is not a number";
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [param, key] : write.params) values_[key] = request.param(param);
    save();
    return "";
  }

 private:
  template <size_t N>
  void addAll(const Key (&keys)[N]) {
    for (const Key& k : keys) {
      values_[k.name] = k.initial;
      kinds_[k.name] = k.kind;
    }
  }

  template <size_t N>
  void append(std::string& body, const Key (&keys)[N]) const {
    for (const Key& k : keys) {
      if (omit_.count(k.name) != 0) continue;
      const std::string& v = values_.at(k.name);
      if (k.kind == Kind::Text) body += "var " + std::string(k.name) + "=\"" + v + "\";\r\n";
      else body += "var " + std::string(k.name) + "=" + (v.empty() ? "0" : v) + ";\r\n";
    }
  }

  // key=value lines; unknown keys are ignored.
  void load() {
    if (file_.empty()) return;
    std::ifstream in(file_);
    std::string line;
    while (std::getline(in, line)) {
      const size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      const std::string key = line.substr(0, eq);
      if (values_.count(key) != 0) values_[key] = line.substr(eq + 1);
    }
  }

  void save() const {
    if (file_.empty()) return;
    std::ofstream out(file_, std::ios::trunc);
    for (const auto& [key, value] : values_) out << key << '=' << value << '\n';
  }

  const std::string file_;
  const bool ddnsFirst_;
  const std::set<std::string> omit_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> values_;
  std::map<std::string, Kind> kinds_;
};

std::string scanBody(const std::vector<WifiAccessPoint>& aps) {
  std::string body = "var ap_number=" + std::to_string(aps.size()) + ";\r\n";
  for (size_t i = 0; i < aps.size(); ++i) {
    const std::string n = std::to_string(i);
    const WifiAccessPoint& a = aps[i];
    body += "var ap_ssid[" + n + "] =\"" + a.ssid + "\";\r\n";
    body += "var ap_mac[" + n + "]=\"" + a.mac + "\";\r\n";
    body += "var ap_security[" + n + "]=" + std::to_string(a.security) + ";\r\n";
    body += "var ap_dbm0[" + n + "]=\"" + a.dbm0 + "\";\r\n";
    body += "var ap_dbm1[" + n + "]=\"" + a.dbm1 + "\";\r\n";
    body += "var ap_mode[" + n + "]=" + std::to_string(a.mode) + ";\r\n";
  }
  return body;
}

bool loginMatches(const Server& server, const Request& request) {
  return accountMatches(server, request, "loginuse", "loginpas");
}

// The silent fault withholds the answer until the viewer hangs up.
bool withheld(Connection& c) {
  if (c.fault.kind != FaultKind::Silent) return false;
  c.server.logLine("connection %d: answer withheld (fault)", c.id);
  char sink[256];
  while (c.alive() && !c.server.stopping()) {
    pollfd p{c.fd(), POLLIN, 0};
    if (::poll(&p, 1, 50) > 0 && ::recv(c.fd(), sink, sizeof sink, 0) <= 0) break;
  }
  return true;
}

void answer(Connection& c, const std::string& body) {
  if (withheld(c)) return;
  c.sendHttp(200, "OK", "text/plain", body);
  c.finish();
}

std::string resultBody(const std::string& result) { return "var result=\"" + result + "\";\r\n"; }

}  // namespace

void registerSettings(Router& router, Server& server) {
  auto store = std::make_shared<SettingsStore>(server.config());
  auto readRoute = [&router, store](const char* path, std::string (*make)(const SettingsStore&, const Server&)) {
    router.add(Route{path, nullptr,
                     [store, make](Connection& c) {
                       if (!loginMatches(c.server, c.request)) return answer(c, resultBody("Auth Failed"));
                       answer(c, make(*store, c.server));
                     },
                     "settings"});
  };
  readRoute("get_params.cgi", [](const SettingsStore& s, const Server&) { return s.paramsBody(); });
  readRoute("get_misc.cgi", [](const SettingsStore& s, const Server&) { return s.miscBody(); });
  readRoute("get_wifi_scan_result.cgi",
            [](const SettingsStore&, const Server& sv) { return scanBody(sv.config().camera.wifiScan); });

  for (const Write& write : writes()) {
    router.add(Route{write.path, nullptr,
                     [store, &write](Connection& c) {
                       if (!loginMatches(c.server, c.request)) return answer(c, resultBody("Auth Failed"));
                       const std::string error = c.server.config().camera.refuseWrites
                                                     ? std::string("error: settings are locked")
                                                     : store->apply(write, c.request);
                       c.server.logLine("connection %d: %s %s", c.id, write.path, error.empty() ? "stored" : error.c_str());
                       answer(c, resultBody(error.empty() ? "ok" : error));
                     },
                     "settings"});
  }

  router.add(Route{"decoder_control.cgi", nullptr,
                   [](Connection& c) {
                     if (!loginMatches(c.server, c.request)) return answer(c, resultBody("Auth Failed"));
                     c.server.logLine("connection %d: pan/tilt command %ld", c.id, c.request.number("command", -1));
                     answer(c, resultBody("ok"));
                   },
                   "settings"});

  router.add(Route{"reboot.cgi", nullptr,
                   [](Connection& c) {
                     if (!loginMatches(c.server, c.request)) return answer(c, resultBody("Auth Failed"));
                     c.sendHttp(200, "OK", "text/plain", resultBody("ok"));
                     c.finish(100);
                     c.server.reboot();
                   },
                   "settings"});
}

void Server::reboot() {
  const int downMs = config_.camera.rebootDownMs;
  logLine("rebooting: streams and new connections dropped for %d ms", downMs);
  const auto until = Clock::now() + std::chrono::milliseconds(downMs);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rebootUntil_ = until;
    for (Connection* c : live_) c->stop();
  }
  while (!stopping_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  logLine("back after reboot");
}

bool Server::rebooting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Clock::now() < rebootUntil_;
}

}  // namespace camsim
