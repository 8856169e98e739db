// Tempo maps: reading the map, checking it whole, `rtm` writing it into one
// wave file and `ptm` playing it section by section.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "common/value_rules.hpp"
#include "files/tempo_map.hpp"
#include "support/test_support.hpp"

namespace {

const char* const kHelpExample = "tmap\t120\t4\t48\ntmap\t160\t3\t16\n";

// ---------------------------------------------------------------- helpers

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The default click at 44100 and 60 Hz (8 partials of 3 cycles, 2205
// samples), encoded at 24 bits: made here from the click's definition.
std::vector<uint8_t> defaultClick24() {
    const uint32_t rate = 44100;
    const int lowestHz = 60, cycles = 3, harmonics = 8, length = 2205;
    std::vector<int32_t> samples(length, 0);
    for (int h = 1; h <= harmonics; ++h) {
        const int f = h * lowestHz;
        const float w = static_cast<float>(6.283185307179586 * static_cast<float>(f) /
                                           static_cast<float>(rate));
        const int period = static_cast<int>(static_cast<float>(rate) / static_cast<float>(f));
        int i = 0;
        for (int c = 1; c <= cycles; ++c) {
            const float a = static_cast<float>(std::pow(0.5, h) * 12582912.0 * std::pow(0.5, c));
            for (; i < c * period && i < length; ++i) {
                const float v = a * std::sin(static_cast<float>(i) * w);
                samples[i] = static_cast<int32_t>(static_cast<float>(samples[i]) + v);
            }
        }
    }
    std::vector<uint8_t> bytes;
    for (int32_t v : samples) {
        const uint32_t u = static_cast<uint32_t>(v);
        bytes.insert(bytes.end(), {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16)});
    }
    return bytes;
}

// `frames` frames of a beat of `beatLength` frames (the click, then silence)
// played over and over.
void appendBeats(std::vector<uint8_t>& out, const std::vector<uint8_t>& click, size_t beatLength,
                 size_t frames) {
    std::vector<uint8_t> beat(beatLength * 3, 0);
    std::copy(click.begin(), click.begin() + std::min(click.size(), beat.size()), beat.begin());
    for (size_t done = 0; done < frames; done += beatLength) {
        const size_t n = std::min(beatLength, frames - done);
        out.insert(out.end(), beat.begin(), beat.begin() + n * 3);
    }
}

// A track of `count` samples with a click starting at each of `starts`.
void appendTrack(std::vector<uint8_t>& out, const std::vector<uint8_t>& click,
                 const std::vector<size_t>& starts, size_t count) {
    const size_t base = out.size();
    out.resize(base + count * 3, 0);
    for (size_t s : starts) std::copy(click.begin(), click.end(), out.begin() + base + s * 3);
}

// Offset of the first byte where the two differ (or the shorter length), -1 if equal.
long long firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return static_cast<long long>(i);
    }
    return a.size() == b.size() ? -1 : static_cast<long long>(n);
}

// The capture is written by a pipe that may still be busy when the program
// has ended: waits until its size stops changing.
std::vector<uint8_t> readCapture(const std::string& path) {
    size_t last = static_cast<size_t>(-1);
    int stable = 0;
    for (int i = 0; i < 200 && stable < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const size_t now = fileExists(path) ? readBytes(path).size() : 0;
        stable = now == last ? stable + 1 : 0;
        last = now;
    }
    return readBytes(path);
}

std::string measures(int from, int to) {
    std::string text;
    for (int m = from; m <= to; ++m) text += "\tMeasure  " + std::to_string(m) + "\n";
    return text;
}

// The program's output from "Parsing tmap file.." up to the next menu.
std::string mapTranscript(const std::string& out, size_t from = 0) {
    const size_t start = out.find("Parsing tmap file..", from);
    if (start == std::string::npos) return "";
    return out.substr(start, out.find("\nGlobal settings:", start) - start);
}

TempoMapText parse(std::string_view text) { return parseTempoMap(text); }

void expectEntry(const TempoMapEntry& e, float tempo, int64_t beats, int64_t measures) {
    EXPECT_EQ(e.tempo, tempo);
    EXPECT_EQ(e.beats, beats);
    EXPECT_EQ(e.measures, measures);
}

// ---------------------------------------------------------------- parsing

