// Feeds arbitrary bytes, in pieces whose sizes come from the input, through
// the frame reassembly of the streaming socket, and checks that every frame
// delivered is whole and lies inside the buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "link/tcp_socket.h"
#include "media/media_frame.h"

namespace {

struct Bounds {
  const uint8_t* begin;
  const uint8_t* end;
};

void check(const uint8_t* frame, int32_t length, void* owner) {
  const auto* b = static_cast<const Bounds*>(owner);
  if (length < 32 || frame < b->begin || frame + length > b->end) std::abort();
  if (tavolen::readLe32(frame) != tavolen::kFrameMagic) std::abort();
  if (32 + tavolen::readLe32(frame + 16) != static_cast<uint32_t>(length)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using tavolen::CTcpSocket;
  static std::unique_ptr<uint8_t[]> buffer(new uint8_t[CTcpSocket::kBufferSize]);
  Bounds bounds{buffer.get(), buffer.get() + CTcpSocket::kBufferSize};
  int32_t filled = 0;
  size_t at = 0;
  while (at < size) {
    // The first byte of each piece sets its length (a receive's worth).
    const size_t want = 1 + data[at] * 37u;
    ++at;
    size_t n = want < size - at ? want : size - at;
    const size_t room = CTcpSocket::kBufferSize - static_cast<size_t>(filled);
    if (n > room) n = room;
    std::memcpy(buffer.get() + filled, data + at, n);
    at += n;
    filled += static_cast<int32_t>(n);
    if (CTcpSocket::cutFrames(buffer.get(), filled, &check, &bounds, CTcpSocket::StopCheck{}) ==
        CTcpSocket::CutResult::FramingError)
      return 0;
    if (filled < 0 || static_cast<size_t>(filled) > CTcpSocket::kBufferSize) std::abort();
  }
  return 0;
}
