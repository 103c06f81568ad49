#include "render/yuv_converter.h"

#include <immintrin.h>

#include <algorithm>
#include <mutex>

namespace tavolen {

namespace {

ColorTables gTables;
std::once_flag gTablesOnce;

void fillTables(ColorTables& t) {
  for (int i = 0; i < 256; ++i) {
    t.tabY[i] = (i - 16) * 76309;
    t.tabC1Byte0[i] = (i - 128) * 104597;
    t.tabC2Byte2[i] = (i - 128) * 132201;
    t.tabC2Byte1[i] = (i - 128) * 25675;
    t.tabC1Byte1[i] = (i - 128) * 53279;
  }
  for (int i = 0; i < 1024; ++i) t.clipStorage[i] = static_cast<uint8_t>(std::clamp(i - 384, 0, 255));
}

// Pixels [from, width) of one luma row with its chroma row, through the tables.
void tableRow(const ColorTables& t, const uint8_t* y, const uint8_t* c1, const uint8_t* c2,
              int32_t from, int32_t width, uint8_t* out) {
  const uint8_t* clip = t.clip();
  for (int32_t x = from; x < width; ++x) {
    const int32_t k = x >> 1;
    const int32_t yy = t.tabY[y[x]];
    uint8_t* o = out + x * 4;
    o[0] = clip[(yy + t.tabC1Byte0[c1[k]]) >> 16];
    o[1] = clip[(yy - t.tabC1Byte1[c1[k]] - t.tabC2Byte1[c2[k]]) >> 16];
    o[2] = clip[(yy + t.tabC2Byte2[c2[k]]) >> 16];
    o[3] = 0;
  }
}

// The SIMD paths split every product of the tables into a high part (the
// multiple of 65536) and a low part (0..65535) in 16-bit lanes, so that
// (a + b) >> 16 = aH + bH + carry, with carry = (aL + bL >= 65536), i.e.
// aL > 65535 - bL (compared unsigned by flipping the sign bits). The sum then
// saturates to 0..255 exactly as the clip table does.
//   luma:   76309 (Y - 16)  = 65536 v + 10773 v,               v = Y - 16
//   byte 0: 104597 c1       = 131072 c1 - 26475 c1,            c1 = C1 - 128
//   byte 2: 132201 c2       = 131072 c2 + 1129 c2,             c2 = C2 - 128
//   byte 1: -(53279 c1 + 25675 c2) = -65536 c1 + (12257 c1 - 25675 c2)
constexpr int16_t kLumaLow = 10773;
constexpr int16_t kC1Byte0Low = -26475;
constexpr int16_t kC2Byte2Low = 1129;
constexpr int16_t kC1Byte1Low = 12257;
constexpr int16_t kC2Byte1 = -25675;

// ---- SSE2: 16 pixels per row per step ----

struct ChromaSse {
  __m128i high[3];
  __m128i lowFlipped[3];  // (65535 - low) ^ 0x8000
};

__attribute__((target("sse2"))) inline ChromaSse chromaTermsSse(__m128i c1, __m128i c2) {
  ChromaSse t;
  const __m128i flip = _mm_set1_epi16(0x7FFF);
  const __m128i k0 = _mm_set1_epi16(kC1Byte0Low);
  t.high[0] = _mm_add_epi16(_mm_add_epi16(c1, c1), _mm_mulhi_epi16(c1, k0));
  t.lowFlipped[0] = _mm_xor_si128(_mm_mullo_epi16(c1, k0), flip);
  const __m128i k2 = _mm_set1_epi16(kC2Byte2Low);
  t.high[2] = _mm_add_epi16(_mm_add_epi16(c2, c2), _mm_mulhi_epi16(c2, k2));
  t.lowFlipped[2] = _mm_xor_si128(_mm_mullo_epi16(c2, k2), flip);
  const __m128i k1 = _mm_set1_epi32(static_cast<int32_t>(
      (static_cast<uint32_t>(static_cast<uint16_t>(kC2Byte1)) << 16) | static_cast<uint16_t>(kC1Byte1Low)));
  const __m128i sLo = _mm_madd_epi16(_mm_unpacklo_epi16(c1, c2), k1);
  const __m128i sHi = _mm_madd_epi16(_mm_unpackhi_epi16(c1, c2), k1);
  t.high[1] = _mm_sub_epi16(_mm_packs_epi32(_mm_srai_epi32(sLo, 16), _mm_srai_epi32(sHi, 16)), c1);
  const __m128i mask = _mm_set1_epi32(0xFFFF);
  const __m128i bias = _mm_set1_epi32(32767);
  t.lowFlipped[1] = _mm_packs_epi32(_mm_sub_epi32(bias, _mm_and_si128(sLo, mask)),
                                    _mm_sub_epi32(bias, _mm_and_si128(sHi, mask)));
  return t;
}

__attribute__((target("sse2"))) inline __m128i channelSse(__m128i aHigh, __m128i aLowBiased,
                                                          __m128i bHigh, __m128i bLowFlipped) {
  const __m128i carry = _mm_cmpgt_epi16(aLowBiased, bLowFlipped);
  return _mm_sub_epi16(_mm_add_epi16(aHigh, bHigh), carry);
}

__attribute__((target("sse2"))) inline void lumaRowSse(const uint8_t* y, uint8_t* out,
                                                       const ChromaSse& lo, const ChromaSse& hi) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  const __m128i k = _mm_set1_epi16(kLumaLow);
  const __m128i sixteen = _mm_set1_epi16(16);
  const __m128i signBit = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  __m128i bytes[3];
  const __m128i v[2] = {_mm_sub_epi16(_mm_unpacklo_epi8(luma, zero), sixteen),
                        _mm_sub_epi16(_mm_unpackhi_epi8(luma, zero), sixteen)};
  __m128i aH[2], aL[2];
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    aH[h] = _mm_add_epi16(v[h], _mm_mulhi_epi16(v[h], k));
    aL[h] = _mm_xor_si128(_mm_mullo_epi16(v[h], k), signBit);
  }
#pragma GCC unroll 3
  for (int c = 0; c < 3; ++c)
    bytes[c] = _mm_packus_epi16(channelSse(aH[0], aL[0], lo.high[c], lo.lowFlipped[c]),
                                channelSse(aH[1], aL[1], hi.high[c], hi.lowFlipped[c]));
  const __m128i bgLo = _mm_unpacklo_epi8(bytes[0], bytes[1]);
  const __m128i bgHi = _mm_unpackhi_epi8(bytes[0], bytes[1]);
  const __m128i r0Lo = _mm_unpacklo_epi8(bytes[2], zero);
  const __m128i r0Hi = _mm_unpackhi_epi8(bytes[2], zero);
  auto* o = reinterpret_cast<__m128i*>(out);
  _mm_storeu_si128(o + 0, _mm_unpacklo_epi16(bgLo, r0Lo));
  _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bgLo, r0Lo));
  _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(bgHi, r0Hi));
  _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(bgHi, r0Hi));
}