TEST(TempoMapParsing, TheHelpExampleIsTwoEntries) {
    const TempoMapText map = parse(kHelpExample);
    EXPECT_FALSE(map.cutShort);
    ASSERT_EQ(map.entryCount, 2u);
    ASSERT_EQ(map.entries.size(), 2u);
    expectEntry(map.entries[0], 120.0f, 4, 48);
    expectEntry(map.entries[1], 160.0f, 3, 16);
}

TEST(TempoMapParsing, ABlankAfterTmapOrBeforeItMakesNoEntry) {
    for (const char* text : {"tmap 120\t4\t48\n", "   tmap\t120\t4\t48\n   tmap\t160\t3\t16\n",
                             "", "\n\t\n", "tmap120\t4\t48\n", "TMAP\t120\t4\t48\n"}) {
        const TempoMapText map = parse(text);
        EXPECT_EQ(map.entryCount, 0u) << text;
        EXPECT_FALSE(map.cutShort) << text;
    }
}

TEST(TempoMapParsing, FreeTextAroundAnEntryIsSkipped) {
    const TempoMapText map =
        parse("My song\nintro is slow\tand soft\n\ntmap\t100\t2\t8\nthe end (tmap)\n");
    ASSERT_EQ(map.entryCount, 1u);
    expectEntry(map.entries[0], 100.0f, 2, 8);
}

TEST(TempoMapParsing, AnEntryMayRunOverSeveralLines) {
    TempoMapText map = parse("tmap\n100\t2\t8\n");
    ASSERT_EQ(map.entryCount, 1u);
    expectEntry(map.entries[0], 100.0f, 2, 8);
    // The tempo and the beats end only at a tab; the measures at a line break.
    map = parse("tmap\t\t90.5\t\t3\t\n\n12 measures\ttext\n");
    ASSERT_EQ(map.entryCount, 1u);
    expectEntry(map.entries[0], 90.5f, 3, 12);
}

TEST(TempoMapParsing, AMeasuresFieldOfTmapStartsTheNextEntry) {
    const TempoMapText map = parse("tmap\t120\t4\ttmap\n90\t2\t8\n");
    ASSERT_EQ(map.entryCount, 2u);
    expectEntry(map.entries[0], 120.0f, 4, 0);
    expectEntry(map.entries[1], 90.0f, 2, 8);
}

TEST(TempoMapParsing, FieldsAreReadAsDecimalNumbers) {
    const TempoMapText map =
        parse("tmap\t183.75\t010\t0x10\ntmap\tfast\t3x\t-2\ntmap\t120\t4\t48\r\n");
    ASSERT_EQ(map.entryCount, 3u);
    expectEntry(map.entries[0], 183.75f, 10, 0);
    expectEntry(map.entries[1], 0.0f, 3, -2);
    expectEntry(map.entries[2], 120.0f, 4, 48);
}

TEST(TempoMapParsing, AZeroByteEndsTheText) {
    const TempoMapText map = parse(std::string_view("tmap\t120\t4\t48\n\0tmap\t160\t3\t16\n", 29));
    ASSERT_EQ(map.entryCount, 1u);
    expectEntry(map.entries[0], 120.0f, 4, 48);
}

TEST(TempoMapParsing, AnEntryCutShortByTheEndOfTheTextIsNotStored) {
    for (const char* tail : {"tmap", "tmap\t", "tmap\t90", "tmap\t90\t", "tmap\t90\t3",
                             "tmap\t90\t3\t", "tmap\t90\t3\t\n\n"}) {
        const TempoMapText map = parse(std::string("tmap\t120\t4\t48\n") + tail);
        EXPECT_TRUE(map.cutShort) << tail;
        ASSERT_EQ(map.entryCount, 1u) << tail;
        ASSERT_EQ(map.entries.size(), 1u) << tail;
        expectEntry(map.entries[0], 120.0f, 4, 48);
    }
    // The last measures may end at the end of the text.
    const TempoMapText map = parse("tmap\t120\t4\t48");
    EXPECT_FALSE(map.cutShort);
    ASSERT_EQ(map.entryCount, 1u);
    expectEntry(map.entries[0], 120.0f, 4, 48);
}

// ---------------------------------------------------------------- checking

std::vector<std::string> check(std::string_view text, uint32_t rate = 44100) {
    return checkTempoMap(parseTempoMap(text), rate);
}

TEST(TempoMapChecking, AUsableMapHasNoProblems) {
    EXPECT_TRUE(check(kHelpExample).empty());
    // No beats or no measures make an empty section, which is allowed.
    EXPECT_TRUE(check("tmap\t120\t0\t4\ntmap\t120\t4\t0\ntmap\t2646000\t1\t1\n").empty());
}

