// Wave files: the header bytes, the search for the "data" tag, the beat grid,
// and whole files written by `w` and `+` through the program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.hpp"
#include "wave/beat_grid.hpp"
#include "wave/header.hpp"
#include "wave/wave_writer.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeader = 44;
constexpr long kClickLength = 2205;  // 3 periods of 60 Hz at 44100

uint32_t u32At(const Bytes& b, size_t at) {
    return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 |
           uint32_t{b[at + 3]} << 24;
}

uint16_t u16At(const Bytes& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

std::string textAt(const Bytes& b, size_t at) {
    return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
}

// A sample of the data block, sign-extended from 2 or 3 bytes.
int32_t sampleAt(const Bytes& b, size_t dataStart, int64_t index, size_t bytesPerSample) {
    const size_t at = dataStart + static_cast<size_t>(index) * bytesPerSample;
    if (bytesPerSample == 2) return static_cast<int16_t>(u16At(b, at));
    const int32_t v = b[at] | b[at + 1] << 8 | b[at + 2] << 16;
    return v >= 0x800000 ? v - 0x1000000 : v;
}

void appendU32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void appendU16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}

// A PCM wave file built by hand: RIFF, WAVE, the format chunk, an optional
// padding chunk that moves the data tag to `dataTagAt`, then `dataBytes` of
// zero samples.
std::string handMadeWave(uint32_t rate, uint16_t bits, uint16_t channels, uint32_t dataBytes,
                         size_t dataTagAt = 36) {
    const uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
    std::string s = "RIFF";
    appendU32(s, static_cast<uint32_t>(dataTagAt + 8 + dataBytes - 8));
    s += "WAVEfmt ";
    appendU32(s, 16);
    appendU16(s, 1);
    appendU16(s, channels);
    appendU32(s, rate);
    appendU32(s, rate * align);
    appendU16(s, align);
    appendU16(s, bits);
    if (dataTagAt > 36) {
        s += "JUNK";
        appendU32(s, static_cast<uint32_t>(dataTagAt - 36 - 8));
        s.append(dataTagAt - 36 - 8, '\0');
    }
    s += "data";
    appendU32(s, dataBytes);
    s.append(dataBytes, '\0');
    return s;
}

Bytes readRange(const std::string& path, uint64_t offset, size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes b(size);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(size));
    b.resize(static_cast<size_t>(in.gcount()));
    return b;
}

uint64_t fileSize(const std::string& path) { return std::filesystem::file_size(path); }

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Checks that the data block from `dataStart` is the click at every start in
// `clickStarts` and zero everywhere else, up to exactly `totalSamples`.
void expectClicksOnGrid(const Bytes& file, size_t dataStart, const Bytes& click,
                        const std::vector<int64_t>& clickStarts, int64_t totalSamples,
                        size_t bytesPerSample) {
    ASSERT_EQ(file.size(), dataStart + static_cast<size_t>(totalSamples) * bytesPerSample);
    auto expectSilence = [&](size_t from, size_t to) {
        const auto first = std::find_if(file.begin() + static_cast<long>(from),
                                        file.begin() + static_cast<long>(to),
                                        [](uint8_t v) { return v != 0; });
        EXPECT_EQ(first, file.begin() + static_cast<long>(to))
            << "a sound at byte " << (first - file.begin()) << " where silence belongs";
    };
    size_t at = dataStart;
    for (size_t k = 0; k < clickStarts.size(); ++k) {
        const size_t start = dataStart + static_cast<size_t>(clickStarts[k]) * bytesPerSample;
        ASSERT_LE(at, start) << "click " << k << " overlaps the one before it";
        ASSERT_LE(start + click.size(), file.size()) << "click " << k << " is cut short";
        expectSilence(at, start);
        ASSERT_EQ(0, std::memcmp(file.data() + start, click.data(), click.size()))
            << "click " << k << " at sample " << clickStarts[k];
        at = start + click.size();
    }
    expectSilence(at, file.size());
}

std::vector<int64_t> evenlySpaced(int64_t count, int64_t spacing) {
    std::vector<int64_t> starts;
    for (int64_t k = 0; k < count; ++k) starts.push_back(k * spacing);
    return starts;
}

