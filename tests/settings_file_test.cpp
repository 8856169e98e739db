// The settings file: reading it at start-up, writing it with `s`, and the
// values the program then runs with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "console/commands.hpp"
#include "console/settings.hpp"
#include "files/settings_file.hpp"
#include "support/test_support.hpp"

namespace {

const char* const kFile = "dodiradoz.txt";

const char* const kDefaultText =
    "rate\t44100\n"
    "device\tdefault\n"
    "bits\t24\n"
    "tempo\t120.00\n"
    "Hz\t60.00\n"
    "atime\t10.0\n"
    "meter\t4\n"
    "meas\t48\n"
    "save\tclick.wav\n"
    "map\ttmap.txt\n";

const char* const kDefaultSummary =
    "Settings Loaded\n"
    "-------------------------\n"
    "rate: 44100\tbits: 24\tdevice: default\n"
    "meter: 4\tmeas: 48\tatime: 10.0\n"
    "Hz: 60.00\tsave: click.wav\ttmap: tmap.txt\n"
    "-------------------------\n"
    "ready\n";

struct Parsed {
    Settings settings;
    std::vector<std::string> notes;
};

Parsed parse(std::string_view text) {
    Parsed p;
    p.notes = parseSettingsText(text, p.settings, kFile);
    return p;
}

void expectDefaults(const Settings& s) {
    EXPECT_EQ(s.rate, 44100u);
    EXPECT_EQ(s.device, "default");
    EXPECT_EQ(s.bits, 24);
    EXPECT_EQ(s.tempo, 120.0f);
    EXPECT_EQ(s.Hz, 60.0f);
    EXPECT_EQ(s.atime, 10.0f);
    EXPECT_EQ(s.meter, 4);
    EXPECT_EQ(s.meas, 48);
    EXPECT_EQ(s.save, "click.wav");
    EXPECT_EQ(s.map, "tmap.txt");
}

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<std::string> folderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Loads `text` through GET_PARAMS, as start-up does with an open file.
Parsed loadThroughFile(const std::string& text) {
    FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    Parsed p;
    p.notes = GET_PARAMS(f, p.settings, kFile);
    return p;
}

// ---------------------------------------------------------------- writing

TEST(SettingsFileText, DefaultsGiveTheTenLinesInTheirOrder) {
    EXPECT_EQ(settingsText(Settings{}), kDefaultText);
}

TEST(SettingsFileText, FloatsAreWrittenWithTwoOrOneDecimals) {
    Settings s;
    s.rate = 96000;
    s.device = "hw:1,0";
    s.bits = 16;
    s.tempo = 120.333f;
    s.Hz = 75.555f;
    s.atime = 10.04f;
    s.meter = 7;
    s.meas = 2147483647;
    s.save = "my take.wav";
    s.map = "songs/map.txt";
    EXPECT_EQ(settingsText(s),
              "rate\t96000\ndevice\thw:1,0\nbits\t16\ntempo\t120.33\nHz\t75.56\natime\t10.0\n"
              "meter\t7\nmeas\t2147483647\nsave\tmy take.wav\nmap\tsongs/map.txt\n");
}

// ---------------------------------------------------------------- reading

TEST(SettingsFileReading, TheDefaultFileReadsAsTheDefaults) {
    const Parsed p = parse(kDefaultText);
    EXPECT_TRUE(p.notes.empty());
    expectDefaults(p.settings);
}

TEST(SettingsFileReading, OnlyTempoLeavesEveryOtherFieldAtItsDefault) {
    Parsed p = parse("tempo\t90");
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.tempo, 90.0f);
    p.settings.tempo = 120.0f;
    expectDefaults(p.settings);
}

TEST(SettingsFileReading, TheValueIsTheWholeRestOfTheLine) {
    EXPECT_EQ(parse("device\tmy dev\n").settings.device, "my dev");
    EXPECT_EQ(parse("save\tsong\ttake 2.wav\n").settings.save, "song\ttake 2.wav");
    // A blank also ends the key; what follows it is the value.
    EXPECT_EQ(parse("device my card\n").settings.device, "my card");
    // The number is read from the start of the value.
    EXPECT_EQ(parse("meter\t\t 5 beats\n").settings.meter, 5);
}

TEST(SettingsFileReading, KeysAreCaseSensitive) {
    const Parsed p = parse("Tempo\t90\nTEMPO\t91\nhz\t50\nRATE\t48000\nDevice\tcap\n");
    EXPECT_TRUE(p.notes.empty());
    expectDefaults(p.settings);
}

