#include "platform/h264_decoder.h"

#include <cstring>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace tavolen::platform {

namespace {

// Resolution result codes; the player only tests for non-zero.
constexpr int32_t kNoPicture = 1;
constexpr int32_t kBadArgument = -1;
constexpr int32_t kTooLarge = -2;

struct Decoder {
  AVCodecContext* ctx = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  AVFrame* spare = nullptr;
  uint32_t maxWidth = 0;
  uint32_t maxHeight = 0;
  // Reads the headers of each unit before the decoder sees it: the decoder
  // sets up tables for every macroblock of a new picture size even when
  // max_pixels then refuses its buffers.
  AVCodecParserContext* parser = nullptr;
  AVCodecContext* parserCtx = nullptr;
  // Tightly packed copy, used only when the decoder pads its rows.
  std::vector<uint8_t> packed;
  // d->frame is the picture the last call returned.
  bool pictureReady = false;
};

// A reference on a decoded frame's buffers, handed out as its planes.
struct FrameHold {
  HeldPicture planes{};
  AVFrame* frame = nullptr;
  FrameHold() = default;
  FrameHold(const FrameHold&) = delete;
  FrameHold& operator=(const FrameHold&) = delete;
  ~FrameHold() { av_frame_free(&frame); }
};

void freeDecoder(Decoder* d) {
  if (d->parser != nullptr) av_parser_close(d->parser);
  avcodec_free_context(&d->parserCtx);
  av_frame_free(&d->frame);
  av_frame_free(&d->spare);
  av_packet_free(&d->packet);
  avcodec_free_context(&d->ctx);
  delete d;
}

void copyPlane(uint8_t* dst, int dstStride, const uint8_t* src, int srcStride, int rowBytes,
               int rows) {
  for (int r = 0; r < rows; ++r) std::memcpy(dst + r * dstStride, src + r * srcStride, rowBytes);
}

}  // namespace

H264DecHandle Hi264DecCreate(const H264DecAttr* attr) {
  if (attr == nullptr || attr->maxWidthMb == 0 || attr->maxHeightMb == 0) return nullptr;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (codec == nullptr) return nullptr;
  auto* d = new (std::nothrow) Decoder;
  if (d == nullptr) return nullptr;
  d->maxWidth = attr->maxWidthMb * 16;
  d->maxHeight = attr->maxHeightMb * 16;
  d->ctx = avcodec_alloc_context3(codec);
  d->packet = av_packet_alloc();
  d->frame = av_frame_alloc();
  d->spare = av_frame_alloc();
  d->parser = av_parser_init(AV_CODEC_ID_H264);
  d->parserCtx = avcodec_alloc_context3(codec);
  if (d->ctx == nullptr || d->packet == nullptr || d->frame == nullptr || d->spare == nullptr ||
      d->parser == nullptr || d->parserCtx == nullptr) {
    freeDecoder(d);
    return nullptr;
  }
  // Frame threading would hand the picture of access unit n back only with
  // unit n + threads - 1; one thread and low delay give each unit's picture at
  // once (streams with B-frame reordering are not what cameras send live).
  d->ctx->thread_count = 1;
  d->ctx->thread_type = 0;
  d->ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
  d->ctx->has_b_frames = 0;
  d->parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;  // one whole unit per call
  // Should a larger picture get past the parser, libavcodec still refuses
  // its buffers; the width and height are checked again below, for shapes
  // within this area.
  d->ctx->max_pixels = static_cast<int64_t>(d->maxWidth) * d->maxHeight;
  if (avcodec_open2(d->ctx, codec, nullptr) < 0) {
    freeDecoder(d);
    return nullptr;
  }
  return d;
}

