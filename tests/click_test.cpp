// The click generator: partial and length limits, synthesis and encoding.
//
// Expected sample values were computed outside this program by following the
// synthesis rules step by step (single-precision rounding of every product,
// the C library's sinf) and are written out here as literals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "click/click.hpp"
#include "click/encode.hpp"

namespace {

constexpr const char* kTooLow = "The frequency chosen is too low for this tempo!\n";

// A FILE* whose text can be read back once the writer is done.
class Capture {
public:
    Capture() : file_(open_memstream(&data_, &size_)) {}
    ~Capture() {
        if (file_) std::fclose(file_);
        std::free(data_);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    FILE* file() const { return file_; }
    std::string text() {
        std::fflush(file_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* file_;
};

std::vector<int32_t> generate(int32_t lowestHz, int32_t cycles, int32_t harmonics, uint32_t rate,
                              int32_t length, std::string* written = nullptr) {
    std::vector<int32_t> samples(static_cast<size_t>(length), 12345);  // not yet zero
    Capture out;
    GEN_CLICK(samples.data(), lowestHz, cycles, harmonics, rate, length, out.file());
    if (written) *written = out.text();
    return samples;
}

// ---------------------------------------------------------------- limits

struct LimitCase {
    const char* name;
    float hz;
    uint32_t rate;
    int32_t harmonics;
    int32_t cycles;
    int32_t clickLength;
    bool warns;
};

class LimitClickTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(LimitClickTest, SetsPartialsCyclesAndLength) {
    const LimitCase& c = GetParam();
    ClickState state;
    initClickState(state, 24);
    Capture out;
    LIMIT_CLICK(state, c.hz, c.rate, out.file());
    EXPECT_EQ(state.harmonicCount, c.harmonics);
    EXPECT_EQ(state.cycleCount, c.cycles);
    EXPECT_EQ(state.clickLength, c.clickLength);
    EXPECT_EQ(out.text(), c.warns ? kTooLow : "");
}

INSTANTIATE_TEST_SUITE_P(
    Figures, LimitClickTest,
    ::testing::Values(
        // 60 x 2^7 = 7680 <= 22050: all 8 partials; p = 735.
        LimitCase{"Defaults", 60.0f, 44100, 8, 3, 2205, false},
        // 5000 x 4 = 20000 <= 24000 < 40000; p = 9.
        LimitCase{"Hz5000At48000", 5000.0f, 48000, 3, 3, 27, false},
        // p = 4410; 13230 is below the rate, so 3 cycles stay.
        LimitCase{"Hz10", 10.0f, 44100, 8, 3, 13230, false},
        // p is taken from the fractional frequency: 44100 / 60.5 = 728.9.
        LimitCase{"Hz60Point5", 60.5f, 44100, 8, 3, 2184, false},
        // p = 17640: 3 periods reach the rate, 2 do not.
        LimitCase{"Hz2Point5KeepsTwoCycles", 2.5f, 44100, 8, 2, 35280, false},
        // p = 22050: 2 periods equal the rate, which is not below it.
        LimitCase{"Hz2KeepsOneCycle", 2.0f, 44100, 8, 1, 22050, false},
        LimitCase{"Hz1Point5KeepsOneCycle", 1.5f, 44100, 8, 1, 29400, false},
        // p = 44100: not even one period is below the rate.
        LimitCase{"Hz1IsTooLow", 1.0f, 44100, 8, 0, 0, true},
        LimitCase{"HalfHzIsTooLow", 0.5f, 44100, 8, 0, 0, true},
        // Exactly half the rate keeps the lowest partial only; p = 2.
        LimitCase{"HalfTheRate", 22050.0f, 44100, 1, 3, 6, false},
        // Above half the rate no partial fits; p = 1 and no word is said.
        LimitCase{"Hz30000", 30000.0f, 44100, 0, 3, 3, false}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

// Each click stage starts again from 8 partials and 3 cycles.
TEST(LimitClick, SettingTheFrequencyBackGivesTheFullClickAgain) {
    struct Step {
        float hz;
        uint32_t rate;
    };
    for (const Step away : {Step{1.0f, 44100}, Step{30000.0f, 44100}, Step{5000.0f, 48000}}) {
        SCOPED_TRACE(away.hz);
        ClickState state;
        initClickState(state, 24);
        Capture out;
        LIMIT_CLICK(state, away.hz, away.rate, out.file());
        LIMIT_CLICK(state, 60.0f, away.rate, out.file());
        EXPECT_EQ(state.harmonicCount, 8);
        EXPECT_EQ(state.cycleCount, 3);
        EXPECT_EQ(state.clickLength, static_cast<int32_t>(away.rate / 60 * 3));
    }
}

TEST(LimitClick, WarnsOnEveryStageWhereNoCycleFits) {
    ClickState state;
    initClickState(state, 24);
    Capture out;
    LIMIT_CLICK(state, 1.0f, 44100, out.file());
    LIMIT_CLICK(state, 1.0f, 44100, out.file());
    EXPECT_EQ(out.text(), std::string(kTooLow) + kTooLow);
    EXPECT_EQ(state.clickLength, 0);
}

// ---------------------------------------------------------------- synthesis

TEST(GenClick, DefaultClickMatchesIndependentlyComputedSamples) {
    std::string written;
    const std::vector<int32_t> s = generate(60, 3, 8, 44100, 2205, &written);
    EXPECT_EQ(written, "\n");
    const std::pair<int, int32_t> expected[] = {
        {0, 0},          {1, 105448},     {2, 210811},   {50, 3854168},  {74, 4195988},
        {100, 3976330},  {183, 2449778},  {184, 2427460}, {500, -2291201}, {734, -38654},
        {735, 0},        {1000, 821731},  {1469, -13445}, {1470, 0},      {2000, -773491},
        {2204, -6722}};
    for (const auto& [i, value] : expected) EXPECT_EQ(s[i], value) << "sample " << i;
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 4195988);
    EXPECT_EQ(*std::min_element(s.begin(), s.end()), -3408947);
}

TEST(GenClick, ThreePartialsAt48000MatchIndependentlyComputedSamples) {
    const std::vector<int32_t> expected = {
        0,        4160835,  3268880,  1643612, 1285009, -357533, -1576955, -2733629, -3064815,
        -879954,  603695,   1627653,  1572864, 1247837, 407087,  -601909,  -1362140, -1559408,
        -556091,  -102650,  393216,   726568,  759635,  478749,  0,        -478749,  -759635};
    EXPECT_EQ(generate(5000, 3, 3, 48000, 27), expected);
}

TEST(GenClick, TenHertzClickMatchesIndependentlyComputedSamples) {
    const std::vector<int32_t> s = generate(10, 3, 8, 44100, 13230);
    EXPECT_EQ(s[1], 17573);
    EXPECT_EQ(s[1102], 2434877);
    EXPECT_EQ(s[4410], 0);
    EXPECT_EQ(s[13229], -1120);
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 4196060);
}

TEST(GenClick, LowestPartialFirstCyclePeaksNearItsAmplitude) {
    const std::vector<int32_t> s = generate(60, 1, 1, 44100, 735);
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 3145721);  // 3145728 x sin(184 w)
    EXPECT_EQ(std::max_element(s.begin(), s.end()) - s.begin(), 184);
    EXPECT_EQ(*std::min_element(s.begin(), s.end()), -3145721);
}

TEST(GenClick, SumOfAllPartialsStaysBelowTwiceTheLowestPeak) {
    for (const int32_t hz : {10, 60, 440, 2000}) {
        SCOPED_TRACE(hz);
        const int32_t length = static_cast<int32_t>(44100 / hz * 3);
        const std::vector<int32_t> s = generate(hz, 3, 8, 44100, length);
        const auto [lo, hi] = std::minmax_element(s.begin(), s.end());
        EXPECT_LT(*hi, 6291456);
        EXPECT_GT(*lo, -6291456);
    }
}

TEST(GenClick, NoPartialsOrNoCyclesGiveSilenceAndOneLineBreak) {
    for (const auto& [cycles, harmonics] : {std::pair{3, 0}, {0, 8}, {3, -2}}) {
        std::string written;
        const std::vector<int32_t> s = generate(60, cycles, harmonics, 44100, 100, &written);
        EXPECT_EQ(written, "\n");
        EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](int32_t v) { return v == 0; }));
    }
    std::string written;
    generate(60, 3, 8, 44100, 0, &written);
    EXPECT_EQ(written, "\n");
}

