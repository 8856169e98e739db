// Encoders from the 24-bit sample scale to little-endian PCM bytes.
#pragma once

#include <cstdint>

// Three bytes a sample: the two's-complement low 24 bits, least significant first.
void encode24(const int32_t* samples, uint8_t* bytes, int32_t length);

// Two bytes a sample: the sample shifted right by 8 with its sign kept
// (rounding down), least significant byte first.
void encode16(const int32_t* samples, uint8_t* bytes, int32_t length);
