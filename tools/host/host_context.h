#pragma once
// What every connection of one host shares. Lives as long as the server.

#include <atomic>
#include <boost/asio/io_context.hpp>

#include "host_server.h"
#include "worker.h"

namespace tavolen::host {

struct HostContext {
  HostSettings settings;
  std::atomic<int> liveControls{0};
  // Controls are destroyed here, off the network thread: tearing one down
  // stops its links and players and can take a moment. Declared before io so
  // it outlives every connection.
  Worker reaper;
  boost::asio::io_context io{1};
};

}  // namespace tavolen::host