// The lowest partial's span (3 x 735) is longer than the length: nothing past
// the length is touched.
TEST(GenClick, StopsAtTheLengthWhenTheSpanIsLonger) {
    std::vector<int32_t> buffer(2205, 777);
    Capture out;
    GEN_CLICK(buffer.data(), 60, 3, 8, 44100, 2184, out.file());
    EXPECT_TRUE(std::all_of(buffer.begin() + 2184, buffer.end(), [](int32_t v) { return v == 777; }));
    EXPECT_EQ(buffer[1], 105448);
    EXPECT_EQ(buffer[2000], -773491);
}

// ---------------------------------------------------------------- click stage

TEST(MakeClick, FractionalFrequencySynthesisesTheWholeNumberFrequency) {
    ClickState state;
    initClickState(state, 24);
    Capture out;
    MAKE_CLICK(state, 60.5f, 44100, out.file());
    EXPECT_EQ(out.text(), "\n");
    ASSERT_EQ(state.clickLength, 2184);
    ASSERT_EQ(state.clickSamples.size(), 2184u);
    EXPECT_EQ(state.clickBytes.size(), 2184u * 3);
    // The same samples as the 60 Hz click, cut at 2184.
    EXPECT_EQ(state.clickSamples[1], 105448);
    EXPECT_EQ(state.clickSamples[1469], -13445);
    EXPECT_EQ(state.clickSamples[2000], -773491);
}

