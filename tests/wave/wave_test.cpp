// Wave files: the header bytes, the search for the "data" tag, the beat grid,
// and whole files written by `w` and `+` through the program.
#include <gtest/gtest.h>

#include <ostream>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/audio_support.hpp"
#include "core/timing.hpp"
#include "wave/header.hpp"

namespace {

constexpr size_t kHeader = 44;
constexpr size_t kClickLength = 2205;  // 3 periods of 60 Hz at 44100

const std::string kNoTag = "Can't find data block in wave file!";
const std::string kOtherFormat =
    "'click.wav' is not a one-channel 24-bit wave file at 44100 samples per second; nothing was "
    "added.";
const std::string kTooLarge = "The track would make 'click.wav' 4 GiB or larger; nothing was ";

struct HeaderCase {
    uint32_t rate;
    uint32_t bits;
    int32_t frames;
    uint32_t riffSize;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint32_t dataSize;
};

// Every field of a one-channel PCM header, least significant byte first.
void expectHeader(const Bytes& b, const HeaderCase& c) {
    ASSERT_GE(b.size(), kHeader);
    EXPECT_EQ(textAt(b, 0) + textAt(b, 8) + textAt(b, 12) + textAt(b, 36), "RIFFWAVEfmt data");
    EXPECT_EQ(u32At(b, 4), c.riffSize);
    EXPECT_EQ(u32At(b, 16), 16u);
    EXPECT_EQ(u16At(b, 20), 1u);  // PCM
    EXPECT_EQ(u16At(b, 22), 1u);  // one channel
    EXPECT_EQ(u32At(b, 24), c.rate);
    EXPECT_EQ(u32At(b, 28), c.byteRate);
    EXPECT_EQ(u16At(b, 32), c.blockAlign);
    EXPECT_EQ(u16At(b, 34), c.bits);
    EXPECT_EQ(u32At(b, 40), c.dataSize);
}

// Checks that the samples after the header are the file's first click at
// every start in `clickStarts` and zero everywhere else.
void expectClicksOnGrid(const Bytes& file, const std::vector<int64_t>& clickStarts,
                        size_t bytesPerSample) {
    const size_t clickBytes = kClickLength * bytesPerSample;
    ASSERT_GE(file.size(), kHeader + clickBytes);
    const Bytes click(file.begin() + kHeader,
                      file.begin() + static_cast<long>(kHeader + clickBytes));
    auto expectSilence = [&](size_t from, size_t to) {
        const auto sound =
            std::find_if(file.begin() + static_cast<long>(from),
                         file.begin() + static_cast<long>(to), [](uint8_t v) { return v != 0; });
        EXPECT_EQ(sound, file.begin() + static_cast<long>(to))
            << "a sound at byte " << (sound - file.begin()) << " where silence belongs";
    };
    size_t at = kHeader;
    for (size_t k = 0; k < clickStarts.size(); ++k) {
        const size_t start = kHeader + static_cast<size_t>(clickStarts[k]) * bytesPerSample;
        ASSERT_LE(at, start) << "click " << k << " overlaps the one before it";
        ASSERT_LE(start + clickBytes, file.size()) << "click " << k << " is cut short";
        expectSilence(at, start);
        ASSERT_EQ(0, std::memcmp(file.data() + start, click.data(), clickBytes)) << "click " << k;
        at = start + clickBytes;
    }
    expectSilence(at, file.size());
}

std::vector<int64_t> evenlySpaced(int64_t count, int64_t spacing, std::vector<int64_t> after = {}) {
    std::vector<int64_t> starts;
    for (int64_t k = 0; k < count; ++k) starts.push_back(k * spacing);
    starts.insert(starts.end(), after.begin(), after.end());
    return starts;
}

// Samples of the default click (44100 per second, 60 Hz, 8 partials, 3
// periods), worked out apart from the program with libm's sinf.
struct ClickSample {
    size_t index;
    int32_t value24;
    int32_t value16;
};
constexpr ClickSample kDefaultClickSamples[] = {
    {0, 0, 0},           {1, 105448, 411},       {2, 210811, 823},
    {10, 1040480, 4064}, {74, 4195988, 16390},   {100, 3976330, 15532},
    {367, 11133, 43},    {500, -2291201, -8951}, {608, -3408947, -13317},
    {735, 0, 0},         {1000, 821731, 3209},   {1470, 0, 0},
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

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// ---------------------------------------------------------------------------
// The header

TEST(HeaderBytes, HoldEveryFieldLeastSignificantByteFirst) {
    for (const HeaderCase& c :
         {HeaderCase{44100, 24, 4233600, 12700836, 132300, 3, 12700800},
          HeaderCase{44100, 16, 4233600, 8467236, 88200, 2, 8467200},
          HeaderCase{96000, 24, 0, 36, 288000, 3, 0}, HeaderCase{48000, 16, 1, 38, 96000, 2, 2},
          // the largest data block whose RIFF size still fits 32 bits
          HeaderCase{44100, 24, 1431655753, 4294967295u, 132300, 3, 4294967259u}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.bits) + " bits");
        const auto h = headerBytes(c.rate, c.bits, c.frames);
        expectHeader(Bytes(h.begin(), h.end()), c);
    }
}

TEST(WaveSize, ExactUpToFourGibibytesLessOne) {
    EXPECT_TRUE(fitsWaveSize(4294967295ull));
    EXPECT_FALSE(fitsWaveSize(4294967296ull));
}

// ---------------------------------------------------------------------------
// The beat grid

TEST(TrackLength, CountsTheLastClickWhole) {
    struct Case {
        uint32_t rate;
        float tempo;
        int64_t count;
        int32_t clickLength;
        int64_t samples;
    };
    const Case cases[] = {
        {44100, 120.0f, 4233600, 2205, 4233600},   // the default track ends in silence
        {44100, 30.0f, 16934400, 2205, 16936604},  // the last click runs past the end
        {44100, 1500.0f, 338688, 2205, 339570},    // clicks longer than the beat
        {44100, 120.0f, 4233600, 0, 4233600},      // an empty click is all silence
        {44100, 120.0f, 0, 2205, 0},               // no samples, no click
        {44100, 120.0f, 1, 2205, 2205},            // one sample still gets a whole click
        {10, 70.0f, 40, 3, 40},                    // beats 8.571 samples apart
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trackLength({fileSection(c.rate, c.tempo, c.count, c.clickLength)}), c.samples)
            << c.rate << " Hz, " << c.tempo << " bpm, " << c.count << " samples";
    }
}