TEST(SettingsFileReading, KeysComeInAnyOrderAndTheLastOneWins) {
    const Parsed p = parse("meas\t10\ntempo\t90\nrate\t48000\ntempo\t100\nmeas\t12\n");
    EXPECT_EQ(p.settings.rate, 48000u);
    EXPECT_EQ(p.settings.tempo, 100.0f);
    EXPECT_EQ(p.settings.meas, 12);
}

TEST(SettingsFileReading, AnEmptyValueIsTakenFromTheNextNonEmptyLine) {
    EXPECT_EQ(parse("tempo\n\n90\n").settings.tempo, 90.0f);
    EXPECT_EQ(parse("tempo\t\n\n\n95\nmeter\t3\n").settings.tempo, 95.0f);
    // That line is used up whole, even when it holds a key.
    const Parsed p = parse("device\t\nrate\t48000\n");
    EXPECT_EQ(p.settings.device, "rate\t48000");
    EXPECT_EQ(p.settings.rate, 44100u);
}

TEST(SettingsFileReading, AValueIsNeverTakenAsAKey) {
    const Parsed p = parse("save\tmeter\nmap\tmeas\nmeter\t3\n");
    EXPECT_EQ(p.settings.save, "meter");
    EXPECT_EQ(p.settings.map, "meas");
    EXPECT_EQ(p.settings.meter, 3);
    EXPECT_EQ(p.settings.meas, 48);
}

TEST(SettingsFileReading, OtherWordsAreSkipped) {
    const Parsed p = parse("# saved by hand\nmy tempo\t90\nfoo\tbar\n");
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.tempo, 90.0f);
}

TEST(SettingsFileReading, AKeyWithoutAValueLeavesItsFieldUnchanged) {
    for (const char* text : {"tempo\t90\nrate", "tempo\t90\nrate\t", "tempo\t90\nrate\n\n\n"}) {
        const Parsed p = parse(text);
        EXPECT_TRUE(p.notes.empty()) << text;
        EXPECT_EQ(p.settings.tempo, 90.0f) << text;
        EXPECT_EQ(p.settings.rate, 44100u) << text;
    }
}

TEST(SettingsFileReading, CrlfLineEndsStillNameTheRightFiles) {
    const Parsed p = parse(
        "rate\t48000\r\ndevice\tcap\r\nbits\t16\r\ntempo\t100.5\r\nHz\t50\r\natime\t2.5\r\n"
        "meter\t3\r\nmeas\t8\r\nsave\tout.wav\r\nmap\tm.txt\r\n");
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.rate, 48000u);
    EXPECT_EQ(p.settings.device, "cap");
    EXPECT_EQ(p.settings.bits, 16);
    EXPECT_EQ(p.settings.tempo, 100.5f);
    EXPECT_EQ(p.settings.Hz, 50.0f);
    EXPECT_EQ(p.settings.atime, 2.5f);
    EXPECT_EQ(p.settings.meter, 3);
    EXPECT_EQ(p.settings.meas, 8);
    EXPECT_EQ(p.settings.save, "out.wav");
    EXPECT_EQ(p.settings.map, "m.txt");
}

TEST(SettingsFileReading, EveryTrailingCarriageReturnLeavesANameAndSavingKeepsIt) {
    Parsed p = parse("save\tout.wav\r\r\ndevice\tc\rap\r\n");
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.save, "out.wav");
    EXPECT_EQ(p.settings.device, "c\rap");
    const Parsed again = parse(settingsText(p.settings));
    EXPECT_EQ(again.settings.save, "out.wav");
    EXPECT_EQ(again.settings.device, "c\rap");
    // Nothing but carriage returns is no name.
    p = parse("save\t\r\r\n");
    EXPECT_EQ(p.notes.size(), 1u);
    EXPECT_EQ(p.settings.save, "click.wav");
}

TEST(SettingsFileReading, IntegersAreBaseTenAndStopAtTheFirstNonDigit) {
    const Parsed p = parse("meter\t010\nmeas\t0x20\nbits\t16 bits\n");
    EXPECT_EQ(p.settings.meter, 10);
    EXPECT_EQ(p.settings.meas, 0);
    EXPECT_EQ(p.settings.bits, 16);
}

