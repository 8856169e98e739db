// Identical output on every architecture: the program's wave files, written
// through it end to end, against one set of SHA-256 sums kept in
// tests/data/checksums.txt. The sums come from tests/data/reference_tracks.py,
// which builds the same files without the program's code.
#include <gtest/gtest.h>

#include <ostream>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "support/test_support.hpp"

namespace {

// The sums by file name, as sha256sum prints them.
std::map<std::string, std::string> referenceSums() {
    std::map<std::string, std::string> sums;
    std::ifstream in(std::string(CLICKTRACK_TEST_DATA) + "/checksums.txt");
    for (std::string sum, name; in >> sum >> name;) sums[name] = sum;
    return sums;
}

std::string sha256Of(const std::string& path) {
    FILE* pipe = ::popen(("sha256sum '" + path + "'").c_str(), "r");
    if (!pipe) return "";
    char sum[65] = {};
    const int fields = std::fscanf(pipe, "%64s", sum);
    ::pclose(pipe);
    return fields == 1 ? sum : "";
}

struct TrackCase {
    const char* name;       // test name
    const char* reference;  // file name in checksums.txt
    const char* input;      // the whole session
    uint64_t bytes;         // the file's length by the design's figures
};
// Shown in test listings instead of the row's bytes.
void PrintTo(const TrackCase& row, std::ostream* os) { *os << row.name; }

class IdenticalOutput : public ::testing::TestWithParam<TrackCase> {};

TEST_P(IdenticalOutput, MatchesTheReferenceSum) {
    const TrackCase& c = GetParam();
    const auto sums = referenceSums();
    const auto expected = sums.find(c.reference);
    ASSERT_NE(expected, sums.end()) << c.reference << " is missing from checksums.txt";

    TempDir dir;
    writeFile(dir.file("tmap.txt"), "tmap\t120\t4\t48\ntmap\t160\t3\t16\n");
    const RunResult run = runProgram(dir.path(), c.input);
    ASSERT_EQ(run.status, 2) << run.err;
    const std::string track = dir.file("click.wav");
    ASSERT_EQ(std::filesystem::file_size(track), c.bytes);
    EXPECT_EQ(sha256Of(track), expected->second)
        << "The samples differ from the reference. On x86-64, glibc may pick an FMA build "
           "of sinf that differs by one unit in the last place for a few arguments: run "
           "this test again with GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA to tell that "
           "apart from a real change.";
}

// The default track; a 16-bit track at 48000 (96 s, 4608000 samples); the
// tempo map example of the help screen: 48 measures of 4 at 120, then 16 of
// 3 at 160 (4233600 + 793800 samples).
INSTANTIATE_TEST_SUITE_P(
    Tracks, IdenticalOutput,
    ::testing::Values(TrackCase{"DefaultTrack", "default.wav", "1\n2\nw\nx\n", 44 + 4233600ull * 3},
                      TrackCase{"Rate48000At16Bits", "rate48000-16bit.wav", "2\n1\nw\nx\n",
                                44 + 4608000ull * 2},
                      TrackCase{"TwoSectionTempoMap", "tempo-map.wav", "1\n2\nrtm\nx\n",
                                44 + (4233600ull + 793800ull) * 3}),
    [](const ::testing::TestParamInfo<TrackCase>& info) { return info.param.name; });

}  // namespace
