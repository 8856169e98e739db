// The settings file: reading it at start-up, writing it with `s`, and the
// values the program then runs with.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.hpp"
#include "files/settings_file.hpp"
#include "support/audio_support.hpp"
#include "support/test_support.hpp"

namespace {

const char* const kFile = "dodiradoz.txt";
const std::string kDefaultText =
    "rate\t44100\ndevice\tdefault\nbits\t24\ntempo\t120.00\nHz\t60.00\natime\t10.0\nmeter\t4\n"
    "meas\t48\nsave\tclick.wav\nmap\ttmap.txt\n";

std::string summary(const std::string& lines) {
    const std::string rule = "-------------------------\n";
    return "Settings Loaded\n" + rule + lines + rule + "ready\n";
}
const std::string kDefaultSummary = summary(
    "rate: 44100\tbits: 24\tdevice: default\nmeter: 4\tmeas: 48\tatime: 10.0\n"
    "Hz: 60.00\tsave: click.wav\ttmap: tmap.txt\n");

// The fields that differ from the defaults, as "name=value; ...".
std::string changes(const Settings& s) {
    std::ostringstream o;
    o.precision(9);
    const auto put = [&](const char* name, const auto& value, const auto& byDefault) {
        if (!(value == byDefault)) o << (o.tellp() > 0 ? "; " : "") << name << '=' << value;
    };
    put("rate", s.rate, 44100u);
    put("device", s.device, "default");
    put("bits", s.bits, 24);
    put("tempo", s.tempo, 120.0f);
    put("Hz", s.hz, 60.0f);
    put("atime", s.atime, 10.0f);
    put("meter", s.meter, 4);
    put("meas", s.meas, 48);
    put("save", s.save, "click.wav");
    put("map", s.map, "tmap.txt");
    return o.str();
}

// The notes, each ended by a line break, and the changes read from `text`.
std::pair<std::string, std::string> parse(std::string_view text) {
    Settings s;
    std::string notes;
    for (const std::string& note : parseSettingsText(text, s, kFile)) notes += note + "\n";
    return {notes, changes(s)};
}

std::vector<std::string> folderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) 
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// ---------------------------------------------------------------- writing

TEST(SettingsFileText, WritesTheTenLinesInTheirOrderWithTwoOrOneDecimals) {
    EXPECT_EQ(settingsText(Settings{}), kDefaultText);
    const Settings s{96000, "hw:1,0", 16, 120.33f, 75.5f, 10.0f, 7, 2147483647, "my take.wav",
                     "songs/map.txt"};
    EXPECT_EQ(settingsText(s),
              "rate\t96000\ndevice\thw:1,0\nbits\t16\ntempo\t120.33\nHz\t75.50\natime\t10.0\n"
              "meter\t7\nmeas\t2147483647\nsave\tmy take.wav\nmap\tsongs/map.txt\n");
}

// Two decimals (one for atime) when they read back as the same value;
// otherwise the fewest digits that do.
TEST(SettingsFileText, DecimalsAreWrittenToReadBackAsTheSameValue) {
    const std::pair<std::array<float, 3>, const char*> rows[] = {
        {{120.5f, 22050.99f, 48695.7f}, "tempo\t120.50\nHz\t22050.99\natime\t48695.7\n"},
        {{33.333f, 75.555f, 10.04f}, "tempo\t33.333\nHz\t75.555\natime\t10.04\n"},
        {{0.004f, 0.0149f, 1.0f / 3}, "tempo\t0.004\nHz\t0.0149\natime\t0.33333334\n"}};
    for (const auto& [values, lines] : rows) {
        Settings s;
        s.tempo = values[0], s.hz = values[1], s.atime = values[2];
        const std::string text = settingsText(s);
        EXPECT_NE(text.find(lines), std::string::npos) << text;
        EXPECT_EQ(parse(text), std::make_pair(std::string(), changes(s)));
    }
    // Tempos over the whole range, each 0.3% above the last, come back.
    for (float tempo = 0.0014f; tempo < 2646000.0f; tempo *= 1.003f) {
        Settings s;
        s.tempo = tempo;
        ASSERT_EQ(parse(settingsText(s)), std::make_pair(std::string(), changes(s)));
    }
}

// ---------------------------------------------------------------- reading

