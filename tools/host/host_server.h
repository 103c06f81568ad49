#pragma once
// tavolen-host's server: HTTP and WebSocket on one loopback port, on one
// network thread (the thread that calls run()).
//
// Every connection passes, in order: the peer-user check (at accept), the Host
// check (every request), then for a WebSocket the Origin check and the bound
// on controls. Pages get /tavolen.js, / and the demo page's files from the
// files built into the binary, and the reference documents under /docs/ (when
// the build made them); the WebSocket endpoints are /control (one control a
// connection) and /host (the host's own object).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "page_control.h"

namespace tavolen::host {

inline constexpr int kDefaultPort = 34780;
inline constexpr int kMaxControls = 8;
inline constexpr int kMaxHostObjects = 8;

struct HostSettings {
  int port = kDefaultPort;
  std::filesystem::path originFile;  // the allow-list
  PictureFormat pictureFormat = PictureFormat::Auto;
};

class HostServer {
 public:
  explicit HostServer(HostSettings settings);
  ~HostServer();
  HostServer(const HostServer&) = delete;
  HostServer& operator=(const HostServer&) = delete;

  // Binds 127.0.0.1:port; false (and a reason on stderr) when it cannot.
  bool listen();
  // The bound port (the chosen one when settings asked for port 0).
  int port() const;
  // Serves until SIGINT or SIGTERM, or until stop().
  void run();
  // Any thread.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tavolen::host
