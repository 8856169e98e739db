// Helpers for the tests of wave files and playback: little-endian fields,
// hand-made wave files, looped beats and captured streams.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.hpp"

using Bytes = std::vector<uint8_t>;

inline uint32_t u32At(const Bytes& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

inline uint16_t u16At(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

inline std::string textAt(const Bytes& b, size_t at) {
    return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
}

// Sample `index` of the samples from `start`, sign-extended from 2 or 3 bytes.
inline int32_t sampleAt(const Bytes& b, size_t start, size_t index, size_t bytesPerSample) {
    const size_t at = start + index * bytesPerSample;
    if (bytesPerSample == 2) return static_cast<int16_t>(u16At(b, at));
    return static_cast<int32_t>(uint32_t{b[at]} << 8 | uint32_t{b[at + 1]} << 16 |
                                uint32_t{b[at + 2]} << 24) >>
           8;
}

inline void putLE(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The header of a PCM wave file stating `dataBytes` of samples: RIFF, WAVE,
// the format chunk, then, when `dataTagAt` is past 36, a padding chunk that
// moves the data tag there.
inline std::string waveHeader(uint32_t rate, uint16_t bits, uint16_t channels, uint32_t dataBytes,
                              size_t dataTagAt = 36) {
    const uint32_t align = channels * (bits / 8u);
    std::string s = "RIFF";
    putLE(s, static_cast<uint32_t>(dataTagAt + dataBytes), 4);
    s += "WAVEfmt ";
    for (const auto& [v, n] : {std::pair<uint32_t, int>{16, 4},
                               {1, 2},
                               {channels, 2},
                               {rate, 4},
                               {rate * align, 4},
                               {align, 2},
                               {bits, 2}}) {
        putLE(s, v, n);
    }
    if (dataTagAt > 36) {
        s += "JUNK";
        putLE(s, static_cast<uint32_t>(dataTagAt - 44), 4);
        s.append(dataTagAt - 44, '\0');
    }
    s += "data";
    putLE(s, dataBytes, 4);
    return s;
}

// The same with its samples, all zero.
inline std::string handMadeWave(uint32_t rate, uint16_t bits, uint16_t channels, uint32_t dataBytes,
                                size_t dataTagAt = 36) {
    return waveHeader(rate, bits, channels, dataBytes, dataTagAt) + std::string(dataBytes, '\0');
}

// Up to `size` bytes from `offset`; 64-bit offsets on every architecture.
inline Bytes readRange(const std::string& path, uint64_t offset, size_t size) {
    Bytes bytes(size);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t got = fd < 0 ? -1 : ::pread(fd, bytes.data(), size, static_cast<off_t>(offset));
    if (fd >= 0) ::close(fd);
    bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return bytes;
}

inline bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

inline std::string measureLines(int first, int last) {
    std::string text;
    for (int m = first; m <= last; ++m) text += "\tMeasure  " + std::to_string(m) + "\n";
    return text;
}

// `frames` frames of a beat looped: frame f is frame f mod beatLength of the
// beat, the click's frame while the click lasts and silence after it. A beat
// below one frame is silence throughout.
inline Bytes loopedBeat(const Bytes& click, int frameBytes, int64_t beatLength, int64_t frames) {
    const int64_t clickFrames = static_cast<int64_t>(click.size()) / frameBytes;
    Bytes stream;
    stream.reserve(static_cast<size_t>(frames * frameBytes));
    for (int64_t f = 0; f < frames; ++f) {
        const int64_t pos = beatLength > 0 ? f % beatLength : clickFrames;
        for (int b = 0; b < frameBytes; ++b) {
            stream.push_back(pos < clickFrames ? click[static_cast<size_t>(pos * frameBytes + b)]
                                               : 0);
        }
    }
    return stream;
}

// Sections played one after another, each a beat length and the frames played.
using Sections = std::vector<std::pair<int64_t, int64_t>>;
inline Bytes loopedBeats(const Bytes& click, int frameBytes, const Sections& sections) {
    Bytes stream;
    for (const auto& [beatLength, frames] : sections) {
        const Bytes section = loopedBeat(click, frameBytes, beatLength, frames);
        stream.insert(stream.end(), section.begin(), section.end());
    }
    return stream;
}

// Compares two streams and names the first frame that differs.
inline ::testing::AssertionResult sameStream(const Bytes& actual, const Bytes& expected,
                                             int frameBytes) {
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "stream holds " << actual.size() / frameBytes << " frames, expected "
               << expected.size() / frameBytes;
    }
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            return ::testing::AssertionFailure()
                   << "first difference at frame " << i / frameBytes << " (byte " << i
                   << "): " << int{actual[i]} << " instead of " << int{expected[i]};
        }
    }
    return ::testing::AssertionSuccess();
}

// The capture file of writeCaptureAsoundrc: its pipe may still be writing
// when the program has ended, so this waits until it holds `bytes` bytes or
// has not changed (nor come into being) for a second.
inline Bytes readCapture(const std::string& path, size_t bytes) {
    uintmax_t last = 0;
    for (int i = 0, unchanged = 0; i < 500 && unchanged < 50; ++i) {
        std::error_code ec;
        const uintmax_t size = std::filesystem::file_size(path, ec);  // all ones when missing
        if (size == bytes && size == last) break;
        unchanged = size == last ? unchanged + 1 : 0;
        last = size;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return readBytes(path);
}
