// Playback: the period loop against a recording device, and whole auditions
// played through ALSA into a capture file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "click/click.hpp"
#include "playback/beat.hpp"
#include "playback/pcm_device.hpp"
#include "playback/player.hpp"
#include "support/audio_support.hpp"
#include "support/background_run.hpp"

namespace {

// ---------------------------------------------------------------------------
// The period loop against a device that records what it is given

// A device that records what it is given, and a click whose bytes are all
// non-zero and differ from their neighbours, so that any misplaced frame shows.
class Rig : public PcmDevice {
public:
    Rig(int64_t period, int frameBytes, int32_t clickFrames)
        : period_(period), frameBytes_(frameBytes) {
        click.bytesPerSample = frameBytes;
        click.clickLength = clickFrames;
        click.silenceSample.assign(static_cast<size_t>(frameBytes), 0);
        for (int32_t i = 0; i < clickFrames * frameBytes; ++i) {
            click.clickBytes.push_back(static_cast<uint8_t>(1 + i % 251));
        }
    }
    int64_t periodFrames() const override { return period_; }
    Outcome writePeriod(const uint8_t* frames, int64_t count) override {
        if (closes > 0) ++writesAfterClose;
        counts.push_back(count);
        bytes.insert(bytes.end(), frames, frames + count * frameBytes_);
        consoleAtWrite.push_back(console.text());
        if (failOnWrite != counts.size()) return std::nullopt;
        return deviceFailure("unable to write to pcm device: Input/output error");
    }
    void drainAndClose() override { ++closes; }
    void dropAndClose() override { ++closes; }
    Outcome play(int32_t beatLength, int32_t total, int32_t beatsPerMeasure,
                 int32_t firstMeasure = 1) {
        return playBeat(*this, makeBeat(click.clickBytes, click.bytesPerSample, beatLength), total, beatsPerMeasure, firstMeasure,
                        [this](int64_t measure, int64_t beat) {
                            if (beat != 1) return;
                            std::fprintf(console.file(), "\tMeasure  %lld\n",
                                         static_cast<long long>(measure));
                        });
    }

