// audiostream.cgi: a steady tone as 512-byte ADPCM blocks every 128 ms or as
// 960-byte A-law blocks every 120 ms.
#include <cmath>
#include <cstring>

#include "connection.h"
#include "router.h"
#include "media/adpcm_codec.h"

namespace camsim {

namespace {

constexpr int kSampleRate = 8000;
constexpr int kAdpcmSamples = 1024;  // 512 bytes, 128 ms
constexpr int kAlawSamples = 960;    // 960 bytes, 120 ms

}  // namespace

// G.711 A-law compression of one 16-bit sample.
uint8_t linearToAlaw(int16_t sample) {
  int pcm = sample >> 3;  // 13-bit magnitude range
  uint8_t mask;
  if (pcm >= 0) {
    mask = 0xD5;
  } else {
    mask = 0x55;
    pcm = -pcm - 1;
  }
  static const int kSegmentEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  int segment = 0;
  while (segment < 8 && pcm > kSegmentEnd[segment]) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  uint8_t a = static_cast<uint8_t>(segment << 4);
  a |= segment < 2 ? (pcm >> 1) & 0x0F : (pcm >> segment) & 0x0F;
  return static_cast<uint8_t>(a ^ mask);
}

namespace {

void streamAudio(Connection& c) {
  Server& server = c.server;
  if (!accountMatches(server, c.request)) {
    server.logLine("connection %d refused with 200 (wrong account)", c.id);
    c.sendFrame(200, nullptr, 0, 0);
    c.finish();
    return;
  }
  const bool adpcm = server.config().audio == AudioKind::Adpcm;
  const int samples = adpcm ? kAdpcmSamples : kAlawSamples;
  const auto period = std::chrono::milliseconds(samples * 1000 / kSampleRate);
  server.logLine("connection %d: audio %s %d Hz tone", c.id, adpcm ? "adpcm" : "alaw",
                 server.config().toneHz);

  std::vector<int16_t> pcm(static_cast<size_t>(samples));
  std::vector<uint8_t> block(adpcm ? samples / 2 : samples);
  const double step = 2.0 * M_PI * server.config().toneHz / kSampleRate;
  double phase = 0;
  uint32_t sequence = 0;
  auto due = Clock::now();
  while (c.alive() && !server.stopping()) {
    for (int i = 0; i < samples; ++i) {
      pcm[static_cast<size_t>(i)] = static_cast<int16_t>(8000.0 * std::sin(phase));
      phase = std::fmod(phase + step, 2.0 * M_PI);
    }
    if (adpcm) {
      tavolen::AdpcmState state;
      tavolen::adpcmEncode(state, pcm.data(), samples * 2, block.data());
    } else {
      for (int i = 0; i < samples; ++i) block[static_cast<size_t>(i)] = linearToAlaw(pcm[static_cast<size_t>(i)]);
    }
    if (!c.sendFrame(adpcm ? 6 : 7, block.data(), static_cast<uint32_t>(block.size()), sequence++)) break;
    due += period;
    if (!c.waitUntil(due)) break;
    uint8_t ignored;
    while (c.takeStatus(ignored)) {
    }
  }
}

}  // namespace

void registerAudioStream(Router& router, Server& server) {
  router.add(Route{"audiostream.cgi", nullptr, streamAudio, "audio"});
}

}  // namespace camsim