// Converts pixels [0, n) of one or two luma rows that share a chroma row, n a
// multiple of 16; returns n.
__attribute__((target("sse2"))) int32_t rowsSse(const uint8_t* y0, const uint8_t* y1,
                                                const uint8_t* c1, const uint8_t* c2, int32_t width,
                                                uint8_t* out0, uint8_t* out1) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi16(128);
  const int32_t n = width / 16 * 16;
  for (int32_t x = 0; x < n; x += 16) {
    const __m128i u = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c1 + x / 2)), zero), half);
    const __m128i v = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(c2 + x / 2)), zero), half);
    const ChromaSse t = chromaTermsSse(u, v);
    ChromaSse lo, hi;
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
      lo.high[c] = _mm_unpacklo_epi16(t.high[c], t.high[c]);
      hi.high[c] = _mm_unpackhi_epi16(t.high[c], t.high[c]);
      lo.lowFlipped[c] = _mm_unpacklo_epi16(t.lowFlipped[c], t.lowFlipped[c]);
      hi.lowFlipped[c] = _mm_unpackhi_epi16(t.lowFlipped[c], t.lowFlipped[c]);
    }
    lumaRowSse(y0 + x, out0 + x * 4, lo, hi);
    if (y1) lumaRowSse(y1 + x, out1 + x * 4, lo, hi);
  }
  return n;
}

