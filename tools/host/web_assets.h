#pragma once
// The files of web/, built into the binary (web_assets.cpp is generated).

#include <cstddef>
#include <string_view>

namespace tavolen::host {

struct WebAsset {
  std::string_view path;  // as requested: "/", "/tavolen.js"
  std::string_view contentType;
  std::string_view bytes;
};

// nullptr for a path that is not served.
const WebAsset* findWebAsset(std::string_view path);

}  // namespace tavolen::host
