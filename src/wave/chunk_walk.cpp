#include "wave/chunk_walk.hpp"

#include <algorithm>
#include <cstring>

#include "wave/header.hpp"
#include "wave/riff_chunks.hpp"

namespace {

constexpr uint64_t kFirstChunk = 12;
constexpr uint32_t kFormatBytes = 16;
constexpr uint32_t kExtensibleFormatBytes = 40;
constexpr uint16_t kPcmTag = 1;
constexpr uint16_t kExtensibleTag = 0xFFFE;

// The extensible form names its sample coding with a GUID; this is PCM's.
constexpr uint8_t kPcmSubformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

WaveFormat readFormat(const uint8_t* payload, uint32_t size) {
    WaveFormat f;
    f.tag = getU16le(payload);
    f.channels = getU16le(payload + 2);
    f.rate = getU32le(payload + 4);
    f.byteRate = getU32le(payload + 8);
    f.blockAlign = getU16le(payload + 12);
    f.bits = getU16le(payload + 14);
    if (f.tag == kExtensibleTag && size >= kExtensibleFormatBytes && getU16le(payload + 16) >= 22) {
        f.validBits = getU16le(payload + 18);
        f.pcmSubformat = std::memcmp(payload + 24, kPcmSubformat, sizeof kPcmSubformat) == 0;
    }
    return f;
}

}  // namespace

WaveLayout walkChunks(const uint8_t* head, size_t headSize, uint64_t fileBytes) {
    WaveLayout layout;
    const uint64_t seen = std::min<uint64_t>({headSize, kWalkHeadBytes, fileBytes});
    if (seen < kFirstChunk || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        return layout;
    }
    layout.riffWave = true;
    RiffChunks chunks(head + kFirstChunk, static_cast<size_t>(seen - kFirstChunk));
    RiffChunk c;
    while (chunks.next(c) && kFirstChunk + c.offset <= kDataChunkReach) {
        if (c.is("data")) {
            layout.hasData = true;
            layout.dataTag = kFirstChunk + c.offset;
            layout.dataSize = c.size;
            return layout;
        }
        if (c.is("fmt ") && !layout.hasFormat && c.size >= kFormatBytes &&
            c.held >= std::min(c.size, kExtensibleFormatBytes)) {
            layout.hasFormat = true;
            layout.format = readFormat(c.payload, c.size);
        }
    }
    return layout;
}

bool formatMatches(const WaveFormat& f, uint32_t rate, uint32_t bits) {
    const uint32_t b = bytesPerSample(bits);
    const bool pcm = f.tag == kPcmTag ||
                     (f.tag == kExtensibleTag && f.pcmSubformat &&
                      (f.validBits == 0 || f.validBits == bits));
    return pcm && f.channels == 1 && f.rate == rate && f.blockAlign == b && f.bits == bits;
}

uint64_t audioEnd(const WaveLayout& layout, uint64_t fileBytes, uint32_t bytesPerSample) {
    const uint64_t start = layout.dataTag + 8;
    const uint64_t held = fileBytes > start ? fileBytes - start : 0;
    const uint64_t size = std::min<uint64_t>(layout.dataSize, held);
    return start + size - size % bytesPerSample;
}