struct ReadCase {
    const char* name;
    std::string text;
    std::string notes;    // what the user is told
    std::string changes;  // what is then used
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class SettingsFileReading : public ::testing::TestWithParam<ReadCase> {};

// Saving what was read and reading it again gives the same values.
TEST_P(SettingsFileReading, GivesTheValuesAndNotesAndSavesThemAgain) {
    const ReadCase& c = GetParam();
    EXPECT_EQ(parse(c.text), std::make_pair(c.notes, c.changes));
    Settings s;
    parseSettingsText(c.text, s, kFile);
    EXPECT_EQ(parse(settingsText(s)), std::make_pair(std::string(), c.changes));
}

// The line that tells of a refused value; the field keeps its default.
std::string refused(const std::string& key, const std::string& value, const std::string& rule) {
    return "dodiradoz.txt: " + key + " '" + value + "' refused: " + rule + "\n";
}
const std::string kRate = "Sample rate must be a whole number from 1 to 2147483647; using 44100.";
const std::string kSuit =
    "Sample rate must be a whole number from 120 to 214748360 for the tempo, frequency and "
    "audition length in force; using 44100.";
const std::string kBits = "Bit depth must be 16 or 24; using 24.";
const std::string kTempo =
    "Tempo must be above 0 and at most 2646000 bpm (one beat per sample); using 120.00.";
std::string belowHz(const std::string& limit) {
    return "Frequency must be above 0 and below " + limit + " Hz (half the sample rate); using 60.00.";
}
const std::string kSave = "The output file name must be 1 to 63 characters long; using 'click.wav'.";

INSTANTIATE_TEST_SUITE_P(
    Texts, SettingsFileReading,
    ::testing::Values(
        ReadCase{"TheDefaultFile", kDefaultText, "", ""},
        ReadCase{"OnlyTempo", "tempo\t90", "", "tempo=90"},
        // The value is the rest of the line; a blank also ends the key, and
        // a number is read from the start of the value.
        ReadCase{"ValueIsTheRestOfTheLine",
                 "device\tmy dev\nsave\tsong\ttake 2.wav\nmeter\t\t 5 beats\n", "",
                 "device=my dev; meter=5; save=song\ttake 2.wav"},
        ReadCase{"BlankEndsTheKey", "device my card\n", "", "device=my card"},
        ReadCase{"KeysAreCaseSensitive",
                 "Tempo\t90\nTEMPO\t91\nhz\t50\nRATE\t48000\nDevice\tcap\n", "", ""},
        ReadCase{"AnyOrderAndTheLastWins",
                 "meas\t10\ntempo\t90\nrate\t48000\ntempo\t100\nmeas\t12\n", "",
                 "rate=48000; tempo=100; meas=12"},
        // An empty value is the next non-empty line, used up whole even when it holds a key.
        ReadCase{"EmptyValueFromTheNextLine", "tempo\n\n90\n", "", "tempo=90"},
        ReadCase{"EmptyValueAfterATab", "tempo\t\n\n\n95\nmeter\t3\n", "", "tempo=95; meter=3"},
        ReadCase{"NextLineIsUsedUpWhole", "device\t\nrate\t48000\n", "", "device=rate\t48000"},
        ReadCase{"AValueIsNeverAKey", "save\tmeter\nmap\tmeas\nmeter\t3\n", "",
                 "meter=3; save=meter; map=meas"},
        ReadCase{"OtherWordsAreSkipped", "# saved by hand\nmy tempo\t90\nfoo\tbar\n", "",
                 "tempo=90"},
        ReadCase{"KeyAtTheEnd", "tempo\t90\nrate", "", "tempo=90"},
        ReadCase{"KeyWithTabAtTheEnd", "tempo\t90\nrate\t", "", "tempo=90"},
        ReadCase{"KeyBeforeBlankLines", "tempo\t90\nrate\n\n\n", "", "tempo=90"},
        ReadCase{"CrlfLineEnds",
                 "rate\t48000\r\ndevice\tcap\r\nbits\t16\r\ntempo\t100.5\r\nHz\t50\r\n"
                 "atime\t2.5\r\nmeter\t3\r\nmeas\t8\r\nsave\tout.wav\r\nmap\tm.txt\r\n",
                 "",
                 "rate=48000; device=cap; bits=16; tempo=100.5; Hz=50; atime=2.5; meter=3; meas=8; "
                 "save=out.wav; map=m.txt"},
        // Every carriage return at the end goes; one inside stays. Nothing
        // but carriage returns is no name.
        ReadCase{"TrailingCarriageReturns", "save\tout.wav\r\r\ndevice\tc\rap\r\n", "",
                 "device=c\rap; save=out.wav"},
        ReadCase{"SaveOnlyACarriageReturn", "save\t\r\n", refused("save", "", kSave), ""},
        ReadCase{"SaveOnlyCarriageReturns", "save\t\r\r\n", refused("save", "", kSave), ""},
        ReadCase{"IntegersAreBaseTen", "meter\t010\nmeas\t0x20\nbits\t16 bits\n", "",
                 "bits=16; meter=10; meas=0"},
        ReadCase{"BlanksSignsAndTextAfterTheDigits",
                 "meter\t +7th\nrate\t48000Hz\ntempo\t 90bpm\natime\t-0.0s\n", "",
                 "rate=48000; tempo=90; atime=-0; meter=7"},
        ReadCase{"AZeroByteEndsTheText", std::string("tempo\t90\n\0meter\t3\n", 18), "",
                 "tempo=90"},
        // Names as long as their field are taken; longer ones are refused, not cut.
        ReadCase{"LongestNames",
                 "device\t" + std::string(15, 'd') + "\nsave\t" + std::string(63, 's') + "\nmap\t" +
                     std::string(127, 'm') + "\n",
                 "",
                 "device=" + std::string(15, 'd') + "; save=" + std::string(63, 's') +
                     "; map=" + std::string(127, 'm')},
        ReadCase{"NamesTooLong",
                 "save\t" + std::string(64, 's') + "\nmap\t" + std::string(128, 'm') + "\n",
                 refused("save", std::string(40, 's') + "...", kSave) +
                     refused("map", std::string(40, 'm') + "...",
                             "The tempo map file name must be 1 to 127 characters long; using "
                             "'tmap.txt'."),
                 ""},
        // Limits that depend on the rate use the file's rate wherever it
        // stands: these are above half of 44100 and 60 x 44100.
        ReadCase{"LimitsUseTheFilesRate", "Hz\t23000\ntempo\t2800000\nrate\t48000\n", "",
                 "rate=48000; tempo=2800000; Hz=23000"},
        ReadCase{"HzAboveHalfTheFilesRate", "Hz\t30000\nrate\t48000\n",
                 refused("Hz", "30000", belowHz("24001")), "rate=48000"},
        ReadCase{"HzJudgedAtTheDefaultWhenTheRateIsRefused", "Hz\t23000\nrate\t0\n",
                 refused("rate", "0", kRate) + refused("Hz", "23000", belowHz("22051")), ""},
        // A rate must suit the values it keeps; these do.
        ReadCase{"LowRateWithALowFrequency", "rate\t48\nHz\t10\n", "", "rate=48; Hz=10"},
        // The highest rate, with a short audition and a click short enough for its budget.
        ReadCase{"HighRateWithAShortAudition", "atime\t0.5\nHz\t600\nrate\t2147483647\n", "",
                 "rate=2147483647; Hz=600; atime=0.5"},
        // At 1.5 Hz the click would be 1431655808 samples: the frequency is
        // refused at that rate, and the default 60 Hz does not fit it either.
        ReadCase{"ClickTooLongForTheHighestRate", "rate\t2147483647\nHz\t1.5\natime\t0.5\n",
                 refused("rate", "2147483647",
                         "Sample rate must be a whole number from 120 to 223696247 for the tempo, "
                         "frequency and audition length in force; using 44100."),
                 "Hz=1.5; atime=0.5"}),
    [](const auto& info) { return std::string(info.param.name); });

// At rate 48 the default 60 Hz click has no partial; at 2147483647 the
// default 10 s audition has more frames than a 32-bit count holds.
TEST(SettingsFileRefusals, EachRefusedValueGivesOneLineAndKeepsTheDefault) {
    struct Row {
        std::string key, value, rule;
    };
    for (const Row& c : {Row{"rate", "0", kRate}, Row{"rate", "-1", kRate},
                         Row{"rate", "4294967295", kRate}, Row{"rate", "48", kSuit},
                         Row{"rate", "2147483647", kSuit}, Row{"bits", "20", kBits},
                         Row{"tempo", "0", kTempo}, Row{"tempo", "nan", kTempo},
                         Row{"tempo", "2646001", kTempo},
                         Row{"tempo", "0.001",
                             "Tempo must be high enough that one beat lasts at most 2147483647 "
                             "samples; using 120.00."},
                         Row{"Hz", "22051", belowHz("22051")}, Row{"Hz", "-5", belowHz("22051")},
                         Row{"atime", "-1",
                             "Audition length must be from 0 to 48695.76 seconds at this sample "
                             "rate; using 10.0."},
                         Row{"meter", "-1",
                             "Beats per measure must be a whole number from 0 to 2147483647; "
                             "using 4."},
                         Row{"meas", "-2",
                             "Number of measures must be a whole number from 0 to 2147483647; "
                             "using 48."},
                         Row{"device", "abcdefghijklmnop",
                             "The device name must be 1 to 15 characters long; using 'default'."},
                         // Values without a single digit.
                         Row{"meter", "four",
                             "Beats per measure must be a whole number from 0 to 2147483647; "
                             "using 4."},
                         Row{"rate", "abc", kRate}, Row{"tempo", "x", kTempo}}) {
        EXPECT_EQ(parse(c.key + "\t" + c.value + "\n"),
                  std::make_pair(refused(c.key, c.value, c.rule), std::string()));
    }
}

// ---------------------------------------------------------------- the file

// Loads `text` from a file through loadSettingsText, as start-up does.
std::pair<std::string, std::string> load(const std::string& text) {
    TempDir dir;
    writeFile(dir.file(kFile), text);
    SettingsFileText file = readSettingsFile(dir.file(kFile));
    EXPECT_FALSE(file.problem);
    Settings s;
    std::string notes;
    for (const std::string& note : loadSettingsText(file.text.value_or(""), s, kFile)) {
        notes += note + "\n";
    }
    return {notes, changes(s)};
}

TEST(SettingsFileLoading, OnlyLinesWithinTheFirst1023BytesCountAndTheUserIsToldOfMore) {
    std::string text = "# " + std::string(1011, '-') + "\ntempo\t90\n";
    ASSERT_EQ(text.size(), 1023u);
    EXPECT_EQ(load(text), std::make_pair(std::string(), std::string("tempo=90")));
    // "device\tcap\n" spans bytes 1017 to 1027: neither it nor anything after counts.
    text = "meter\t3\n# " + std::string(1006, '-') + "\n";
    ASSERT_EQ(text.size(), 1017u);
    text += "device\tcap\ntempo\t90\n" + std::string(3000, '#') + "\n";
    const std::string note =
        "dodiradoz.txt is longer than 1023 bytes; only the lines within its first 1023 bytes are "
        "read.\n";
    EXPECT_EQ(load(text), std::make_pair(note, std::string("meter=3")));
}

// ---------------------------------------------------------------- the program

std::string beforeMenu(const std::string& out) {
    return out.substr(0, out.find("\nGlobal settings:"));
}
bool shows(const std::string& out, const std::string& text) {
    return out.find(text) != std::string::npos;
}

TEST(SettingsFileProgram, EveryFieldSurvivesSaveAndRestart) {
    TempDir dir;
    // `map` has no menu word: it comes from the file and must be saved again.
    writeFile(dir.file(kFile), "rate\t48000\nbits\t16\nmap\tsongs/my map.txt\n");
    const RunResult first = runProgram(
        dir.path(), "t\n120.333\nf\n61.25\nal\n10.04\nb\n7\nm\n33\no\ncap2\nn\ntake1.wav\ns\nx\n");
    EXPECT_EQ(first.status, 2);
    EXPECT_TRUE(shows(first.out, "\nSaved Settings\n\n\nGlobal settings:"));
    const std::string saved =
        "rate\t48000\ndevice\tcap2\nbits\t16\ntempo\t120.333\nHz\t61.25\natime\t10.04\n"
        "meter\t7\nmeas\t33\nsave\ttake1.wav\nmap\tsongs/my map.txt\n";
    EXPECT_EQ(readFile(dir.file(kFile)), saved);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{kFile});