int32_t Hi264DecAU(H264DecHandle handle, const uint8_t* data, uint32_t length, uint64_t pts,
                   H264DecOutput* out, uint32_t flags) {
  auto* d = static_cast<Decoder*>(handle);
  if (d != nullptr) d->pictureReady = false;
  if (d == nullptr || out == nullptr || (data == nullptr && length != 0) || length == 0 ||
      length > static_cast<uint32_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
    return kBadArgument;

  // libavcodec reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end,
  // so the caller's bytes go into a padded packet.
  av_packet_unref(d->packet);
  if (av_new_packet(d->packet, static_cast<int>(length)) < 0) return kBadArgument;
  std::memcpy(d->packet->data, data, length);
  d->packet->pts = static_cast<int64_t>(pts);

  // The size the unit's slices announce, from their parameter sets: one
  // above the maximum is refused before the decoder sees it.
  uint8_t* parsed = nullptr;
  int parsedSize = 0;
  av_parser_parse2(d->parser, d->parserCtx, &parsed, &parsedSize, d->packet->data, d->packet->size,
                   AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
  if (static_cast<uint32_t>(d->parser->coded_width) > d->maxWidth ||
      static_cast<uint32_t>(d->parser->coded_height) > d->maxHeight)
    return kTooLarge;

  const int sent = avcodec_send_packet(d->ctx, d->packet);
  bool got = false;
  bool damaged = sent < 0;
  // Normally exactly one picture comes out; should a unit still yield more,
  // the newest one is the picture of this unit and nothing is left behind for
  // the next call.
  av_frame_unref(d->frame);
  while (avcodec_receive_frame(d->ctx, d->spare) >= 0) {
    av_frame_unref(d->frame);
    av_frame_move_ref(d->frame, d->spare);
    got = true;
  }
  if (!got) return kNoPicture;

  AVFrame* f = d->frame;
  if (f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUVJ420P) return kNoPicture;
  const uint32_t w = static_cast<uint32_t>(f->width);
  const uint32_t h = static_cast<uint32_t>(f->height);
  if (w == 0 || h == 0 || w > d->maxWidth || h > d->maxHeight) return kTooLarge;
  if (f->decode_error_flags != 0 || (f->flags & AV_FRAME_FLAG_CORRUPT) != 0) damaged = true;

  const int cw = static_cast<int>((w + 1) / 2);
  const int ch = static_cast<int>((h + 1) / 2);
  std::memset(out, 0, sizeof(*out));
  out->width = w;
  out->height = h;
  out->lumaStride = w;
  out->chromaStride = static_cast<uint32_t>(cw);
  if (f->linesize[0] == static_cast<int>(w) && f->linesize[1] == cw && f->linesize[2] == cw) {
    out->luma = f->data[0];
    out->u = f->data[1];
    out->v = f->data[2];
  } else {
    const size_t lumaBytes = static_cast<size_t>(w) * h;
    const size_t chromaBytes = static_cast<size_t>(cw) * ch;
    d->packed.resize(lumaBytes + 2 * chromaBytes);
    uint8_t* p = d->packed.data();
    copyPlane(p, static_cast<int>(w), f->data[0], f->linesize[0], static_cast<int>(w),
              static_cast<int>(h));
    copyPlane(p + lumaBytes, cw, f->data[1], f->linesize[1], cw, ch);
    copyPlane(p + lumaBytes + chromaBytes, cw, f->data[2], f->linesize[2], cw, ch);
    out->luma = p;
    out->u = p + lumaBytes;
    out->v = p + lumaBytes + chromaBytes;
  }
  out->error = damaged ? 1u : 0u;
  d->pictureReady = true;
  (void)flags;
  return 0;
}

std::shared_ptr<const HeldPicture> Hi264DecHoldPicture(H264DecHandle handle) {
  auto* d = static_cast<Decoder*>(handle);
  if (d == nullptr || !d->pictureReady) return nullptr;
  const AVFrame* f = d->frame;
  // One stride serves both chroma planes, and strides run forwards.
  if (f->linesize[0] <= 0 || f->linesize[1] <= 0 || f->linesize[1] != f->linesize[2]) return nullptr;
  try {
    auto hold = std::make_shared<FrameHold>();
    hold->frame = av_frame_alloc();
    if (hold->frame == nullptr || av_frame_ref(hold->frame, f) < 0) return nullptr;
    hold->planes = {f->data[0], f->data[1], f->data[2], static_cast<uint32_t>(f->linesize[0]),
                    static_cast<uint32_t>(f->linesize[1]), static_cast<uint32_t>(f->width),
                    static_cast<uint32_t>(f->height)};
    return std::shared_ptr<const HeldPicture>(hold, &hold->planes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void Hi264DecDestroy(H264DecHandle handle) {
  if (handle != nullptr) freeDecoder(static_cast<Decoder*>(handle));
}

}  // namespace tavolen::platform