Bytes firstClick(const Bytes& file, size_t bytesPerSample) {
    return Bytes(file.begin() + kHeader,
                 file.begin() + kHeader + kClickLength * static_cast<long>(bytesPerSample));
}

// Samples of the default click (44100 per second, 60 Hz, 8 partials, 3
// periods), worked out apart from the program with libm's sinf.
struct ClickSample {
    int64_t index;
    int32_t value24;
    int32_t value16;
};
constexpr ClickSample kDefaultClickSamples[] = {
    {0, 0, 0},               {1, 105448, 411},       {2, 210811, 823},
    {10, 1040480, 4064},     {74, 4195988, 16390},   {100, 3976330, 15532},
    {367, 11133, 43},        {500, -2291201, -8951}, {608, -3408947, -13317},
    {735, 0, 0},             {1000, 821731, 3209},   {1470, 0, 0},
    {2204, -6722, -27},
};

// Each case runs in a fresh folder of its own.
class WaveProgram : public ::testing::Test {
protected:
    TempDir dir;
    std::string path(const std::string& name) const { return dir.file(name); }
    RunResult run(const std::string& commands, int depthAnswer = 2) {
        return runProgram(dir.path(), startAnswers(depthAnswer) + commands + "x\n");
    }
};

// ---------------------------------------------------------------------------
// The header

struct HeaderCase {
    uint32_t rate;
    uint32_t bits;
    int32_t frames;
    uint32_t riffSize;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint32_t dataSize;
};

class HeaderFields : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderFields, HoldEveryFieldLeastSignificantByteFirst) {
    const HeaderCase c = GetParam();
    const auto h = headerBytes(c.rate, c.bits, c.frames);
    const Bytes b(h.begin(), h.end());
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(textAt(b, 0), "RIFF");
    EXPECT_EQ(u32At(b, 4), c.riffSize);
    EXPECT_EQ(textAt(b, 8), "WAVE");
    EXPECT_EQ(textAt(b, 12), "fmt ");
    EXPECT_EQ(u32At(b, 16), 16u);
    EXPECT_EQ(u16At(b, 20), 1u);
    EXPECT_EQ(u16At(b, 22), 1u);
    EXPECT_EQ(u32At(b, 24), c.rate);
    EXPECT_EQ(u32At(b, 28), c.byteRate);
    EXPECT_EQ(u16At(b, 32), c.blockAlign);
    EXPECT_EQ(u16At(b, 34), c.bits);
    EXPECT_EQ(textAt(b, 36), "data");
    EXPECT_EQ(u32At(b, 40), c.dataSize);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, HeaderFields,
    ::testing::Values(HeaderCase{44100, 24, 4233600, 12700836, 132300, 3, 12700800},
                      HeaderCase{44100, 16, 4233600, 8467236, 88200, 2, 8467200},
                      HeaderCase{96000, 24, 0, 36, 288000, 3, 0},
                      HeaderCase{48000, 16, 1, 38, 96000, 2, 2},
                      // the largest data block whose RIFF size still fits 32 bits
                      HeaderCase{44100, 24, 1431655753, 4294967295u, 132300, 3, 4294967259u}));

TEST(HeaderBytes, DefaultHeaderIsTheseBytes) {
    const std::array<uint8_t, 44> expected = {
        'R', 'I', 'F', 'F', 0xA4, 0xCC, 0xC1, 0x00, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x44, 0xAC, 0x00, 0x00, 0xCC, 0x04,
        0x02, 0x00, 0x03, 0x00, 0x18, 0x00, 'd', 'a', 't', 'a', 0x80, 0xCC, 0xC1, 0x00};
    EXPECT_EQ(headerBytes(44100, 24, 4233600), expected);
}

TEST(WaveSize, ExactUpToFourGibibytesLessOne) {
    EXPECT_TRUE(fitsWaveSize(4294967295ull));
    EXPECT_FALSE(fitsWaveSize(4294967296ull));
}

// ---------------------------------------------------------------------------
// The "data" tag search

