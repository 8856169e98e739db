// Finding a wave file's audio by walking its RIFF chunks.
//
//   offset  size  value
//   0       4     "RIFF"
//   4       4     bytes that follow (the file's length - 8)
//   8       4     "WAVE"
//   12      ...   chunks: 4-byte id, 4-byte size, the payload, and one pad
//                 byte after a payload of odd length
//
// Every integer is unsigned, least significant byte first. The walk starts
// at offset 12 and stops at the first "data" chunk; the chunks before it
// must include the "fmt " chunk describing the samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The audio may start no further into the file than this: the reach of the
// search through the file's first bytes that older versions made, kept so
// that a file they refused is still refused.
constexpr uint64_t kDataChunkReach = 15000;

// Bytes of the file's start that the walk needs: every chunk header up to
// the reach, and the whole of a format chunk that starts within it.
constexpr size_t kWalkHeadBytes = static_cast<size_t>(kDataChunkReach) + 8 + 40;

struct WaveFormat {
    uint16_t tag = 0;            // 1 for PCM, 0xFFFE for the extensible form
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t byteRate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    bool pcmSubformat = false;   // the extensible form's subformat is PCM
    uint16_t validBits = 0;      // the extensible form's valid bits (0: not stated)
};

struct WaveLayout {
    bool riffWave = false;       // starts "RIFF" ... "WAVE"
    bool hasFormat = false;      // a whole "fmt " chunk of 16 bytes or more came before the audio
    WaveFormat format;
    bool hasData = false;        // the walk reached a "data" chunk within the reach
    uint64_t dataTag = 0;        // offset of the data chunk's id
    uint32_t dataSize = 0;       // its size field as stated
};

// Walks the chunks in `head`, the file's first `headSize` bytes (at most
// kWalkHeadBytes are looked at), of a file `fileBytes` long.
WaveLayout walkChunks(const uint8_t* head, size_t headSize, uint64_t fileBytes);

// Whether the format describes one-channel integer PCM at `rate` and `bits`.
bool formatMatches(const WaveFormat& format, uint32_t rate, uint32_t bits);

// Where the audio of the walked file ends: the stated data size, cut to what
// the file holds, rounded down to whole samples of `bytesPerSample`.
uint64_t audioEnd(const WaveLayout& layout, uint64_t fileBytes, uint32_t bytesPerSample);
