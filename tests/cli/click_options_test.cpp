// The click a musician needs, from the command line: where accents,
// subdivisions, a count-in and a change of tempo put each click, and which
// click sits there. Every position is worked out here from the rules, apart
// from the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "support/audio_support.hpp"
#include "support/background_run.hpp"
#include "click/click_set.hpp"
#include "click/sounds.hpp"

namespace {

// The first samples of a click, to tell the clicks apart.
constexpr int kProbe = 8;

// Where each click goes and which one it is: told apart by the classic
// click, whose first samples differ between the accent and the normal click.
class ClickOptions : public ::testing::Test {
protected:
    TempDir dir;
    // The samples of a file `render` writes with these options (24 bits).
    Bytes render(const std::vector<std::string>& options) {
        std::vector<std::string> args{"render", "-q", "--sound", "classic", "-o", "out.wav"};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(BackgroundRun(dir.path(), "", 0, args).wait().status, 0);
        return readBytes(dir.file("out.wav"));
    }
    // The first samples of the plain click at `hz` and `rate`.
    std::vector<int32_t> clickAt(const std::string& hz, const std::string& rate) {
        const Bytes b = render({"-m", "1", "-f", hz, "-r", rate});
        std::vector<int32_t> s;
        for (int i = 0; i < kProbe; ++i) s.push_back(sampleAt(b, 44, static_cast<size_t>(i), 3));
        return s;
    }
    // The frames `play` sends the device with these options, as captured.
    Bytes play(const std::vector<std::string>& options, size_t expectedBytes) {
        writeCaptureAsoundrc(dir.path(), dir.file("cap.raw"));
        std::filesystem::remove(dir.file("cap.raw"));
        std::vector<std::string> args{"play", "-q", "--sound", "classic", "-d", "cap"};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(BackgroundRun(dir.path(), "", 0, args).wait().status, 0);
        return readCapture(dir.file("cap.raw"), expectedBytes);
    }
    static std::vector<int32_t> at(const Bytes& file, int64_t frame) {
        std::vector<int32_t> s;
        for (int i = 0; i < kProbe; ++i) {
            s.push_back(sampleAt(file, 44, static_cast<size_t>(frame + i), 3));
        }
        return s;
    }
};

std::vector<int32_t> quarter(std::vector<int32_t> click) {
    for (int32_t& v : click) v /= 4;
    return click;
}

TEST_F(ClickOptions, AChangeOfTempoPutsEveryBeatAtItsExactTime) {
    // 80 to 160 bpm over 64 measures of 4 at 48000 frames a second: beat k
    // at 60 k / L seconds, L the logarithmic mean of 80 and the tempo at k.
    const Bytes file = render({"-t", "80-160", "-m", "64", "-r", "48000"});
    const std::vector<int32_t> normal = clickAt("60", "48000");
    const int n = 256;
    for (int k = 0; k < n; ++k) {
        const double t = 80.0 + 80.0 * k / n;
        const double mean = k == 0 ? 80.0 : (80.0 - t) / (std::log(80.0) - std::log(t));
        const int64_t frame = std::llround(60.0 * k / mean * 48000.0);
        ASSERT_EQ(at(file, frame), normal) << "beat " << k << " at " << frame;
        ASSERT_EQ(sampleAt(file, 44, static_cast<size_t>(frame - 1 + (k == 0)), 3), 0) << k;
    }
    // The track ends where beat 256 would start: 60 x 256 / L(80, 160) seconds.
    const double end = 60.0 * 256 / (80.0 / std::log(2.0)) * 48000.0;
    EXPECT_EQ(file.size(), 44 + 3 * static_cast<size_t>(std::llround(end)));
}

// One tempo too: beat k at k x 60 / tempo seconds rounded to the nearest
// frame, far past 2^24 frames where a single-precision grid wobbles, and the
// track exactly as long as its beats, with no click past the last.
TEST_F(ClickOptions, OneTempoPutsEveryBeatAtItsExactFrame) {
    const struct {
        std::string tempo, beats, measures, rate;
        int64_t clicks;
    } table[] = {{"120", "4", "191", "44100", 764},
                 {"97.3", "4", "200", "48000", 800},
                 {"30.02", "3", "5", "48000", 15}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.tempo);
        const Bytes file = render({"-t", row.tempo, "-b", row.beats, "-m", row.measures, "-r", row.rate});
        const std::vector<int32_t> normal = clickAt("60", row.rate);
        const double beat = 60.0 / std::stod(row.tempo) * std::stod(row.rate);
        for (int64_t k = 0; k < row.clicks; ++k) {
            const int64_t frame = std::llround(static_cast<double>(k) * beat);
            ASSERT_EQ(at(file, frame), normal) << "beat " << k << " at " << frame;
            if (k > 0) {
                ASSERT_EQ(sampleAt(file, 44, static_cast<size_t>(frame - 1), 3), 0) << k;
            }
        }
        const size_t frames = static_cast<size_t>(std::llround(static_cast<double>(row.clicks) * beat));
        EXPECT_EQ(file.size(), 44 + 3 * frames + (3 * frames) % 2);
        // Clicks begin after a run of silence: as many as beats.
        int64_t onsets = 0;
        size_t zeros = 1000;
        for (size_t n = 0; n < frames; ++n) {
            const bool silent = sampleAt(file, 44, n, 3) == 0;
            if (!silent && zeros >= 1000) ++onsets;
            zeros = silent ? zeros + 1 : 0;
        }
        EXPECT_EQ(onsets, row.clicks);
    }
}

