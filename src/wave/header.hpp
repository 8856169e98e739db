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
//
// A file of C channels states C at 22, rate x B x C at 28 and B x C at 32.
// Past two channels it is WAVE_FORMAT_EXTENSIBLE, its format block 40 bytes,
// so that readers know the depth of the samples and where the channels go:
//
//   16     4    40                   (size of the format block)
//   20     2    0xFFFE               (extensible)
//   22..35                           as above, for C channels
//   36     2    22                   (bytes of the extension)
//   38     2    bits                 (valid bits of each sample)
//   40     4    channel mask         (speakers of the first channels)
//   44     16   the PCM subformat GUID
//   60     4    "fact"
//   64     4    4
//   68     4    frames
//   72     4    "data"
//   76     4    frames x B x C
//
// The mask names the standard speakers in their order for the first
// channels (0x7 for 3, 0x3F for 6), all 18 of them past 18 channels, the
// rest unassigned: readers such as libsndfile expect one. The names are
// only names: every channel carries what the track lays on it. A format
// other than plain PCM asks for the fact chunk, which states the frames.
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

// The header for a file of `channels` channels holding `frames` frames:
// the one above for one channel, plain PCM for two, extensible past two.
std::vector<uint8_t> headerBytes(uint32_t rate, uint32_t bits, uint32_t channels, int32_t frames);

// Bytes of that header: 44, or 80 past two channels.
size_t headerSize(uint32_t channels);

// Where the fact chunk of that header states the frames.
constexpr uint64_t kFactFrames = 68;

// Speaker positions a channel mask can name.
constexpr uint32_t kSpeakerPositions = 18;

// The extensible header's channel mask for `channels` channels.
uint32_t speakerMask(uint32_t channels);

// Audio bytes with the pad byte that follows an odd number of them.
constexpr uint64_t paddedBytes(uint64_t dataBytes) { return dataBytes + (dataBytes & 1u); }

// Whether a file of `bytes` bytes still has exact size fields.
bool fitsWaveSize(uint64_t bytes);

// The first of the sections (of `bytesPerSample` bytes a frame) whose end
// would take a file of `startBytes` bytes to 4 GiB or more; none when all fit.
std::optional<size_t> firstSectionPastSizeLimit(const std::vector<ScheduledSection>& sections,
                                                uint32_t bytesPerSample, uint64_t startBytes);