    const RunResult second = runProgram(dir.path(), "w\ns\nx\n");
    EXPECT_EQ(second.status, 2);
    EXPECT_EQ(beforeMenu(second.out),
              summary("rate: 48000\tbits: 16\tdevice: cap2\nmeter: 7\tmeas: 33\tatime: 10.0\n"
                      "Hz: 61.25\tsave: take1.wav\ttmap: songs/my map.txt\n"));
    EXPECT_TRUE(shows(second.out, "\tEnter 't' to adjust tempo (120.3 bpm).\n"));
    // 7 x 33 beats at 120.333 bpm are 5528658 samples at 48000 (120.33 would give 5528795).
    const std::vector<uint8_t> wav = readBytes(dir.file("take1.wav"));
    ASSERT_EQ(wav.size(), 44u + 2u * 5528658u);
    EXPECT_EQ(u32At(wav, 24), 48000u);
    EXPECT_EQ(u32At(wav, 40), 2u * 5528658u);
    EXPECT_EQ(readFile(dir.file(kFile)), saved);
}

// The file replaces the start-up questions with a summary. At 90 bpm 128 s
// are 5644800 samples; the last click ends at 5617605, inside the track. Of
// the 16923116 samples planned at 30.02 the last, 16923115, is where a 193rd
// click starts (as a float it reaches 192 x 88141.234): 2205 samples from there.
TEST(SettingsFileProgram, ATempoFromTheFileSetsTheTrackLength) {
    struct Run {
        const char* tempo;
        std::string shown;
        uint32_t samples;
    };
    for (const Run& c : {Run{"90", "90.0", 5644800}, Run{"30.02", "30.0", 16923115 + 2205}}) {
        TempDir dir;
        writeFile(dir.file(kFile), std::string("tempo\t") + c.tempo + "\n");
        const RunResult r = runProgram(dir.path(), "w\nx\n");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(beforeMenu(r.out), kDefaultSummary);
        EXPECT_TRUE(shows(r.out, "\tEnter 't' to adjust tempo (" + c.shown + " bpm).\n"));
        const std::vector<uint8_t> wav = readBytes(dir.file("click.wav"));
        ASSERT_EQ(wav.size(), 44u + 3u * c.samples);
        EXPECT_EQ(u32At(wav, 40), 3u * c.samples);
    }
}