TEST(MakeClick, TooLowFrequencyGivesEmptyClickThenFullClickAgain) {
    ClickState state;
    initClickState(state, 24);
    Capture out;
    MAKE_CLICK(state, 1.0f, 44100, out.file());
    EXPECT_EQ(out.text(), std::string(kTooLow) + "\n");
    EXPECT_TRUE(state.clickSamples.empty());
    EXPECT_TRUE(state.clickBytes.empty());
    releaseClick(state);

    MAKE_CLICK(state, 60.0f, 44100, out.file());
    ASSERT_EQ(state.clickSamples.size(), 2205u);
    EXPECT_EQ(state.clickSamples[184], 2427460);
}

TEST(MakeClick, AboveHalfTheRateIsSilentThenFullAgain) {
    ClickState state;
    initClickState(state, 24);
    Capture out;
    MAKE_CLICK(state, 30000.0f, 44100, out.file());
    EXPECT_EQ(out.text(), "\n");
    EXPECT_EQ(state.clickSamples, std::vector<int32_t>(3, 0));
    EXPECT_EQ(state.clickBytes, std::vector<uint8_t>(9, 0));
    releaseClick(state);

    MAKE_CLICK(state, 60.0f, 44100, out.file());
    ASSERT_EQ(state.clickSamples.size(), 2205u);
    EXPECT_EQ(state.clickSamples[500], -2291201);
}

struct DepthCase {
    int32_t bits;
    int32_t bytesPerSample;
    // Encoded samples 1, 184 and 500 of the default click.
    std::vector<uint8_t> sample1, sample184, sample500;
};

class MakeClickDepthTest : public ::testing::TestWithParam<DepthCase> {};

TEST_P(MakeClickDepthTest, EncodesTheClickAtTheRunsDepth) {
    const DepthCase& c = GetParam();
    ClickState state;
    initClickState(state, c.bits);
    EXPECT_EQ(state.bytesPerSample, c.bytesPerSample);
    EXPECT_EQ(state.silenceSample, std::vector<uint8_t>(static_cast<size_t>(c.bytesPerSample), 0));
    Capture out;
    MAKE_CLICK(state, 60.0f, 44100, out.file());
    ASSERT_EQ(state.clickBytes.size(), 2205u * static_cast<size_t>(c.bytesPerSample));
    const auto at = [&](size_t i) {
        const auto first = state.clickBytes.begin() + static_cast<long>(i) * c.bytesPerSample;
        return std::vector<uint8_t>(first, first + c.bytesPerSample);
    };
    EXPECT_EQ(at(0), std::vector<uint8_t>(static_cast<size_t>(c.bytesPerSample), 0));
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
    std::vector<uint8_t> bytes24;
    std::vector<uint8_t> bytes16;
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, WritesLittleEndianTwosComplement) {
    const EncodeCase& c = GetParam();
    std::vector<uint8_t> b24(3, 0xAA), b16(2, 0xAA);
    NUM24_TO_CHAR(&c.sample, b24.data(), 1);
    NUM24_TO_CHAR16(&c.sample, b16.data(), 1);
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
    std::vector<uint8_t> b24(6, 0xAA), b16(4, 0xAA);
    NUM24_TO_CHAR(samples, b24.data(), 2);
    NUM24_TO_CHAR16(samples, b16.data(), 2);
    EXPECT_EQ(b24, (std::vector<uint8_t>{0x01, 0x00, 0x00, 0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(b16, (std::vector<uint8_t>{0x00, 0x00, 0xFF, 0xFF}));

    std::vector<uint8_t> untouched(6, 0xAA);
    NUM24_TO_CHAR(samples, untouched.data(), 0);
    NUM24_TO_CHAR16(samples, untouched.data(), -1);
    EXPECT_EQ(untouched, std::vector<uint8_t>(6, 0xAA));
}

}  // namespace
