#include "player/adpcm_codec.h"

namespace tavolen {

namespace {

constexpr int16_t kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

inline int32_t clampSample(int32_t v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); }
inline int32_t clampIndex(int32_t v) { return v < 0 ? 0 : (v > 88 ? 88 : v); }

// One step of either direction: the difference is (step * m) / 4 + step / 8 in
// one go; the bit-by-bit sum of the reference coder differs for some inputs and
// the cameras decode with this form.
inline void applyCode(int32_t& predicted, int32_t& index, int code) {
  const int32_t step = kStepTable[index];
  const int m = code & 7;
  const int32_t diff = (step * m) / 4 + step / 8;
  predicted = clampSample((code & 8) ? predicted - diff : predicted + diff);
  index = clampIndex(index + kIndexAdjust[m]);
}

}  // namespace

void adpcmDecode(AdpcmState& state, const uint8_t* in, int count, int16_t* out) {
  state.decoderPredicted = 0;
  state.decoderIndex = 0;
  for (int i = 0; i < 2 * count; ++i) {
    const uint8_t byte = in[i / 2];
    const int code = (i % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
    applyCode(state.decoderPredicted, state.decoderIndex, code);
    out[i] = static_cast<int16_t>(state.decoderPredicted);
  }
}

void adpcmEncode(AdpcmState& state, const int16_t* samples, int byteCount, uint8_t* out) {
  state.encoderPredicted = 0;
  state.encoderIndex = 0;
  const int sampleCount = byteCount / 2;
  for (int k = 0; k < sampleCount; ++k) {
    int32_t d = samples[k] - state.encoderPredicted;
    int sign = 0;
    if (d < 0) {
      sign = 8;
      d = -d;
    }
    const int32_t step = kStepTable[state.encoderIndex];
    int m = (4 * d) / step;
    if (m > 7) m = 7;
    const int code = sign | m;
    applyCode(state.encoderPredicted, state.encoderIndex, code);
    if (k % 2 == 0) out[k / 2] = static_cast<uint8_t>(code << 4);
    else out[k / 2] |= static_cast<uint8_t>(code);
  }
}

int16_t alawToLinear(uint8_t a) {
  a ^= 0x55;
  int t = (a & 0x0F) << 4;
  const int segment = (a >> 4) & 7;
  if (segment == 0) t += 8;
  else if (segment == 1) t += 0x108;
  else t = (t + 0x108) << (segment - 1);
  return static_cast<int16_t>((a & 0x80) ? t : -t);
}

void alawExpand(const uint8_t* in, int count, int16_t* out) {
  for (int i = 0; i < count; ++i) out[i] = alawToLinear(in[i]);
}

}  // namespace tavolen