TEST(TempoMapChecking, EachUnusableEntryGetsALineNamingIt) {
    EXPECT_EQ(check("tmap\t0\t4\t4\ntmap\t120\t-4\t4\ntmap\t120\t4\t-1\ntmap\t120\t4\t4\n"
                    "tmap\t-5\t3\t3\n"),
              (std::vector<std::string>{
                  "Tempo map entry 1: Tempo must be above 0 and at most 2646000 bpm (one beat "
                  "per sample).",
                  "Tempo map entry 2: Beats per measure must be a whole number from 0 to "
                  "2147483647.",
                  "Tempo map entry 3: Number of measures must be a whole number from 0 to "
                  "2147483647.",
                  "Tempo map entry 5: Tempo must be above 0 and at most 2646000 bpm (one beat "
                  "per sample).",
              }));
}

TEST(TempoMapChecking, TemposWithoutAWholeBeatOfSamplesAreRefused) {
    EXPECT_EQ(check("tmap\t2646001\t4\t4\n"),
              std::vector<std::string>{"Tempo map entry 1: Tempo must be above 0 and at most "
                                       "2646000 bpm (one beat per sample)."});
    EXPECT_EQ(check("tmap\t1e-30\t4\t1\n"),
              std::vector<std::string>{"Tempo map entry 1: Tempo must be high enough that one "
                                       "beat lasts at most 2147483647 samples."});
    EXPECT_EQ(check("tmap\tnan\t4\t1\ntmap\tinf\t4\t1\n").size(), 2u);
}

TEST(TempoMapChecking, ASectionOfMoreThan2147483647SamplesIsRefused) {
    // 2147483647 beats (or 100000 x 1000 at 1 bpm) are far longer than a wave file.
    const std::string line =
        "Tempo map entry 1: the section is too long (over 2147483647 samples).";
    EXPECT_EQ(check("tmap\t120\t2147483647\t2\n"), std::vector<std::string>{line});
    EXPECT_EQ(check("tmap\t1\t1000\t100000\n"), std::vector<std::string>{line});
}

TEST(TempoMapChecking, AnEntryCutShortIsRefused) {
    EXPECT_EQ(check("tmap\t120\t4\t48\ntmap\t90\t3"),
              std::vector<std::string>{"Tempo map entry 2: cut short by the end of the file."});
}

TEST(TempoMapChecking, AtMost255EntriesAreAccepted) {
    std::string text;
    for (int i = 0; i < 255; ++i) text += "tmap\t120\t4\t1\n";
    TempoMapText map = parseTempoMap(text);
    EXPECT_EQ(map.entryCount, 255u);
    EXPECT_TRUE(checkTempoMap(map, 44100).empty());

    for (int i = 0; i < 45; ++i) text += "tmap\t120\t4\t1\n";
    map = parseTempoMap(text);
    EXPECT_EQ(map.entryCount, 300u);
    EXPECT_LE(map.entries.size(), 256u);
    EXPECT_EQ(checkTempoMap(map, 44100),
              std::vector<std::string>{"The tempo map has 300 entries; at most 255 are allowed."});
}

// ---------------------------------------------------------------- section lengths

TEST(TempoMapSections, RtmWritesRateTimesTheSectionsLength) {
    int32_t frames = 0;
    ASSERT_TRUE(sectionWriteFrames({120.0f, 4, 48}, 44100, frames));
    EXPECT_EQ(frames, 4233600);
    ASSERT_TRUE(sectionWriteFrames({160.0f, 3, 16}, 44100, frames));
    EXPECT_EQ(frames, 793800);
}

TEST(TempoMapSections, PtmComputesItsTotalInDoublePrecision) {
    int32_t total = 0;
    ASSERT_TRUE(sectionPlayFrames({183.75f, 4, 1}, 44100, total));
    EXPECT_EQ(total, 57599);
    ASSERT_TRUE(sectionPlayFrames({120.0f, 4, 48}, 44100, total));
    EXPECT_EQ(total, 4233600);
}

TEST(TempoMapSections, At39_2BpmPtmBeatsAreOneSampleShorterThanTheAuditions) {
    EXPECT_EQ(sectionBeatLength({39.2f, 4, 1}, 44100), 67499);
    EXPECT_EQ(beatSamples(44100, 39.2f), 67500);
}

// ---------------------------------------------------------------- the program

