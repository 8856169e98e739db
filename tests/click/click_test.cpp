// The click generator: partial and length limits, synthesis and encoding.
// Expected samples were computed outside this program by following the
// synthesis step by step (single-precision products, the C library's sinf).
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "click/click.hpp"
#include "core/sample_codec.hpp"
#include "console/menu.hpp"
#include "core/value_rules.hpp"
#include "support/test_support.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
using Probes = std::vector<std::pair<int, int32_t>>;  // sample index, value
const std::string kTooLow = "The frequency chosen is too low for this tempo!\n";

std::vector<int32_t> generate(int32_t lowestHz, int32_t cycles, int32_t harmonics, uint32_t rate,
                              int32_t length, std::string* written = nullptr) {
    std::vector<int32_t> samples(static_cast<size_t>(length), 12345);  // not yet zero
    synthesizeClick(samples.data(), lowestHz, cycles, harmonics, rate, length);
    if (written) *written = "\n";  // the console writes the stage's line break
    return samples;
}

void expectSamples(const std::vector<int32_t>& s, const Probes& probes) {
    for (const auto& [i, v] : probes) EXPECT_EQ(s.at(static_cast<size_t>(i)), v) << "sample " << i;
}

// ---------------------------------------------------------------- limits

struct LimitCase {
    const char* name;
    float hz;
    uint32_t rate;
    int32_t harmonics, cycles, clickLength;
    bool warns;
};
void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }

class LimitClickTest : public ::testing::TestWithParam<LimitCase> {};

// Every stage starts again from 8 partials and 3 cycles, whatever the last one left.
TEST_P(LimitClickTest, SetsPartialsCyclesAndLength) {
    const LimitCase& c = GetParam();
    ClickState state;
    initClickState(state, 24);
    state.harmonicCount = 1;
    state.cycleCount = 1;
    const ClickReport report = limitClick(state, c.hz, c.rate);
    EXPECT_EQ(state.harmonicCount, c.harmonics);
    EXPECT_EQ(state.cycleCount, c.cycles);
    EXPECT_EQ(state.clickLength, c.clickLength);
    EXPECT_EQ(report.frequencyTooLow, c.warns);
}

// p below is the lowest partial's period in samples.
INSTANTIATE_TEST_SUITE_P(
    Figures, LimitClickTest,
    ::testing::Values(
        LimitCase{"Defaults", 60.0f, 44100, 8, 3, 2205, false},  // 60 x 2^7 <= 22050; p = 735
        LimitCase{"Hz5000At48000", 5000.0f, 48000, 3, 3, 27, false},  // 20000 <= 24000; p = 9
        LimitCase{"Hz10", 10.0f, 44100, 8, 3, 13230, false},  // 13230 is below the rate
        LimitCase{"Hz60Point5", 60.5f, 44100, 8, 3, 2184, false},  // p = 44100 / 60.5 = 728.9
        LimitCase{"Hz2Point5KeepsTwoCycles", 2.5f, 44100, 8, 2, 35280, false},  // p = 17640
        LimitCase{"Hz2KeepsOneCycle", 2.0f, 44100, 8, 1, 22050, false},  // 2p equals the rate
        LimitCase{"Hz1Point5KeepsOneCycle", 1.5f, 44100, 8, 1, 29400, false},
        LimitCase{"Hz1IsTooLow", 1.0f, 44100, 8, 0, 0, true},  // p equals the rate
        LimitCase{"HalfHzIsTooLow", 0.5f, 44100, 8, 0, 0, true},
        // Above 2^24 the rate as a float rounds down to p = 16777216, yet the
        // whole-number comparison with 16777217 still fits one cycle.
        LimitCase{"Hz1AtARateAbove2To24", 1.0f, 16777217, 8, 1, 16777216, false},
        LimitCase{"HalfTheRate", 22050.0f, 44100, 1, 3, 6, false},  // lowest partial only
        LimitCase{"Hz30000", 30000.0f, 44100, 0, 3, 3, false}),  // no partial; p = 1, no word
    [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

TEST(LimitClick, WarnsOnEveryStageWhereNoCycleFits) {
    ClickState state;
    initClickState(state, 24);
    EXPECT_TRUE(limitClick(state, 1.0f, 44100).frequencyTooLow);
    EXPECT_TRUE(limitClick(state, 1.0f, 44100).frequencyTooLow);
}

// ---------------------------------------------------------------- synthesis

TEST(GenClick, DefaultClickMatchesIndependentlyComputedSamples) {
    std::string written;
    const std::vector<int32_t> s = generate(60, 3, 8, 44100, 2205, &written);
    EXPECT_EQ(written, "\n");
    expectSamples(s, {{0, 0},          {1, 105448},     {2, 210811},   {50, 3854168},
                      {74, 4195988},   {100, 3976330},  {183, 2449778}, {184, 2427460},
                      {500, -2291201}, {734, -38654},   {735, 0},       {1000, 821731},
                      {1469, -13445},  {1470, 0},       {2000, -773491}, {2204, -6722}});
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 4195988);
    EXPECT_EQ(*std::min_element(s.begin(), s.end()), -3408947);
}

TEST(GenClick, ThreePartialsAt48000MatchIndependentlyComputedSamples) {
    EXPECT_EQ(generate(5000, 3, 3, 48000, 27),
              (std::vector<int32_t>{0,        4160835,  3268880,  1643612, 1285009, -357533,
                                    -1576955, -2733629, -3064815, -879954, 603695,  1627653,
                                    1572864,  1247837,  407087,   -601909, -1362140, -1559408,
                                    -556091,  -102650,  393216,   726568,  759635,  478749,
                                    0,        -478749,  -759635}));
}

TEST(GenClick, TenHertzClickMatchesIndependentlyComputedSamples) {
    const std::vector<int32_t> s = generate(10, 3, 8, 44100, 13230);
    expectSamples(s, {{1, 17573}, {1102, 2434877}, {4410, 0}, {13229, -1120}});
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 4196060);
}

