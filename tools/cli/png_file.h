#pragma once
// Snapshots as PNG: the player writes a BMP (H.264) or the received JPEG;
// this turns either into a PNG file through libavcodec, whose decoders read
// both and whose PNG encoder writes the result, so no second image library is
// needed.

#include <string>

namespace tavolen::cli {

// Throws Failure when the picture cannot be read or the PNG not written.
void writePng(const std::string& picturePath, const std::string& pngPath);

}  // namespace tavolen::cli
