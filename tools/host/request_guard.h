#pragma once
// The checks every request to the host passes before anything else runs. Any
// page on the web can make the browser send requests to a loopback port; these
// keep such pages away from the control.

#include <string>
#include <string_view>
#include <vector>

namespace tavolen::host {

// True only for the host's own names with its port: "127.0.0.1:PORT",
// "localhost:PORT" (any case) or "[::1]:PORT". A page on a rebound DNS name
// sends its own name here and is refused.
bool hostHeaderAllowed(std::string_view host, int port);

// True when the Origin of a WebSocket handshake is one of the host's own
// origins or on the allow-list (both as normalizeOrigin gives them). A missing
// or opaque ("null") origin is refused: browsers always send one.
bool originAllowed(std::string_view origin, const std::vector<std::string>& allowList, int port);

}  // namespace tavolen::host
