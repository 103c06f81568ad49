#pragma once
// What the substitute camera keeps besides its streams: its settings (answered
// by the settings CGIs), the access points a Wi-Fi scan finds, the folder of
// SD-card recordings and its answer to the LAN search.

#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

struct WifiAccessPoint {
  std::string ssid;
  std::string mac;
  int security = 0;
  std::string dbm0;
  std::string dbm1;
  int mode = 0;
};

std::vector<WifiAccessPoint> defaultWifiScan();

struct CameraSettings {
  // When set, the settings are loaded from this file at start (if it exists)
  // and written back after every accepted write.
  std::string settingsFile;
  // Lists the DDNS keys, ddns_proxy_port among them, before the network keys
  // in the get_params answer, as some cameras do.
  bool ddnsFirst = false;
  std::vector<WifiAccessPoint> wifiScan = defaultWifiScan();
  // Keys left out of every settings answer, as a camera of another model would.
  std::vector<std::string> omitKeys;
  // Every settings write is answered with an error, as by a camera whose
  // settings are locked.
  bool refuseWrites = false;
  // How long a reboot drops every stream and refuses connections.
  int rebootDownMs = 1000;

  // SD-card recordings: files of media frames (32-byte header + payload, the
  // stream format) in this folder, dated by their first frame's time stamp.
  // Empty: no card.
  std::string recordFolder;

  // LAN search: answer "DH" 0x0101 on UDP 8600 (off by default: the port is
  // shared by everything on the machine).
  bool searchAnswer = false;
  std::string searchBind = "0.0.0.0";
  std::string searchIp;  // the address text in the reply; empty: the bind address
  std::string name = "camsim";
};

}  // namespace camsim