TEST(GenClick, LowestPartialFirstCyclePeaksNearItsAmplitude) {
    const std::vector<int32_t> s = generate(60, 1, 1, 44100, 735);
    const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
    EXPECT_EQ(*hi, 3145721);  // 3145728 x sin(184 w)
    EXPECT_EQ(hi - s.begin(), 184);
    EXPECT_EQ(*lo, -3145721);
}

TEST(GenClick, SumOfAllPartialsStaysBelowTwiceTheLowestPeak) {
    for (const int32_t hz : {10, 440, 2000}) {
        const std::vector<int32_t> s = generate(hz, 3, 8, 44100, 44100 / hz * 3);
        const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
        EXPECT_LT(*hi, 6291456) << hz;
        EXPECT_GT(*lo, -6291456) << hz;
    }
}

TEST(GenClick, NoPartialsOrNoCyclesGiveSilenceAndOneLineBreak) {
    for (const auto& [cycles, harmonics, length] :
         {std::tuple{3, 0, 100}, {0, 8, 100}, {3, -2, 100}, {3, 8, 0}}) {
        std::string written;
        const std::vector<int32_t> s = generate(60, cycles, harmonics, 44100, length, &written);
        EXPECT_EQ(written, "\n");
        EXPECT_EQ(s, std::vector<int32_t>(static_cast<size_t>(length), 0));
    }
}

// The lowest partial's span (3 x 735) is longer than the length: nothing past
// the length is touched.
TEST(GenClick, StopsAtTheLengthWhenTheSpanIsLonger) {
    std::vector<int32_t> buffer(2205, 777);
    TextSink out;
    synthesizeClick(buffer.data(), 60, 3, 8, 44100, 2184);
    EXPECT_EQ(std::vector<int32_t>(buffer.begin() + 2184, buffer.end()), std::vector<int32_t>(21, 777));
    expectSamples(buffer, {{1, 105448}, {2000, -773491}});
}

// ---------------------------------------------------------------- click stage