TEST_F(ClickOptions, SubdivisionsFallEvenlyBetweenTheBeatsAtAQuarterOfTheLevel) {
    const std::vector<int32_t> normal = clickAt("60", "44100");
    // Swing R puts the second of each pair of subdivisions R of the way
    // into the pair: eighths by default, sixteenths with --subdivide 4.
    const struct {
        std::vector<std::string> options;
        std::vector<double> points;  // of the extra clicks, as fractions of a beat
    } table[] = {
        {{"--subdivide", "3"}, {1.0 / 3, 2.0 / 3}},
        {{"--subdivide", "4"}, {0.25, 0.5, 0.75}},
        {{"--swing", "50"}, {0.5}},
        {{"--swing", "66.7%"}, {0.667}},
        {{"--swing", "75"}, {0.75}},
        {{"--swing", "66.7", "--subdivide", "4"}, {0.3335, 0.5, 0.8335}},
    };
    for (const auto& row : table) {
        std::vector<std::string> options{"-m", "1", "--sound", "classic"};
        options.insert(options.end(), row.options.begin(), row.options.end());
        const Bytes file = render(options);
        SCOPED_TRACE(row.options.back());
        for (int k = 0; k < 4; ++k) {
            ASSERT_EQ(at(file, 22050 * k), normal) << "beat " << k;
            for (size_t j = 0; j < row.points.size(); ++j) {
                const int64_t frame = std::llround(22050.0 * k + 22050.0 * row.points[j]);
                ASSERT_EQ(at(file, frame), quarter(normal)) << k << "." << j + 1;
                ASSERT_EQ(sampleAt(file, 44, static_cast<size_t>(frame - 1), 3), 0) << k << "." << j + 1;
            }
        }
    }
}

