#pragma once
// IMA ADPCM in both directions and the G.711 A-law expansion. Every call starts
// from predictor 0 / step index 0, so each block decodes on its own.

#include <cstdint>

namespace tavolen {

struct AdpcmState {
  int32_t encoderPredicted = 0;
  int32_t encoderIndex = 0;
  int32_t decoderPredicted = 0;
  int32_t decoderIndex = 0;
};
static_assert(sizeof(AdpcmState) == 16);

// Decodes count bytes into 2 * count samples, high nibble first.
void adpcmDecode(AdpcmState& state, const uint8_t* in, int count, int16_t* out);
// Encodes byteCount / 2 samples (byteCount bytes of PCM) into byteCount / 4 bytes.
void adpcmEncode(AdpcmState& state, const int16_t* samples, int byteCount, uint8_t* out);
// Expands count A-law bytes into count samples.
void alawExpand(const uint8_t* in, int count, int16_t* out);
int16_t alawToLinear(uint8_t a);

}  // namespace tavolen