// A fractional frequency sets the length but synthesises its whole-number
// part; a click too low or too high is empty or silent, and the next stage at
// 60 Hz gives the full click again.
TEST(MakeClick, BuildsTheClickOfEachStageAfresh) {
    struct Stage {
        float hz;
        std::string said;
        int32_t length;
        Probes samples;
        bool silent;
    };
    for (const Stage& c : {Stage{60.5f, "\n", 2184, {{1, 105448}, {2000, -773491}}, false},
                           Stage{1.0f, kTooLow + "\n", 0, {}, false},
                           Stage{30000.0f, "\n", 3, {{0, 0}, {1, 0}, {2, 0}}, true}}) {
        SCOPED_TRACE(c.hz);
        ClickState state;
        initClickState(state, 24);
        TextSink out;
        writeClickStage(out.file(), makeClick(state, c.hz, 44100));
        EXPECT_EQ(out.text(), c.said);
        EXPECT_EQ(state.clickLength, c.length);
        ASSERT_EQ(state.clickSamples.size(), static_cast<size_t>(c.length));
        expectSamples(state.clickSamples, c.samples);
        EXPECT_EQ(state.clickBytes.size(), 3u * static_cast<size_t>(c.length));
        if (c.silent) {
            EXPECT_EQ(state.clickBytes, Bytes(9, 0));
        }
        releaseClick(state);
        writeClickStage(out.file(), makeClick(state, 60.0f, 44100));
        ASSERT_EQ(state.clickSamples.size(), 2205u);
        expectSamples(state.clickSamples, {{184, 2427460}, {500, -2291201}});
    }
}

// A click is made again only when what it is made from changed; every stage
// still writes its line, and the "too low" line whenever no cycle fits. The
// first sample of a click is always 0, so a mark put there shows whether the
// next stage kept the click or made it again.
TEST(MakeClick, KeepsTheClickWhileItsValuesStayTheSame) {
    struct Stage {
        float hz;
        uint32_t rate;
        bool kept;
        std::string said;
        int32_t length;
    };
    ClickState state;
    initClickState(state, 24);
    TextSink out;
    size_t written = 0;
    for (const Stage& c : {Stage{60.0f, 44100, false, "\n", 2205},
                           Stage{60.0f, 44100, true, "\n", 2205},
                           Stage{60.9f, 44100, false, "\n", 2172},   // same whole Hz, shorter
                           Stage{60.0f, 48000, false, "\n", 2400},   // another rate
                           Stage{1.0f, 44100, false, kTooLow + "\n", 0},
                           Stage{0.5f, 44100, true, kTooLow + "\n", 0},  // both empty
                           Stage{60.0f, 44100, false, "\n", 2205}}) {
        SCOPED_TRACE(c.hz);
        if (!state.clickSamples.empty()) state.clickSamples[0] = 77;
        writeClickStage(out.file(), makeClick(state, c.hz, c.rate));
        const std::string text = out.text();
        EXPECT_EQ(text.substr(written), c.said);
        written = text.size();
        ASSERT_EQ(state.clickSamples.size(), static_cast<size_t>(c.length));
        ASSERT_EQ(state.clickBytes.size(), 3u * static_cast<size_t>(c.length));
        if (c.length > 0) {
            EXPECT_EQ(state.clickSamples[0], c.kept ? 77 : 0);
        }
    }
    releaseClick(state);
    writeClickStage(out.file(), makeClick(state, 60.0f, 44100));
    EXPECT_EQ(state.clickSamples.at(0), 0);
}

// The click must fit 32 MiB of 24-bit samples, which matters only above
// 11184810 samples per second. From 4 Hz up the click is three periods long.
std::optional<std::string> ruleOf(const Rule& rule) {
    return rule ? std::optional<std::string>(rule->detail) : std::nullopt;
}

TEST(ClickBudget, RefusesAFrequencyWhoseClickIsTooLong) {
    const std::string atTopRate =
        "Frequency must be at least 576 Hz at this sample rate (the click must fit 32 MiB)";
    struct Row {
        float hz;
        uint32_t rate;
        int64_t length;
        std::optional<std::string> rule;
    };
    for (const Row& c : {Row{1.5f, 2147483647, 1431655808, atTopRate},  // the float period
                         Row{575.0f, 2147483647, 11204262, atTopRate},
                         Row{576.0f, 2147483647, 11184810, std::nullopt},
                         Row{1.0f, 2147483647, 0, std::nullopt},  // no whole period: nothing to keep
                         Row{1.5f, 11184811, 7456540, std::nullopt},  // every click is below the rate
                         Row{3.01f, 44739243, 44590608,
                             "Frequency must be at least 12 Hz at this sample rate (the click "
                             "must fit 32 MiB)"}}) {
        SCOPED_TRACE(c.hz);
        EXPECT_EQ(clickLengthFor(c.hz, c.rate), c.length);
        EXPECT_EQ(ruleOf(checkFrequency(c.hz, c.rate)), c.rule);
    }
    // A rate is judged with the frequency in force: at 60 Hz a click fits up to about 224 million.
    EXPECT_EQ(ruleOf(checkRateFor(2147483647, 120.0f, 60.0f, 0.5f)),
              "Sample rate must be a whole number from 120 to 223696247 for the tempo, "
              "frequency and audition length in force");
    EXPECT_FALSE(checkRateFor(223696247, 120.0f, 60.0f, 0.5f));
}