    TextSink console;
    ClickState click;
    std::vector<int64_t> counts;              // frames handed over by each write
    Bytes bytes;                              // everything written, in order
    std::vector<std::string> consoleAtWrite;  // console text as each write began
    int closes = 0;
    int writesAfterClose = 0;
    size_t failOnWrite = 0;  // 1-based write that fails; 0 for none

private:
    int64_t period_;
    int frameBytes_;
};

// Every write is a whole period: the total less one period, rounded up. The
// stream is the beat looped (a beat shorter than the click holds the click's
// first frames; one below a frame is silence), and a measure line follows
// every `beatsPerMeasure` whole beats played.
TEST(Player, PlaysWholePeriodsOfTheLoopedBeatAndAnnouncesMeasures) {
    struct Case {
        int32_t beat, click;
        int64_t period;
        int32_t total;
        int frameBytes;
        int32_t beatsPerMeasure, firstMeasure;
        size_t periods;
        int lastMeasure;
    };
    const Case cases[] = {
        {50, 5, 1024, 441000, 3, 1, 1, 430, 8807},  // the defaults: 440320 frames
        {50, 5, 1024, 1025, 3, 1, 1, 1, 21},  // one frame past a period takes a whole one
        {50, 5, 1024, 2048, 3, 1, 1, 1, 21},  // total - P is exactly one period
        {50, 5, 1024, 2049, 3, 1, 1, 2, 41},
        {50, 5, 7, 100, 3, 1, 1, 14, 2},  // 93 frames to play: 14 periods of 7
        {50, 5, 1, 5, 3, 1, 1, 4, 1},
        // A total not above one period plays nothing, yet announces measure 1.
        {50, 5, 1024, 1024, 2, 1, 1, 0, 1},
        {50, 5, 1024, 1000, 2, 1, 1, 0, 1},
        {50, 5, 1024, 1, 2, 1, 1, 0, 1},
        {50, 5, 1024, 0, 2, 1, 1, 0, 1},
        {50, 5, 1024, -5, 2, 1, 1, 0, 1},
        // Six beats of 10 in periods of 4: 60 frames, the sixth beat ending on
        // the last of them, so six whole beats.
        {10, 3, 4, 64, 3, 1, 1, 15, 7},  // beats end inside periods
        {10, 3, 4, 64, 3, 3, 1, 15, 3},  // measures after beats 3 and 6
        {10, 3, 4, 64, 3, 2, 1, 15, 4},
        {10, 3, 4, 64, 3, 6, 1, 15, 2},
        {10, 3, 4, 64, 3, 7, 1, 15, 1},  // the first measure never ends
        {10, 3, 4, 64, 3, 0, 1, 15, 1},
        {10, 3, 4, 64, 3, -1, 1, 15, 1},
        {10, 3, 4, 64, 3, 2, 5, 15, 8},  // counting starts at the first measure given
        {10, 3, 3, 50, 2, 1, 1, 16, 5},
        {2, 1, 7, 100, 3, 1, 1, 14, 50},  // several beats in every period
        {5, 5, 5, 30, 2, 1, 1, 5, 6},     // the click fills the beat; a beat per period
        {7, 0, 4, 40, 3, 1, 1, 9, 6},     // a silent click
        {1000, 40, 64, 5000, 3, 1, 1, 78, 5},
        {4, 6, 5, 45, 2, 1, 1, 8, 11},  // beats shorter than the click
        {4, 6, 5, 45, 3, 1, 1, 8, 11},
        {1, 3, 4, 12, 3, 1, 1, 2, 9},  // a beat of one frame repeats the click's first
        {0, 6, 4, 64, 3, 1, 1, 15, 1},  // beats below one frame: silence throughout
        {-3, 6, 4, 64, 3, 1, 1, 15, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "row " << &c - cases << ": beat " << c.beat << ", P "
                                          << c.period << ", total " << c.total);
        Rig rig(c.period, c.frameBytes, c.click);
        EXPECT_FALSE(rig.play(c.beat, c.total, c.beatsPerMeasure, c.firstMeasure).has_value());
        EXPECT_EQ(rig.counts, std::vector<int64_t>(c.periods, c.period));
        const int64_t frames = static_cast<int64_t>(c.periods) * c.period;
        const Bytes expected = loopedBeat(rig.click.clickBytes, c.frameBytes, c.beat, frames);
        EXPECT_TRUE(sameStream(rig.bytes, expected, c.frameBytes));
        EXPECT_EQ(rig.console.text(), measureLines(c.firstMeasure, c.lastMeasure));
        EXPECT_EQ(rig.closes, 1);
        EXPECT_EQ(rig.writesAfterClose, 0);
    }
}

TEST(PlayerAnnouncements, MeasureIsAnnouncedWhenThePeriodWhereItBeginsIsFilled) {
    Rig rig(4, 3, 3);
    rig.play(10, 64, 3);
    // Beat 3 ends at frame 30, inside the eighth period (frames 28 to 31).
    ASSERT_EQ(rig.consoleAtWrite.size(), 15u);
    EXPECT_EQ(rig.consoleAtWrite[0], measureLines(1, 1));
    EXPECT_EQ(rig.consoleAtWrite[6], measureLines(1, 1));
    EXPECT_EQ(rig.consoleAtWrite[7], measureLines(1, 2));
    EXPECT_EQ(rig.consoleAtWrite[14], measureLines(1, 3));
}

TEST(PlayerFailure, FailedWriteStopsPlaybackClosesTheDeviceAndComesBack) {
    Rig rig(4, 3, 3);
    rig.failOnWrite = 3;
    const Outcome result = rig.play(10, 400, 1);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->kind, Failure::Kind::Device);
    EXPECT_EQ(result->detail, "unable to write to pcm device: Input/output error");
    EXPECT_EQ(rig.counts.size(), 3u);
    EXPECT_EQ(rig.closes, 1);
    EXPECT_EQ(rig.writesAfterClose, 0);
}

