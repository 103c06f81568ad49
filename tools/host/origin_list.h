#pragma once
// Which web origins may open a control: the host's own origins always, and the
// origins the user registered (one per line in $XDG_CONFIG_HOME/tavolen/origins).
// The file is read again for every WebSocket handshake, so a registration takes
// effect without restarting the host.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavolen::host {

// "scheme://host[:port]" lower-cased, without a default port (80 for http, 443
// for https) and without a trailing slash; nullopt for anything that is not an
// http or https origin (paths, queries, user info, "null", empty hosts, bad
// ports, bytes outside printable ASCII).
std::optional<std::string> normalizeOrigin(std::string_view origin);

// $XDG_CONFIG_HOME/tavolen (or ~/.config/tavolen).
std::filesystem::path configFolder();

// Reads an allow-list file: one origin per line, '#' starts a comment line,
// blank lines and lines that are not origins are skipped. A missing file is
// an empty list. At most kMaxOrigins entries are kept.
inline constexpr size_t kMaxOrigins = 256;
std::vector<std::string> readOriginFile(const std::filesystem::path& file);

// Writes the list, one normalized origin per line, through a temporary file
// renamed into place. False when the folder cannot be written.
bool writeOriginFile(const std::filesystem::path& file, const std::vector<std::string>& origins);

// The origins the host itself serves pages from.
std::vector<std::string> ownOrigins(int port);

}  // namespace tavolen::host