// ---- AVX2: 32 pixels per row per step ----
// 256-bit unpacks work per 128-bit lane; chroma and luma are unpacked the same
// way so their lanes line up, and the four stores put the lanes back in order.

constexpr int32_t kPrefetchAhead = 512;  // bytes of output, 4 steps ahead

struct ChromaAvx {
  __m256i high[3];
  __m256i lowFlipped[3];
};

__attribute__((target("avx2"))) inline ChromaAvx chromaTermsAvx(__m256i c1, __m256i c2) {
  ChromaAvx t;
  const __m256i flip = _mm256_set1_epi16(0x7FFF);
  const __m256i k0 = _mm256_set1_epi16(kC1Byte0Low);
  t.high[0] = _mm256_add_epi16(_mm256_add_epi16(c1, c1), _mm256_mulhi_epi16(c1, k0));
  t.lowFlipped[0] = _mm256_xor_si256(_mm256_mullo_epi16(c1, k0), flip);
  const __m256i k2 = _mm256_set1_epi16(kC2Byte2Low);
  t.high[2] = _mm256_add_epi16(_mm256_add_epi16(c2, c2), _mm256_mulhi_epi16(c2, k2));
  t.lowFlipped[2] = _mm256_xor_si256(_mm256_mullo_epi16(c2, k2), flip);
  const __m256i k1 = _mm256_set1_epi32(static_cast<int32_t>(
      (static_cast<uint32_t>(static_cast<uint16_t>(kC2Byte1)) << 16) | static_cast<uint16_t>(kC1Byte1Low)));
  const __m256i sLo = _mm256_madd_epi16(_mm256_unpacklo_epi16(c1, c2), k1);
  const __m256i sHi = _mm256_madd_epi16(_mm256_unpackhi_epi16(c1, c2), k1);
  t.high[1] = _mm256_sub_epi16(
      _mm256_packs_epi32(_mm256_srai_epi32(sLo, 16), _mm256_srai_epi32(sHi, 16)), c1);
  const __m256i mask = _mm256_set1_epi32(0xFFFF);
  const __m256i bias = _mm256_set1_epi32(32767);
  t.lowFlipped[1] = _mm256_packs_epi32(_mm256_sub_epi32(bias, _mm256_and_si256(sLo, mask)),
                                       _mm256_sub_epi32(bias, _mm256_and_si256(sHi, mask)));
  return t;
}

__attribute__((target("avx2"))) inline __m256i channelAvx(__m256i aHigh, __m256i aLowBiased,
                                                          __m256i bHigh, __m256i bLowFlipped) {
  const __m256i carry = _mm256_cmpgt_epi16(aLowBiased, bLowFlipped);
  return _mm256_sub_epi16(_mm256_add_epi16(aHigh, bHigh), carry);
}

__attribute__((target("avx2"))) inline void lumaRowAvx(const uint8_t* y, uint8_t* out,
                                                       const ChromaAvx& lo, const ChromaAvx& hi) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i k = _mm256_set1_epi16(kLumaLow);
  const __m256i sixteen = _mm256_set1_epi16(16);
  const __m256i signBit = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
  const __m256i v[2] = {_mm256_sub_epi16(_mm256_unpacklo_epi8(luma, zero), sixteen),
                        _mm256_sub_epi16(_mm256_unpackhi_epi8(luma, zero), sixteen)};
  __m256i aH[2], aL[2], bytes[3];
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    aH[h] = _mm256_add_epi16(v[h], _mm256_mulhi_epi16(v[h], k));
    aL[h] = _mm256_xor_si256(_mm256_mullo_epi16(v[h], k), signBit);
  }
