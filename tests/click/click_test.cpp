// The click generator: partial and length limits, synthesis and encoding.
// Expected samples were computed outside this program by following the
// synthesis step by step (single-precision products, the C library's sinf).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "click/click.hpp"
#include "click/click_set.hpp"
#include "click/sounds.hpp"
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

// ---------------------------------------------------------------- built-in sounds

// FNV-1a over each sample's 32 bits, least significant byte first.
uint64_t fingerprint(const std::vector<int32_t>& samples) {
    uint64_t h = 14695981039346656037u;
    for (const int32_t v : samples) {
        const uint32_t u = static_cast<uint32_t>(v);
        for (int b = 0; b < 32; b += 8) h = (h ^ ((u >> b) & 0xFF)) * 1099511628211u;
    }
    return h;
}

int32_t peakOf(const std::vector<int32_t>& s) {
    int32_t peak = 0;
    for (const int32_t v : s) peak = std::max(peak, v < 0 ? -v : v);
    return peak;
}

// Sign changes, a rough measure of pitch and brightness.
int crossings(const std::vector<int32_t>& s) {
    int n = 0;
    for (size_t i = 1; i < s.size(); ++i) n += (s[i - 1] < 0) != (s[i] < 0);
    return n;
}

struct SoundCase {
    const char* name;
    int32_t milliseconds;
    // Fingerprints at 48000 Hz of the normal, accent and subdivision versions:
    // the same on every architecture the program is built for.
    uint64_t normal, accent, subdivision;
};

class BuiltInSoundTest : public ::testing::TestWithParam<SoundCase> {};