TEST(FindDataTag, FindsTheTagAtEveryEvenOffsetFrom2To15000) {
    for (size_t at = 2; at <= 15000; at += 2) {
        Bytes b(15100, 'x');
        std::memcpy(&b[at], "data", 4);
        ASSERT_EQ(findDataTag(b.data(), b.size()), static_cast<long>(at)) << "offset " << at;
    }
}

TEST(FindDataTag, MissesTheTagAtOddOffsetsAtZeroAndPast15000) {
    std::vector<size_t> offsets = {0, 15002, 15004, 20000};
    for (size_t at = 1; at < 15010; at += 2) offsets.push_back(at);
    for (size_t at : offsets) {
        Bytes b(20100, 'x');
        std::memcpy(&b[at], "data", 4);
        ASSERT_EQ(findDataTag(b.data(), b.size()), -1) << "offset " << at;
    }
}

TEST(FindDataTag, TakesTheFirstOfTwoTags) {
    Bytes b(200, 0);
    std::memcpy(&b[36], "data", 4);
    std::memcpy(&b[100], "data", 4);
    EXPECT_EQ(findDataTag(b.data(), b.size()), 36);
}

TEST(FindDataTag, NeedsTheWholeTagInsideTheBytes) {
    const std::string cut = "RIFFdat";
    EXPECT_EQ(findDataTag(reinterpret_cast<const uint8_t*>(cut.data()), cut.size()), -1);
    const std::string whole = "RIdata";
    EXPECT_EQ(findDataTag(reinterpret_cast<const uint8_t*>(whole.data()), whole.size()), 2);
    EXPECT_EQ(findDataTag(nullptr, 0), -1);
}

// ---------------------------------------------------------------------------
// The beat grid

struct TrackCase {
    const char* name;
    uint32_t rate;
    float tempo;
    int64_t count;
    int32_t clickLength;
    int64_t samples;
};

class TrackLength : public ::testing::TestWithParam<TrackCase> {};

TEST_P(TrackLength, CountsTheLastClickWhole) {
    const TrackCase c = GetParam();
    EXPECT_EQ(trackSamples(c.rate, c.tempo, c.count, c.clickLength), c.samples);
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, TrackLength,
    ::testing::Values(
        TrackCase{"DefaultTrackEndsInSilence", 44100, 120.0f, 4233600, 2205, 4233600},
        TrackCase{"Tempo30LastClickRunsPastTheEnd", 44100, 30.0f, 16934400, 2205, 16936604},
        TrackCase{"ClicksLongerThanTheBeat", 44100, 1500.0f, 338688, 2205, 339570},
        TrackCase{"EmptyClickIsAllSilence", 44100, 120.0f, 4233600, 0, 4233600},
        TrackCase{"NoSamplesNoClick", 44100, 120.0f, 0, 2205, 0},
        TrackCase{"OneSampleStillGetsAWholeClick", 44100, 120.0f, 1, 2205, 2205},
        TrackCase{"FractionalSpacing", 10, 70.0f, 40, 3, 40}),
    [](const ::testing::TestParamInfo<TrackCase>& info) { return info.param.name; });

struct GridRun {
    int64_t silence;
    bool click;
    bool operator==(const GridRun& o) const { return silence == o.silence && click == o.click; }
};

std::vector<GridRun> gridRuns(uint32_t rate, float tempo, int64_t count, int32_t clickLength) {
    BeatGrid grid(rate, tempo, count, clickLength);
    std::vector<GridRun> runs;
    GridRun r{0, false};
    while (grid.next(r.silence, r.click) && runs.size() < 1000) runs.push_back(r);
    return runs;
}

TEST(BeatGrid, StartsEachBeatAtTheFirstSampleAtOrAfterItsTime) {
    // 10 samples a second at 70 bpm: beats every 8.571 samples, clicks of 3,
    // so clicks start at 0, 9, 18, 26 and 35 and the track ends at 40.
    const std::vector<GridRun> expected = {{0, true}, {6, true}, {6, true}, {5, true}, {6, true}, {2, false}};
    EXPECT_EQ(gridRuns(10, 70.0f, 40, 3), expected);
}