#pragma GCC unroll 3
  for (int c = 0; c < 3; ++c)
    bytes[c] = _mm256_packus_epi16(channelAvx(aH[0], aL[0], lo.high[c], lo.lowFlipped[c]),
                                   channelAvx(aH[1], aL[1], hi.high[c], hi.lowFlipped[c]));
  const __m256i bgLo = _mm256_unpacklo_epi8(bytes[0], bytes[1]);  // 0-7 | 16-23
  const __m256i bgHi = _mm256_unpackhi_epi8(bytes[0], bytes[1]);  // 8-15 | 24-31
  const __m256i r0Lo = _mm256_unpacklo_epi8(bytes[2], zero);
  const __m256i r0Hi = _mm256_unpackhi_epi8(bytes[2], zero);
  const __m256i p0 = _mm256_unpacklo_epi16(bgLo, r0Lo);  // 0-3 | 16-19
  const __m256i p1 = _mm256_unpackhi_epi16(bgLo, r0Lo);  // 4-7 | 20-23
  const __m256i p2 = _mm256_unpacklo_epi16(bgHi, r0Hi);  // 8-11 | 24-27
  const __m256i p3 = _mm256_unpackhi_epi16(bgHi, r0Hi);  // 12-15 | 28-31
  auto* o = reinterpret_cast<__m256i*>(out);
  _mm256_storeu_si256(o + 0, _mm256_permute2x128_si256(p0, p1, 0x20));
  _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(p2, p3, 0x20));
  _mm256_storeu_si256(o + 2, _mm256_permute2x128_si256(p0, p1, 0x31));
  _mm256_storeu_si256(o + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
}

__attribute__((target("avx2"))) int32_t rowsAvx(const uint8_t* y0, const uint8_t* y1,
                                                const uint8_t* c1, const uint8_t* c2, int32_t width,
                                                uint8_t* out0, uint8_t* out1) {
  const __m256i half = _mm256_set1_epi16(128);
  const int32_t n = width / 32 * 32;
  for (int32_t x = 0; x < n; x += 32) {
    const __m256i u = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c1 + x / 2))), half);
    const __m256i v = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c2 + x / 2))), half);
    const ChromaAvx t = chromaTermsAvx(u, v);
    ChromaAvx lo, hi;
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
      lo.high[c] = _mm256_unpacklo_epi16(t.high[c], t.high[c]);
      hi.high[c] = _mm256_unpackhi_epi16(t.high[c], t.high[c]);
      lo.lowFlipped[c] = _mm256_unpacklo_epi16(t.lowFlipped[c], t.lowFlipped[c]);
      hi.lowFlipped[c] = _mm256_unpackhi_epi16(t.lowFlipped[c], t.lowFlipped[c]);
    }
    // Asking for the output lines ahead keeps both rows' stores from waiting
    // on memory once the picture outgrows the caches. A prefetch never faults,
    // so running past the end of a row is harmless.
    for (int line = 0; line < 2; ++line) {
      __builtin_prefetch(out0 + x * 4 + kPrefetchAhead + line * 64, 1, 3);
      if (out1) __builtin_prefetch(out1 + x * 4 + kPrefetchAhead + line * 64, 1, 3);
    }
    lumaRowAvx(y0 + x, out0 + x * 4, lo, hi);
    if (y1) lumaRowAvx(y1 + x, out1 + x * 4, lo, hi);
  }
  // A remainder of 16 or more still goes through the SSE2 step.
  return n + rowsSse(y0 + n, y1 ? y1 + n : nullptr, c1 + n / 2, c2 + n / 2, width - n, out0 + n * 4,
                     out1 ? out1 + n * 4 : nullptr);
}

