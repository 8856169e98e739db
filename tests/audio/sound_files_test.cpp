// Sound files besides our own WAV: a user's sample read from whatever sox
// writes and brought to the track's rate, refused when it cannot be a click;
// and the track written as FLAC, Ogg Vorbis and AIFF, read back by readers
// written elsewhere (sox's soxi, libsndfile's sndfile-info).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/sample_file.hpp"
#include "audio/sound_file.hpp"
#include "support/audio_support.hpp"
#include "support/background_run.hpp"

namespace {

class SoundFiles : public CommandLineFolder {
protected:
    // Runs a shell command in the folder; its standard output, without the
    // last line break.
    std::string shell(const std::string& command) {
        const std::string out = file("shell.out");
        const int status = std::system(("cd '" + dir.path() + "' && " + command + " > '" + out +
                                        "' 2>/dev/null").c_str());
        EXPECT_EQ(status, 0) << command;
        std::string text = readFile(out);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    // A sine of `hz` at `rate` with `channels`, `seconds` long, at half of
    // full scale, made by sox.
    void makeTone(const std::string& name, uint32_t rate, int channels, double seconds, int hz) {
        shell("sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " + name +
              " synth " + std::to_string(seconds) + " sine " + std::to_string(hz) + " vol 0.5");
    }
    std::vector<int32_t> sample(const std::string& name, uint32_t rate) {
        auto read = readSample(file(name), rate);
        if (const Failure* f = std::get_if<Failure>(&read)) ADD_FAILURE() << f->detail;
        return read.index() == 0 ? std::get<0>(read) : std::vector<int32_t>{};
    }
};

// Upward crossings of zero: the cycles a tone completes.
int cycles(const std::vector<int32_t>& s) {
    int n = 0;
    for (size_t i = 1; i < s.size(); ++i) n += s[i - 1] < 0 && s[i] >= 0;
    return n;
}

TEST_F(SoundFiles, ASampleArrivesAtTheTracksRateAndLength) {
    // 0.1 s of 1 kHz at half scale: 100 cycles, peak 4194304 on the 24-bit scale.
    struct Case {
        const char* name;
        uint32_t fileRate;
        int channels;
        uint32_t trackRate;
        size_t frames;
    } cases[] = {
        {"tone.wav", 48000, 2, 44100, 4410},
        {"tone.flac", 22050, 1, 96000, 9600},
        {"tone.ogg", 32000, 2, 48000, 4800},
        {"tone.aiff", 44100, 1, 44100, 4410},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeTone(c.name, c.fileRate, c.channels, 0.1, 1000);
        const std::vector<int32_t> s = sample(c.name, c.trackRate);
        EXPECT_EQ(s.size(), c.frames);
        EXPECT_NEAR(cycles(s), 100, 1);
        const int32_t peak = *std::max_element(s.begin(), s.end());
        EXPECT_NEAR(peak, 4194304, 4194304 * 0.06);  // within half a dB
    }
}

TEST_F(SoundFiles, SamplesThatCannotBeAClickAreRefusedAndNothingIsWritten) {
    makeTone("long.wav", 44100, 1, 2.5, 440);
    shell("sox -n -r 44100 silent.wav trim 0 0.1");
    shell("sox -n -r 44100 empty.wav trim 0 0");
    makeTone("fast.wav", 44100, 1, 0.01, 440);
    writeFile(file("text.wav"), "not a sound\n");
    writeFile(file("old.flac"), "the old file");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--sample", "long.wav"}, "the sample 'long.wav' lasts longer than 2 s"},
        {{"--sample", "silent.wav"}, "the sample 'silent.wav' is silent"},
        {{"--sample", "empty.wav"}, "the sample 'empty.wav' holds no sound"},
        {{"--sample", "text.wav"}, "the sample 'text.wav' cannot be read: "},
        {{"--sample", "none.wav"}, "the sample 'none.wav' cannot be read: No such file or directory"},
        {{"--sample", "fast.wav", "-r", "1000000"}, "samples work at rates up to 768000 Hz"},
        {{"--sample", "fast.wav,long.wav"}, "the sample 'long.wav' lasts longer than 2 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::vector<std::string> args{"render", "-o", "old.flac"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = clicktrack(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(endsWith(r.err, "; nothing was written or played.\n")) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
        EXPECT_EQ(readFile(file("old.flac")), "the old file");
    }
    EXPECT_EQ(namesIn(dir.path()), "empty.wav fast.wav long.wav old.flac shell.out silent.wav text.wav");
}

TEST_F(SoundFiles, EachFormatIsReadBackAsWrittenWithTheSameFrames) {
    makeTone("knock.flac", 48000, 2, 0.05, 1500);
    makeTone("high.ogg", 22050, 1, 0.03, 3000);
    const std::vector<std::string> clicks = {"--sample", "knock.flac,high.ogg", "--accent",
                                             "--subdivide", "2", "-m", "2", "-q"};
    struct Case {
        const char* name;
        const char* format;  // --format, when the name does not say
        const char* type;    // soxi -t
        const char* bits;    // soxi -b; 0 for Vorbis, which keeps no depth
    } cases[] = {
        {"t.wav", nullptr, "wav", "24"},     {"t.flac", nullptr, "flac", "24"},
        {"t.ogg", nullptr, "vorbis", "0"},   {"t.aiff", nullptr, "aiff", "24"},
        {"T.AIF", nullptr, "aiff", "24"},    {"t.oga", nullptr, "vorbis", "0"},
        {"flac.take", "flac", "flac", "24"}, {"wave.flac", "wav", "wav", "24"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = clicks;
        args.insert(args.begin(), {"render", "-o", c.name});
        if (c.format) args.insert(args.end(), {"--format", c.format});
        ASSERT_EQ(clicktrack(args).status, 0);
        EXPECT_EQ(shell(std::string("soxi -t ") + c.name), c.type);
        EXPECT_EQ(shell(std::string("soxi -r ") + c.name), "44100");
        EXPECT_EQ(shell(std::string("soxi -b ") + c.name), c.bits);
        // 2 measures of 4 at 120 bpm: 4 s.
        EXPECT_EQ(shell(std::string("soxi -s ") + c.name), "176400");
        const std::string info = shell(std::string("sndfile-info ") + c.name);
        EXPECT_EQ(info.find("***"), std::string::npos) << info;
        EXPECT_NE(info.find("Frames      : 176400"), std::string::npos) << info;
        if (std::string(c.type) != "vorbis") {
            // Lossless: the very samples of the WAV file.
            EXPECT_EQ(shell(std::string("sox ") + c.name + " -t s32 - | md5sum"),
                      shell("sox t.wav -t s32 - | md5sum"));
        }
    }
}

TEST_F(SoundFiles, FormatRulesAreUsageErrorsBeforeAnythingIsWritten) {
    writeFile(file("old.flac"), "the old file");
    makeTone("k.wav", 44100, 1, 0.05, 1000);
    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"-o", "take.mp3"}, "the output file 'take.mp3' has an extension clicktrack does not write"},
        {{"-o", "old.flac", "--append"}, "--append works on WAV files only, and 'old.flac' is to be flac."},
        {{"-o", "x.ogg", "--markers"}, "--markers works on WAV files only, and 'x.ogg' is to be ogg."},
        {{"-o", "-", "--format", "flac"}, "--format flac cannot be used with '-o -'"},
        {{"--format", "mp3"}, "--format must be wav, flac, ogg or aiff, not 'mp3'."},
        {{"--sample", "k.wav", "-f", "800"}, "--freq cannot be used with --sample"},
        {{"--sample", "k.wav", "--sound", "beep"}, "--sample and --sound cannot be used together"},
        {{"--sample", "a,b,c,d"}, "--sample must be NORMAL[,ACCENT[,SUBDIVISION]]"},
        {{"--sample", "k.wav,"}, "--sample must be NORMAL[,ACCENT[,SUBDIVISION]]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args{"render"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = clicktrack(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.find("clicktrack: "), 0u) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(readFile(file("old.flac")), "the old file");
    }
    EXPECT_EQ(namesIn(dir.path()), "k.wav old.flac shell.out");
}

TEST_F(SoundFiles, AQuieterSectionLaysTheSubdivisionSampleOfItsOwn) {
    // A subdivision longer than the normal click, at the volume's level, in
    // a section at half volume.
    makeTone("short.wav", 44100, 1, 0.01, 1000);
    makeTone("long.wav", 44100, 1, 0.2, 500);
    writeFile(file("half.txt"), "1 120 0.5\n");
    ASSERT_EQ(clicktrack({"render", "--map", "half.txt", "--subdivide", "2", "-q", "--sample",
                          "short.wav,short.wav,long.wav", "--sub-level", "0", "-o", "half.wav"})
                  .status,
              0);
    const Bytes wave = readBytes(file("half.wav"));
    const std::vector<int32_t> sub = sample("long.wav", 44100);
    // The second click of the first beat, 0.25 s in: the long sample at half its level.
    const size_t start = 44 + 11025 * 3;
    for (size_t i : {size_t{0}, size_t{100}, sub.size() - 1}) {
        const int32_t laid = sampleAt(wave, start, i, 3);
        EXPECT_NEAR(laid, sub[i] / 2, 1) << i;
    }
}

// Every format carries the channels. A backing of three channels on two
// listed ones is mixed down to one, the same on each; two channels stay
// plain PCM in a WAV file.
TEST_F(SoundFiles, EachFormatCarriesTheChannelsAndTheBacking) {
    shell("sox -n -r 48000 -c 3 three.wav synth 0.5 sine 300 sine 500 sine 700 vol 0.3");
    const std::vector<std::string> options = {"-m", "1", "-q", "--channels", "3", "--click-to", "2",
                                              "--backing", "three.wav:1,3"};
    for (const char* name : {"t.wav", "t.flac", "t.aiff", "t.ogg"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> args = {"render", "-o", name};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(clicktrack(args).status, 0);
        EXPECT_EQ(shell(std::string("soxi -c ") + name), "3");
        EXPECT_EQ(shell(std::string("soxi -s ") + name), "88200");
        if (std::string(name) != "t.ogg" && std::string(name) != "t.wav") {
            EXPECT_EQ(shell(std::string("sox ") + name + " -t s32 - | md5sum"),
                      shell("sox t.wav -t s32 - | md5sum"));
        }
    }
    const Bytes wave = readBytes(file("t.wav"));
    size_t differ = 0, heard = 0;
    for (size_t f = 0; f < 88200; ++f) {
        differ += sampleAt(wave, 80, f * 3, 3) != sampleAt(wave, 80, f * 3 + 2, 3);
        heard += sampleAt(wave, 80, f * 3, 3) != 0;
    }
    EXPECT_EQ(differ, 0u);
    EXPECT_GT(heard, 20000u);  // half a second of it
    std::vector<std::string> args = {"render", "-o", "two.wav", "-m", "1", "-q", "--channels", "2"};
    ASSERT_EQ(clicktrack(args).status, 0);
    const Bytes two = readBytes(file("two.wav"));
    EXPECT_EQ(u32At(two, 16), 16u);
    EXPECT_EQ(u16At(two, 20), 1);
    EXPECT_EQ(u16At(two, 22), 2);
    EXPECT_EQ(two.size(), 44u + 88200 * 6);
}

}  // namespace