// A tempo that names its note makes that note the beat: a 6/8 bar at
// q.=52 has two beats of 60/52 s, each split in three eighths, and its MIDI
// time signature is 6/8; e=240 in 4/4 clicks eighths; h=60 halves.
TEST_F(ClickOptions, ATempoThatNamesItsNoteMakesThatNoteTheBeat) {
    writeFile(dir.file("ballad.txt"), "ballad: 2 6/8 q.=52 Xx\n");
    const struct {
        std::vector<std::string> options;
        double beat;     // seconds
        int beats;
        int subdivide;   // clicks a beat
        double swing = 0.5;  // the second eighth of a dotted beat swings in the first pair
    } table[] = {
        {{"--map", "ballad.txt", "--subdivide", "2"}, 60.0 / 52, 4, 3},
        {{"-t", "q.=52", "-b", "2", "-m", "2", "--subdivide", "2"}, 60.0 / 52, 4, 3},
        {{"-t", "e=240", "-b", "8", "-m", "1"}, 0.25, 8, 1},
        {{"-t", "h=60", "-b", "2", "-m", "2"}, 1.0, 4, 1},
        {{"-t", "q.=52", "-b", "2", "-m", "2", "--swing", "66.7"}, 60.0 / 52, 4, 3, 0.667},
        {{"-t", "q.=52", "-b", "2", "-m", "2", "--subdivide", "3", "--swing", "75"}, 60.0 / 52, 4, 3, 0.75},
        {{"--map", "ballad.txt", "--swing", "50"}, 60.0 / 52, 4, 3},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.options[1]);
        std::vector<std::string> options = row.options;
        options.insert(options.end(), {"--midi", "out.mid"});
        const Bytes file = render(options);
        for (int k = 0; k < row.beats; ++k) {
            for (int j = 0; j < row.subdivide; ++j) {
                const double point = j == 1 ? 2.0 * row.swing / row.subdivide : static_cast<double>(j) / row.subdivide;
                const int64_t frame = std::llround((k + point) * row.beat * 44100);
                ASSERT_NE(at(file, frame), std::vector<int32_t>(kProbe, 0)) << k << "." << j;
                if (frame > 0) {
                    ASSERT_EQ(sampleAt(file, 44, static_cast<size_t>(frame - 1), 3), 0) << k << "." << j;
                }
            }
        }
        EXPECT_EQ(file.size(), 44 + 3 * static_cast<size_t>(std::llround(row.beats * row.beat * 44100)));
        if (row.subdivide == 3) {
            const Bytes midi = readBytes(dir.file("out.mid"));
            const Bytes sixEight{0xFF, 0x58, 0x04, 6, 3};
            EXPECT_NE(std::search(midi.begin(), midi.end(), sixEight.begin(), sixEight.end()), midi.end());
        }
    }
}

TEST_F(ClickOptions, PatternsAndTheCountInChooseTheClickOfEachBeat) {
    const std::vector<int32_t> normal = clickAt("60", "44100");
    const std::vector<int32_t> accent = clickAt("90", "44100");  // a fifth above
    const std::vector<int32_t> silence(kProbe, 0);
    // 6/8 felt in two: beats 1 and 4 of each measure, the first accented.
    const Bytes six = render({"-b", "6", "-m", "2", "--pattern", "X..x.."});
    for (int k = 0; k < 12; ++k) {
        const std::vector<int32_t>& expected = k % 6 == 0 ? accent : k % 6 == 3 ? normal : silence;
        ASSERT_EQ(at(six, 22050 * k), expected) << "beat " << k;
    }
    // A silent beat silences a click still ringing from the beat before: the
    // 6615 frames of a 20 Hz click outlast a beat of 4410 at 600 bpm.
    writeFile(dir.file("cut.txt"), "1 600 x.xx\n");
    const Bytes cut = render({"--map", "cut.txt", "-f", "20"});
    EXPECT_EQ(at(cut, 4410), silence);
    EXPECT_EQ(at(cut, 8820), clickAt("20", "44100"));
    // One measure of count-in, in the first section's meter, tempo and
    // pattern, its first beat accented when the pattern has no accent; or a
    // pattern of its own.
    const struct {
        std::vector<std::string> options;
        std::string beats;  // the count-in's, then the song's
    } table[] = {
        {{"-m", "1", "--count-in", "1", "--accent"}, "XxxxXxxx"},
        {{"-m", "1", "--count-in", "1"}, "Xxxxxxxx"},
        {{"-b", "7", "-m", "1", "--pattern", "XxXxXxx", "--count-in", "1"}, "XxXxXxxXxXxXxx"},
        {{"-b", "3", "-m", "1", "--pattern", "x.x", "--count-in", "1"}, "X.xx.x"},
        {{"-m", "1", "--count-in", "1", "--count-in-pattern", "xx.x"}, "xx.xxxxx"},
    };
    for (const auto& row : table) {
        const Bytes counted = render(row.options);
        SCOPED_TRACE(row.beats);
        ASSERT_EQ(counted.size(), 44u + 3u * row.beats.size() * 22050);
        for (size_t k = 0; k < row.beats.size(); ++k) {
            const char c = row.beats[k];
            ASSERT_EQ(at(counted, static_cast<int64_t>(22050 * k)),
                      c == 'X' ? accent : c == 'x' ? normal : silence)
                << "beat " << k;
        }
    }
}

