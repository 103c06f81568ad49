#pragma once
// A request as the link writes it: one GET line plus a header block, no body.

#include <map>
#include <string>

namespace camsim {

// Longest request head accepted; the link's own requests stay under 1024 bytes.
inline constexpr size_t kMaxRequestHead = 8192;

struct Request {
  std::string head;    // the raw bytes up to and including the blank line
  std::string line;    // the request line without CR LF
  std::string method;
  std::string path;    // without the leading "/" (settings requests have none)
  bool leadingSlash = false;
  std::string version;
  std::map<std::string, std::string> query;  // no URL escapes are used
  std::map<std::string, std::string> headers;

  // The value of a query parameter, or fallback when absent.
  std::string param(const std::string& key, const std::string& fallback = "") const;
  // A decimal query parameter; fallback when absent or not a number.
  long number(const std::string& key, long fallback) const;
  bool has(const std::string& key) const { return query.count(key) != 0; }
};

// Parses a whole head (ending in CR LF CR LF). False on a malformed request line.
bool parseRequest(const std::string& head, Request& out);

}  // namespace camsim