// ---------------------------------------------------------------------------
// Whole auditions through ALSA: the program plays into the PCM "cap", which
// keeps every frame in a file. The null device grants periods of 1024 frames.

// Answers and commands up to the audition. The first pass after the device
// is chosen writes a one-measure track whose first samples are the click the
// audition plays (the click depends only on the rate, depth and frequency).
std::string startAt(int rateAnswer, int depthAnswer) {
    return std::to_string(rateAnswer) + "\n" + std::to_string(depthAnswer) + "\no\ncap\nm\n1\nw\n";
}

// What the program wrote after each menu: the prompts, the click stage's
// empty line and the command's own output, one entry per command.
std::vector<std::string> passOutputs(const std::string& out) {
    const std::string menuEnd =
        "\tEnter 'rtm' to read tempo map file and write click track file.\n";
    std::vector<std::string> passes;
    for (size_t at = out.find(menuEnd); at != std::string::npos; at = out.find(menuEnd, at + 1)) {
        const size_t from = at + menuEnd.size();
        const size_t next = out.find("\nGlobal settings:\n", from);
        passes.push_back(
            out.substr(from, next == std::string::npos ? std::string::npos : next - from));
    }
    return passes;
}

struct AuditionCase {
    const char* name;
    std::string input;
    int32_t clickFrames;
    int frameBytes;
    size_t passes;                                  // commands run
    std::vector<std::pair<size_t, int>> announced;  // pass of an audition, its last measure
    Sections played;                                // beat length and frames, per audition
    std::vector<std::pair<size_t, int32_t>> clickSamples = {};  // at 48000, worked out apart
};
// Shown in test listings instead of the row's bytes.
void PrintTo(const AuditionCase& row, std::ostream* os) { *os << row.name; }

class Audition : public ::testing::TestWithParam<AuditionCase> {};

TEST_P(Audition, PlaysWholePeriodsOfTheBeatAndAnnouncesMeasures) {
    const AuditionCase& c = GetParam();
    const TempDir dir;
    const std::string capture = dir.file("captured.raw");
    writeCaptureAsoundrc(dir.path(), capture);
    const RunResult run = runProgram(dir.path(), c.input + "x\n", dir.path());
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> passes = passOutputs(run.out);
    ASSERT_EQ(passes.size(), c.passes);
    for (const auto& [pass, lastMeasure] : c.announced) {
        EXPECT_EQ(passes[pass], "\n" + measureLines(1, lastMeasure)) << "pass " << pass;
    }
    EXPECT_EQ(passes.back(), "");

    const Bytes track = readBytes(dir.file("click.wav"));
    const size_t clickBytes = static_cast<size_t>(c.clickFrames * c.frameBytes);
    ASSERT_GE(track.size(), 44 + clickBytes);
    const Bytes click(track.begin() + 44, track.begin() + 44 + static_cast<long>(clickBytes));
    for (const auto& [index, value] : c.clickSamples) {
        EXPECT_EQ(sampleAt(click, 0, index, static_cast<size_t>(c.frameBytes)), value)
            << "sample " << index;
    }
    const Bytes expected = loopedBeats(click, c.frameBytes, c.played);
    EXPECT_TRUE(sameStream(readCapture(capture, expected.size()), expected, c.frameBytes));
    EXPECT_TRUE(fileExists(capture));  // the device was opened and configured
}

