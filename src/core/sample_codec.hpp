// Encoders from the 24-bit sample scale to little-endian PCM bytes.
#pragma once

#include <cstdint>

// Three bytes a sample: the two's-complement low 24 bits, least significant first.
void encode24(const int32_t* samples, uint8_t* bytes, int32_t length);

// Two bytes a sample: the sample shifted right by 8 with its sign kept
// (rounding down), least significant byte first.
void encode16(const int32_t* samples, uint8_t* bytes, int32_t length);

// How a quieter click is made from a full one as it is laid: each sample
// divided by `divisor` (truncated), then multiplied by `level` (truncated).
struct SampleScale {
    int32_t divisor = 1;
    double level = 1.0;
};

// Encodes `length` samples scaled by `scale` in `bytesPerSample` (2 or 3)
// bytes each, as encode16 and encode24 would encode the scaled samples.
void encodeScaled(const int32_t* samples, SampleScale scale, uint8_t* bytes, int64_t length,
                  int32_t bytesPerSample);