// Each run of the track: the silent samples, then whether a click follows.
using GridRun = std::pair<int64_t, bool>;

std::vector<GridRun> gridRuns(uint32_t rate, float tempo, int64_t count, int32_t clickLength) {
    BeatSchedule schedule({fileSection(rate, tempo, count, clickLength)});
    std::vector<GridRun> runs;
    int64_t at = 0;
    BeatEvent beat;
    while (schedule.next(beat) && runs.size() < 1000) {
        runs.push_back({beat.frame - at, true});
        at = beat.frame + clickLength;
    }
    if (schedule.end() > at) runs.push_back({schedule.end() - at, false});
    return runs;
}

TEST(BeatGrid, StartsEachBeatAtTheFirstSampleAtOrAfterItsTime) {
    // 10 samples a second at 70 bpm: beats every 8.571 samples, clicks of 3,
    // so clicks start at 0, 9, 18, 26 and 35 and the track ends at 40.
    const std::vector<GridRun> expected = {{0, true}, {6, true}, {6, true},
                                           {5, true}, {6, true}, {2, false}};
    EXPECT_EQ(gridRuns(10, 70.0f, 40, 3), expected);
}

TEST(BeatGrid, PutsClicksBackToBackWhenTheClickOutlastsTheBeat) {
    EXPECT_EQ(gridRuns(44100, 1500.0f, 338688, 2205), std::vector<GridRun>(154, GridRun{0, true}));
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
// `w` and `+`: whole files

struct WrittenCase {
    const char* name;
    int depthAnswer;
    const char* commands;
    HeaderCase header;
    std::vector<int64_t> clickStarts;
    uint64_t samples;
};
// Shown in test listings instead of the row's bytes.
void PrintTo(const WrittenCase& row, std::ostream* os) { *os << row.name; }

class WrittenTrack : public WaveProgram, public ::testing::WithParamInterface<WrittenCase> {};

TEST_P(WrittenTrack, HasATrueHeaderAndTheClickOnEveryBeat) {
    const WrittenCase& c = GetParam();
    const RunResult r = run(c.commands, c.depthAnswer);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    const Bytes file = readBytes(path("click.wav"));
    const size_t bytesPerSample = c.header.blockAlign;
    ASSERT_EQ(file.size(), kHeader + c.samples * bytesPerSample);
    expectHeader(file, c.header);
    for (const ClickSample& s : kDefaultClickSamples) {
        EXPECT_EQ(sampleAt(file, kHeader, s.index, bytesPerSample),
                  bytesPerSample == 3 ? s.value24 : s.value16)
            << "click sample " << s.index;
    }
    expectClicksOnGrid(file, c.clickStarts, bytesPerSample);
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, WrittenTrack,
    ::testing::Values(
        WrittenCase{"Default24Bit", 2, "w\n", {44100, 24, 0, 12700836, 132300, 3, 12700800},
                    evenlySpaced(192, 22050), 4233600},
        WrittenCase{"Default16Bit", 1, "w\n", {44100, 16, 0, 8467236, 88200, 2, 8467200},
                    evenlySpaced(192, 22050), 4233600},
        // `+` doubles the audio and repairs both sizes.
        WrittenCase{"Appended", 2, "w\n+\n", {44100, 24, 0, 25401636, 132300, 3, 25401600},
                    evenlySpaced(384, 22050), 8467200},
        // A beat of 1764 samples, shorter than the click: 338688 planned
        // samples take 154 whole clicks and no silence at all.
        WrittenCase{"Tempo1500ClicksBackToBack", 2, "t\n1500\nw\n",
                    {44100, 24, 0, 1018746, 132300, 3, 1018710}, evenlySpaced(154, 2205), 339570},
        // 16934400 samples planned, beats 88200 apart. Past 2^24 the sample
        // count rounds to an even float, so beat 191 starts at 16846199 and a
        // 193rd click at 16934399, one sample before the end, written whole.
        WrittenCase{"Tempo30Writes193rdClickWhole", 2, "t\n30\nw\n",
                    {44100, 24, 0, 50809848, 132300, 3, 50809812},
                    evenlySpaced(191, 88200, {16846199, 16934399}), 16936604}),
    caseName<WrittenCase>);

TEST_F(WaveProgram, WritingPrintsNothingButTheClickStageLine) {
    const RunResult quiet = run("");
    const RunResult written = run("w\n");
    const std::string startup = quiet.out.substr(0, quiet.out.find("ready\n") + 6);
    const std::string menu = quiet.out.substr(startup.size());
    EXPECT_EQ(written.out, quiet.out + "\n" + menu);
}

TEST_F(WaveProgram, AppendRepairsTheSizeAfterATagAtOffset15000) {
    // A padding chunk puts the data tag at 15000, the last place searched.
    writeFile(path("click.wav"), handMadeWave(44100, 24, 1, 6, 15000));
    const RunResult r = run("+\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(std::filesystem::file_size(path("click.wav")), 15014u + 12700800u);
    const Bytes head = readRange(path("click.wav"), 0, 15044);
    ASSERT_EQ(head.size(), 15044u);
    EXPECT_EQ(u32At(head, 4), 12715806u);
    EXPECT_EQ(textAt(head, 15000), "data");
    EXPECT_EQ(u32At(head, 15004), 12700806u);
    EXPECT_EQ(sampleAt(head, 15014, 1, 3), 105448);
}

// A sparse file of nearly 4 GiB whose header states all its audio:
// appending the default track (12700800 bytes) may bring it to 4294967294
// bytes, the largest whole file of 24-bit samples (an odd length would need
// a pad byte), but not one sample further.
TEST_F(WaveProgram, AppendFillsAFileUpTo4GibibytesAndNoFurther) {
    const uint64_t largestBefore = 4294967294ull - 12700800ull;
    for (const uint64_t before : {largestBefore + 3, largestBefore}) {
        writeFile(path("click.wav"), waveHeader(44100, 24, 1, static_cast<uint32_t>(before - 44)));
        ASSERT_EQ(::truncate(path("click.wav").c_str(), static_cast<off_t>(before)), 0);
        const RunResult r = run("+\n");
        EXPECT_EQ(r.status, 2);
        const Bytes head = readRange(path("click.wav"), 0, 44);
        ASSERT_EQ(head.size(), 44u);
        if (before > largestBefore) {
            EXPECT_TRUE(endsWith(r.out, "\n\n" + kTooLarge + "added.\n"));
            EXPECT_EQ(std::filesystem::file_size(path("click.wav")), before);
            EXPECT_EQ(u32At(head, 4), before - 8);
            EXPECT_EQ(u32At(head, 40), before - 44);
        } else {
            EXPECT_EQ(std::filesystem::file_size(path("click.wav")), 4294967294ull);
            EXPECT_EQ(u32At(head, 4), 4294967286u);
            EXPECT_EQ(u32At(head, 40), 4294967250u);
            const Bytes start = readRange(path("click.wav"), before, 9);
            ASSERT_EQ(start.size(), 9u);
            EXPECT_EQ(sampleAt(start, 0, 1, 3), 105448);
            EXPECT_EQ(sampleAt(start, 0, 2, 3), 210811);
        }
        std::filesystem::remove(path("click.wav"));
    }
}

// ---------------------------------------------------------------------------
// Refusals and failures: a clear message, status 2, and the file as it was

// A chunk claiming 4294967288 bytes ahead of the data tag: walking past it
// must leave the file, not come round to the same place.
const std::string kHugeChunkWave = std::string("RIFF\x2a\0\0\0WAVEJUNK\xf8\xff\xff\xff", 20) +
                                   std::string(16, '\0') +
                                   std::string("data\x06\0\0\0\0\0\0\0\0\0", 14);

struct Refusal {
    const char* name;
    const char* commands;
    const char* target;  // the file the commands act on
    std::string before;  // its content beforehand; empty: it does not exist
    std::string message;
    mode_t mode = 0;  // when set, the target's permissions, or its folder's if it does not exist
};
// Shown in test listings instead of the row's bytes.
void PrintTo(const Refusal& row, std::ostream* os) { *os << row.name; }

class RefusedTrack : public WaveProgram, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedTrack, SaysWhyEndsWithStatus2AndLeavesTheFileAsItWas) {
    const Refusal& c = GetParam();
    writeFile(path("afile"), "not a folder\n");
    const std::string target = path(c.target);
    if (!c.before.empty()) writeFile(target, c.before);
    if (c.mode != 0 && !c.before.empty()) ::chmod(target.c_str(), c.mode);
    if (c.mode != 0 && c.before.empty()) {
        std::filesystem::create_directory(std::filesystem::path(target).parent_path());
        ::chmod(std::filesystem::path(target).parent_path().c_str(), c.mode);
    }
    // Permissions bind root too once it runs without privileges.
    const RunResult r = c.mode == 0 ? run(c.commands)
                                    : runProgram(dir.path(), startAnswers(2) + c.commands + "x\n",
                                                 "", unprivilegedRun());
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(endsWith(r.out, "\n\n" + c.message + "\n")) << r.out.substr(r.out.size() - 300);
    if (!c.before.empty()) {
        EXPECT_TRUE(readFile(target) == c.before) << c.target << " was changed";
    } else {
        EXPECT_FALSE(fileExists(target));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Append, RefusedTrack,
    ::testing::Values(
        Refusal{"MissingFile", "n\nmissing.wav\n+\n", "missing.wav", "",
                "The requested filename does not exist!"},
        Refusal{"ReadOnlyFile", "+\n", "click.wav", handMadeWave(44100, 24, 1, 6),
                "The requested filename does not exist!", 0444},
        Refusal{"TextFile", "n\nnotes.txt\n+\n", "notes.txt", "some notes, not a wave file\n",
                kNoTag},
        Refusal{"TagOnlyAtAnOddOffset", "n\nodd.wav\n+\n", "odd.wav", "RIFFxdata and more text",
                kNoTag},
        Refusal{"TagPast15000", "+\n", "click.wav", handMadeWave(44100, 24, 1, 6, 15002), kNoTag},
        Refusal{"OtherDepth", "+\n", "click.wav", handMadeWave(44100, 16, 1, 4), kOtherFormat},
        Refusal{"OtherRate", "+\n", "click.wav", handMadeWave(48000, 24, 1, 6), kOtherFormat},
        Refusal{"TwoChannels", "+\n", "click.wav", handMadeWave(44100, 24, 2, 12), kOtherFormat},
        Refusal{"NoFormatBeforeAHugeChunk", "+\n", "click.wav", kHugeChunkWave, kOtherFormat},
        // Samples appended there would bury the chunk inside the audio.
        Refusal{"ChunkAfterTheAudio", "+\n", "click.wav",
                handMadeWave(44100, 24, 1, 6) + std::string("LIST\x04\0\0\0INFO", 12),
                "'click.wav' has another chunk after its audio; nothing was added."},
        // Nor may a tag that another program put after the audio be written over.
        Refusal{"TagAfterTheAudio", "+\n", "click.wav",
                handMadeWave(44100, 24, 1, 6) + "TAG" + std::string(125, ' '),
                "'click.wav' has other data after its audio; nothing was added."},
        Refusal{"PastFourGibibytes", "m\n20000\n+\n", "click.wav", handMadeWave(44100, 24, 1, 6),
                kTooLarge + "added."}),
    caseName<Refusal>);

INSTANTIATE_TEST_SUITE_P(
    Write, RefusedTrack,
    ::testing::Values(Refusal{"UnderARegularFile", "n\nafile/click.wav\nw\n", "afile/click.wav", "",
                              "Can't create 'afile/click.wav': Not a directory"},
                      Refusal{"InAReadOnlyFolder", "n\nlocked/click.wav\nw\n", "locked/click.wav",
                              "", "Can't create 'locked/click.wav': Permission denied", 0555},
                      Refusal{"PastFourGibibytes", "m\n20000\nw\n", "click.wav", "an older file\n",
                              kTooLarge + "written."},
                      Refusal{"PastTwoToThe31Samples", "m\n1000000\nw\n", "click.wav",
                              "an older file\n", kTooLarge + "written."}),
    caseName<Refusal>);

// ---------------------------------------------------------------------------
// Another reader: sox takes the files as they are, without a warning

TEST_F(WaveProgram, SoxReadsTheWrittenFilesWithoutWarning) {
    if (std::system("command -v soxi >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "soxi is not installed";
    struct Case {
        int depthAnswer;
        const char* commands;
        std::string precision;
        std::string samples;
    };
    for (const Case& c :
         {Case{2, "w\n", "24-bit", "4233600"}, Case{1, "w\n", "16-bit", "4233600"},
          Case{2, "w\n+\n", "24-bit", "8467200"},          // appended
          Case{2, "t\n1500\nw\n", "24-bit", "339570"}}) {  // the last click past the end
        SCOPED_TRACE(c.commands);
        ASSERT_EQ(run(c.commands, c.depthAnswer).status, 2);
        const std::string command = "soxi '" + path("click.wav") + "' >'" + path("soxi.out") +
                                    "' 2>'" + path("soxi.err") + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(readFile(path("soxi.err")), "");
        const std::string info = readFile(path("soxi.out"));
        for (const std::string& line :
             {std::string("Channels       : 1\n"), std::string("Sample Rate    : 44100\n"),
              "Precision      : " + c.precision + "\n", " = " + c.samples + " samples"}) {
            EXPECT_NE(info.find(line), std::string::npos) << line << " is missing from:\n" << info;
        }
    }
}

}  // namespace
