#pragma once
// The H.264 decoder library the H.264 player calls: one access unit in, the
// picture of that access unit out in the same call (never a picture of an
// earlier one), as planar 4:2:0 with the row strides the renderer expects
// (luma stride = width; chroma planes (width + 1) / 2 by (height + 1) / 2,
// stride (width + 1) / 2).
//
// A decoder handle is used by one thread at a time (the player's decode thread);
// different handles are independent.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tavolen::platform {

// Eight 32-bit words, as the player fills them.
struct H264DecAttr {
  uint32_t picFormat;         // 0: planar 4:2:0
  uint32_t streamType;        // 0: H.264 byte stream (Annex B)
  uint32_t maxWidthMb;        // largest accepted picture, in 16-pixel macroblocks
  uint32_t maxHeightMb;
  uint32_t refFrames;         // informational
  uint32_t workMode;          // informational
  uint32_t userDataBuffer;    // 0: no user data wanted
  uint32_t reserved;
};
static_assert(sizeof(H264DecAttr) == 32);

// The output record. Words 0-2 are the plane addresses (pointer-sized here),
// then 3 width, 4 height, 5 luma stride, 6 chroma stride, ..., 13 error flag.
// The planes belong to the decoder and stay valid until its next call.
struct H264DecOutput {
  const uint8_t* luma;
  const uint8_t* u;
  const uint8_t* v;
  uint32_t width;
  uint32_t height;
  uint32_t lumaStride;
  uint32_t chromaStride;
  uint32_t unused[6];
  uint32_t error;  // 0: the picture decoded without errors
};
static_assert(offsetof(H264DecOutput, width) == 3 * sizeof(void*));
static_assert(offsetof(H264DecOutput, error) == 3 * sizeof(void*) + 10 * 4);

using H264DecHandle = void*;

// 0 on failure (an attribute record asking for nothing, no decoder available).
H264DecHandle Hi264DecCreate(const H264DecAttr* attr);

// Result 0 when the call produced a picture (out filled; out->error may still
// report a damaged one), any other value when it did not: corrupt or
// incomplete data, a picture above the attribute's maximum, a null argument.
int32_t Hi264DecAU(H264DecHandle handle, const uint8_t* data, uint32_t length, uint64_t pts,
                   H264DecOutput* out, uint32_t flags);

void Hi264DecDestroy(H264DecHandle handle);

// A decoded picture's planes with the decoder's own row strides (rows may be
// padded): chroma planes of (width + 1) / 2 × (height + 1) / 2 samples.
struct HeldPicture {
  const uint8_t* luma;
  const uint8_t* u;
  const uint8_t* v;
  uint32_t lumaStride;
  uint32_t chromaStride;
  uint32_t width;
  uint32_t height;
};

// Shares, without copying, the picture of the last Hi264DecAU call that
// returned 0: its planes stay valid and unchanged for as long as the result
// lives, whatever the decoder (or its destruction) does meanwhile, because the
// result holds a reference on the decoder's buffer. Null when the last call
// returned no picture or memory ran out. Same thread rule as Hi264DecAU; the
// result may then be used and dropped on any thread.
std::shared_ptr<const HeldPicture> Hi264DecHoldPicture(H264DecHandle handle);

}  // namespace tavolen::platform