// The command line's sound is the woodblock, but for scripts that shape
// the classic click; each pattern letter lays its own click at its level.
TEST_F(ClickOptions, TheSoundAndTheLevelsChooseEachClicksSamples) {
    writeFile(dir.file("s.txt"), "tempo\t120\n");
    const auto start = [](const std::string& sound) {
        const std::vector<int32_t> s = designedSound(sound, SoundVersion::Normal, 44100);
        return std::vector<int32_t>(s.begin(), s.begin() + kProbe);
    };
    const std::vector<int32_t> classic = clickAt("60", "44100");
    struct Row {
        std::vector<std::string> options;
        std::vector<int32_t> first;
    };
    for (const Row& row : {Row{{}, start("woodblock")}, Row{{"--sound", "beep"}, start("beep")},
                           Row{{"-f", "60"}, classic}, Row{{"--settings", "s.txt"}, classic},
                           Row{{"--settings", "s.txt", "--sound", "tick"}, start("tick")}}) {
        std::vector<std::string> options{"-m", "1"};
        options.insert(options.end(), row.options.begin(), row.options.end());
        // Without the fixture's classic sound.
        std::vector<std::string> args{"render", "-q", "-o", "out.wav"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(BackgroundRun(dir.path(), "", 0, args).wait().status, 0);
        EXPECT_EQ(at(readBytes(dir.file("out.wav")), 0), row.first) << ::testing::PrintToString(options);
    }
    // X, x, o and . at 120 bpm, with subdivisions, at levels of their own.
    ClickChoice choice;
    choice.sound = "cowbell";
    choice.volume = gainOfDecibels(-3);
    choice.accent = gainOfDecibels(6);
    choice.subdivision = gainOfDecibels(-20);
    choice.soft = gainOfDecibels(-8);
    const ClickSet set = makeClickSet(24, 60.0f, 44100, std::nullopt, {}, choice);
    // The fixture names the classic sound first: the one given last wins.
    const Bytes file = render({"--sound", "cowbell", "-m", "1", "--pattern", "Xxo.", "--subdivide", "2",
                               "--volume", "-3", "--accent-level", "6", "--sub-level", "-20",
                               "--soft-level", "-8"});
    const auto probe = [](const std::vector<int32_t>& s) {
        return std::vector<int32_t>(s.begin() + 100, s.begin() + 100 + kProbe);
    };
    const std::vector<int32_t> expected[] = {probe(set.accent.clickSamples), probe(set.subdivisionSamples),
                                             probe(set.normal.clickSamples), probe(set.subdivisionSamples),
                                             probe(set.softSamples),         probe(set.subdivisionSamples),
                                             std::vector<int32_t>(kProbe, 0), std::vector<int32_t>(kProbe, 0)};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(at(file, 11025 * k + 100), expected[k]) << "half beat " << k;
}

// A click longer than the gap to the next sounds on under it: a sample of
// half a second at 240 bpm overlaps the next beat's by a quarter second, the
// two summed, held at full scale, and cut where the track ends; play sends
// the device the same frames.
TEST_F(ClickOptions, OverlappingClicksSoundTogetherHeldAtFullScale) {
    const auto dc = [&](const std::string& name, int32_t value) {
        std::string samples;
        for (int i = 0; i < 22050; ++i) putLE(samples, static_cast<uint32_t>(value), 3);
        writeFile(dir.file(name), waveHeader(44100, 24, 1, static_cast<uint32_t>(samples.size())) + samples);
    };
    dc("eighth.wav", 1 << 20);  // an eighth of full scale
    dc("half.wav", 1 << 22);    // half
    writeCaptureAsoundrc(dir.path(), dir.file("cap.raw"));
    const struct {
        const char* sample;
        const char* volume;
        int32_t alone, together;
    } table[] = {{"eighth.wav", "0", 1 << 20, 1 << 21}, {"half.wav", "0", 1 << 22, 8388607},
                 {"eighth.wav", "12", 4174456, 2 * 4174456}};  // 2^20 x 10^(12/20), cut
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.sample) + " " + row.volume);
        const std::vector<std::string> options{"--sample", row.sample, "-t", "240", "-m", "1", "--volume", row.volume};
        std::vector<std::string> args{"render", "-q", "-o", "out.wav"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(BackgroundRun(dir.path(), "", 0, args).wait().status, 0);
        const Bytes file = readBytes(dir.file("out.wav"));
        ASSERT_EQ(file.size(), 44u + 44100u * 3);
        for (const int64_t frame : {0, 11024}) EXPECT_EQ(sampleAt(file, 44, static_cast<size_t>(frame), 3), row.alone) << frame;
        for (const int64_t frame : {11025, 22050, 44099}) {
            EXPECT_EQ(sampleAt(file, 44, static_cast<size_t>(frame), 3), row.together) << frame;
        }
        std::filesystem::remove(dir.file("cap.raw"));
        args = {"play", "-q", "-d", "cap"};
        args.insert(args.end(), options.begin(), options.end());
        ASSERT_EQ(BackgroundRun(dir.path(), "", 0, args).wait().status, 0);
        EXPECT_TRUE(sameStream(readCapture(dir.file("cap.raw"), 44100 * 3), Bytes(file.begin() + 44, file.end()), 3));
    }
}

