// Playback: the period loop against a recording device, and whole auditions
// played through ALSA into a capture file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "click/click.hpp"
#include "playback/beat.hpp"
#include "playback/pcm_device.hpp"
#include "playback/player.hpp"
#include "support/test_support.hpp"

namespace {

// ---------------------------------------------------------------------------
// Shared helpers

// The stream a beat makes when looped: frame f is frame f mod beatLength of
// the beat, which is the click for the first clickFrames frames and silence
// after them.
std::vector<uint8_t> loopedBeat(const std::vector<uint8_t>& click, int frameBytes,
                                int64_t beatLength, int64_t frames) {
    const int64_t clickFrames = static_cast<int64_t>(click.size()) / frameBytes;
    std::vector<uint8_t> stream;
    stream.reserve(static_cast<size_t>(frames * frameBytes));
    for (int64_t f = 0; f < frames; ++f) {
        const int64_t pos = f % beatLength;
        for (int b = 0; b < frameBytes; ++b) {
            stream.push_back(pos < clickFrames ? click[static_cast<size_t>(pos * frameBytes + b)] : 0);
        }
    }
    return stream;
}

// Compares two byte streams and names the first frame that differs.
::testing::AssertionResult sameStream(const std::vector<uint8_t>& actual,
                                      const std::vector<uint8_t>& expected, int frameBytes) {
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure()
               << "stream holds " << actual.size() / frameBytes << " frames (" << actual.size()
               << " bytes), expected " << expected.size() / frameBytes << " frames";
    }
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] != expected[i]) {
            return ::testing::AssertionFailure()
                   << "first difference at frame " << i / frameBytes << " (byte " << i
                   << "): " << int{actual[i]} << " instead of " << int{expected[i]};
        }
    }
    return ::testing::AssertionSuccess();
}

std::string measureLines(int first, int last) {
    std::string text;
    for (int m = first; m <= last; ++m) text += "\tMeasure  " + std::to_string(m) + "\n";
    return text;
}

// ---------------------------------------------------------------------------
// The period loop against a device that records what it is given

// Console text written into memory.
class TextSink {
public:
    TextSink() : file_(open_memstream(&buffer_, &size_)) {}
    ~TextSink() {
        std::fclose(file_);
        std::free(buffer_);
    }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    FILE* file() const { return file_; }
    std::string text() {
        std::fflush(file_);
        return std::string(buffer_, size_);
    }

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    FILE* file_;
};

class RecordingPcm : public PcmDevice {
public:
    RecordingPcm(int64_t period, int frameBytes, TextSink& console)
        : period_(period), frameBytes_(frameBytes), console_(console) {}

    int64_t periodFrames() const override { return period_; }

    Outcome writePeriod(const uint8_t* frames, int64_t count) override {
        if (closes > 0) ++writesAfterClose;
        counts.push_back(count);
        bytes.insert(bytes.end(), frames, frames + count * frameBytes_);
        consoleAtWrite.push_back(console_.text());
        if (failOnWrite == counts.size()) return failure;
        return std::nullopt;
    }

    void drainAndClose() override { ++closes; }

    std::vector<int64_t> counts;              // frames handed over by each write
    std::vector<uint8_t> bytes;               // everything written, in order
    std::vector<std::string> consoleAtWrite;  // console text as each write began
    int closes = 0;
    int writesAfterClose = 0;
    size_t failOnWrite = 0;  // 1-based write that fails; 0 for none
    Stop failure = deviceError("unable to write to pcm device: Input/output error");

private:
    int64_t period_;
    int frameBytes_;
    TextSink& console_;
};

// An encoded click of `frames` frames whose bytes are all non-zero and
// differ from their neighbours, so that any misplaced frame shows.
ClickState testClick(int32_t frames, int32_t frameBytes) {
    ClickState click;
    click.bytesPerSample = frameBytes;
    click.clickLength = frames;
    click.silenceSample.assign(static_cast<size_t>(frameBytes), 0);
    for (int32_t i = 0; i < frames * frameBytes; ++i) {
        click.clickBytes.push_back(static_cast<uint8_t>(1 + i % 251));
    }
    return click;
}

