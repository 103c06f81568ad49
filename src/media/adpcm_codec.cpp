#include "media/adpcm_codec.h"

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
  // ceil(2^42 / step): (d * inverse) >> 40 is exactly (4 * d) / step for
  // every d below 2^16, because the rounding error stays below 1 / step.
  uint64_t inverse[89];
};

constexpr StepTables makeTables() {
  StepTables t{};
  for (int index = 0; index < 89; ++index) {
    const int32_t step = kStepTable[index];
    t.inverse[index] = ((uint64_t{1} << 42) + static_cast<uint64_t>(step) - 1) / static_cast<uint64_t>(step);
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

// The predictor reaches the ends of its range only on the loudest sounds, so
// these are branches the processor predicts rather than conditional moves on
// the path from one sample to the next.
inline int32_t clampPredicted(int32_t v) {
  if (__builtin_expect(v > 32767, 0)) return 32767;
  if (__builtin_expect(v < -32768, 0)) return -32768;
  return v;
}

inline void applyCode(int32_t& predicted, int32_t& index, int code) {
  predicted = clampPredicted(predicted + kTables.diff[index][code]);
  index = kTables.next[index][code];
}

// The code for sample s: the sign, and m = (4 * d) / step truncated and at most
// 7, by a multiplication with the step's inverse rather than a division on the
// path from one sample to the next.
inline int encodeCode(int32_t s, int32_t predicted, int32_t index) {
  const int32_t d = s - predicted;
  const int sign = d < 0 ? 8 : 0;
  const uint64_t magnitude = static_cast<uint64_t>(d < 0 ? -d : d);
  const uint64_t q = (magnitude * kTables.inverse[index]) >> 40;
  return sign | static_cast<int>(q > 7 ? 7 : q);
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
