#include "wave/header.hpp"

#include "core/timing.hpp"

#include <cstring>

uint32_t bytesPerSample(uint32_t bits) { return bits == 24 ? 3 : bits / 8; }

void putU16le(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void putU32le(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

uint16_t getU16le(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t getU32le(const uint8_t* at) {
    return uint32_t{at[0]} | (uint32_t{at[1]} << 8) | (uint32_t{at[2]} << 16) |
           (uint32_t{at[3]} << 24);
}

std::array<uint8_t, kHeaderBytes> headerBytes(uint32_t rate, uint32_t bits, int32_t frames) {
    const uint32_t b = bytesPerSample(bits);
    const uint32_t dataBytes = static_cast<uint32_t>(frames) * b;
    std::array<uint8_t, kHeaderBytes> h{};
    std::memcpy(&h[0], "RIFF", 4);
    putU32le(&h[4], dataBytes + 36);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    putU32le(&h[16], 16);
    putU16le(&h[20], 1);
    putU16le(&h[22], 1);
    putU32le(&h[24], rate);
    putU32le(&h[28], rate * b);
    putU16le(&h[32], static_cast<uint16_t>(b));
    putU16le(&h[34], static_cast<uint16_t>(bits));
    std::memcpy(&h[36], "data", 4);
    putU32le(&h[40], dataBytes);
    return h;
}

size_t headerSize(uint32_t channels) { return channels > 2 ? kHeaderBytes + 36 : kHeaderBytes; }

uint32_t speakerMask(uint32_t channels) {
    return channels >= kSpeakerPositions ? (1u << kSpeakerPositions) - 1 : (1u << channels) - 1;
}

std::vector<uint8_t> headerBytes(uint32_t rate, uint32_t bits, uint32_t channels, int32_t frames) {
    const std::array<uint8_t, kHeaderBytes> mono = headerBytes(rate, bits, frames);
    std::vector<uint8_t> h(mono.begin(), mono.end());
    if (channels <= 1) return h;
    const uint32_t align = bytesPerSample(bits) * channels;
    const uint32_t dataBytes = static_cast<uint32_t>(frames) * align;
    putU16le(&h[22], static_cast<uint16_t>(channels));
    putU32le(&h[28], rate * align);
    putU16le(&h[32], static_cast<uint16_t>(align));
    putU32le(&h[4], dataBytes + 36);
    putU32le(&h[40], dataBytes);
    if (channels <= 2) return h;
    // KSDATAFORMAT_SUBTYPE_PCM: 00000001-0000-0010-8000-00AA00389B71.
    static const uint8_t kPcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                         0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    uint8_t extension[36];
    putU16le(&extension[0], 22);
    putU16le(&extension[2], static_cast<uint16_t>(bits));
    putU32le(&extension[4], speakerMask(channels));
    std::memcpy(&extension[8], kPcmGuid, sizeof kPcmGuid);
    std::memcpy(&extension[24], "fact", 4);
    putU32le(&extension[28], 4);
    putU32le(&extension[32], static_cast<uint32_t>(frames));
    h.insert(h.begin() + 36, extension, extension + sizeof extension);
    putU32le(&h[16], 40);
    putU16le(&h[20], 0xFFFE);
    putU32le(&h[4], dataBytes + 72);
    return h;
}

bool fitsWaveSize(uint64_t bytes) { return bytes <= kMaxWaveFileBytes; }

std::optional<size_t> firstSectionPastSizeLimit(const std::vector<ScheduledSection>& sections,
                                                uint32_t bytesPerSample, uint64_t startBytes) {
    uint64_t audioBytes = 0;
    for (size_t i = 0; i < sections.size(); ++i) {
        // Each section's length is its own: it starts where the one before ended.
        audioBytes += static_cast<uint64_t>(trackLength({sections[i]})) * bytesPerSample;
        if (!fitsWaveSize(startBytes + paddedBytes(audioBytes))) return i;
    }
    return std::nullopt;
}