TEST_P(BuiltInSoundTest, HasItsLengthPeakAndThreeVersions) {
    const SoundCase& c = GetParam();
    for (const uint32_t rate : {44100u, 48000u, 96000u}) {
        SCOPED_TRACE(rate);
        const size_t length = static_cast<size_t>(c.milliseconds) * rate / 1000;
        std::vector<std::vector<int32_t>> versions;
        for (const SoundVersion v : {SoundVersion::Normal, SoundVersion::Accent, SoundVersion::Subdivision}) {
            const std::vector<int32_t> s = designedSound(c.name, v, rate);
            // The same length at every pitch, peaking at -4 dBFS, starting and ending silent.
            ASSERT_EQ(s.size(), length);
            EXPECT_NEAR(peakOf(s), 5292851, 1);
            EXPECT_EQ(s.front(), 0);
            EXPECT_EQ(s.back(), 0);
            versions.push_back(s);
        }
        // The accent and the subdivision differ from the normal click in pitch or colour.
        EXPECT_GT(std::abs(crossings(versions[1]) - crossings(versions[0])), 5) << "accent";
        EXPECT_GT(std::abs(crossings(versions[2]) - crossings(versions[0])), 5) << "subdivision";
        if (rate == 48000) {
            EXPECT_EQ(fingerprint(versions[0]), c.normal);
            EXPECT_EQ(fingerprint(versions[1]), c.accent);
            EXPECT_EQ(fingerprint(versions[2]), c.subdivision);
        }
    }
    EXPECT_EQ(findSound(c.name)->milliseconds, c.milliseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Sounds, BuiltInSoundTest,
    ::testing::Values(
        SoundCase{"woodblock", 40, 3034209914731943222u, 8794276603231337002u,
                  14978275433371914290u},
        SoundCase{"beep", 30, 14868208248188132659u, 17238491155092622751u, 7238926681122628432u},
        SoundCase{"tick", 25, 5690454680256609u, 15466394084834081328u, 7837735391492535757u},
        SoundCase{"cowbell", 70, 2595191943976262452u, 18322059862642333852u,
                  7654810748634625469u}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuiltInSounds, TheClassicClickAndUnknownNamesHaveNoDesignedSamples) {
    EXPECT_TRUE(designedSound("classic", SoundVersion::Normal, 48000).empty());
    EXPECT_TRUE(designedSound("bell", SoundVersion::Normal, 48000).empty());
    EXPECT_TRUE(designedSound("woodblock", SoundVersion::Normal, 24).empty());  // under a sample
    EXPECT_EQ(builtInSounds().front().name, std::string("classic"));
    EXPECT_TRUE(findSound(kDefaultSound));
}

// ---------------------------------------------------------------- levels

TEST(Levels, DecibelsGiveTheirGainAndZeroKeepsEverySample) {
    EXPECT_EQ(gainOfDecibels(0.0), 1.0);
    for (const double db : {-60.0, -12.0, -10.0, -6.0, -0.5, 3.0, 12.0}) {
        EXPECT_NEAR(gainOfDecibels(db), std::pow(10.0, db / 20.0), 1e-15 * std::pow(10.0, db / 20.0))
            << db;
    }
}

// Every sample of `got` is `base` times 10^(dB / 20), truncated (one step either way for the
// last bit of the gain).
void expectLevel(const std::vector<int32_t>& got, const std::vector<int32_t>& base, double db) {
    ASSERT_EQ(got.size(), base.size());
    const double gain = std::pow(10.0, db / 20.0);
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_NEAR(got[i], std::trunc(base[i] * gain), 1.0) << "sample " << i << " at " << db << " dB";
    }
}

TEST(Levels, EachClickSoundsAtTheVolumeAndItsOwnLevel) {
    const uint32_t rate = 48000;
    const auto version = [&](SoundVersion v) { return designedSound("cowbell", v, rate); };
    struct Case {
        double volume, accent, subdivision, soft;
        bool given;  // false: the defaults, +3, a quarter and -10 dB
    };
    for (const Case& c : {Case{0, 3, -12.0412, -10, false}, Case{-6, 0, -20, -3, true},
                          Case{-60, 12, 0, -60, true}}) {
        ClickChoice choice;
        choice.sound = "cowbell";
        if (c.given) {
            choice.volume = gainOfDecibels(c.volume);
            choice.accent = gainOfDecibels(c.accent);
            choice.subdivision = gainOfDecibels(c.subdivision);
            choice.soft = gainOfDecibels(c.soft);
        }
        const ClickSet set = makeClickSet(24, 60.0f, rate, std::nullopt, {0.5}, choice);
        expectLevel(set.normal.clickSamples, version(SoundVersion::Normal), c.volume);
        expectLevel(set.accent.clickSamples, version(SoundVersion::Accent), c.volume + c.accent);
        expectLevel(set.subdivisionSamples, version(SoundVersion::Subdivision), c.volume + c.subdivision);
        expectLevel(set.softSamples, version(SoundVersion::Normal), c.volume + c.soft);
        // A map's volume on top: a voice made as it is laid, from the clicks above.
        const std::vector<ClickVoice> voices = set.voices();
        ASSERT_EQ(voices.size(), 2u);
        std::vector<uint8_t> laid(set.soft.size());
        encodeVoiceFrames(voices[1], ClickKind::Soft, 0, static_cast<int64_t>(set.softSamples.size()),
                          laid.data(), 3);
        std::vector<uint8_t> expected(laid.size());
        encodeScaled(set.softSamples.data(), SampleScale{1, 0.5}, expected.data(),
                     static_cast<int64_t>(set.softSamples.size()), 3);
        EXPECT_EQ(laid, expected);
    }
}

TEST(Levels, TheClassicClickKeepsItsSamplesWithoutLevels) {
    ClickState alone;
    initClickState(alone, 24);
    makeClick(alone, 60.0f, 44100);
    ClickState accent;
    initClickState(accent, 24);
    makeClick(accent, 90.0f, 44100);
    const ClickSet set = makeClickSet(24, 60.0f, 44100, 90.0f, {});
    EXPECT_EQ(set.normal.clickBytes, alone.clickBytes);
    EXPECT_EQ(set.accent.clickBytes, accent.clickBytes);
    std::vector<int32_t> quarter = alone.clickSamples;
    for (int32_t& v : quarter) v /= 4;
    EXPECT_EQ(set.subdivisionSamples, quarter);
    expectLevel(set.softSamples, alone.clickSamples, -10.0);
}

TEST(Levels, PastFullScaleHoldsThereInsteadOfWrapping) {
    ClickChoice loud;
    loud.volume = gainOfDecibels(12.0);  // the classic click peaks at -6 dBFS
    const ClickSet set = makeClickSet(24, 60.0f, 44100, 90.0f, {}, loud);
    ClickState alone;
    initClickState(alone, 24);
    makeClick(alone, 60.0f, 44100);
    int held = 0;
    for (size_t i = 0; i < alone.clickSamples.size(); ++i) {
        const int32_t was = alone.clickSamples[i], now = set.normal.clickSamples[i];
        ASSERT_EQ(now < 0, was < 0) << "sample " << i << " wrapped";
        ASSERT_GE(std::abs(static_cast<int64_t>(now)), std::abs(static_cast<int64_t>(was)));
        held += now == 8388607 || now == -8388608;
    }
    EXPECT_GT(held, 100);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, int32_t> edges[] = {
        {8388607.9, 8388607}, {8388608.0, 8388607}, {1e300, 8388607},   {-8388608.9, -8388608},
        {-8388609.0, -8388608}, {-1e300, -8388608}, {-0.9, 0},          {nan, -8388608}};
    for (const auto& [in, out] : edges) EXPECT_EQ(saturated(in), out) << in;
}

}  // namespace
