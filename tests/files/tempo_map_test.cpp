// Tempo maps: reading the map, checking it whole, `rtm` writing it into one
// wave file and `ptm` playing it section by section.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/timing.hpp"
#include "files/tempo_map.hpp"
#include "support/audio_support.hpp"

namespace {

const char* const kHelpExample = "tmap\t120\t4\t48\ntmap\t160\t3\t16\n";

// The program's output from "Parsing tmap file.." up to the next menu.
std::string mapTranscript(const std::string& out, size_t from = 0) {
    const size_t start = out.find("Parsing tmap file..", from);
    if (start == std::string::npos) return "";
    return out.substr(start, out.find("\nGlobal settings:", start) - start);
}

// ---------------------------------------------------------------- parsing

void expectMap(std::string_view text, bool cutShort, const std::vector<TempoMapEntry>& entries) {
    SCOPED_TRACE(::testing::PrintToString(std::string(text)));
    const TempoMapText map = parseTempoMap(text);
    EXPECT_EQ(map.cutShort, cutShort);
    ASSERT_EQ(map.entryCount, entries.size());
    ASSERT_EQ(map.entries.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(map.entries[i].tempo, entries[i].tempo) << "entry " << i + 1;
        EXPECT_EQ(map.entries[i].beats, entries[i].beats) << "entry " << i + 1;
        EXPECT_EQ(map.entries[i].measures, entries[i].measures) << "entry " << i + 1;
    }
}

TEST(TempoMapParsing, ReadsEntriesOutOfFreeText) {
    expectMap(kHelpExample, false, {{120.0f, 4, 48}, {160.0f, 3, 16}});
    // A blank after tmap or before it makes no entry.
    for (const char* text : {"tmap 120\t4\t48\n", "   tmap\t120\t4\t48\n   tmap\t160\t3\t16\n", "",
                             "\n\t\n", "tmap120\t4\t48\n", "TMAP\t120\t4\t48\n"}) {
        expectMap(text, false, {});
    }
    expectMap("My song\nintro is slow\tand soft\n\ntmap\t100\t2\t8\nthe end (tmap)\n", false,
              {{100.0f, 2, 8}});
    // An entry may run over several lines: the tempo and the beats end only
    // at a tab, the measures at a line break.
    expectMap("tmap\n100\t2\t8\n", false, {{100.0f, 2, 8}});
    expectMap("tmap\t\t90.5\t\t3\t\n\n12 measures\ttext\n", false, {{90.5f, 3, 12}});
    // A measures field of tmap starts the next entry.
    expectMap("tmap\t120\t4\ttmap\n90\t2\t8\n", false, {{120.0f, 4, 0}, {90.0f, 2, 8}});
    // Fields are read as decimal numbers.
    expectMap("tmap\t183.75\t010\t0x10\ntmap\tfast\t3x\t-2\ntmap\t120\t4\t48\r\n", false,
              {{183.75f, 10, 0}, {0.0f, 3, -2}, {120.0f, 4, 48}});
    // A zero byte ends the text.
    expectMap(std::string_view("tmap\t120\t4\t48\n\0tmap\t160\t3\t16\n", 29), false,
              {{120.0f, 4, 48}});
}

TEST(TempoMapParsing, AnEntryCutShortByTheEndOfTheTextIsNotStored) {
    for (const char* tail : {"tmap", "tmap\t", "tmap\t90", "tmap\t90\t", "tmap\t90\t3",
                             "tmap\t90\t3\t", "tmap\t90\t3\t\n\n"}) {
        expectMap(std::string("tmap\t120\t4\t48\n") + tail, true, {{120.0f, 4, 48}});
    }
    // The last measures may end at the end of the text.
    expectMap("tmap\t120\t4\t48", false, {{120.0f, 4, 48}});
}

// ---------------------------------------------------------------- checking

std::string entryLine(int entry, const std::string& why) {
    return "Tempo map entry " + std::to_string(entry) + ": " + why;
}

TEST(TempoMapChecking, EachUnusableEntryGetsALineNamingIt) {
    const std::string tempo =
        "Tempo must be above 0 and at most 2646000 bpm (one beat per sample).";
    const std::string tooLong = "the section is too long (over 2147483647 samples).";
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {kHelpExample, {}},
        // No beats or no measures make an empty section, which is allowed.
        {"tmap\t120\t0\t4\ntmap\t120\t4\t0\ntmap\t2646000\t1\t1\n", {}},
        {"tmap\t0\t4\t4\ntmap\t120\t-4\t4\ntmap\t120\t4\t-1\ntmap\t120\t4\t4\ntmap\t-5\t3\t3\n",
         {entryLine(1, tempo),
          entryLine(2, "Beats per measure must be a whole number from 0 to 2147483647."),
          entryLine(3, "Number of measures must be a whole number from 0 to 2147483647."),
          entryLine(5, tempo)}},
        // Tempos without a whole beat of samples.
        {"tmap\t2646001\t4\t4\n", {entryLine(1, tempo)}},
        {"tmap\t1e-30\t4\t1\n",
         {entryLine(1,
                    "Tempo must be high enough that one beat lasts at most 2147483647 samples.")}},
        {"tmap\tnan\t4\t1\ntmap\tinf\t4\t1\n", {entryLine(1, tempo), entryLine(2, tempo)}},
        // 2147483647 beats, or 100000 x 1000 at 1 bpm, are far longer than a wave file.
        {"tmap\t120\t2147483647\t2\n", {entryLine(1, tooLong)}},
        {"tmap\t1\t1000\t100000\n", {entryLine(1, tooLong)}},
        {"tmap\t120\t4\t48\ntmap\t90\t3", {entryLine(2, "cut short by the end of the file.")}},
    };
    for (const auto& [text, lines] : cases) {
        EXPECT_EQ(checkTempoMap(parseTempoMap(text), 44100), lines)
            << ::testing::PrintToString(text);
    }
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

TEST(TempoMapSections, PtmComputesItsTotalInDoublePrecision) {
    EXPECT_EQ(sectionPlayFrames(44100, 183.75f, 4, 1), 57599);
    EXPECT_EQ(sectionPlayFrames(44100, 120.0f, 4, 48), 4233600);
}

// ---------------------------------------------------------------- the program

// The samples `rtm` writes are checked whole, against reference sums, in
// checksum_test.cpp.
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