TEST(SettingsFileReading, AZeroByteEndsTheText) {
    const Parsed p = parse(std::string_view("tempo\t90\n\0meter\t3\n", 18));
    EXPECT_EQ(p.settings.tempo, 90.0f);
    EXPECT_EQ(p.settings.meter, 4);
}

// ---------------------------------------------------------------- refusals

struct Refusal {
    const char* text;
    const char* line;
};

TEST(SettingsFileRefusals, EachRefusedValueGivesOneLineAndKeepsTheDefault) {
    const Refusal cases[] = {
        {"rate\t0\n",
         "dodiradoz.txt: rate '0' refused: Sample rate must be a whole number from 1 to "
         "2147483647; using 44100."},
        {"rate\t-1\n",
         "dodiradoz.txt: rate '-1' refused: Sample rate must be a whole number from 1 to "
         "2147483647; using 44100."},
        {"rate\t4294967295\n",
         "dodiradoz.txt: rate '4294967295' refused: Sample rate must be a whole number from 1 "
         "to 2147483647; using 44100."},
        {"bits\t20\n", "dodiradoz.txt: bits '20' refused: Bit depth must be 16 or 24; using 24."},
        {"tempo\t0\n",
         "dodiradoz.txt: tempo '0' refused: Tempo must be above 0 and at most 2646000 bpm (one "
         "beat per sample); using 120.00."},
        {"tempo\tnan\n",
         "dodiradoz.txt: tempo 'nan' refused: Tempo must be above 0 and at most 2646000 bpm "
         "(one beat per sample); using 120.00."},
        {"tempo\t2646001\n",
         "dodiradoz.txt: tempo '2646001' refused: Tempo must be above 0 and at most 2646000 bpm "
         "(one beat per sample); using 120.00."},
        {"tempo\t0.001\n",
         "dodiradoz.txt: tempo '0.001' refused: Tempo must be high enough that one beat lasts "
         "at most 2147483647 samples; using 120.00."},
        {"Hz\t22051\n",
         "dodiradoz.txt: Hz '22051' refused: Frequency must be above 0 and below 22051 Hz "
         "(half the sample rate); using 60.00."},
        {"Hz\t-5\n",
         "dodiradoz.txt: Hz '-5' refused: Frequency must be above 0 and below 22051 Hz (half "
         "the sample rate); using 60.00."},
        {"atime\t-1\n",
         "dodiradoz.txt: atime '-1' refused: Audition length must be from 0 to 48695.76 seconds "
         "at this sample rate; using 10.0."},
        {"meter\t-1\n",
         "dodiradoz.txt: meter '-1' refused: Beats per measure must be a whole number from 0 "
         "to 2147483647; using 4."},
        {"meas\t-2\n",
         "dodiradoz.txt: meas '-2' refused: Number of measures must be a whole number from 0 "
         "to 2147483647; using 48."},
        {"device\tabcdefghijklmnop\n",
         "dodiradoz.txt: device 'abcdefghijklmnop' refused: The device name must be 1 to 15 "
         "characters long; using 'default'."},
        {"save\t\r\n",
         "dodiradoz.txt: save '' refused: The output file name must be 1 to 63 characters "
         "long; using 'click.wav'."},
    };
    for (const Refusal& c : cases) {
        const Parsed p = parse(c.text);
        EXPECT_EQ(p.notes, std::vector<std::string>{c.line}) << c.text;
        expectDefaults(p.settings);
    }
}

TEST(SettingsFileRefusals, NamesLongerThanTheirFieldAreRefusedNotCut) {
    const std::string save63(63, 's'), map127(127, 'm');
    Parsed p = parse("device\t" + std::string(15, 'd') + "\nsave\t" + save63 + "\nmap\t" +
                     map127 + "\n");
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.device, std::string(15, 'd'));
    EXPECT_EQ(p.settings.save, save63);
    EXPECT_EQ(p.settings.map, map127);

    p = parse("save\t" + save63 + "s\nmap\t" + map127 + "m\n");
    ASSERT_EQ(p.notes.size(), 2u);
    EXPECT_EQ(p.notes[0],
              "dodiradoz.txt: save '" + std::string(40, 's') +
                  "...' refused: The output file name must be 1 to 63 characters long; using "
                  "'click.wav'.");
    EXPECT_EQ(p.notes[1],
              "dodiradoz.txt: map '" + std::string(40, 'm') +
                  "...' refused: The tempo map file name must be 1 to 127 characters long; "
                  "using 'tmap.txt'.");
    expectDefaults(p.settings);
}