// ---- AVX-512BW: 64 pixels per row per step ----
// The same arithmetic as AVX2 over four 128-bit lanes. The carry compare gives
// a mask, so the carry is added under it instead of subtracting all-ones. The
// unpacks leave quarter k of every lane's pixels in p[k]; a 4 × 4 transpose of
// lanes puts them back in order for the four stores.

struct ChromaAvx512 {
  __m512i high[3];
  __m512i lowFlipped[3];
};

#define TAVOLEN_AVX512 __attribute__((target("avx512f,avx512bw")))
// GCC 12's own AVX-512 intrinsics start their results from a deliberately
// undefined register, which its flow analysis then reports as uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

TAVOLEN_AVX512 inline ChromaAvx512 chromaTermsAvx512(__m512i c1, __m512i c2) {
  ChromaAvx512 t;
  const __m512i flip = _mm512_set1_epi16(0x7FFF);
  const __m512i k0 = _mm512_set1_epi16(kC1Byte0Low);
  t.high[0] = _mm512_add_epi16(_mm512_add_epi16(c1, c1), _mm512_mulhi_epi16(c1, k0));
  t.lowFlipped[0] = _mm512_xor_si512(_mm512_mullo_epi16(c1, k0), flip);
  const __m512i k2 = _mm512_set1_epi16(kC2Byte2Low);
  t.high[2] = _mm512_add_epi16(_mm512_add_epi16(c2, c2), _mm512_mulhi_epi16(c2, k2));
  t.lowFlipped[2] = _mm512_xor_si512(_mm512_mullo_epi16(c2, k2), flip);
  const __m512i k1 = _mm512_set1_epi32(static_cast<int32_t>(
      (static_cast<uint32_t>(static_cast<uint16_t>(kC2Byte1)) << 16) | static_cast<uint16_t>(kC1Byte1Low)));
  const __m512i sLo = _mm512_madd_epi16(_mm512_unpacklo_epi16(c1, c2), k1);
  const __m512i sHi = _mm512_madd_epi16(_mm512_unpackhi_epi16(c1, c2), k1);
  t.high[1] = _mm512_sub_epi16(
      _mm512_packs_epi32(_mm512_srai_epi32(sLo, 16), _mm512_srai_epi32(sHi, 16)), c1);
  const __m512i mask = _mm512_set1_epi32(0xFFFF);
  const __m512i bias = _mm512_set1_epi32(32767);
  t.lowFlipped[1] = _mm512_packs_epi32(_mm512_sub_epi32(bias, _mm512_and_si512(sLo, mask)),
                                       _mm512_sub_epi32(bias, _mm512_and_si512(sHi, mask)));
  return t;
}

TAVOLEN_AVX512 inline __m512i channelAvx512(__m512i aHigh, __m512i aLowBiased, __m512i bHigh,
                                            __m512i bLowFlipped) {
  const __mmask32 carry = _mm512_cmpgt_epi16_mask(aLowBiased, bLowFlipped);
  const __m512i sum = _mm512_add_epi16(aHigh, bHigh);
  return _mm512_mask_add_epi16(sum, carry, sum, _mm512_set1_epi16(1));
}

TAVOLEN_AVX512 inline void lumaRowAvx512(const uint8_t* y, uint8_t* out, const ChromaAvx512& lo,
                                         const ChromaAvx512& hi) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i luma = _mm512_loadu_si512(y);
  const __m512i k = _mm512_set1_epi16(kLumaLow);
  const __m512i sixteen = _mm512_set1_epi16(16);
  const __m512i signBit = _mm512_set1_epi16(static_cast<int16_t>(0x8000));
  const __m512i v[2] = {_mm512_sub_epi16(_mm512_unpacklo_epi8(luma, zero), sixteen),
                        _mm512_sub_epi16(_mm512_unpackhi_epi8(luma, zero), sixteen)};
  __m512i aH[2], aL[2], bytes[3];
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    aH[h] = _mm512_add_epi16(v[h], _mm512_mulhi_epi16(v[h], k));
    aL[h] = _mm512_xor_si512(_mm512_mullo_epi16(v[h], k), signBit);
  }
