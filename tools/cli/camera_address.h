#pragma once
// The CAMERA argument of every camera subcommand: [user[:password]@]host[:port].
// Pure text handling; the password prompt lives in password_source.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tavolen/types.h"

namespace tavolen::cli {

inline constexpr int32_t kDefaultPort = 80;
inline constexpr const char* kDefaultUser = "admin";
// Texts of the connect record are 64-byte fields with their terminating zero.
inline constexpr size_t kConnectTextMax = sizeof(DeviceConnectParams::user) - 1;

struct CameraAddress {
  std::string user = kDefaultUser;
  std::string password;
  std::string host;
  int32_t port = kDefaultPort;
  bool userGiven = false;      // "user@" was written
  bool passwordGiven = false;  // "user:password@" was written; the password may be empty
};

// "" when text is a camera address (out filled), else what is wrong with it.
std::string parseCameraAddress(std::string_view text, CameraAddress& out);

// "" when value can travel in the query of a camera request and fits maxBytes;
// else the reason, naming what. Requests carry no escapes, so a space, a
// control byte or '&' would cut or split the request.
std::string checkRequestValue(std::string_view what, std::string_view value, size_t maxBytes);

DeviceConnectParams connectParams(const CameraAddress& address);

// host:port, for messages.
std::string displayName(const CameraAddress& address);

// The camera's folder name in the recording tree: the host with every '/',
// ':' and '.' made '_' (192.168.1.20 gives 192_168_1_20), as the browser
// control names it, so both put a camera's recordings in one folder.
std::string deviceTag(std::string_view host);

}  // namespace tavolen::cli