TEST(BeatGrid, PutsClicksBackToBackWhenTheClickOutlastsTheBeat) {
    const std::vector<GridRun> runs = gridRuns(44100, 1500.0f, 338688, 2205);
    ASSERT_EQ(runs.size(), 154u);
    for (const GridRun& r : runs) EXPECT_EQ(r, (GridRun{0, true}));
}

TEST(BeatGrid, StartsLateBeatsEarlyWhereSampleNumbersRoundUp) {
    // Beyond 2^24 a sample number rounds to an even float: 16846199 reads as
    // 16846200, the time of beat 191 at tempo 30.
    EXPECT_EQ(firstSampleAtOrAfter(16846200.0f, 16760205), 16846199);
    EXPECT_EQ(firstSampleAtOrAfter(16934400.0f, 16848404), 16934399);
    EXPECT_EQ(firstSampleAtOrAfter(22050.0f, 2205), 22050);
    EXPECT_EQ(firstSampleAtOrAfter(22050.0f, 30000), 30000);
}

// ---------------------------------------------------------------------------
// `w`: whole files

struct DepthCase {
    const char* name;
    int depthAnswer;
    size_t bytesPerSample;
    uint16_t bits;
    uint64_t fileBytes;
    uint32_t riffSize;
    uint32_t dataSize;
    uint32_t byteRate;
};

class DefaultTrack : public WaveProgram, public ::testing::WithParamInterface<DepthCase> {};

TEST_P(DefaultTrack, Has192ClicksEvery22050SamplesAndATrueHeader) {
    const DepthCase c = GetParam();
    const RunResult r = run("w\n", c.depthAnswer);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    const Bytes file = readBytes(path("click.wav"));
    ASSERT_EQ(file.size(), c.fileBytes);
    EXPECT_EQ(textAt(file, 0), "RIFF");
    EXPECT_EQ(u32At(file, 4), c.riffSize);
    EXPECT_EQ(u32At(file, 24), 44100u);
    EXPECT_EQ(u32At(file, 28), c.byteRate);
    EXPECT_EQ(u16At(file, 32), c.bytesPerSample);
    EXPECT_EQ(u16At(file, 34), c.bits);
    EXPECT_EQ(textAt(file, 36), "data");
    EXPECT_EQ(u32At(file, 40), c.dataSize);
    for (const ClickSample& s : kDefaultClickSamples) {
        EXPECT_EQ(sampleAt(file, kHeader, s.index, c.bytesPerSample),
                  c.bytesPerSample == 3 ? s.value24 : s.value16)
            << "click sample " << s.index;
    }
    expectClicksOnGrid(file, kHeader, firstClick(file, c.bytesPerSample), evenlySpaced(192, 22050),
                       4233600, c.bytesPerSample);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, DefaultTrack,
    ::testing::Values(DepthCase{"Bits24", 2, 3, 24, 12700844, 12700836, 12700800, 132300},
                      DepthCase{"Bits16", 1, 2, 16, 8467244, 8467236, 8467200, 88200}),
    [](const ::testing::TestParamInfo<DepthCase>& info) { return info.param.name; });

TEST_F(WaveProgram, WritingPrintsNothingButTheClickStageLine) {
    const RunResult quiet = run("");
    const RunResult written = run("w\n");
    const std::string startup = quiet.out.substr(0, quiet.out.find("ready\n") + 6);
    const std::string menu = quiet.out.substr(startup.size());
    EXPECT_EQ(written.out, quiet.out + "\n" + menu);
}

TEST_F(WaveProgram, ClicksFollowOneAnotherWhenTheClickOutlastsTheBeat) {
    // At 1500 bpm a beat is 1764 samples, shorter than the 2205 of the click:
    // 338688 planned samples take 154 whole clicks and no silence at all.
    const RunResult r = run("t\n1500\nw\n");
    EXPECT_EQ(r.status, 2);
    const Bytes file = readBytes(path("click.wav"));
    ASSERT_EQ(file.size(), 1018754u);
    EXPECT_EQ(u32At(file, 4), 1018746u);
    EXPECT_EQ(u32At(file, 40), 1018710u);
    expectClicksOnGrid(file, kHeader, firstClick(file, 3), evenlySpaced(154, 2205), 339570, 3);
}