// `play` sends the device the very frames `render` writes, in one stream:
// one tempo, maps of both formats without a gap between their sections, a
// count-in; --seconds cuts the stream, --loop plays the song again where it
// ends, without its count-in.
TEST_F(ClickOptions, PlayingSendsTheDeviceTheFramesRenderWrites) {
    writeFile(dir.file("menu.txt"), "tmap\t97.3\t3\t2\ntmap\t160\t4\t1\n");
    writeFile(dir.file("line.txt"), "a: 1 7/8 140 XxXxXxx\nb: 1 3/4 90-120\n");
    // Sounds at levels laid over the map's volumes; the tick at +9 dB held at full scale.
    writeFile(dir.file("levels.txt"), "a: 1 4/4 250 Xoxo 0.5\nb: 2 3/4 300 xoX\nc: 1 5/4 200 oo.xX 0.25\n");
    const auto audio = [&](const std::vector<std::string>& options) {
        const Bytes file = render(options);
        return Bytes(file.begin() + 44, file.begin() + 44 + static_cast<long>((file.size() - 44) / 3 * 3));
    };
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-t", "97.3", "-b", "3", "-m", "4"},
          {"--map", "menu.txt"},
          {"--map", "line.txt", "--subdivide", "2"},
          {"-m", "1", "--count-in", "1", "--pattern", "X.xx"},
          {"--map", "levels.txt", "--subdivide", "3", "--sound", "tick", "--volume", "9"},
          {"--map", "levels.txt", "--sound", "woodblock", "--soft-level", "-20"}}) {
        SCOPED_TRACE(options.back());
        const Bytes expected = audio(options);
        EXPECT_TRUE(sameStream(play(options, expected.size()), expected, 3));
    }
    // Five seconds of a looped measure at 150 after its count-in.
    const Bytes counted = audio({"-t", "150", "-m", "1", "--count-in", "1"});
    const Bytes round = audio({"-t", "150", "-m", "1"});
    Bytes looped = counted;
    while (looped.size() < 220500u * 3) looped.insert(looped.end(), round.begin(), round.end());
    looped.resize(220500u * 3);
    EXPECT_TRUE(sameStream(play({"-t", "150", "-m", "1", "--count-in", "1", "--loop", "--seconds", "5"},
                                looped.size()),
                           looped, 3));
    // A stream shorter than a period of the device is played all the same.
    const Bytes first = audio({"-m", "1"});
    EXPECT_TRUE(sameStream(play({"--seconds", "0.001"}, 44 * 3), Bytes(first.begin(), first.begin() + 44 * 3), 3));
}

// A section of a map in the line format, as the test reads it.
struct MapSection {
    int beats, note;
    std::vector<double> tempos;  // one; A and B of a change; or one for each beat
    bool ramp;
    std::string pattern;
    double volume;
    int measures;
};