TEST(TempoMapProgram, RtmOfTheHelpExampleWritesBothSectionsAndLeavesTempo160) {
    TempDir dir;
    writeFile(dir.file("tmap.txt"), kHelpExample);
    const RunResult r = runProgram(dir.path(), startAnswers(2) + "rtm\nn\nlast.wav\nw\nx\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("file.\n\nParsing tmap file..\nFound 2 map entries.\n\n"
                         "Global settings:\n\tEnter 't' to adjust tempo (160.0 bpm).\n"),
              std::string::npos);
    // Beats per measure and measures are the user's, not the map's.
    const size_t menu = r.out.find("Found 2 map entries.");
    EXPECT_NE(r.out.find("\tEnter 'b' to set beats per measure (4)\n", menu), std::string::npos);
    EXPECT_NE(r.out.find("measures to write (48).\n", menu), std::string::npos);

    // 48 measures of 4 beats at 120 (a click every 22050 samples), then 16 of
    // 3 at 160 (every 16537.5, so at the next whole sample).
    const std::vector<uint8_t> click = defaultClick24();
    std::vector<uint8_t> expected(44, 0);
    std::vector<size_t> starts;
    for (size_t k = 0; k < 192; ++k) starts.push_back(k * 22050);
    appendTrack(expected, click, starts, 4233600);
    starts.clear();
    for (size_t k = 0; k < 48; ++k) starts.push_back((k * 33075 + 1) / 2);
    appendTrack(expected, click, starts, 793800);

    const std::vector<uint8_t> wav = readBytes(dir.file("click.wav"));
    ASSERT_EQ(wav.size(), 44u + (4233600u + 793800u) * 3u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(u32At(wav, 4), 15082236u);
    EXPECT_EQ(u32At(wav, 24), 44100u);
    EXPECT_EQ(u32At(wav, 40), 15082200u);
    EXPECT_EQ(firstDifference(std::vector<uint8_t>(wav.begin() + 44, wav.end()),
                              std::vector<uint8_t>(expected.begin() + 44, expected.end())),
              -1);

    // `w` then writes the last section's length, 18 s, at its tempo.
    EXPECT_EQ(readBytes(dir.file("last.wav")).size(), 44u + 793800u * 3u);
}

TEST(TempoMapProgram, PtmPlaysEachSectionCountingItsMeasuresFromOne) {
    TempDir dir;
    const std::string capture = dir.file("capture.raw");
    writeCaptureAsoundrc(dir.path(), capture);
    writeFile(dir.file("dodiradoz.txt"), "device\tcap\nmap\tsong map.txt\n");
    writeFile(dir.file("song map.txt"), kHelpExample);
    const RunResult r = runProgram(dir.path(), "ptm\nx\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(mapTranscript(r.out), "Parsing tmap file..\nFound 2 map entries.\n"
                                    "\nPlaying section  1 \n\n" + measures(1, 48) +
                                    "\nPlaying section  2 \n\n" + measures(1, 16));

    // Periods of 1024 frames: section 1 plays 4134 of them (4233600 - 1024
    // rounded up), of a 22050-frame beat; section 2 plays 775 (793800 - 1024
    // rounded up) of a 16537-frame beat.
    const std::vector<uint8_t> click = defaultClick24();
    std::vector<uint8_t> expected;
    appendBeats(expected, click, 22050, 4134 * 1024);
    appendBeats(expected, click, 16537, 775 * 1024);
    const std::vector<uint8_t> played = readCapture(capture);
    EXPECT_EQ(played.size(), (4233216u + 793600u) * 3u);
    EXPECT_EQ(firstDifference(played, expected), -1);
}

TEST(TempoMapProgram, At39_2BpmPtmPlays67499SamplesABeatAndTheAudition67500) {
    TempDir dir;
    const std::string capture = dir.file("capture.raw");
    writeCaptureAsoundrc(dir.path(), capture);
    writeFile(dir.file("dodiradoz.txt"), "device\tcap\n");
    writeFile(dir.file("tmap.txt"), "tmap\t39.2\t1\t2\n");
    const RunResult r = runProgram(dir.path(), "ptm\nt\n39.2\nal\n3\na\nx\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(mapTranscript(r.out),
              "Parsing tmap file..\nFound 1 map entries.\n\nPlaying section  1 \n\n" +
                  measures(1, 2));
    // ptm: 2 beats total 134999 frames, 131 periods played. a: 3 s are
    // 132300 frames, 129 periods played.
    const std::vector<uint8_t> click = defaultClick24();
    std::vector<uint8_t> expected;
    appendBeats(expected, click, 67499, 131 * 1024);
    appendBeats(expected, click, 67500, 129 * 1024);
    EXPECT_EQ(firstDifference(readCapture(capture), expected), -1);
}

