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

constexpr int32_t clampSample(int32_t v) { return v < -32768 ? -32768 : (v > 32767 ? 32767 : v); }
constexpr int32_t clampIndex(int32_t v) { return v < 0 ? 0 : (v > 88 ? 88 : v); }

// Per step index and 4-bit code: the signed difference and the next index.
// The difference is (step * m) / 4 + step / 8 in one go; the bit-by-bit sum of
// the reference coder differs for some inputs and the cameras decode with this
// form. Both directions step through the same tables, so the encoder predicts
// exactly what the decoder will produce.
struct StepTables {
  int32_t diff[89][16];
  uint8_t next[89][16];
  int32_t step[89];
};

constexpr StepTables makeTables() {
  StepTables t{};
  for (int index = 0; index < 89; ++index) {
    const int32_t step = kStepTable[index];
    t.step[index] = step;
    for (int code = 0; code < 16; ++code) {
      const int m = code & 7;
      const int32_t diff = (step * m) / 4 + step / 8;
      t.diff[index][code] = (code & 8) ? -diff : diff;
      t.next[index][code] = static_cast<uint8_t>(clampIndex(index + kIndexAdjust[m]));
    }
  }
  return t;
}

constexpr StepTables kTables = makeTables();

inline void applyCode(int32_t& predicted, int32_t& index, int code) {
  predicted = clampSample(predicted + kTables.diff[index][code]);
  index = kTables.next[index][code];
}

// The code for sample s: the sign, and m = (4 * d) / step truncated and at most
// 7, found bit by bit (exact for a 3-bit quotient, and 7 whenever it would be
// larger) rather than by a division per sample.
inline int encodeCode(int32_t s, int32_t predicted, int32_t index) {
  int32_t d = s - predicted;
  int sign = 0;
  if (d < 0) {
    sign = 8;
    d = -d;
  }
  const int32_t step = kTables.step[index];
  int32_t r = 4 * d;
  int m = 0;
  if (r >= 4 * step) {
    m |= 4;
    r -= 4 * step;
  }
  if (r >= 2 * step) {
    m |= 2;
    r -= 2 * step;
  }
  if (r >= step) m |= 1;
  return sign | m;
}

}  // namespace

void adpcmDecode(AdpcmState& state, const uint8_t* in, int count, int16_t* out) {
  int32_t predicted = 0;
  int32_t index = 0;
  for (int i = 0; i < count; ++i) {
    const uint8_t byte = in[i];
    applyCode(predicted, index, byte >> 4);
    out[2 * i] = static_cast<int16_t>(predicted);
    applyCode(predicted, index, byte & 0x0F);
    out[2 * i + 1] = static_cast<int16_t>(predicted);
  }
  state.decoderPredicted = predicted;
  state.decoderIndex = index;
}

void adpcmEncode(AdpcmState& state, const int16_t* samples, int byteCount, uint8_t* out) {
  int32_t predicted = 0;
  int32_t index = 0;
  const int sampleCount = byteCount / 2;
  for (int k = 0; k + 1 < sampleCount; k += 2) {
    const int high = encodeCode(samples[k], predicted, index);
    applyCode(predicted, index, high);
    const int low = encodeCode(samples[k + 1], predicted, index);
    applyCode(predicted, index, low);
    out[k / 2] = static_cast<uint8_t>((high << 4) | low);
  }
  if (sampleCount % 2 != 0) {
    const int high = encodeCode(samples[sampleCount - 1], predicted, index);
    applyCode(predicted, index, high);
    out[sampleCount / 2] = static_cast<uint8_t>(high << 4);
  }
  state.encoderPredicted = predicted;
  state.encoderIndex = index;
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