TEST(SettingsFileRefusals, LimitsThatDependOnTheRateUseTheFilesRateWhereverItStands) {
    // Above half of 44100 and above 60 x 44100, but usable at the file's own rate.
    Parsed p = parse("Hz\t23000\ntempo\t2800000\nrate\t48000\n");
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.Hz, 23000.0f);
    EXPECT_EQ(p.settings.tempo, 2800000.0f);

    p = parse("Hz\t30000\nrate\t48000\n");
    EXPECT_EQ(p.notes, std::vector<std::string>{
                           "dodiradoz.txt: Hz '30000' refused: Frequency must be above 0 and below "
                           "24001 Hz (half the sample rate); using 60.00."});
    EXPECT_EQ(p.settings.rate, 48000u);
    EXPECT_EQ(p.settings.Hz, 60.0f);

    // A refused rate leaves 44100, and the frequency is judged against that.
    p = parse("Hz\t23000\nrate\t0\n");
    ASSERT_EQ(p.notes.size(), 2u);
    EXPECT_EQ(p.notes[1],
              "dodiradoz.txt: Hz '23000' refused: Frequency must be above 0 and below 22051 Hz "
              "(half the sample rate); using 60.00.");
    expectDefaults(p.settings);
}

// A rate must also suit the values it keeps: at 48 samples per second the
// default 60 Hz click has no partial, and at 2147483647 the default 10 s
// audition has more frames than a 32-bit count holds.
TEST(SettingsFileRefusals, ARateMustSuitTheTempoFrequencyAndAuditionLengthItKeeps) {
    const std::string rule =
        "refused: Sample rate must be a whole number from 120 to 214748360 for the tempo, "
        "frequency and audition length in force; using 44100.";
    for (const char* rate : {"48", "2147483647"}) {
        Parsed p = parse(std::string("rate\t") + rate + "\n");
        EXPECT_EQ(p.notes, std::vector<std::string>{"dodiradoz.txt: rate '" + std::string(rate) +
                                                    "' " + rule});
        expectDefaults(p.settings);
    }
    // With a frequency and audition length that fit, the same rates are taken.
    Parsed p = parse("rate\t48\nHz\t10\n");
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.rate, 48u);
    EXPECT_EQ(p.settings.Hz, 10.0f);
    p = parse("atime\t0.5\nrate\t2147483647\n");
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.rate, 2147483647u);
}

// ---------------------------------------------------------------- the file

TEST(SettingsFileLoading, AFileOfExactly1023BytesIsReadWhole) {
    std::string text = "# " + std::string(1011, '-') + "\n";
    text += "tempo\t90\n";
    ASSERT_EQ(text.size(), 1023u);
    const Parsed p = loadThroughFile(text);
    EXPECT_TRUE(p.notes.empty());
    EXPECT_EQ(p.settings.tempo, 90.0f);
}

TEST(SettingsFileLoading, BeyondByte1023OnlyWholeLinesCountAndTheUserIsTold) {
    // "device\tcap\n" spans bytes 1017 to 1027: neither it nor anything after counts.
    std::string text = "meter\t3\n# " + std::string(1006, '-') + "\n";
    ASSERT_EQ(text.size(), 1017u);
    text += "device\tcap\ntempo\t90\n" + std::string(3000, '#') + "\n";
    const Parsed p = loadThroughFile(text);
    EXPECT_EQ(p.notes, std::vector<std::string>{
                           "dodiradoz.txt is longer than 1023 bytes; only the lines within its "
                           "first 1023 bytes are read."});
    EXPECT_EQ(p.settings.meter, 3);
    EXPECT_EQ(p.settings.device, "default");
    EXPECT_EQ(p.settings.tempo, 120.0f);
}

// ---------------------------------------------------------------- track length

TEST(SettingsTrackLength, LoadedValuesGiveTheStartUpTrackLength) {
    Settings s;
    EXPECT_EQ(startupTrackSeconds(s), 96.0f);
    s.tempo = 90.0f;
    EXPECT_EQ(startupTrackSeconds(s), 128.0f);
    int32_t frames = 0;
    ASSERT_TRUE(trackFrames(44100, startupTrackSeconds(s), frames));
    EXPECT_EQ(frames, 5644800);
}

TEST(SettingsTrackLength, Tempo30_02PlansFewerSamplesAtStartUpThanAfterT) {
    Settings s;
    s.tempo = 30.02f;
    int32_t frames = 0;
    ASSERT_TRUE(trackFrames(44100, startupTrackSeconds(s), frames));
    EXPECT_EQ(frames, 16923116);
    ASSERT_TRUE(trackFrames(44100, recomputedTrackSeconds(s), frames));
    EXPECT_EQ(frames, 16923118);
}