#pragma GCC unroll 3
  for (int c = 0; c < 3; ++c)
    bytes[c] = _mm512_packus_epi16(channelAvx512(aH[0], aL[0], lo.high[c], lo.lowFlipped[c]),
                                   channelAvx512(aH[1], aL[1], hi.high[c], hi.lowFlipped[c]));
  const __m512i bgLo = _mm512_unpacklo_epi8(bytes[0], bytes[1]);
  const __m512i bgHi = _mm512_unpackhi_epi8(bytes[0], bytes[1]);
  const __m512i r0Lo = _mm512_unpacklo_epi8(bytes[2], zero);
  const __m512i r0Hi = _mm512_unpackhi_epi8(bytes[2], zero);
  const __m512i p0 = _mm512_unpacklo_epi16(bgLo, r0Lo);  // 0-3 | 16-19 | 32-35 | 48-51
  const __m512i p1 = _mm512_unpackhi_epi16(bgLo, r0Lo);  // 4-7 | 20-23 | ...
  const __m512i p2 = _mm512_unpacklo_epi16(bgHi, r0Hi);  // 8-11 | 24-27 | ...
  const __m512i p3 = _mm512_unpackhi_epi16(bgHi, r0Hi);  // 12-15 | 28-31 | ...
  const __m512i a = _mm512_shuffle_i32x4(p0, p1, 0x44);  // p0.0 p0.1 p1.0 p1.1
  const __m512i b = _mm512_shuffle_i32x4(p2, p3, 0x44);  // p2.0 p2.1 p3.0 p3.1
  const __m512i c = _mm512_shuffle_i32x4(p0, p1, 0xEE);  // p0.2 p0.3 p1.2 p1.3
  const __m512i d = _mm512_shuffle_i32x4(p2, p3, 0xEE);  // p2.2 p2.3 p3.2 p3.3
  _mm512_storeu_si512(out + 0, _mm512_shuffle_i32x4(a, b, 0x88));
  _mm512_storeu_si512(out + 64, _mm512_shuffle_i32x4(a, b, 0xDD));
  _mm512_storeu_si512(out + 128, _mm512_shuffle_i32x4(c, d, 0x88));
  _mm512_storeu_si512(out + 192, _mm512_shuffle_i32x4(c, d, 0xDD));
}

TAVOLEN_AVX512 int32_t rowsAvx512(const uint8_t* y0, const uint8_t* y1, const uint8_t* c1,
                                  const uint8_t* c2, int32_t width, uint8_t* out0, uint8_t* out1) {
  const __m512i half = _mm512_set1_epi16(128);
  const int32_t n = width / 64 * 64;
  for (int32_t x = 0; x < n; x += 64) {
    const __m512i u = _mm512_sub_epi16(
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c1 + x / 2))), half);
    const __m512i v = _mm512_sub_epi16(
        _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c2 + x / 2))), half);
    const ChromaAvx512 t = chromaTermsAvx512(u, v);
    ChromaAvx512 lo, hi;
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
      lo.high[c] = _mm512_unpacklo_epi16(t.high[c], t.high[c]);
      hi.high[c] = _mm512_unpackhi_epi16(t.high[c], t.high[c]);
      lo.lowFlipped[c] = _mm512_unpacklo_epi16(t.lowFlipped[c], t.lowFlipped[c]);
      hi.lowFlipped[c] = _mm512_unpackhi_epi16(t.lowFlipped[c], t.lowFlipped[c]);
    }
    for (int line = 0; line < 4; ++line) {
      __builtin_prefetch(out0 + x * 4 + kPrefetchAhead + line * 64, 1, 3);
      if (out1) __builtin_prefetch(out1 + x * 4 + kPrefetchAhead + line * 64, 1, 3);
    }
    lumaRowAvx512(y0 + x, out0 + x * 4, lo, hi);
    if (y1) lumaRowAvx512(y1 + x, out1 + x * 4, lo, hi);
  }
  // A remainder of 16 or more still goes through the narrower steps.
  return n + rowsAvx(y0 + n, y1 ? y1 + n : nullptr, c1 + n / 2, c2 + n / 2, width - n, out0 + n * 4,
                     out1 ? out1 + n * 4 : nullptr);
}