INSTANTIATE_TEST_SUITE_P(
    Capture, Audition,
    ::testing::Values(
        // 44100 Hz, 24 bits, 120 bpm, 4 beats, 10 s: beats of 22050 frames,
        // total 441000; 430 periods are 440320 frames. Passes: o, m, w, a, x.
        AuditionCase{"Defaults", startAt(1, 2) + "a\n", 2205, 3, 5, {{3, 5}}, {{22050, 440320}}},
        // 1500 bpm at 48000 Hz: beats of 1920 frames against a click of 2400.
        // One second is 48000 frames: 46 periods, 47104 frames, 24 whole beats.
        AuditionCase{"SixteenBitsAt48000BeatShorterThanClick",
                     startAt(2, 1) + "t\n1500\nb\n1\nal\n1\na\n", 2400, 2, 8, {{6, 25}},
                     {{1920, 47104}}, {{100, 15942}, {500, -6704}}},
        // 24 bits, beats of 24000 frames; 480000 frames asked, 468 periods =
        // 479232 played, 19 whole beats: measures begin after beats 3 to 18.
        AuditionCase{"ThreeBeatMeasuresAt48000", startAt(2, 2) + "b\n3\na\n", 2400, 3, 6,
                     {{4, 7}}, {{24000, 479232}}, {{100, 4081237}}},
        // 44100 Hz, 16 bits, 3 s: 132300 frames asked, 129 periods played.
        AuditionCase{"NoBeatsPerMeasureAnnouncesOnlyTheFirst",
                     startAt(1, 1) + "b\n0\nal\n3\na\n", 2205, 2, 7, {{5, 1}}, {{22050, 132096}}},
        // 0.02 s at 44100 Hz is 882 frames, not above one period.
        AuditionCase{"ShorterThanOnePeriodOpensTheDeviceButPlaysNothing",
                     startAt(1, 2) + "al\n0.02\na\n", 2205, 3, 6, {{4, 1}}, {{22050, 0}}},
        // Two one-second auditions at 44100 Hz, one beat a measure, first at
        // 120 bpm, then at 60: 43 periods = 44032 frames each.
        AuditionCase{"EachOpensTheDeviceAfreshAndStartsAtMeasureOne",
                     startAt(1, 2) + "b\n1\nal\n1\na\nt\n60\na\n", 2205, 3, 9,
                     {{5, 2}, {7, 1}}, {{22050, 44032}, {44100, 44032}}}),
    [](const ::testing::TestParamInfo<AuditionCase>& info) { return info.param.name; });

TEST(AuditionDevice, UnknownDeviceReportsOpenFailureOnStderrAndExitsWithStatusOne) {
    const TempDir dir;
    const RunResult run = runProgram(dir.path(), "1\n2\no\nnosuchdev\na\nx\n", dir.path());
    EXPECT_EQ(run.status, 1);
    // ALSA may write its own diagnostics first; the program's line comes last.
    EXPECT_TRUE(endsWith(run.err, "unable to open pcm device: No such file or directory\n"))
        << run.err;
    const std::vector<std::string> passes = passOutputs(run.out);
    ASSERT_EQ(passes.size(), 2u);  // o, then a: no menu after it
    EXPECT_EQ(passes[1], "\n");
}

// A device that plays only some rates: ALSA's built-in linear rate
// converter over the null device takes 4000 to 768000 samples per second. A
// rate outside that would be granted as the nearest one, and the beat would
// play at the wrong speed. The converter is named, so that the converters
// other packages install (libasound2-plugins) do not change the test.
TEST(AuditionDevice, ARateTheDeviceDoesNotGrantIsADeviceFailure) {
    struct Row {
        const char* rate;
        int status;
        std::string err;
    };
    const std::string way = " choose a resampling device such as 'default' or 'plughw:0,0'.\n";
    for (const Row& c : {Row{"1000", 1, "unable to play at 1000 samples per second: the device "
                                        "offers 4000;" + way},
                         Row{"1000000", 1, "unable to play at 1000000 samples per second: the "
                                           "device offers 768000;" + way},
                         Row{"44100", 2, ""}}) {
        SCOPED_TRACE(c.rate);
        const TempDir dir;
        writeFile(dir.file(".asoundrc"),
                  "pcm.fixed { type rate converter \"linear\" slave { pcm \"null\" rate 48000 } }\n");
        const RunResult run = runProgram(dir.path(), std::string(c.rate) +
                                         "\n2\no\nfixed\nal\n0.1\na\nx\n", dir.path(), {60});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
        const std::vector<std::string> passes = passOutputs(run.out);  // o, al, a
        ASSERT_GE(passes.size(), 3u);
        EXPECT_EQ(passes[2], c.status == 1 ? "\n" : "\n\tMeasure  1\n");
    }
}

// ---------------------------------------------------------------------------
// ALSA's own write loop, with the results of chosen writes replaced by the
// preloaded shim (tests/support/alsa_write_shim.cpp)