// ---------------------------------------------------------------- the program

TEST(SettingsFileProgram, EveryFieldSurvivesSaveAndRestartToTheWrittenPrecision) {
    TempDir dir;
    // `map` has no menu word: it comes from the file and must be saved again.
    writeFile(dir.file(kFile), "rate\t48000\nbits\t16\nmap\tsongs/my map.txt\n");
    const RunResult first = runProgram(
        dir.path(),
        "t\n120.333\nf\n61.25\nal\n10.04\nb\n7\nm\n33\no\ncap2\nn\ntake1.wav\ns\nx\n");
    EXPECT_EQ(first.status, 2);
    EXPECT_NE(first.out.find("\nSaved Settings\n\n\nGlobal settings:"), std::string::npos);
    const std::string saved =
        "rate\t48000\ndevice\tcap2\nbits\t16\ntempo\t120.33\nHz\t61.25\natime\t10.0\n"
        "meter\t7\nmeas\t33\nsave\ttake1.wav\nmap\tsongs/my map.txt\n";
    EXPECT_EQ(readFile(dir.file(kFile)), saved);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{kFile});

    const RunResult second = runProgram(dir.path(), "w\ns\nx\n");
    EXPECT_EQ(second.status, 2);
    EXPECT_EQ(second.out.substr(0, second.out.find("\nGlobal settings:")),
              "Settings Loaded\n"
              "-------------------------\n"
              "rate: 48000\tbits: 16\tdevice: cap2\n"
              "meter: 7\tmeas: 33\tatime: 10.0\n"
              "Hz: 61.25\tsave: take1.wav\ttmap: songs/my map.txt\n"
              "-------------------------\n"
              "ready\n");
    EXPECT_NE(second.out.find("\tEnter 't' to adjust tempo (120.3 bpm).\n"), std::string::npos);
    // 7 x 33 beats at 120.33 bpm are 5528795 samples at 48000 (120.333 would give 5528658).
    const std::vector<uint8_t> wav = readBytes(dir.file("take1.wav"));
    ASSERT_EQ(wav.size(), 44u + 2u * 5528795u);
    EXPECT_EQ(u32At(wav, 24), 48000u);
    EXPECT_EQ(u32At(wav, 40), 2u * 5528795u);
    EXPECT_EQ(readFile(dir.file(kFile)), saved);
}