struct Played {
    Outcome result;
    std::string console;
};

Played play(RecordingPcm& pcm, TextSink& console, const Beat& beat, int32_t total,
            int32_t beatsPerMeasure, int32_t firstMeasure = 1) {
    Played p;
    p.result = playBeat(pcm, beat, total, beatsPerMeasure, firstMeasure, console.file());
    p.console = console.text();
    return p;
}

TEST(PlayerFrameCount, PlaysTotalLessOnePeriodRoundedUpToWholePeriods) {
    struct Case {
        int64_t period;
        int32_t total;
        size_t periods;
    };
    const Case cases[] = {
        {1024, 441000, 430},  // the defaults: 440320 frames
        {1024, 1025, 1},      // one frame past a period still takes a whole period
        {1024, 2048, 1},      // total - P is exactly one period
        {1024, 2049, 2},
        {7, 100, 14},         // 93 frames to play: 14 periods of 7
        {1, 5, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("P " + std::to_string(c.period) + ", total " + std::to_string(c.total));
        TextSink console;
        RecordingPcm pcm(c.period, 3, console);
        const ClickState click = testClick(5, 3);
        const Played p = play(pcm, console, MAKE_BEAT(click, 50), c.total, 4);
        EXPECT_FALSE(p.result.has_value());
        ASSERT_EQ(pcm.counts.size(), c.periods);
        for (int64_t count : pcm.counts) EXPECT_EQ(count, c.period);
        EXPECT_EQ(pcm.bytes.size(), c.periods * static_cast<size_t>(c.period) * 3);
        EXPECT_EQ(pcm.closes, 1);
        EXPECT_EQ(pcm.writesAfterClose, 0);
    }
}

TEST(PlayerFrameCount, TotalNotAbovePeriodPlaysNothingButAnnouncesAndClosesTheDevice) {
    for (int32_t total : {1024, 1000, 1, 0, -5}) {
        SCOPED_TRACE("total " + std::to_string(total));
        TextSink console;
        RecordingPcm pcm(1024, 2, console);
        const ClickState click = testClick(5, 2);
        const Played p = play(pcm, console, MAKE_BEAT(click, 50), total, 1);
        EXPECT_FALSE(p.result.has_value());
        EXPECT_TRUE(pcm.counts.empty());
        EXPECT_EQ(pcm.closes, 1);
        EXPECT_EQ(p.console, "\tMeasure  1\n");
    }
}

// Six beats of 10 frames in periods of 4: 60 frames (total 64), and the sixth
// beat ends on the last frame played.
TEST(PlayerAnnouncements, MeasureLinesFollowTheBeatsPerMeasure) {
    struct Case {
        int32_t beatsPerMeasure;
        int32_t firstMeasure;
        std::string console;
    };
    const Case cases[] = {
        {3, 1, measureLines(1, 3)},  // after beats 3 and 6
        {1, 1, measureLines(1, 7)},  // after every beat
        {2, 1, measureLines(1, 4)},
        {6, 1, measureLines(1, 2)},
        {7, 1, measureLines(1, 1)},  // the first measure never ends
        {0, 1, measureLines(1, 1)},
        {-1, 1, measureLines(1, 1)},
        {2, 5, measureLines(5, 8)},  // counting starts at the first measure given
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("beats per measure " + std::to_string(c.beatsPerMeasure) + ", first " +
                     std::to_string(c.firstMeasure));
        TextSink console;
        RecordingPcm pcm(4, 3, console);
        const ClickState click = testClick(3, 3);
        const Played p = play(pcm, console, MAKE_BEAT(click, 10), 64, c.beatsPerMeasure,
                              c.firstMeasure);
        EXPECT_EQ(pcm.counts.size(), 15u);
        EXPECT_EQ(p.console, c.console);
    }
}

TEST(PlayerAnnouncements, MeasureIsAnnouncedWhenThePeriodWhereItBeginsIsFilled) {
    TextSink console;
    RecordingPcm pcm(4, 3, console);
    const ClickState click = testClick(3, 3);
    play(pcm, console, MAKE_BEAT(click, 10), 64, 3);
    // Beat 3 ends at frame 30, inside the eighth period (frames 28 to 31).
    ASSERT_EQ(pcm.consoleAtWrite.size(), 15u);
    EXPECT_EQ(pcm.consoleAtWrite[0], measureLines(1, 1));
    EXPECT_EQ(pcm.consoleAtWrite[6], measureLines(1, 1));
    EXPECT_EQ(pcm.consoleAtWrite[7], measureLines(1, 2));
    EXPECT_EQ(pcm.consoleAtWrite[14], measureLines(1, 3));
}

TEST(PlayerStream, BeatRunsOnAcrossPeriodBoundaries) {
    struct Case {
        int32_t beatLength;
        int32_t clickFrames;
        int64_t period;
        int32_t total;
        int32_t frameBytes;
        int64_t framesPlayed;
    };
    const Case cases[] = {
        {10, 3, 4, 64, 3, 60},    // beats end inside periods
        {10, 3, 3, 50, 2, 48},
        {2, 1, 7, 100, 3, 98},    // several beats in every period
        {5, 5, 5, 30, 2, 25},     // the click fills the beat; a beat per period
        {7, 0, 4, 40, 3, 36},     // a silent click
        {1000, 40, 64, 5000, 3, 4992},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("beat " + std::to_string(c.beatLength) + ", click " +
                     std::to_string(c.clickFrames) + ", P " + std::to_string(c.period));
        TextSink console;
        RecordingPcm pcm(c.period, c.frameBytes, console);
        const ClickState click = testClick(c.clickFrames, c.frameBytes);
        const Played p = play(pcm, console, MAKE_BEAT(click, c.beatLength), c.total, 4);
        EXPECT_FALSE(p.result.has_value());
        EXPECT_TRUE(sameStream(pcm.bytes,
                               loopedBeat(click.clickBytes, c.frameBytes, c.beatLength, c.framesPlayed),
                               c.frameBytes));
    }
}

TEST(PlayerStream, BeatShorterThanTheClickHoldsOnlyTheClicksFirstFrames) {
    for (int32_t frameBytes : {2, 3}) {
        SCOPED_TRACE("frame bytes " + std::to_string(frameBytes));
        TextSink console;
        RecordingPcm pcm(5, frameBytes, console);
        const ClickState click = testClick(6, frameBytes);
        const Played p = play(pcm, console, MAKE_BEAT(click, 4), 45, 1);
        // 40 frames: ten beats of the click's first four frames.
        const std::vector<uint8_t> head(click.clickBytes.begin(),
                                        click.clickBytes.begin() + 4 * frameBytes);
        EXPECT_TRUE(sameStream(pcm.bytes, loopedBeat(head, frameBytes, 4, 40), frameBytes));
        EXPECT_EQ(p.console, measureLines(1, 11));
    }
    // A beat of a single frame repeats the click's first frame.
    TextSink console;
    RecordingPcm pcm(4, 3, console);
    const ClickState click = testClick(3, 3);
    play(pcm, console, MAKE_BEAT(click, 1), 12, 4);
    EXPECT_TRUE(sameStream(pcm.bytes, loopedBeat({1, 2, 3}, 3, 1, 8), 3));
}

TEST(PlayerStream, BeatLengthBelowOnePlaysSilenceForTheWholeCount) {
    for (int32_t beatLength : {0, -3}) {
        SCOPED_TRACE("beat length " + std::to_string(beatLength));
        TextSink console;
        RecordingPcm pcm(4, 3, console);
        const ClickState click = testClick(6, 3);
        const Played p = play(pcm, console, MAKE_BEAT(click, beatLength), 64, 1);
        EXPECT_FALSE(p.result.has_value());
        EXPECT_EQ(pcm.counts.size(), 15u);
        EXPECT_EQ(pcm.bytes, std::vector<uint8_t>(60 * 3, 0));
        EXPECT_EQ(p.console, "\tMeasure  1\n");
        EXPECT_EQ(pcm.closes, 1);
    }
}

TEST(PlayerFailure, FailedWriteStopsPlaybackClosesTheDeviceAndComesBack) {
    TextSink console;
    RecordingPcm pcm(4, 3, console);
    pcm.failOnWrite = 3;
    const ClickState click = testClick(3, 3);
    const Played p = play(pcm, console, MAKE_BEAT(click, 10), 400, 1);
    ASSERT_TRUE(p.result.has_value());
    EXPECT_EQ(p.result->status, 1);
    EXPECT_TRUE(p.result->onStderr);
    EXPECT_EQ(p.result->message, "unable to write to pcm device: Input/output error");
    EXPECT_EQ(pcm.counts.size(), 3u);
    EXPECT_EQ(pcm.closes, 1);
    EXPECT_EQ(pcm.writesAfterClose, 0);
}

// ---------------------------------------------------------------------------
// Whole auditions through ALSA: the program plays into the PCM "cap", ALSA's
// file plugin over the null device, which keeps every frame in a file.

// The period the null device grants for a request of 1024 frames.
constexpr int64_t kPeriod = 1024;

// Answers and commands up to the audition. The first pass after the device
// is chosen writes a one-measure track whose first samples are the click the
// audition plays (the click depends only on the rate, depth and frequency).
std::string startAt(int rateAnswer, int depthAnswer) {
    return std::to_string(rateAnswer) + "\n" + std::to_string(depthAnswer) + "\n" +
           "o\ncap\nm\n1\nw\n";
}

struct Audition {
    RunResult run;
    std::vector<uint8_t> captured;
    std::vector<uint8_t> click;  // the encoded click, from the written track
    bool captureExists = false;
};

// What the program wrote after each menu: the prompts, the click stage's
// empty line and the command's own output, one entry per command.
std::vector<std::string> passOutputs(const std::string& out) {
    const std::string menuEnd = "\tEnter 'rtm' to read tempo map file and write click track file.\n";
    const std::string menuStart = "\nGlobal settings:\n";
    std::vector<std::string> passes;
    size_t at = out.find(menuEnd);
    while (at != std::string::npos) {
        const size_t from = at + menuEnd.size();
        const size_t next = out.find(menuStart, from);
        passes.push_back(out.substr(from, next == std::string::npos ? std::string::npos : next - from));
        at = out.find(menuEnd, from);
    }
    return passes;
}

// Runs the program with `input`, the device "cap" capturing to a plain file
// (one audition per run: each open starts the file afresh).
Audition audition(const std::string& input, int32_t clickFrames, int frameBytes) {
    const TempDir dir;
    const std::string capture = dir.file("captured.raw");
    writeFile(dir.file(".asoundrc"),
              "pcm.cap {\n"
              "  type file\n"
              "  slave.pcm \"null\"\n"
              "  file \"" + capture + "\"\n"
              "  format \"raw\"\n"
              "}\n");
    Audition a;
    a.run = runProgram(dir.path(), input, dir.path());
    a.captureExists = fileExists(capture);
    a.captured = readBytes(capture);
    const std::vector<uint8_t> track = readBytes(dir.file("click.wav"));
    const size_t clickEnd = 44 + static_cast<size_t>(clickFrames) * frameBytes;
    if (track.size() >= clickEnd) a.click.assign(track.begin() + 44, track.begin() + clickEnd);
    return a;
}

int32_t sample24(const std::vector<uint8_t>& click, size_t i) {
    const uint32_t raw = click[3 * i] | click[3 * i + 1] << 8 | click[3 * i + 2] << 16;
    return static_cast<int32_t>(raw << 8) >> 8;
}

int32_t sample16(const std::vector<uint8_t>& click, size_t i) {
    return static_cast<int16_t>(click[2 * i] | click[2 * i + 1] << 8);
}

TEST(AuditionCapture, DefaultsPlay430PeriodsAndAnnounceMeasuresOneToFive) {
    // 44100 Hz, 24 bits, 120 bpm, 4 beats, 10 s: beats of 22050 frames, a
    // click of 2205, total 441000; 430 periods of 1024 are 440320 frames.
    const Audition a = audition(startAt(1, 2) + "a\nx\n", 2205, 3);
    EXPECT_EQ(a.run.status, 2);
    EXPECT_EQ(a.run.err, "");
    const std::vector<std::string> passes = passOutputs(a.run.out);
    ASSERT_EQ(passes.size(), 5u);  // o, m, w, a, x
    EXPECT_EQ(passes[3], "\n" + measureLines(1, 5));
    EXPECT_EQ(passes[4], "");
    ASSERT_EQ(a.click.size(), 2205u * 3);
    EXPECT_EQ(sample24(a.click, 100), 3976330);
    EXPECT_EQ(sample24(a.click, 500), -2291201);
    EXPECT_EQ(a.captured.size(), 430u * kPeriod * 3);
    EXPECT_TRUE(sameStream(a.captured, loopedBeat(a.click, 3, 22050, 440320), 3));
}

TEST(AuditionCapture, SixteenBitsAt48000WithBeatShorterThanClickAndOneBeatMeasures) {
    // 1500 bpm at 48000 Hz: beats of 1920 frames against a click of 2400.
    // One second is 48000 frames: 46 periods, 47104 frames, 24 whole beats.
    const Audition a = audition(startAt(2, 1) + "t\n1500\nb\n1\nal\n1\na\nx\n", 2400, 2);
    EXPECT_EQ(a.run.status, 2);
    const std::vector<std::string> passes = passOutputs(a.run.out);
    ASSERT_EQ(passes.size(), 8u);
    EXPECT_EQ(passes[6], "\n" + measureLines(1, 25));
    ASSERT_EQ(a.click.size(), 2400u * 2);
    EXPECT_EQ(sample16(a.click, 100), 15942);
    EXPECT_EQ(sample16(a.click, 500), -6704);
    const std::vector<uint8_t> head(a.click.begin(), a.click.begin() + 1920 * 2);
    EXPECT_TRUE(sameStream(a.captured, loopedBeat(head, 2, 1920, 47104), 2));
}

TEST(AuditionCapture, ThreeBeatMeasuresAt48000AnnounceEveryThirdBeat) {
    // 24 bits, beats of 24000 frames; 480000 frames asked, 468 periods =
    // 479232 frames played, 19 whole beats: measures begin after beats 3 to 18.
    const Audition a = audition(startAt(2, 2) + "b\n3\na\nx\n", 2400, 3);
    const std::vector<std::string> passes = passOutputs(a.run.out);
    ASSERT_EQ(passes.size(), 6u);
    EXPECT_EQ(passes[4], "\n" + measureLines(1, 7));
    ASSERT_EQ(a.click.size(), 2400u * 3);
    EXPECT_EQ(sample24(a.click, 100), 4081237);
    EXPECT_TRUE(sameStream(a.captured, loopedBeat(a.click, 3, 24000, 479232), 3));
}

TEST(AuditionCapture, NoBeatsPerMeasureAnnouncesOnlyTheFirstMeasure) {
    // 44100 Hz, 16 bits, 3 s: 132300 frames asked, 129 periods = 132096 played.
    const Audition a = audition(startAt(1, 1) + "b\n0\nal\n3\na\nx\n", 2205, 2);
    const std::vector<std::string> passes = passOutputs(a.run.out);
    ASSERT_EQ(passes.size(), 7u);
    EXPECT_EQ(passes[5], "\n" + measureLines(1, 1));
    ASSERT_EQ(a.click.size(), 2205u * 2);
    EXPECT_EQ(sample16(a.click, 100), 15532);
    EXPECT_TRUE(sameStream(a.captured, loopedBeat(a.click, 2, 22050, 132096), 2));
}

TEST(AuditionCapture, BeatLengthIsComputedInSinglePrecision) {
    // 39.2 bpm at 44100 Hz: 67500 frames a beat in single precision (67499.9
    // in double). 4 s: 176400 asked, 172 periods = 176128 played, two whole
    // beats, so measure 2 of two beats is announced.
    const Audition a = audition(startAt(1, 2) + "t\n39.2\nb\n2\nal\n4\na\nx\n", 2205, 3);
    const std::vector<std::string> passes = passOutputs(a.run.out);
    ASSERT_EQ(passes.size(), 8u);
    EXPECT_EQ(passes[6], "\n" + measureLines(1, 2));
    ASSERT_EQ(a.click.size(), 2205u * 3);
    EXPECT_TRUE(sameStream(a.captured, loopedBeat(a.click, 3, 67500, 176128), 3));
}

TEST(AuditionCapture, AuditionShorterThanOnePeriodOpensTheDeviceButPlaysNothing) {
    // 0.02 s at 44100 Hz is 882 frames, not above one period.
    const Audition a = audition(startAt(1, 2) + "al\n0.02\na\nx\n", 2205, 3);
    EXPECT_EQ(a.run.status, 2);
    EXPECT_EQ(a.run.err, "");
    const std::vector<std::string> passes = passOutputs(a.run.out);
    ASSERT_EQ(passes.size(), 6u);
    EXPECT_EQ(passes[4], "\n" + measureLines(1, 1));
    EXPECT_TRUE(a.captureExists);  // the device was opened and configured
    EXPECT_TRUE(a.captured.empty());
}

// Waits until `path` holds `bytes` bytes (the capture's writer may still be
// flushing when the program ends), or until it stops growing.
std::vector<uint8_t> readCompleteCapture(const std::string& path, size_t bytes) {
    namespace fs = std::filesystem;
    uintmax_t last = 0;
    int unchanged = 0;
    for (int i = 0; i < 500 && unchanged < 50; ++i) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(path, ec);
        if (!ec && size == bytes) break;
        unchanged = !ec && size == last ? unchanged + 1 : 0;
        last = ec ? 0 : size;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return readBytes(path);
}

TEST(AuditionCapture, EachAuditionOpensTheDeviceAfreshAndStartsAtMeasureOne) {
    // Two one-second auditions at 44100 Hz, 24 bits, one beat a measure:
    // 43 periods = 44032 frames each, first at 120 bpm, then at 60 bpm.
    const TempDir dir;
    const std::string capture = dir.file("captured.raw");
    writeCaptureAsoundrc(dir.path(), capture);
    const RunResult run = runProgram(
        dir.path(), startAt(1, 2) + "b\n1\nal\n1\na\nt\n60\na\nx\n", dir.path());
    EXPECT_EQ(run.status, 2);
    const std::vector<std::string> passes = passOutputs(run.out);
    ASSERT_EQ(passes.size(), 9u);
    EXPECT_EQ(passes[5], "\n" + measureLines(1, 2));
    EXPECT_EQ(passes[7], "\n" + measureLines(1, 1));

    const std::vector<uint8_t> track = readBytes(dir.file("click.wav"));
    ASSERT_GE(track.size(), 44u + 2205 * 3);
    const std::vector<uint8_t> click(track.begin() + 44, track.begin() + 44 + 2205 * 3);
    std::vector<uint8_t> expected = loopedBeat(click, 3, 22050, 44032);
    const std::vector<uint8_t> second = loopedBeat(click, 3, 44100, 44032);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_TRUE(sameStream(readCompleteCapture(capture, expected.size()), expected, 3));
}

TEST(AuditionDevice, UnknownDeviceReportsOpenFailureOnStderrAndExitsWithStatusOne) {
    const TempDir dir;
    const RunResult run = runProgram(dir.path(), "1\n2\no\nnosuchdev\na\nx\n", dir.path());
    EXPECT_EQ(run.status, 1);
    // ALSA may write its own diagnostics first; the program's line comes last.
    const std::string line = "unable to open pcm device: No such file or directory\n";
    ASSERT_GE(run.err.size(), line.size());
    EXPECT_EQ(run.err.substr(run.err.size() - line.size()), line);
    const std::vector<std::string> passes = passOutputs(run.out);
    ASSERT_EQ(passes.size(), 2u);  // o, then a: no menu after it
    EXPECT_EQ(passes[1], "\n");
}

}  // namespace