TEST(TempoMapProgram, AMapWithoutEntriesEndsTheProgramWithStatus2) {
    for (const char* text : {"tmap 120\t4\t48\n", "   tmap\t120\t4\t48\n   tmap\t160\t3\t16\n",
                             "", "some notes\n"}) {
        for (const char* command : {"rtm", "ptm"}) {
            TempDir dir;
            writeFile(dir.file("tmap.txt"), text);
            writeCaptureAsoundrc(dir.path(), dir.file("capture.raw"));
            const RunResult r = runProgram(
                dir.path(), startAnswers(2) + "o\ncap\n" + command + "\nx\nx\n");
            EXPECT_EQ(r.status, 2) << text << command;
            const std::string end =
                "\n\nParsing tmap file..\nCould not find tempo entries in map file.\n";
            EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), end.size())), end)
                << text << command;
            EXPECT_FALSE(fileExists(dir.file("click.wav")));
            EXPECT_FALSE(fileExists(dir.file("capture.raw")));
        }
    }
}

TEST(TempoMapProgram, AnUnusableMapTouchesNothingAndReturnsToTheMenu) {
    TempDir dir;
    const std::string old = "an earlier take, not a wave file";
    writeFile(dir.file("click.wav"), old);
    writeFile(dir.file("tmap.txt"), "tmap\t0\t4\t4\ntmap\t120\t-4\t4\ntmap\t90\t3\t8\n");
    writeCaptureAsoundrc(dir.path(), dir.file("capture.raw"));
    const RunResult r = runProgram(dir.path(), startAnswers(2) + "o\ncap\nrtm\nptm\nx\n");
    EXPECT_EQ(r.status, 2);
    const std::string refused =
        "Parsing tmap file..\nFound 3 map entries.\n"
        "Tempo map entry 1: Tempo must be above 0 and at most 2646000 bpm (one beat per "
        "sample).\n"
        "Tempo map entry 2: Beats per measure must be a whole number from 0 to 2147483647.\n"
        "The tempo map was not used.\n";
    const size_t first = r.out.find("Parsing tmap file..");
    EXPECT_EQ(mapTranscript(r.out), refused);
    EXPECT_EQ(mapTranscript(r.out, first + 1), refused);
    EXPECT_EQ(r.out.find("tempo (0.0 bpm)"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("click.wav")), old);
    EXPECT_FALSE(fileExists(dir.file("capture.raw")));
}

TEST(TempoMapProgram, AMissingMapFileIsReportedAndTheMenuReturns) {
    TempDir dir;
    const std::string old = "an earlier take";
    writeFile(dir.file("click.wav"), old);
    const RunResult r = runProgram(dir.path(), startAnswers(2) + "rtm\nptm\nx\n");
    EXPECT_EQ(r.status, 2);
    const std::string line =
        "\n\nCan't open tempo map file 'tmap.txt': No such file or directory.\n\nGlobal settings:";
    const size_t first = r.out.find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(r.out.find(line, first + 1), std::string::npos);
    EXPECT_EQ(readFile(dir.file("click.wav")), old);
}

TEST(TempoMapProgram, AMapTooLargeForAWaveFileEndsTheProgramAndTouchesNothing) {
    TempDir dir;
    const std::string old = "an earlier take";
    writeFile(dir.file("click.wav"), old);
    // Three sections of 705600000 samples: 6.35 GB at 24 bits.
    writeFile(dir.file("tmap.txt"), "tmap\t60\t1\t16000\ntmap\t60\t1\t16000\ntmap\t60\t1\t16000\n");
    const RunResult r = runProgram(dir.path(), startAnswers(2) + "rtm\nx\n");
    EXPECT_EQ(r.status, 2);
    const size_t found = r.out.rfind("\nFound 3 map entries.\nThe track would make 'click.wav' ");
    ASSERT_NE(found, std::string::npos);
    EXPECT_EQ(r.out.find('\n', found + 22), r.out.size() - 1);
    EXPECT_EQ(r.out.substr(r.out.size() - 23), "; nothing was written.\n");
    EXPECT_EQ(readFile(dir.file("click.wav")), old);
}

}  // namespace