#pragma GCC diagnostic pop
#undef TAVOLEN_AVX512

using RowsFn = int32_t (*)(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int32_t,
                           uint8_t*, uint8_t*);

}  // namespace

PlanarLayout planarLayout(int32_t width, int32_t height) {
  PlanarLayout l;
  l.chromaWidth = (width + 1) / 2;
  l.chromaHeight = (height + 1) / 2;
  const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
  const size_t chroma = static_cast<size_t>(l.chromaWidth) * static_cast<size_t>(l.chromaHeight);
  l.firstChromaOffset = luma;
  l.secondChromaOffset = luma + chroma;
  l.totalBytes = luma + 2 * chroma;
  return l;
}

const ColorTables& initColorTables() {
  std::call_once(gTablesOnce, [] { fillTables(gTables); });
  return gTables;
}

bool convertPathAvailable(ConvertPath path) {
  switch (path) {
    case ConvertPath::Table:
      return true;
    case ConvertPath::Sse2:
      return __builtin_cpu_supports("sse2");
    case ConvertPath::Avx2:
      return __builtin_cpu_supports("avx2");
    case ConvertPath::Avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
  }
  return false;
}

ConvertPath bestConvertPath() {
  static const ConvertPath best = convertPathAvailable(ConvertPath::Avx512) ? ConvertPath::Avx512
                                  : convertPathAvailable(ConvertPath::Avx2) ? ConvertPath::Avx2
                                  : convertPathAvailable(ConvertPath::Sse2) ? ConvertPath::Sse2
                                                                            : ConvertPath::Table;
  return best;
}

PlanarPicture packedPicture(const uint8_t* picture, int32_t width, int32_t height) {
  if (!picture || width < 1 || height < 1) return {};
  const PlanarLayout l = planarLayout(width, height);
  return {picture, picture + l.firstChromaOffset, picture + l.secondChromaOffset, width,
          l.chromaWidth, width, height};
}

void convertPicture(ConvertPath path, const uint8_t* picture, int32_t width, int32_t height,
                    uint8_t* out, ptrdiff_t pitch) {
  convertPicture(path, packedPicture(picture, width, height), out, pitch);
}

void convertPicture(ConvertPath path, const PlanarPicture& p, uint8_t* out, ptrdiff_t pitch) {
  if (!p.luma || !p.c1 || !p.c2 || !out || p.width < 1 || p.height < 1) return;
  const ColorTables& t = initColorTables();
  if (!convertPathAvailable(path)) path = ConvertPath::Table;
  RowsFn rows = nullptr;
  switch (path) {
    case ConvertPath::Table: break;
    case ConvertPath::Sse2: rows = rowsSse; break;
    case ConvertPath::Avx2: rows = rowsAvx; break;
    case ConvertPath::Avx512: rows = rowsAvx512; break;
  }
  const int32_t width = p.width, height = p.height;
  for (int32_t r = 0; r < height; r += 2) {
    const bool pair = r + 1 < height;
    const uint8_t* y0 = p.luma + r * p.lumaStride;
    const uint8_t* y1 = pair ? y0 + p.lumaStride : nullptr;
    const uint8_t* c1 = p.c1 + (r / 2) * p.chromaStride;
    const uint8_t* c2 = p.c2 + (r / 2) * p.chromaStride;
    uint8_t* o0 = out + r * pitch;
    uint8_t* o1 = pair ? o0 + pitch : nullptr;
    const int32_t done = rows ? rows(y0, y1, c1, c2, width, o0, o1) : 0;
    tableRow(t, y0, c1, c2, done, width, o0);
    if (pair) tableRow(t, y1, c1, c2, done, width, o1);
  }
}

}  // namespace tavolen