TEST_F(WaveProgram, Tempo30WritesThe193rdClickWholeAndStatesIt) {
    // 16934400 samples planned, beats 88200 apart. Past 2^24 the sample count
    // rounds to an even float, so beat 191 starts at 16846199 and a 193rd
    // click at 16934399, one sample before the end; it is written whole.
    const RunResult r = run("t\n30\nw\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    const Bytes file = readBytes(path("click.wav"));
    ASSERT_EQ(file.size(), 44u + (16934400u + 2204u) * 3u);
    EXPECT_EQ(u32At(file, 4), 50809848u);
    EXPECT_EQ(u32At(file, 40), 50809812u);
    std::vector<int64_t> starts = evenlySpaced(191, 88200);
    starts.push_back(16846199);
    starts.push_back(16934399);
    expectClicksOnGrid(file, kHeader, firstClick(file, 3), starts, 16936604, 3);
}

// ---------------------------------------------------------------------------
// `+`: appending

TEST_F(WaveProgram, AppendDoublesTheAudioAndRepairsBothSizes) {
    const RunResult r = run("w\n+\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    const Bytes file = readBytes(path("click.wav"));
    ASSERT_EQ(file.size(), 25401644u);
    EXPECT_EQ(u32At(file, 4), 25401636u);
    EXPECT_EQ(u32At(file, 40), 25401600u);
    const size_t half = 12700800;
    EXPECT_EQ(0, std::memcmp(file.data() + kHeader, file.data() + kHeader + half, half));
    expectClicksOnGrid(file, kHeader, firstClick(file, 3), evenlySpaced(384, 22050), 8467200, 3);
}

TEST_F(WaveProgram, AppendRepairsTheSizeAfterATagAtOffset15000) {
    // A padding chunk puts the data tag at 15000, the last place searched.
    writeFile(path("click.wav"), handMadeWave(44100, 24, 1, 6, 15000));
    const RunResult r = run("+\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    const uint64_t length = 15008 + 6 + 12700800;
    ASSERT_EQ(fileSize(path("click.wav")), length);
    const Bytes head = readRange(path("click.wav"), 0, 15008);
    EXPECT_EQ(u32At(head, 4), length - 8);
    EXPECT_EQ(textAt(head, 15000), "data");
    EXPECT_EQ(u32At(head, 15004), length - 15008);
    EXPECT_EQ(sampleAt(readRange(path("click.wav"), 15014, 30), 0, 1, 3), 105448);
}

// ---------------------------------------------------------------------------
// Refusals and failures: a clear message, status 2, and the file as it was

struct Refusal {
    const char* name;
    const char* commands;
    const char* target;      // the file the commands act on
    const char* before;      // its content beforehand or a hand-made wave named in
                             // beforeContent; nullptr: it does not exist
    const char* message;
};

std::string beforeContent(const Refusal& c) {
    const std::string before = c.before;
    if (before == "wave16") return handMadeWave(44100, 16, 1, 4);
    if (before == "wave48000") return handMadeWave(48000, 24, 1, 6);
    if (before == "stereo") return handMadeWave(44100, 24, 2, 12);
    if (before == "wave") return handMadeWave(44100, 24, 1, 6);
    if (before == "tagAt15002") return handMadeWave(44100, 24, 1, 6, 15002);
    if (before == "hugeChunk") {
        // A chunk claiming 4294967288 bytes ahead of the data tag: walking
        // past it must leave the file, not come round to the same place.
        std::string s = "RIFF";
        appendU32(s, 42);
        s += "WAVEJUNK";
        appendU32(s, 0xFFFFFFF8u);
        s.append(16, '\0');
        s += "data";
        appendU32(s, 6);
        s.append(6, '\0');
        return s;
    }
    return before;
}

class RefusedTrack : public WaveProgram, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedTrack, SaysWhyEndsWithStatus2AndLeavesTheFileAsItWas) {
    const Refusal c = GetParam();
    writeFile(path("afile"), "not a folder\n");
    std::string before;
    if (c.before) {
        before = beforeContent(c);
        writeFile(path(c.target), before);
    }
    const RunResult r = run(c.commands);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(endsWith(r.out, "\n\n" + std::string(c.message) + "\n")) << r.out.substr(r.out.size() - 300);
    if (c.before) {
        EXPECT_TRUE(readFile(path(c.target)) == before) << c.target << " was changed";
    } else {
        EXPECT_FALSE(fileExists(path(c.target)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Append, RefusedTrack,
    ::testing::Values(
        Refusal{"MissingFile", "n\nmissing.wav\n+\n", "missing.wav", nullptr,
                "The requested filename does not exist!"},
        Refusal{"TextFile", "n\nnotes.txt\n+\n", "notes.txt", "some notes, not a wave file\n",
                "Can't find data block in wave file!"},
        Refusal{"TagOnlyAtAnOddOffset", "n\nodd.wav\n+\n", "odd.wav", "RIFFxdata and more text",
                "Can't find data block in wave file!"},
        Refusal{"TagPast15000", "+\n", "click.wav", "tagAt15002",
                "Can't find data block in wave file!"},
        Refusal{"OtherDepth", "+\n", "click.wav", "wave16",
                "'click.wav' is not a one-channel 24-bit wave file at 44100 samples per second; "
                "nothing was added."},
        Refusal{"OtherRate", "+\n", "click.wav", "wave48000",
                "'click.wav' is not a one-channel 24-bit wave file at 44100 samples per second; "
                "nothing was added."},
        Refusal{"TwoChannels", "+\n", "click.wav", "stereo",
                "'click.wav' is not a one-channel 24-bit wave file at 44100 samples per second; "
                "nothing was added."},
        Refusal{"NoFormatBeforeAHugeChunk", "+\n", "click.wav", "hugeChunk",
                "'click.wav' is not a one-channel 24-bit wave file at 44100 samples per second; "
                "nothing was added."},
        Refusal{"PastFourGibibytes", "m\n20000\n+\n", "click.wav", "wave",
                "The track would make 'click.wav' 4 GiB or larger; nothing was added."}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Write, RefusedTrack,
    ::testing::Values(
        Refusal{"UnderARegularFile", "n\nafile/click.wav\nw\n", "afile/click.wav", nullptr,
                "Can't create 'afile/click.wav': Not a directory"},
        Refusal{"PastFourGibibytes", "m\n20000\nw\n", "click.wav", "an older file\n",
                "The track would make 'click.wav' 4 GiB or larger; nothing was written."},
        Refusal{"PastTwoToThe31Samples", "m\n1000000\nw\n", "click.wav", "an older file\n",
                "The track would make 'click.wav' 4 GiB or larger; nothing was written."}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

TEST_F(WaveProgram, WriteToAFullDeviceFailsWithStatus2) {
    const RunResult r = run("n\n/dev/full\nw\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(endsWith(r.out, "\n\nCan't write '/dev/full': No space left on device\n"))
        << r.out.substr(r.out.size() - 200);
}

TEST_F(WaveProgram, WriteToAReadOnlyFolderFailsWithStatus2) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    std::filesystem::create_directory(path("locked"));
    ::chmod(path("locked").c_str(), 0555);
    const RunResult r = run("n\nlocked/click.wav\nw\n");
    ::chmod(path("locked").c_str(), 0755);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(endsWith(r.out, "\n\nCan't create 'locked/click.wav': Permission denied\n"));
    EXPECT_FALSE(fileExists(path("locked/click.wav")));
}

TEST_F(WaveProgram, AppendToAReadOnlyFileIsRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only files";
    const std::string wave = handMadeWave(44100, 24, 1, 6);
    writeFile(path("click.wav"), wave);
    ::chmod(path("click.wav").c_str(), 0444);
    const RunResult r = run("+\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(endsWith(r.out, "\n\nThe requested filename does not exist!\n"));
    EXPECT_EQ(readFile(path("click.wav")), wave);
}

// `w` to /dev/full already fails at the header; here the track itself fails.
TEST(WriteFile, ReportsAFailedTrackWrite) {
    const Bytes click(2205 * 3, 0x11);
    const Outcome r = WRITE_FILE(44100, 24, 120.0f, 4233600, "/dev/full", click, Bytes(3, 0), 2205);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->status, 2);
    EXPECT_EQ(r->message, "Can't write '/dev/full': No space left on device");
}

TEST(FixSize, LeavesAFileWithoutTagAlone) {
    const TempDir dir;
    const std::string text = "RIFF and WAVE but no tag\n" + std::string(20000, 'x');
    writeFile(dir.file("notes.txt"), text);
    const Outcome r = FIX_SIZE(dir.file("notes.txt"));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->status, 2);
    EXPECT_EQ(r->message, "Can't find data block in wave file!");
    EXPECT_TRUE(readFile(dir.file("notes.txt")) == text);
}

// A sparse file of nearly 4 GiB: appending the default track (12700800
// bytes) may bring it to 4294967295 bytes exactly, but not one byte further.
TEST_F(WaveProgram, AppendFillsAFileUpTo4GibibytesLessOneAndNoFurther) {
    const uint64_t largestBefore = 4294967295ull - 12700800ull;
    for (const uint64_t before : {largestBefore + 1, largestBefore}) {
        writeFile(path("click.wav"), handMadeWave(44100, 24, 1, 6));
        ASSERT_EQ(::truncate(path("click.wav").c_str(), static_cast<off_t>(before)), 0);
        const RunResult r = run("+\n");
        EXPECT_EQ(r.status, 2);
        const Bytes head = readRange(path("click.wav"), 0, 44);
        if (before > largestBefore) {
            EXPECT_TRUE(endsWith(r.out, "\n\nThe track would make 'click.wav' 4 GiB or larger; "
                                        "nothing was added.\n"));
            EXPECT_EQ(fileSize(path("click.wav")), before);
            EXPECT_EQ(u32At(head, 4), 42u);
            EXPECT_EQ(u32At(head, 40), 6u);
        } else {
            EXPECT_EQ(fileSize(path("click.wav")), 4294967295ull);
            EXPECT_EQ(u32At(head, 4), 4294967287u);
            EXPECT_EQ(u32At(head, 40), 4294967251u);
            const Bytes start = readRange(path("click.wav"), before, 9);
            EXPECT_EQ(sampleAt(start, 0, 1, 3), 105448);
            EXPECT_EQ(sampleAt(start, 0, 2, 3), 210811);
        }
        std::filesystem::remove(path("click.wav"));
    }
}

// ---------------------------------------------------------------------------
// Another reader: sox takes the files as they are, without a warning

struct SoxCase {
    const char* name;
    int depthAnswer;
    const char* commands;
    const char* precision;
    const char* samples;
};

class SoxReads : public WaveProgram, public ::testing::WithParamInterface<SoxCase> {};

TEST_P(SoxReads, TheWrittenFileWithoutWarning) {
    if (std::system("command -v soxi >/dev/null 2>&1") != 0) GTEST_SKIP() << "soxi is not installed";
    const SoxCase c = GetParam();
    ASSERT_EQ(run(c.commands, c.depthAnswer).status, 2);
    const std::string out = path("soxi.out");
    const std::string err = path("soxi.err");
    const std::string command = "soxi '" + path("click.wav") + "' >'" + out + "' 2>'" + err + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFile(err), "");
    const std::string info = readFile(out);
    EXPECT_NE(info.find("Channels       : 1\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Sample Rate    : 44100\n"), std::string::npos) << info;
    EXPECT_NE(info.find(std::string("Precision      : ") + c.precision + "\n"), std::string::npos)
        << info;
    EXPECT_NE(info.find(std::string(" = ") + c.samples + " samples"), std::string::npos) << info;
}

INSTANTIATE_TEST_SUITE_P(
    Files, SoxReads,
    ::testing::Values(SoxCase{"Default24Bit", 2, "w\n", "24-bit", "4233600"},
                      SoxCase{"Default16Bit", 1, "w\n", "16-bit", "4233600"},
                      SoxCase{"Appended", 2, "w\n+\n", "24-bit", "8467200"},
                      SoxCase{"LastClickPastThePlannedEnd", 2, "t\n1500\nw\n", "24-bit", "339570"}),
    [](const ::testing::TestParamInfo<SoxCase>& info) { return info.param.name; });

}  // namespace