    // 48 measures of 4 beats at 120, then 16 of 3 at 160.
    const Bytes head = readRange(dir.file("click.wav"), 0, 44);
    ASSERT_EQ(head.size(), 44u);
    EXPECT_EQ(std::filesystem::file_size(dir.file("click.wav")), 44u + (4233600u + 793800u) * 3u);
    EXPECT_EQ(textAt(head, 0), "RIFF");
    EXPECT_EQ(u32At(head, 4), 15082236u);
    EXPECT_EQ(u32At(head, 24), 44100u);
    EXPECT_EQ(u32At(head, 40), 15082200u);
    // `w` then writes the last section's length, 18 s, at its tempo.
    EXPECT_EQ(std::filesystem::file_size(dir.file("last.wav")), 44u + 793800u * 3u);
}

// ptm plays each section counting its measures from 1. At 39.2 bpm its beat
// is 67499 samples, in double precision; the audition's is 67500. The click
// is the one `w` writes first in the same session.
TEST(TempoMapProgram, PtmPlaysEachSectionInWholePeriodsOfItsBeat) {
    struct Case {
        const char* settings;
        const char* mapFile;
        const char* map;
        const char* input;
        std::string transcript;
        Sections played;
    };
    const Case cases[] = {
        // Periods of 1024 frames: section 1 plays 4134 of them (4233600 - 1024
        // rounded up) of a 22050-frame beat; section 2 plays 775 (793800 - 1024
        // rounded up) of a 16537-frame beat.
        {"device\tcap\nmap\tsong map.txt\n", "song map.txt", kHelpExample, "m\n1\nw\nptm\nx\n",
         "Parsing tmap file..\nFound 2 map entries.\n\nPlaying section  1 \n\n" +
             measureLines(1, 48) + "\nPlaying section  2 \n\n" + measureLines(1, 16),
         {{22050, 4134 * 1024}, {16537, 775 * 1024}}},
        // ptm: 2 beats total 134999 frames, 131 periods played. a: 3 s are
        // 132300 frames, 129 periods played.
        {"device\tcap\n", "tmap.txt", "tmap\t39.2\t1\t2\n", "m\n1\nw\nptm\nt\n39.2\nal\n3\na\nx\n",
         "Parsing tmap file..\nFound 1 map entries.\n\nPlaying section  1 \n\n" +
             measureLines(1, 2),
         {{67499, 131 * 1024}, {67500, 129 * 1024}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        TempDir dir;
        const std::string capture = dir.file("capture.raw");
        writeCaptureAsoundrc(dir.path(), capture);
        writeFile(dir.file("dodiradoz.txt"), c.settings);
        writeFile(dir.file(c.mapFile), c.map);
        const RunResult r = runProgram(dir.path(), c.input);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(mapTranscript(r.out), c.transcript);
        const Bytes track = readBytes(dir.file("click.wav"));
        ASSERT_GE(track.size(), 44u + 2205 * 3);
        const Bytes click(track.begin() + 44, track.begin() + 44 + 2205 * 3);
        const Bytes expected = loopedBeats(click, 3, c.played);
        EXPECT_TRUE(sameStream(readCapture(capture, expected.size()), expected, 3));
    }
}

// A map of the line format plays on one opening of the device, every beat at
// its exact time, and each section is announced as it begins.
TEST(TempoMapProgram, PtmOfALineMapAnnouncesEverySectionAsItBegins) {
    TempDir dir;
    writeCaptureAsoundrc(dir.path(), dir.file("capture.raw"));
    writeFile(dir.file("dodiradoz.txt"), "device\tcap\n");
    writeFile(dir.file("tmap.txt"), "intro: 2 240\n1 3/4 120 0.5\n");
    const RunResult r = runProgram(dir.path(), "ptm\nx\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(mapTranscript(r.out),
              "Parsing tmap file..\nFound 2 map entries.\n\nPlaying section  1 \n\n" +
                  measureLines(1, 2) + "\nPlaying section  2 \n\n" + measureLines(1, 1));
    // 2 s and 1.5 s, less a period, in whole periods of 1024 frames.
    EXPECT_EQ(readBytes(dir.file("capture.raw")).size(), 150 * 1024 * 3u);
    // A line its trainer splits is still one section, its measures counted on.
    writeFile(dir.file("tmap.txt"), "intro: 3 240 trainer=+60/1:360 mute=2/1\n1 3/4 120 0.5\n");
    EXPECT_EQ(mapTranscript(runProgram(dir.path(), "ptm\nx\n").out),
              "Parsing tmap file..\nFound 2 map entries.\n\nPlaying section  1 \n\n" +
                  measureLines(1, 3) + "\nPlaying section  2 \n\n" + measureLines(1, 1));
}

// A map that cannot be used leaves an earlier file as it was and plays
// nothing: without entries, or too large for a wave file, it ends the program;
// with unusable entries, or missing, it is refused and the menu returns.
TEST(TempoMapProgram, ARefusedMapTouchesNothing) {
    struct Case {
        const char* map;  // nullptr: there is none
        std::string input;
        std::string says;
        size_t times;
        bool endsProgram;
        const char* make = nullptr;  // shell command making a map that is no text file
    };
    std::vector<Case> cases;
    for (const char* map : {"tmap 120\t4\t48\n", "   tmap\t120\t4\t48\n   tmap\t160\t3\t16\n",
                            "", "some notes\n"}) {
        for (const char* command : {"rtm\n", "ptm\n"}) {
            cases.push_back({map, command,
                             "\n\nParsing tmap file..\nCould not find tempo entries in map file.\n",
                             1, true});
        }
    }
    cases.push_back(
        {"tmap\t0\t4\t4\ntmap\t120\t-4\t4\ntmap\t90\t3\t8\n", "rtm\nptm\n",
         "\nParsing tmap file..\nFound 3 map entries.\n"
         "Tempo map entry 1: Tempo must be above 0 and at most 2646000 bpm (one beat per sample).\n"
         "Tempo map entry 2: Beats per measure must be a whole number from 0 to 2147483647.\n"
         "The tempo map was not used.\n\nGlobal settings:",
         2, false});
    cases.push_back(
        {nullptr, "rtm\nptm\n",
         "\n\nCan't open tempo map file 'tmap.txt': No such file or directory.\n\nGlobal settings:",
         2, false});
    // Three sections of 705600000 samples, 2.1 GB each at 24 bits: the third passes 4 GiB.
    cases.push_back(
        {"tmap\t60\t1\t16000\ntmap\t60\t1\t16000\ntmap\t60\t1\t16000\n", "rtm\n",
         "\nFound 3 map entries.\n"
         "Tempo map entry 3: 'click.wav' would reach 4 GiB or more.\n"
         "The tempo map was not used.\n\nGlobal settings:",
         1, false});
    // Nothing waits on a FIFO or reads a device; a map is read to 1 MiB and no further.
    for (const char* make : {"mkfifo tmap.txt", "mkdir tmap.txt", "ln -s /dev/zero tmap.txt"}) {
        cases.push_back({nullptr, "rtm\nptm\n",
                         "\n\nTempo map file 'tmap.txt' is not a regular file.\n\nGlobal settings:", 2,
                         false, make});
    }
    cases.push_back({nullptr, "rtm\n",
                     "\n\nTempo map file 'tmap.txt' is larger than 1 MiB.\n\nGlobal settings:", 1,
                     false, "truncate -s 1048577 tmap.txt"});
    // An entry cut short with nothing before it: no entry at all.
    cases.push_back({"tmap\t120\t4\n", "rtm\n",
                     "\n\nParsing tmap file..\nTempo map entry 1: cut short by the end of the "
                     "file.\nCould not find tempo entries in map file.\n",
                     1, true});
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.input) + " with map " +
                     (c.map ? ::testing::PrintToString(c.map) : "none"));
        TempDir dir;
        writeFile(dir.file("click.wav"), "an earlier take");
        if (c.map) writeFile(dir.file("tmap.txt"), c.map);
        if (c.make) {
            ASSERT_EQ(std::system(("cd '" + dir.path() + "' && " + c.make).c_str()), 0);
        }
        writeCaptureAsoundrc(dir.path(), dir.file("capture.raw"));
        RunLimits limits;
        limits.seconds = 60;
        const RunResult r =
            runProgram(dir.path(), startAnswers(2) + "o\ncap\n" + c.input + "x\nx\n", "", limits);
        EXPECT_EQ(r.status, 2);
        size_t times = 0;
        for (size_t at = 0; (at = r.out.find(c.says, at)) != std::string::npos; ++at) ++times;
        EXPECT_EQ(times, c.times) << r.out;
        EXPECT_TRUE(!c.endsProgram || endsWith(r.out, c.says)) << "the program went on";
        EXPECT_EQ(r.out.find("tempo (0.0 bpm)"), std::string::npos);
        EXPECT_EQ(readFile(dir.file("click.wav")), "an earlier take");
        EXPECT_FALSE(fileExists(dir.file("capture.raw")));
    }
}

}  // namespace