// Seconds from a section's start to its beat k.
double beatTime(const MapSection& m, int k) {
    const double n = static_cast<double>(m.measures) * m.beats;
    if (m.ramp) {
        const double a = m.tempos[0], t = a + (m.tempos[1] - a) * k / n;
        const double mean = a == t ? a : (a - t) / (std::log(a) - std::log(t));
        return 240.0 * k / (mean * m.note);
    }
    if (m.tempos.size() == 1) return 240.0 * k / (m.tempos[0] * m.note);
    double t = 0.0;
    for (int i = 0; i < k; ++i) t += 240.0 / (m.tempos[static_cast<size_t>(i)] * m.note);
    return t;
}

std::vector<int32_t> atLevel(std::vector<int32_t> click, double level) {
    for (int32_t& v : click) v = static_cast<int32_t>(v * level);
    return click;
}

TEST_F(ClickOptions, MapsOfTheLineFormatPutEveryClickAtItsExactTime) {
    const std::vector<int32_t> normal = clickAt("60", "44100");
    const std::vector<int32_t> accent = clickAt("90", "44100");
    writeFile(dir.file("song.txt"),
              "intro:    8 120           # 8 measures of 4/4 at 120\n"
              "verse:    12 120 X.x.     # only beats 1 and 3\n"
              "          4 120-140 X.x.  # speeding up to 140\n"
              "bridge:   8 3/4 140 0.5   # 3/4, half volume\n"
              "outro:    2 140-80        # slowing down over the last 2 measures\n"
              "list:     2 3/8 120,130,140,150,160,170\n");
    const std::vector<MapSection> map = {
        {4, 4, {120}, false, "Xxxx", 1.0, 8},         {4, 4, {120}, false, "X.x.", 1.0, 12},
        {4, 4, {120, 140}, true, "X.x.", 1.0, 4},     {3, 4, {140}, false, "Xxx", 0.5, 8},
        {4, 4, {140, 80}, true, "Xxxx", 1.0, 2},
        {3, 8, {120, 130, 140, 150, 160, 170}, false, "Xxx", 1.0, 2}};
    const Bytes file = render({"--map", "song.txt"});
    double start = 0.0;
    int clicks = 0;
    for (size_t i = 0; i < map.size(); ++i) {
        const MapSection& m = map[i];
        for (int k = 0; k < m.measures * m.beats; ++k) {
            const int64_t frame = std::llround((start + beatTime(m, k)) * 44100.0);
            const char c = m.pattern[static_cast<size_t>(k % m.beats)];
            const std::vector<int32_t> expected =
                c == '.' ? std::vector<int32_t>(kProbe, 0)
                         : atLevel(c == 'X' ? accent : normal, m.volume);
            ASSERT_EQ(at(file, frame), expected) << "section " << i + 1 << ", beat " << k;
            clicks += c != '.';
        }
        start += beatTime(m, m.measures * m.beats);
    }
    EXPECT_EQ(clicks, 32 + 24 + 8 + 24 + 8 + 6);
    // The track ends where the beat after the last one would start (odd: a pad byte).
    const size_t samples = static_cast<size_t>(std::llround(start * 44100.0));
    EXPECT_EQ(file.size(), 44 + 3 * samples + (3 * samples) % 2);
    // The device gets the same frames, the half-volume bridge included, to the last.
    const Bytes audio(file.begin() + 44, file.begin() + 44 + static_cast<long>(3 * samples));
    EXPECT_TRUE(sameStream(play({"--map", "song.txt"}, audio.size()), audio, 3));
}

// A run of beats of one length, as the trainer lays them.
struct Beats {
    int count;
    double seconds;
};