std::string times(const std::string& step, int n) {
    std::string steps;
    while (n-- > 0) steps += step + ",";
    return steps;
}

// A one-second audition at 44100 Hz plays 43 periods of 1024 frames of
// 22050-frame beats. An underrun loses the rest of its period; a short write
// or an error ALSA recovers from carries on with the rest; a failure, or
// nine writes in a row without progress, ends with status 1.
TEST(AlsaWriteLoop, EachWriteResultGivesTheDesignedStream) {
    constexpr int64_t kAll = 44032;
    struct Row {
        const char* what;
        std::string writes, resumes;
        Sections kept;  // the frames of the whole stream that reach the device
        std::string failure;
    };
    const Row rows[] = {
        {"underrun", "pass,EPIPE", "", {{0, 1024}, {2048, kAll}}, ""},
        {"underrun after a short write", "some:100,EPIPE", "", {{0, 100}, {1024, kAll}}, ""},
        {"short writes", "some:100,some:1,pass,some:1023", "", {{0, kAll}}, ""},
        {"suspended, then resumed", "ESTRPIPE", "", {{0, kAll}}, ""},
        {"suspended, still waking", "pass,ESTRPIPE", "EAGAIN,EAGAIN", {{0, kAll}}, ""},
        {"suspended, no resume: prepared", "ESTRPIPE", "ENOSYS", {{0, kAll}}, ""},
        {"interrupted", "pass,EINTR", "", {{0, kAll}}, ""},
        {"input/output error", "pass,EIO", "", {{0, 1024}}, "Input/output error"},
        {"eight writes without progress", times("none", 8), "", {{0, kAll}}, ""},
        {"progress counts again", times("none", 8) + "some:1," + times("none", 8), "",
         {{0, kAll}}, ""},
        {"nine writes without progress", times("none", 9), "", {}, "Input/output error"},
        {"suspended on every write", times("ESTRPIPE", 9), "", {}, "Streams pipe error"},
    };
    for (const Row& c : rows) {
        SCOPED_TRACE(c.what);
        const TempDir dir;
        const std::string capture = dir.file("captured.raw");
        writeCaptureAsoundrc(dir.path(), capture);
        RunResult run;
        {
            const Preload shim(CLICKTRACK_WRITE_SHIM, {{"CLICKTRACK_TEST_WRITES", c.writes},
                                                       {"CLICKTRACK_TEST_RESUMES", c.resumes}});
            run = runProgram(dir.path(), startAt(1, 2) + "al\n1\na\nx\n", dir.path(), {60});
        }
        if (c.failure.empty()) {
            EXPECT_EQ(run.status, 2);
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_TRUE(endsWith(run.err, "unable to write to pcm device: " + c.failure + "\n"))
                << run.err;
        }
        const Bytes track = readBytes(dir.file("click.wav"));
        ASSERT_GE(track.size(), 44u + 2205 * 3);
        const Bytes whole = loopedBeat(Bytes(track.begin() + 44, track.begin() + 44 + 2205 * 3),
                                       3, 22050, kAll);
        Bytes expected;
        for (const auto& [from, to] : c.kept) {
            expected.insert(expected.end(), whole.begin() + from * 3, whole.begin() + to * 3);
        }
        EXPECT_TRUE(sameStream(readCapture(capture, expected.size()), expected, 3));
    }
}

// When the program behind the device's pipe dies, ALSA's write fails and the
// audition ends as a device failure instead of the program dying of it.
TEST(AuditionDevice, APipeThatDiesBehindTheDeviceIsADeviceFailure) {
    const TempDir dir;
    writeFile(dir.file(".asoundrc"),
              "pcm.dead { type file slave.pcm \"null\" file \"|head -c 10 >/dev/null\" "
              "format \"raw\" }\n");
    const RunResult run = runProgram(dir.path(), "1\n2\no\ndead\na\nx\n", dir.path(), {60});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(endsWith(run.err, "unable to write to pcm device: Input/output error\n"))
        << run.err;
}

}  // namespace