TEST(SettingsFileProgram, RefusalsArePrintedBeforeTheSummaryOfWhatIsUsed) {
    TempDir dir;
    writeFile(dir.file(kFile), "Hz\t23000\nbits\t20\nrate\t0\ndevice\tmy dev\nTEMPO\t90\n");
    const RunResult r = runProgram(dir.path(), "x\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(beforeMenu(r.out),
              refused("rate", "0", kRate) + refused("bits", "20", kBits) +
                  refused("Hz", "23000", belowHz("22051")) +
                  summary("rate: 44100\tbits: 24\tdevice: my dev\nmeter: 4\tmeas: 48\tatime: 10.0\n"
                          "Hz: 60.00\tsave: click.wav\ttmap: tmap.txt\n"));
    EXPECT_TRUE(shows(r.out, "\tEnter 'o' to change output device from 'my dev'.\n"));
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
    EXPECT_TRUE(shows(r.out, "rate: 44100\tbits: 24\tdevice: cap\n"));
    EXPECT_EQ(readBytes(dir.file("crlf.wav")).size(), 44u + 3u * 88200u);  // 4 beats at 120 bpm
    EXPECT_FALSE(fileExists(dir.file("crlf.wav\r")));
    // The audition of 4410 frames plays 4096 of them on "cap".
    for (int i = 0; i < 100 && readBytes(capture).size() < 3u * 4096u; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(readBytes(capture).size(), 3u * 4096u);
}

// ---------------------------------------------------------------- files that are not regular

const std::string kUnchanged = "; 'dodiradoz.txt' is unchanged.\n";

// Only a regular file is read or replaced. Anything else, or a file that
// cannot be read, is named and the questions are asked; a link naming
// nothing is replaced by the saved file. The /dev/null row runs as nobody, so
// that not even a fault could replace it.
TEST(SettingsFileProgram, OnlyARegularFileIsReadOrReplaced) {
    const std::string notRegular = "dodiradoz.txt is not a regular file; it is not used.\n";
    const std::string refusedSave = "Could not save settings: Not a regular file" + kUnchanged;
    struct Row {
        const char* make;  // shell command making dodiradoz.txt
        std::string startLine, saveLine;
        bool unprivileged;
    };
    for (const Row& c :
         {Row{"mkfifo dodiradoz.txt", notRegular, refusedSave, false},
          Row{"mkfifo p && ln -s p dodiradoz.txt", notRegular, refusedSave, false},
          Row{"mkdir dodiradoz.txt", notRegular,
              "Could not save settings: Is a directory" + kUnchanged, false},
          Row{"ln -s /dev/null dodiradoz.txt", notRegular, refusedSave, true},
          Row{"touch dodiradoz.txt && chmod 0 dodiradoz.txt",
              "Can't read dodiradoz.txt: Permission denied; it is not used.\n",
              "Could not save settings: Permission denied" + kUnchanged, true},
          Row{"ln -s gone dodiradoz.txt", "", "Saved Settings\n", false}}) {
        SCOPED_TRACE(c.make);
        TempDir dir;
        ASSERT_EQ(std::system(("cd '" + dir.path() + "' && " + c.make).c_str()), 0);
        struct stat before {}, after {};
        ::lstat(dir.file(kFile).c_str(), &before);
        RunLimits limits = c.unprivileged ? unprivilegedRun() : RunLimits{};
        limits.seconds = 60;
        const RunResult r = runProgram(dir.path(), "1\n2\ns\nx\n", "", limits);
        EXPECT_EQ(r.out.rfind(c.startLine + "\nEnter sample rate or\n", 0), 0u) << r.out;
        EXPECT_TRUE(shows(r.out, "\n" + c.saveLine + "\n\nGlobal settings:")) << r.out;
        ::lstat(dir.file(kFile).c_str(), &after);
        if (c.startLine.empty()) {
            EXPECT_EQ(readFile(dir.file(kFile)), kDefaultText);
        } else {
            EXPECT_TRUE(after.st_mode == before.st_mode && after.st_ino == before.st_ino);
        }
    }
    struct stat devNull {};
    EXPECT_TRUE(::stat("/dev/null", &devNull) == 0 && S_ISCHR(devNull.st_mode));
}

// ---------------------------------------------------------------- saving fails

TEST(SettingsFileSaving, ARenameThatFailsLeavesWhatWasThereAndSaysSo) {
    TempDir dir;
    // Even root cannot rename a file over a folder.
    ASSERT_EQ(::mkdir(dir.file(kFile).c_str(), 0755), 0);
    writeFile(dir.file("dodiradoz.txt/keep"), "kept");
    const RunResult r = runProgram(dir.path(), "1\n2\ns\nx\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(shows(r.out, "\nCould not save settings: Is a directory" + kUnchanged +
                                 "\n\nGlobal settings:"));
    EXPECT_FALSE(shows(r.out, "Saved Settings"));
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{kFile});
    EXPECT_EQ(readFile(dir.file("dodiradoz.txt/keep")), "kept");
}

