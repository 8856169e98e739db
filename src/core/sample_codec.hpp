// Encoders from the 24-bit sample scale to little-endian PCM bytes.
#pragma once

#include <cstdint>

// Three bytes a sample: the two's-complement low 24 bits, least significant first.
void encode24(const int32_t* samples, uint8_t* bytes, int32_t length);

// Two bytes a sample: the sample shifted right by 8 with its sign kept
// (rounding down), least significant byte first.
void encode16(const int32_t* samples, uint8_t* bytes, int32_t length);

// The highest sample of the 24-bit scale; the lowest is one below its negative.
constexpr int32_t kFullScale24 = 8388607;

// A sample truncated toward zero and held within the 24-bit scale: a sum or
// a gain past full scale stays at full scale instead of wrapping. NaN gives
// the lowest sample.
int32_t saturated(double sample);

// out[i] = saturated(samples[i] x gain) for `length` samples.
void scaleSaturated(const int32_t* samples, double gain, int32_t* out, int64_t length);

// How a quieter click is made from a full one as it is laid: each sample
// divided by `divisor` (truncated), then multiplied by `level` (truncated).
struct SampleScale {
    int32_t divisor = 1;
    double level = 1.0;
};

// Encodes `length` samples scaled by `scale` in `bytesPerSample` (2 or 3)
// bytes each, as encode16 and encode24 would encode the scaled samples,
// saturated at full scale.
void encodeScaled(const int32_t* samples, SampleScale scale, uint8_t* bytes, int64_t length,
                  int32_t bytesPerSample);