struct DepthCase {
    int32_t bits;
    size_t bytesPerSample;
    Bytes sample1, sample184, sample500;  // encoded samples of the default click
};
// Shown in test listings instead of the row's bytes.
void PrintTo(const DepthCase& row, std::ostream* os) { *os << row.bits << " bits"; }

class MakeClickDepthTest : public ::testing::TestWithParam<DepthCase> {};

TEST_P(MakeClickDepthTest, EncodesTheClickAtTheRunsDepth) {
    const DepthCase& c = GetParam();
    ClickState state;
    initClickState(state, c.bits);
    EXPECT_EQ(state.bytesPerSample, static_cast<int32_t>(c.bytesPerSample));
    EXPECT_EQ(state.silenceSample, Bytes(c.bytesPerSample, 0));
    TextSink out;
    writeClickStage(out.file(), makeClick(state, 60.0f, 44100));
    ASSERT_EQ(state.clickBytes.size(), 2205u * c.bytesPerSample);
    const auto at = [&](size_t i) {
        const auto first = state.clickBytes.begin() + static_cast<long>(i * c.bytesPerSample);
        return Bytes(first, first + static_cast<long>(c.bytesPerSample));
    };
    EXPECT_EQ(at(0), Bytes(c.bytesPerSample, 0));
    EXPECT_EQ(at(1), c.sample1);
    EXPECT_EQ(at(184), c.sample184);
    EXPECT_EQ(at(500), c.sample500);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, MakeClickDepthTest,
    ::testing::Values(DepthCase{24, 3, {0xE8, 0x9B, 0x01}, {0x44, 0x0A, 0x25}, {0xFF, 0x09, 0xDD}},
                      DepthCase{16, 2, {0x9B, 0x01}, {0x0A, 0x25}, {0x09, 0xDD}}));

// ---------------------------------------------------------------- encoders

struct EncodeCase {
    int32_t sample;
    Bytes bytes24, bytes16;
};
// Shown in test listings instead of the row's bytes.
void PrintTo(const EncodeCase& row, std::ostream* os) { *os << row.sample; }

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, WritesLittleEndianTwosComplement) {
    const EncodeCase& c = GetParam();
    Bytes b24(3, 0xAA), b16(2, 0xAA);
    encode24(&c.sample, b24.data(), 1);
    encode16(&c.sample, b16.data(), 1);
    EXPECT_EQ(b24, c.bytes24);
    EXPECT_EQ(b16, c.bytes16);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, EncodeTest,
    ::testing::Values(EncodeCase{0, {0x00, 0x00, 0x00}, {0x00, 0x00}},
                      EncodeCase{-1, {0xFF, 0xFF, 0xFF}, {0xFF, 0xFF}},
                      EncodeCase{3145728, {0x00, 0x00, 0x30}, {0x00, 0x30}},
                      EncodeCase{-256, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF}},
                      EncodeCase{-257, {0xFF, 0xFE, 0xFF}, {0xFE, 0xFF}},
                      EncodeCase{255, {0xFF, 0x00, 0x00}, {0x00, 0x00}},
                      EncodeCase{8388607, {0xFF, 0xFF, 0x7F}, {0xFF, 0x7F}},
                      EncodeCase{-8388608, {0x00, 0x00, 0x80}, {0x00, 0x80}}));

TEST(Encode, ConsecutiveSamplesFollowEachOtherAndNoLengthWritesNothing) {
    const int32_t samples[] = {1, -2};
    Bytes b24(6, 0xAA), b16(4, 0xAA), untouched(6, 0xAA);
    encode24(samples, b24.data(), 2);
    encode16(samples, b16.data(), 2);
    EXPECT_EQ(b24, (Bytes{0x01, 0x00, 0x00, 0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(b16, (Bytes{0x00, 0x00, 0xFF, 0xFF}));
    encode24(samples, untouched.data(), 0);
    encode16(samples, untouched.data(), -1);
    EXPECT_EQ(untouched, Bytes(6, 0xAA));
}

}  // namespace