TEST(SettingsFileSaving, AWriteThatFailsLeavesTheOldFileByteForByte) {
    TempDir dir;
    const std::string old = "tempo\t90\nmeter\t3\n";
    writeFile(dir.file(kFile), old);
    writeFile(dir.file("stdin"), "t\n100\ns\nx\n");
    // No file may grow past 0 bytes, whoever runs the test; output goes
    // through a pipe, which has no such limit.
    const std::string command = "cd '" + dir.path() + "' && ulimit -f 0 && trap '' XFSZ && exec '"
                                CLICKTRACK_BIN "' < stdin";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
    EXPECT_TRUE(shows(out, "\nCould not save settings: File too large" + kUnchanged));
    EXPECT_FALSE(shows(out, "Saved Settings"));
    EXPECT_EQ(readFile(dir.file(kFile)), old);
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{kFile, "stdin"}));
}

// A settings file kept elsewhere behind a link stays there, with its mode.
TEST(SettingsFileSaving, SavingThroughALinkReplacesTheFileItNamesAndKeepsItsMode) {
    TempDir dir;
    writeFile(dir.file("kept.txt"), "tempo\t90\n");
    ASSERT_EQ(::chmod(dir.file("kept.txt").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("kept.txt", dir.file(kFile).c_str()), 0);
    const RunResult r = runProgram(dir.path(), "t\n100\ns\nx\n");
    EXPECT_TRUE(shows(r.out, "\nSaved Settings\n"));
    struct stat link {}, target {};
    ASSERT_EQ(::lstat(dir.file(kFile).c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    ASSERT_EQ(::stat(dir.file("kept.txt").c_str(), &target), 0);
    EXPECT_EQ(target.st_mode & 07777, 0640u);
    EXPECT_TRUE(shows(readFile(dir.file("kept.txt")), "tempo\t100.00\n"));
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{kFile, "kept.txt"}));
}

TEST(SettingsFileSaving, AFolderWithoutWriteAccessLeavesTheOldFileAndSaysSo) {
    TempDir dir;
    writeFile(dir.file(kFile), "tempo\t90\n");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    const RunResult r = runProgram(dir.path(), "s\nx\n", "", unprivilegedRun());
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_TRUE(shows(r.out, "\nCould not save settings: Permission denied" + kUnchanged));
    EXPECT_EQ(readFile(dir.file(kFile)), "tempo\t90\n");
}

}  // namespace
