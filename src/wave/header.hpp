// The 44-byte header of a one-channel PCM wave file.
//
//   offset size value
//   0      4    "RIFF"
//   4      4    frames x B + 36      (B = bytes per sample)
//   8      4    "WAVE"
//   12     4    "fmt "
//   16     4    16                   (size of the format block)
//   20     2    1                    (PCM)
//   22     2    1                    (one channel)
//   24     4    rate
//   28     4    rate x B             (bytes per second)
//   32     2    B                    (block align)
//   34     2    bits
//   36     4    "data"
//   40     4    frames x B
//
// Every integer is unsigned, least significant byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/beat_schedule.hpp"

constexpr size_t kHeaderBytes = 44;

// The largest file whose size fields are exact: 4 GiB - 1 bytes.
constexpr uint64_t kMaxWaveFileBytes = 0xFFFFFFFFull;

// Bytes per sample: 3 at 24 bits, otherwise bits / 8.
uint32_t bytesPerSample(uint32_t bits);

void putU16le(uint8_t* at, uint16_t value);
void putU32le(uint8_t* at, uint32_t value);
uint16_t getU16le(const uint8_t* at);
uint32_t getU32le(const uint8_t* at);

// The header for a file holding `frames` samples.
std::array<uint8_t, kHeaderBytes> headerBytes(uint32_t rate, uint32_t bits, int32_t frames);

// Audio bytes with the pad byte that follows an odd number of them.
constexpr uint64_t paddedBytes(uint64_t dataBytes) { return dataBytes + (dataBytes & 1u); }

// Whether a file of `bytes` bytes still has exact size fields.
bool fitsWaveSize(uint64_t bytes);

// The first of the sections (of `bytesPerSample` bytes a frame) whose end
// would take a file of `startBytes` bytes to 4 GiB or more; none when all fit.
std::optional<size_t> firstSectionPastSizeLimit(const std::vector<ScheduledSection>& sections,
                                                uint32_t bytesPerSample, uint64_t startBytes);