TEST(SettingsFileProgram, AFileOfOnlyTempo90ShowsTheDefaultsAndWrites128Seconds) {
    TempDir dir;
    writeFile(dir.file(kFile), "tempo\t90\n");
    const RunResult r = runProgram(dir.path(), "w\nx\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.substr(0, r.out.find("\nGlobal settings:")), kDefaultSummary);
    EXPECT_NE(r.out.find("\tEnter 't' to adjust tempo (90.0 bpm).\n"), std::string::npos);
    // 128 s x 44100 = 5644800 samples; the last click ends at 5617605, inside the track.
    const std::vector<uint8_t> wav = readBytes(dir.file("click.wav"));
    ASSERT_EQ(wav.size(), 44u + 3u * 5644800u);
    EXPECT_EQ(u32At(wav, 40), 3u * 5644800u);
}

TEST(SettingsFileProgram, Tempo30_02FromTheFileEndsWithAClickPastThePlannedLength) {
    TempDir dir;
    writeFile(dir.file(kFile), "tempo\t30.02\n");
    const RunResult r = runProgram(dir.path(), "w\nx\n");
    EXPECT_EQ(r.status, 2);
    // Of the 16923116 planned samples the last is 16923115, where a 193rd click
    // starts (as a float it reaches 192 x 88141.234): 2205 samples from there.
    const std::vector<uint8_t> wav = readBytes(dir.file("click.wav"));
    ASSERT_EQ(wav.size(), 44u + 3u * (16923115u + 2205u));
    EXPECT_EQ(u32At(wav, 40), 3u * (16923115u + 2205u));
}

TEST(SettingsFileProgram, RefusalsArePrintedBeforeTheSummaryOfWhatIsUsed) {
    TempDir dir;
    writeFile(dir.file(kFile), "Hz\t23000\nbits\t20\nrate\t0\ndevice\tmy dev\nTEMPO\t90\n");
    const RunResult r = runProgram(dir.path(), "x\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.substr(0, r.out.find("\nGlobal settings:")),
              "dodiradoz.txt: rate '0' refused: Sample rate must be a whole number from 1 to "
              "2147483647; using 44100.\n"
              "dodiradoz.txt: bits '20' refused: Bit depth must be 16 or 24; using 24.\n"
              "dodiradoz.txt: Hz '23000' refused: Frequency must be above 0 and below 22051 "
              "Hz (half the sample rate); using 60.00.\n"
              "Settings Loaded\n"
              "-------------------------\n"
              "rate: 44100\tbits: 24\tdevice: my dev\n"
              "meter: 4\tmeas: 48\tatime: 10.0\n"
              "Hz: 60.00\tsave: click.wav\ttmap: tmap.txt\n"
              "-------------------------\n"
              "ready\n");
    EXPECT_NE(r.out.find("\tEnter 'o' to change output device from 'my dev'.\n"),
              std::string::npos);
}

TEST(SettingsFileProgram, ACrlfFileNamesTheRightDeviceAndOutputFile) {
    TempDir dir;
    const std::string capture = dir.file("capture.raw");
    writeCaptureAsoundrc(dir.path(), capture);
    writeFile(dir.file(kFile),
              "device\tcap\r\nsave\tcrlf.wav\r\nmeas\t1\r\natime\t0.1\r\ntempo\t120\r\n");
    const RunResult r = runProgram(dir.path(), "w\na\nx\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("rate: 44100\tbits: 24\tdevice: cap\n"), std::string::npos);
    // 1 measure of 4 beats at 120 bpm: 2 s.
    EXPECT_EQ(readBytes(dir.file("crlf.wav")).size(), 44u + 3u * 88200u);
    EXPECT_FALSE(fileExists(dir.file("crlf.wav\r")));
    // The audition of 4410 frames plays 4096 of them on "cap".
    for (int i = 0; i < 100 && readBytes(capture).size() < 3u * 4096u; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(readBytes(capture).size(), 3u * 4096u);
}

// ---------------------------------------------------------------- saving fails

TEST(SettingsFileSaving, ARenameThatFailsLeavesWhatWasThereAndSaysSo) {
    TempDir dir;
    // Even root cannot rename a file over a folder.
    ASSERT_EQ(::mkdir(dir.file(kFile).c_str(), 0755), 0);
    writeFile(dir.file("dodiradoz.txt/keep"), "kept");
    const RunResult r = runProgram(dir.path(), "1\n2\ns\nx\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("\nCould not save settings: Is a directory; 'dodiradoz.txt' is "
                         "unchanged.\n\n\nGlobal settings:"),
              std::string::npos);
    EXPECT_EQ(r.out.find("Saved Settings"), std::string::npos);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{kFile});
    EXPECT_EQ(readFile(dir.file("dodiradoz.txt/keep")), "kept");
}

TEST(SettingsFileSaving, AWriteThatFailsLeavesTheOldFileByteForByte) {
    TempDir dir;
    const std::string old = "tempo\t90\nmeter\t3\n";
    writeFile(dir.file(kFile), old);
    writeFile(dir.file("stdin"), "t\n100\ns\nx\n");
    // No file may grow past 0 bytes: the new settings cannot be written,
    // whoever runs the test. Output goes through a pipe, which has no such limit.
    const std::string command = "cd '" + dir.path() +
                                "' && ulimit -f 0 && trap '' XFSZ && exec '" CLICKTRACK_BIN
                                "' < stdin";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_NE(out.find("\nCould not save settings: File too large; 'dodiradoz.txt' is "
                       "unchanged.\n"),
              std::string::npos);
    EXPECT_EQ(out.find("Saved Settings"), std::string::npos);
    EXPECT_EQ(readFile(dir.file(kFile)), old);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{kFile, "stdin"}));
}

TEST(SettingsFileSaving, AFolderWithoutWriteAccessLeavesTheOldFileAndSaysSo) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write into any folder";
    TempDir dir;
    const std::string old = "tempo\t90\n";
    writeFile(dir.file(kFile), old);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    const RunResult r = runProgram(dir.path(), "s\nx\n");
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_NE(r.out.find("\nCould not save settings: Permission denied; 'dodiradoz.txt' is "
                         "unchanged.\n"),
              std::string::npos);
    EXPECT_EQ(readFile(dir.file(kFile)), old);
}

}  // namespace
