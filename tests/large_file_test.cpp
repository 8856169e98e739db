// Files past 2 GiB: `+` appends to a wave file larger than a 32-bit signed
// offset can reach and repairs both size fields. 32-bit ARM is where this
// breaks without 64-bit file offsets; the test runs on every architecture.
// The big files are sparse, so they cost no disk space.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace {

static_assert(sizeof(off_t) == 8, "the tests need 64-bit file offsets");

// 2 measures of 4 at 120 bpm and 44100: 2 s, 88200 samples of 3 bytes.
constexpr uint64_t kTrackBytes = 88200 * 3;
constexpr const char* kOneMeasureSession = "1\n2\nm\n1\n";

void putU32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putU16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

// A 24-bit, 44100 Hz, one-channel wave file of `length` bytes whose size
// fields state that length; the samples are a hole of zeros.
void makeSparseWave(const std::string& path, uint64_t length) {
    std::string h = "RIFF";
    putU32(h, static_cast<uint32_t>(length - 8));
    h += "WAVEfmt ";
    putU32(h, 16);
    putU16(h, 1);
    putU16(h, 1);
    putU32(h, 44100);
    putU32(h, 44100 * 3);
    putU16(h, 3);
    putU16(h, 24);
    h += "data";
    putU32(h, static_cast<uint32_t>(length - 44));
    writeFile(path, h);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0);
}

std::vector<uint8_t> readAt(const std::string& path, uint64_t offset, size_t size) {
    std::vector<uint8_t> bytes(size);
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return {};
    const ssize_t got = ::pread(fd, bytes.data(), size, static_cast<off_t>(offset));
    ::close(fd);
    bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return bytes;
}

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

struct BigFileCase {
    const char* name;
    uint64_t length;  // bytes before the append; (length - 44) is whole samples
};

// One file already past 2 GiB, one that crosses 2 GiB during the append.
const BigFileCase kBigFiles[] = {
    {"StartingPast2GiB", 44 + 3ull * 716000000},
    {"Crossing2GiB", 44 + 3ull * 715800000},
};

class BigFileAppend : public ::testing::TestWithParam<BigFileCase> {};

TEST_P(BigFileAppend, AddsTheTrackAtTheEndAndRepairsBothSizes) {
    const BigFileCase& c = GetParam();
    TempDir dir;
    const std::string big = dir.file("click.wav");
    ASSERT_NO_FATAL_FAILURE(makeSparseWave(big, c.length));

    const RunResult run = runProgram(dir.path(), std::string(kOneMeasureSession) + "+\nx\n");
    ASSERT_EQ(run.status, 2) << run.out << run.err;

    const uint64_t length = c.length + kTrackBytes;
    ASSERT_GT(length, 0x80000000ull);
    ASSERT_EQ(std::filesystem::file_size(big), length);
    const std::vector<uint8_t> header = readAt(big, 0, 44);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(u32At(header, 4), length - 8);
    EXPECT_EQ(u32At(header, 40), length - 44);
    EXPECT_EQ(u32At(header, 24), 44100u);

    // The appended samples are those `w` writes for the same track at the
    // start of a new file, and the old end of the file is untouched.
    TempDir fresh;
    ASSERT_EQ(runProgram(fresh.path(), std::string(kOneMeasureSession) + "w\nx\n").status, 2);
    const std::vector<uint8_t> written = readBytes(fresh.file("click.wav"));
    ASSERT_EQ(written.size(), 44 + kTrackBytes);
    const std::vector<uint8_t> appended = readAt(big, c.length, kTrackBytes);
    EXPECT_TRUE(appended == std::vector<uint8_t>(written.begin() + 44, written.end()));
    EXPECT_EQ(readAt(big, c.length - 3, 3), std::vector<uint8_t>(3, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BigFileAppend, ::testing::ValuesIn(kBigFiles),
    [](const ::testing::TestParamInfo<BigFileCase>& info) { return info.param.name; });

}  // namespace
