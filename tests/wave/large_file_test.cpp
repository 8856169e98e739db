// Files past 2 GiB: `+` appends to a wave file larger than a 32-bit signed
// offset can reach and repairs both size fields. 32-bit ARM is where this
// breaks without 64-bit file offsets; the test runs on every architecture.
// The big files are sparse, so they cost no disk space.
#include <gtest/gtest.h>

#include <ostream>

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "support/audio_support.hpp"

namespace {

static_assert(sizeof(off_t) == 8, "the tests need 64-bit file offsets");

// 2 measures of 4 at 120 bpm and 44100: 2 s, 88200 samples of 3 bytes.
constexpr uint64_t kTrackBytes = 88200 * 3;
const std::string kOneMeasure = "1\n2\nm\n1\n";

struct BigFileCase {
    const char* name;
    uint64_t length;  // bytes before the append; (length - 44) is whole samples
};
// Shown in test listings instead of the row's bytes.
void PrintTo(const BigFileCase& row, std::ostream* os) { *os << row.name; }

class BigFileAppend : public ::testing::TestWithParam<BigFileCase> {};

TEST_P(BigFileAppend, AddsTheTrackAtTheEndAndRepairsBothSizes) {
    const BigFileCase& c = GetParam();
    TempDir dir;
    const std::string big = dir.file("click.wav");
    // A 24-bit wave file whose size fields state its length; its samples are a hole of zeros.
    writeFile(big, waveHeader(44100, 24, 1, static_cast<uint32_t>(c.length - 44)));
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(c.length)), 0);

    const RunResult run = runProgram(dir.path(), kOneMeasure + "+\nx\n");
    ASSERT_EQ(run.status, 2) << run.out << run.err;
    const uint64_t length = c.length + kTrackBytes;
    ASSERT_GT(length, 0x80000000ull);
    ASSERT_EQ(std::filesystem::file_size(big), length);
    const Bytes header = readRange(big, 0, 44);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(u32At(header, 4), length - 8);
    EXPECT_EQ(u32At(header, 40), length - 44);
    EXPECT_EQ(u32At(header, 24), 44100u);

    // The appended samples are those `w` writes for the same track at the
    // start of a new file, and the old end of the file is untouched.
    TempDir fresh;
    ASSERT_EQ(runProgram(fresh.path(), kOneMeasure + "w\nx\n").status, 2);
    const Bytes written = readBytes(fresh.file("click.wav"));
    ASSERT_EQ(written.size(), 44 + kTrackBytes);
    EXPECT_TRUE(readRange(big, c.length, kTrackBytes) ==
                Bytes(written.begin() + 44, written.end()));
    EXPECT_EQ(readRange(big, c.length - 3, 3), Bytes(3, 0));
}

// One file already past 2 GiB, one that crosses 2 GiB during the append.
INSTANTIATE_TEST_SUITE_P(Sizes, BigFileAppend,
                         ::testing::Values(BigFileCase{"StartingPast2GiB", 44 + 3ull * 716000000},
                                           BigFileCase{"Crossing2GiB", 44 + 3ull * 715800000}),
                         [](const ::testing::TestParamInfo<BigFileCase>& info) {
                             return info.param.name;
                         });

}  // namespace