// The trainer raises the tempo at the bar lines it says, in the note the
// tempo counts, the count-in untrained: beat k of the track starts at the
// exact sum of the lengths of the beats before it.
TEST_F(ClickOptions, TheTrainerStepsTheTempoAtItsBarLines) {
    writeFile(dir.file("drill.txt"), "a: 2 100 trainer=+10/1\nb: 2 3/4 120\n");
    const struct {
        std::vector<std::string> options;
        std::vector<Beats> beats;
    } table[] = {
        {{"-t", "100", "-b", "4", "-m", "8", "--trainer", "+10/2:120"},
         {{8, 60.0 / 100}, {8, 60.0 / 110}, {16, 60.0 / 120}}},
        {{"-t", "120", "-m", "5", "--trainer", "-12.5/2:100", "--count-in", "1"},
         {{12, 60.0 / 120}, {8, 60.0 / 107.5}, {4, 60.0 / 100}}},
        // Dotted quarters: the step is one of them a minute.
        {{"-t", "q.=52", "-b", "2", "-m", "3", "--trainer", "+1/1"},
         {{2, 60.0 / 52}, {2, 60.0 / 53}, {2, 60.0 / 54}}},
        // A line's own trainer takes the song's place; the song's counts
        // its bars from the first: b starts at its third.
        {{"--map", "drill.txt", "--trainer", "+5/1"},
         {{4, 60.0 / 100}, {4, 60.0 / 110}, {3, 60.0 / 130}, {3, 60.0 / 135}}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(::testing::PrintToString(row.options));
        const Bytes file = render(row.options);
        const std::vector<int32_t> silence(kProbe, 0);
        double time = 0.0;
        for (const Beats& run : row.beats) {
            for (int k = 0; k < run.count; ++k) {
                const int64_t frame = std::llround(time * 44100);
                ASSERT_NE(at(file, frame), silence) << "at " << frame;
                if (frame > 0) {
                    ASSERT_EQ(sampleAt(file, 44, static_cast<size_t>(frame - 1), 3), 0) << frame;
                }
                time += run.seconds;
            }
        }
        const size_t frames = static_cast<size_t>(std::llround(time * 44100));
        EXPECT_EQ(file.size(), 44 + 3 * frames + (3 * frames) % 2);
    }
}

// Muted bars hold nothing, subdivisions included, while the track keeps
// its length; the count-in always sounds, and a line's own cycle takes the
// song's place. `play` sends the device the same frames.
TEST_F(ClickOptions, MutedBarsAreSilentAndTheTrackKeepsItsLength) {
    writeFile(dir.file("quiet.txt"), "a: 2 120 mute=1/1\nb: 2 120\n");
    const struct {
        std::vector<std::string> options;
        std::string bars;  // each bar of the track: s sounds, m is muted
    } table[] = {
        {{"-m", "6", "--mute", "2/1", "--subdivide", "2", "--count-in", "1"}, "sssmssm"},
        {{"--map", "quiet.txt", "--mute", "3/1"}, "smsm"},
        {{"-m", "4", "--mute", "1/2", "--trainer", "+20/1"}, "smms"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(::testing::PrintToString(row.options));
        const Bytes file = render(row.options);
        // The same track unmuted.
        std::vector<std::string> plain;
        for (size_t i = 0; i + 1 < row.options.size(); i += 2) {
            if (row.options[i] != "--mute") plain.insert(plain.end(), {row.options[i], row.options[i + 1]});
        }
        if (plain[0] == "--map") plain = {"--map", "plain.txt"};
        writeFile(dir.file("plain.txt"), "a: 2 120\nb: 2 120\n");
        const Bytes heard = render(plain);
        ASSERT_EQ(file.size(), heard.size());
        // Bar by bar, 4 beats at 120 or the trainer's tempo: a muted bar all
        // zeros, any other the very frames of the track without muting.
        double time = 0.0;
        for (size_t b = 0; b < row.bars.size(); ++b) {
            const double tempo = row.options.back() == "+20/1" ? 120.0 + 20.0 * b : 120.0;
            const size_t from = static_cast<size_t>(std::llround(time * 44100));
            time += 4 * 60.0 / tempo;
            const size_t to = static_cast<size_t>(std::llround(time * 44100));
            const auto first = file.begin() + static_cast<long>(44 + 3 * from);
            const auto last = file.begin() + static_cast<long>(44 + 3 * to);
            if (row.bars[b] == 'm') {
                EXPECT_TRUE(std::all_of(first, last, [](uint8_t v) { return v == 0; })) << "bar " << b + 1;
            } else {
                EXPECT_TRUE(std::equal(first, last, heard.begin() + (first - file.begin()))) << "bar " << b + 1;
            }
        }
        const Bytes audio(file.begin() + 44, file.begin() + 44 + static_cast<long>((file.size() - 44) / 3 * 3));
        EXPECT_TRUE(sameStream(play(row.options, audio.size()), audio, 3));
    }
}

}  // namespace
