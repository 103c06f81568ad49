// Throughput of our IMA ADPCM decoder and encoder, in samples per second,
// against libavcodec's IMA ADPCM decoder on the same number of samples. Blocks
// are the cameras' size (512 bytes, 1024 samples) and the talk size (512
// samples), taken one call per block as the players and the talk capture do.
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "media/adpcm_codec.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBlockBytes = 512;
constexpr int kBlockSamples = 2 * kBlockBytes;
constexpr int kBlocks = 4000;  // about 8.5 minutes of sound per pass
constexpr int kPasses = 9;

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

std::vector<int16_t> speech(size_t n) {
  std::vector<int16_t> out(n);
  uint32_t lcg = 12345;
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / 8000.0;
    lcg = lcg * 1664525u + 1013904223u;
    const double env = 0.5 + 0.5 * std::sin(2 * M_PI * 2.5 * t);
    out[i] = static_cast<int16_t>(9000 * env * (std::sin(2 * M_PI * 210 * t) + 0.4 * std::sin(2 * M_PI * 1300 * t)) +
                                  static_cast<int>(lcg >> 24) - 128);
  }
  return out;
}

// Samples per second of one pass.
template <typename Fn>
double rate(Fn pass, size_t samplesPerPass) {
  const auto a = Clock::now();
  pass();
  const auto b = Clock::now();
  return static_cast<double>(samplesPerPass) / seconds(a, b);
}

}  // namespace

int main() {
  const auto pcm = speech(static_cast<size_t>(kBlocks) * kBlockSamples);
  std::vector<uint8_t> coded(static_cast<size_t>(kBlocks) * kBlockBytes);
  tavolen::AdpcmState state;
  for (int b = 0; b < kBlocks; ++b)
    tavolen::adpcmEncode(state, pcm.data() + b * kBlockSamples, kBlockSamples * 2, coded.data() + b * kBlockBytes);
  const size_t total = static_cast<size_t>(kBlocks) * kBlockSamples;

  std::vector<int16_t> out(total);
  volatile int64_t sink = 0;
  auto decodePass = [&] {
    for (int b = 0; b < kBlocks; ++b)
      tavolen::adpcmDecode(state, coded.data() + b * kBlockBytes, kBlockBytes, out.data() + b * kBlockSamples);
    sink = sink + out[total / 2];
  };

  std::vector<uint8_t> talk(static_cast<size_t>(kBlocks) * kBlockBytes);
  auto encodePass = [&] {
    // Talk blocks: 512 samples into 256 bytes.
    for (int b = 0; b < 2 * kBlocks; ++b)
      tavolen::adpcmEncode(state, pcm.data() + b * (kBlockSamples / 2), kBlockSamples, talk.data() + b * (kBlockBytes / 2));
    sink = sink + talk[talk.size() / 2];
  };

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ADPCM_IMA_SSI);
  if (!codec) {
    std::fprintf(stderr, "libavcodec has no headerless IMA ADPCM decoder\n");
    return 1;
  }
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->sample_rate = 8000;
  av_channel_layout_default(&ctx->ch_layout, 1);
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    std::fprintf(stderr, "cannot open the libavcodec decoder\n");
    return 1;
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::vector<uint8_t> padded(coded.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::copy(coded.begin(), coded.end(), padded.begin());
  size_t peerSamples = 0;
  auto peerPass = [&] {
    peerSamples = 0;
    for (int b = 0; b < kBlocks; ++b) {
      packet->data = padded.data() + b * kBlockBytes;
      packet->size = kBlockBytes;
      if (avcodec_send_packet(ctx, packet) < 0) std::abort();
      while (avcodec_receive_frame(ctx, frame) == 0) {
        peerSamples += static_cast<size_t>(frame->nb_samples);
        sink = sink + frame->data[0][0];
      }
    }
  };
  // The three take turns, so that a change in the machine's load falls on all
  // of them alike; each keeps its best pass.
  double decode = 0, encode = 0, peer = 0;
  for (int p = 0; p < kPasses; ++p) {
    decode = std::max(decode, rate(decodePass, total));
    encode = std::max(encode, rate(encodePass, total));
    peer = std::max(peer, rate(peerPass, total));
  }
  if (peerSamples != total) {
    std::fprintf(stderr, "libavcodec decoded %zu samples of %zu\n", peerSamples, total);
    return 1;
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&ctx);

  std::printf("samples per pass: %zu (%d blocks of %d bytes), best of %d passes\n", total, kBlocks, kBlockBytes,
              kPasses);
  std::printf("decode (ours):          %.0f samples/s\n", decode);
  std::printf("encode (ours):          %.0f samples/s\n", encode);
  std::printf("decode (libavcodec):    %.0f samples/s\n", peer);
  std::printf("share of one core for live sound (8000 samples/s): decode %.5f%%, encode %.5f%%\n",
              800000.0 / decode, 800000.0 / encode);
  // "ours" and "ratio" are the decoder's; the encoder's figure and its ratio
  // to the same peer follow.
  std::printf(
      "{\"bench\":\"adpcm\",\"unit\":\"samples/s\",\"ours\":%.0f,\"peer\":%.0f,\"ratio\":%.3f,"
      "\"better\":\"higher\",\"encode\":%.0f,\"encode_ratio\":%.3f,\"samples\":%zu}\n",
      decode, peer, decode / peer, encode, encode / peer, total);
  return 0;
}
