// Fuzzes the append check and the append itself: whatever a wave file holds,
// `+` either refuses it and leaves every byte as it was, or adds its samples
// right where the audio the chunks lead to ends, keeps everything before
// them, and leaves a file that ends with its audio and states true sizes.
//
// The file lives in memory (memfd) and is reached by its /proc path, so that
// the real object opens, locks, walks, writes and commits it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/timing.hpp"
#include "fuzz_check.hpp"
#include "wave/chunk_walk.hpp"
#include "wave/header.hpp"
#include "wave/wave_file.hpp"

namespace {

std::vector<uint8_t> contents(int fd) {
    std::vector<uint8_t> bytes(static_cast<size_t>(::lseek(fd, 0, SEEK_END)));
    FUZZ_REQUIRE(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    return bytes;
}

WaveLayout walk(const std::vector<uint8_t>& bytes) {
    return walkChunks(bytes.data(), bytes.size(), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> before(data, data + size);
    const WaveLayout layout = walk(before);
    if (layout.hasData) {
        FUZZ_REQUIRE(layout.dataTag >= 12 && layout.dataTag <= kDataChunkReach);
        FUZZ_REQUIRE(layout.dataTag % 2 == 0 && layout.dataTag + 8 <= size);
    }
    // Append at the file's own rate and depth when it states one we write.
    uint32_t rate = 44100, bits = 24;
    if (layout.hasFormat && (layout.format.bits == 16 || layout.format.bits == 24) &&
        layout.format.rate > 0 && layout.format.rate <= 1000000) {
        rate = layout.format.rate;
        bits = layout.format.bits;
    }

    const int fd = ::memfd_create("wave", 0);
    FUZZ_REQUIRE(fd >= 0);
    FUZZ_REQUIRE(::write(fd, data, size) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const uint32_t b = bytesPerSample(bits);
    const std::vector<uint8_t> click(5 * b, 0x55);
    bool appended = false;
    {
        WaveFile file(path, rate, bits);
        if (!file.openForAppend()) {
            FUZZ_REQUIRE(layout.hasData && formatMatches(layout.format, rate, bits));
            const float tempo = static_cast<float>(rate) * 60.0f / 4.0f;  // 4 samples a beat
            FUZZ_REQUIRE(!file.writeTrack(BeatSchedule({fileSection(rate, tempo, 9, 5)}), click));
            appended = !file.commit();
            FUZZ_REQUIRE(appended);
        }
    }
    const std::vector<uint8_t> after = contents(fd);
    ::close(fd);
    if (!appended) {
        FUZZ_REQUIRE(after == before);
        return 0;
    }
    // Two clicks of 5 samples, 4 samples apart: 10 samples of the click.
    const uint64_t added = 10 * b;
    const uint64_t end = audioEnd(layout, size, b);
    const WaveLayout now = walk(after);
    FUZZ_REQUIRE(now.hasData && now.dataTag == layout.dataTag);
    FUZZ_REQUIRE(now.dataSize == end - (layout.dataTag + 8) + added);
    FUZZ_REQUIRE(after.size() == paddedBytes(now.dataSize) + layout.dataTag + 8);
    FUZZ_REQUIRE(getU32le(after.data() + 4) == after.size() - 8);
    for (uint64_t i = 8; i < end; ++i) {
        if (i < layout.dataTag + 4 || i >= layout.dataTag + 8) FUZZ_REQUIRE(after[i] == before[i]);
    }
    for (uint64_t i = end; i < end + added; ++i) FUZZ_REQUIRE(after[i] == 0x55);
    return 0;
}
