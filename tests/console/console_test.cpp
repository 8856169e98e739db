// The console: start-up questions, the menu, its commands and their prompts,
// driven through the built program with scripted standard input. Every
// transcript is compared whole, byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/timing.hpp"
#include "core/settings.hpp"
#include "support/audio_support.hpp"
#include "support/test_support.hpp"

namespace {

// ---------------------------------------------------------------- expected text

const std::string kRateQuestion =
    "\nEnter sample rate or\n0 = exit, 1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n";
const std::string kBitQuestion = "\nChoose Bit Depth (1 = 16 bits, 2 = 24 bits)\n";
const std::string kStartup = kRateQuestion + kBitQuestion + "ready\n";
const std::string kHelp =
    "\nHow to Create a Remote Tempo Map File:\n\n1. Make a plain text file called tmap.txt.\n\n"
    "2. Start a line with the command 'tmap' for a new tempo or meter.\n\n"
    "3. Then enter tempo, beats per measure, and measures.\n\n"
    "   Use a <tab> after tmap as well as between values.\n\n"
    "   Example:\n\n   tmap\t120\t4\t48\n   tmap\t160\t3\t16\n\n"
    "4. Save the file in same directory as this program.\n\nEnter 'c' to continue.\n";
const std::string kTempoAsk = "Enter tempo in beats per minute\n";
const std::string kBeatsAsk = "Enter beats per measure\n";
const std::string kHzAsk = "\nEnter lowest frequency of click in Hz\n";
const std::string kAtimeAsk = "\nEnter audition length in seconds\n";
const std::string kMeasAsk = "\nEnter number of measures\n";
const std::string kNameAsk = "Enter new output file name.\n";
const std::string kDeviceAsk = "Enter new playback device name.\n";
const std::string kTooLow = "The frequency chosen is too low for this tempo!\n";
const std::string kNoMap = "Can't open tempo map file 'tmap.txt': No such file or directory.\n";
const std::string kClick = "\n";  // the click stage's line, after every recognised word but `x`
const std::string kStart = startAnswers();  // 44100 samples per second, 24 bits

// What the menu shows, as the menu prints it.
struct Shown {
    std::string tempo = "120.0", hz = "60.0", meter = "4", atime = "10.0", device = "default",
                meas = "48", save = "click.wav";

    Shown with(std::string Shown::*field, std::string value) const {
        Shown s = *this;
        s.*field = std::move(value);
        return s;
    }
};
const Shown kDefaults;
const Shown kOneMeasure = kDefaults.with(&Shown::meas, "1");

std::string menu(const Shown& v = kDefaults) {
    return "\nGlobal settings:\n"
           "\tEnter 't' to adjust tempo (" + v.tempo + " bpm).\n"
           "\tEnter 'f' to set the lowest click frequency (" + v.hz + " Hz).\n"
           "\tEnter 'b' to set beats per measure (" + v.meter + ")\n"
           "\tEnter 'h' for tempo map file help\n"
           "\tEnter 's' to save current settings to 'dodiradoz.txt'\n"
           "\tEnter 'x' to exit.\n"
           "\nAudition settings:\n"
           "\tEnter 'a' to audition click.\n"
           "\tEnter 'al' to set the audition length (" + v.atime + " sec).\n"
           "\tEnter 'o' to change output device from '" + v.device + "'.\n"
           "\tEnter 'ptm' to play tempo map file.\n"
           "\nOutput file settings:\n"
           "\tEnter 'm' to set number of measures to write (" + v.meas + ").\n"
           "\tEnter 'n' to change the output file name from '" + v.save + "'.\n"
           "\tEnter 'w' to write from beginning of '" + v.save + "'.\n"
           "\tEnter '+' to add new click to end of '" + v.save + "'.\n"
           "\tEnter 'rtm' to read tempo map file and write click track file.\n";
}

// What a word prints after its prompt: the click stage's line, then the menu.
std::string step(const std::string& said, const Shown& after) {
    return said + kClick + menu(after);
}

std::string repeat(const std::string& text, size_t times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
}

template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

class ConsoleTest : public ::testing::Test {
protected:
    // Short runs only: a program that loops without end is stopped quickly.
    RunResult run(const std::string& input) {
        return runProgram(dir.path(), input, "", RunLimits{60, 64u << 20});
    }

    // Runs and checks the whole transcript, the exit status and a quiet stderr.
    void expectRun(const std::string& input, const std::string& transcript) {
        const RunResult r = run(input);
        EXPECT_EQ(r.out, transcript);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 2);
    }

    Bytes header() {
        Bytes bytes = readBytes(dir.file("click.wav"));
        bytes.resize(44);
        return bytes;
    }

    TempDir dir;
};

// ---------------------------------------------------------------- start-up

struct StartCase {
    const char* name;
    std::string answers;
    std::string head;  // the transcript up to the first menu
    uint32_t rate;
    uint16_t bits;
};
void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class StartupTest : public ConsoleTest, public ::testing::WithParamInterface<StartCase> {};

// One measure at 120 bpm is 2 seconds, so `w` plans rate x 2 samples.
TEST_P(StartupTest, AnswersSetTheRateAndDepthOfTheWrittenFile) {
    const StartCase& c = GetParam();
    expectRun(c.answers + "m\n1\nw\nx\n",
              c.head + menu() + step(kMeasAsk, kOneMeasure) + step("", kOneMeasure));
    const Bytes h = header();
    EXPECT_EQ(u32At(h, 24), c.rate);
    EXPECT_EQ(u16At(h, 34), c.bits);
    EXPECT_EQ(u32At(h, 40), c.rate * 2 * c.bits / 8);
}

// A refused rate asks the question again and the next answer counts; rates
// too low for the 60 Hz click or too high for a 10 s audition are refused
// too. Text that is no number stays unread: the bit question fails the same
// way and the menu reads it as a (non-)command word.
INSTANTIATE_TEST_SUITE_P(
    Answers, StartupTest,
    ::testing::Values(
        StartCase{"One", "1\n2\n", kStartup, 44100, 24},
        StartCase{"Two", "2\n2\n", kStartup, 48000, 24},
        StartCase{"Three", "3\n2\n", kStartup, 88200, 24},
        StartCase{"Four", "4\n2\n", kStartup, 96000, 24},
        StartCase{"TypedRate", "22050\n2\n", kStartup, 22050, 24},
        StartCase{"HexadecimalRate", "0x5622\n2\n", kStartup, 22050, 24},
        StartCase{"OctalRate", "053042\n2\n", kStartup, 22050, 24},
        StartCase{"Bits16", "1\n1\n", kStartup, 44100, 16},
        StartCase{"Bits3", "1\n3\n", kStartup, 44100, 24},
        StartCase{"BitsHexadecimal", "1\n0x1\n", kStartup, 44100, 16},
        StartCase{"RefusedRates", "-1\n4294967295\n3000000000\n119\n214748365\n2\n1\n",
                  repeat(kRateQuestion +
                             "Sample rate must be a whole number from 120 to 214748360 for the "
                             "tempo, frequency and audition length in force.\n",
                         5) +
                      kStartup,
                  48000, 16},
        StartCase{"NonNumericRate", "abc\n", kStartup + menu(), 44100, 24}),
    caseName<StartCase>);

TEST_F(ConsoleTest, ZeroAtTheRateQuestionEndsBeforeTheBitQuestion) {
    expectRun("0\n2\nw\n", kRateQuestion);
    EXPECT_FALSE(fileExists(dir.file("click.wav")));
}

// ---------------------------------------------------------------- the menu words

struct WordCase {
    const char* name;
    std::string script;  // after the start-up answers, before the final `x`
    std::string middle;  // what follows the first menu, up to the last menu
    std::string Shown::*field;  // what the last menu shows changed, if anything
    std::string value;
};
void PrintTo(const WordCase& c, std::ostream* os) { *os << c.name; }

class MenuWordTest : public ConsoleTest, public ::testing::WithParamInterface<WordCase> {};

TEST_P(MenuWordTest, PromptsReadsAndShowsTheNewValue) {
    const WordCase& c = GetParam();
    const Shown after = c.field ? kDefaults.with(c.field, c.value) : kDefaults;
    expectRun(kStart + c.script + "x\n", kStartup + menu() + c.middle + menu(after));
}

// A failed read still goes through the click stage; text that was not a
// number is the next command word.
INSTANTIATE_TEST_SUITE_P(
    Words, MenuWordTest,
    ::testing::Values(
        WordCase{"Tempo", "t\n90\n", kTempoAsk + kClick, &Shown::tempo, "90.0"},
        WordCase{"FastestTempo", "t\n2646000\n", kTempoAsk + kClick, &Shown::tempo, "2646000.0"},
        WordCase{"BeatsHexadecimal", "b\n0x1F\n", kBeatsAsk + kClick, &Shown::meter, "31"},
        WordCase{"BeatsOctal", "b\n017\n", kBeatsAsk + kClick, &Shown::meter, "15"},
        WordCase{"NoBeats", "b\n0\n", kBeatsAsk + kClick, &Shown::meter, "0"},
        WordCase{"Frequency", "f\n440.3\n", kHzAsk + kClick, &Shown::hz, "440.3"},
        WordCase{"HighestFrequency", "f\n22050\n", kHzAsk + kClick, &Shown::hz, "22050.0"},
        WordCase{"TooLowFrequencyWarnsAtTheClickStage", "f\n1\n", kHzAsk + kTooLow + kClick,
                 &Shown::hz, "1.0"},
        WordCase{"AuditionLength", "al\n2.5\n", kAtimeAsk + kClick, &Shown::atime, "2.5"},
        WordCase{"NoAudition", "al\n0\n", kAtimeAsk + kClick, &Shown::atime, "0.0"},
        WordCase{"Measures", "m\n0x10\n", kMeasAsk + kClick, &Shown::meas, "16"},
        WordCase{"OutputName", "n\nout.wav\n", kNameAsk + kClick, &Shown::save, "out.wav"},
        WordCase{"LongestOutputName", "n\n" + std::string(63, 'n') + "\n", kNameAsk + kClick,
                 &Shown::save, std::string(63, 'n')},
        WordCase{"Device", "o\nhw:1,0\n", kDeviceAsk + kClick, &Shown::device, "hw:1,0"},
        WordCase{"LongestDevice", "o\n" + std::string(15, 'd') + "\n", kDeviceAsk + kClick,
                 &Shown::device, std::string(15, 'd')},
        WordCase{"Save", "s\n", "Saved Settings\n" + kClick, nullptr, ""},
        WordCase{"HelpIgnoresOtherWordsUntilC", "h\nx\nabcdefgc\nC\nc\n", kHelp + kClick, nullptr,
                 ""},
        WordCase{"Append", "w\n+\n", kClick + menu() + kClick, nullptr, ""},
        WordCase{"PlayTempoMapWithoutMap", "ptm\n", kClick + kNoMap, nullptr, ""},
        WordCase{"RenderTempoMapWithoutMap", "rtm\n", kClick + kNoMap, nullptr, ""},
        WordCase{"NonNumericTempoIsReadAsTheNextWord", "t\nm\n1\n",
                 kTempoAsk + kClick + menu() + kMeasAsk + kClick, &Shown::meas, "1"},
        WordCase{"NonNumericBeatsIsReadAsTheNextWord", "b\nabc\n", kBeatsAsk + kClick + menu(),
                 nullptr, ""}),
    caseName<WordCase>);

// After a frequency too low for any click, a normal one gives a click again;
// 60.5 Hz sounds 60 Hz for 2184 samples (sample values computed independently).
TEST_F(ConsoleTest, WrittenClickFollowsTheFrequencyInForce) {
    const Shown hz60 = kDefaults.with(&Shown::hz, "60.5");
    const Shown written = hz60.with(&Shown::meas, "1");
    expectRun(kStart + "f\n1\nf\n60.5\nm\n1\nw\nx\n",
              kStartup + menu() + step(kHzAsk + kTooLow, kDefaults.with(&Shown::hz, "1.0")) +
                  step(kHzAsk, hz60) + step(kMeasAsk, written) + step("", written));
    const Bytes file = readBytes(dir.file("click.wav"));
    ASSERT_EQ(file.size(), 44u + 88200 * 3);
    // The click has ended at 2184; the second beat starts at 22050.
    const std::pair<size_t, int32_t> samples[] = {
        {0, 0}, {1, 105448}, {2183, -147032}, {2184, 0}, {22051, 105448}};
    for (const auto& [i, v] : samples) EXPECT_EQ(sampleAt(file, 44, i, 3), v) << "sample " << i;
}

// When the reader of standard output goes away, the commands still run: `w`
// writes its track and `s` saves. The menu is shown 200 times first, far more
// than a pipe holds, so the writes after the reader has gone fail.
TEST_F(ConsoleTest, CommandsRunOnWhenTheReaderOfStandardOutputHasGone) {
    writeFile(dir.file("commands"), kStart + repeat("T\n", 200) + "m\n1\nw\ns\nx\n");
    const std::string shell = "cd '" + dir.path() + "' && { HOME=. '" CLICKTRACK_BIN
                              "' < commands; echo $? > status; } | head -c 10 > /dev/null";
    ASSERT_EQ(std::system(shell.c_str()), 0);
    EXPECT_EQ(readFile(dir.file("status")), "2\n");
    EXPECT_EQ(readBytes(dir.file("click.wav")).size(), 44u + 88200 * 3);
    EXPECT_NE(readFile(dir.file("dodiradoz.txt")).find("meas\t1\n"), std::string::npos);
}

TEST_F(ConsoleTest, XExitsAtOnceWithoutClickOrSave) {
    expectRun(kStart + "x\nt\n90\n", kStartup + menu());
    EXPECT_FALSE(fileExists(dir.file("dodiradoz.txt")));
}

// Words that are not commands bring the menu back and nothing else, and no
// part of a long word is read as a word of its own.
TEST_F(ConsoleTest, UnrecognisedWordsOnlyReshowTheMenu) {
    const std::vector<std::string> words = {"T", "tt", "X", "c", "tmap", "ALL", "abcdefgx",
                                            "abcdefghijklmnopqrstuvwx", "++", "w+"};
    std::string script = kStart;
    for (const std::string& w : words) script += w + "\n";
    expectRun(script + "x\n", kStartup + repeat(menu(), words.size() + 1));
}

TEST_F(ConsoleTest, WordsAreSeparatedByAnyWhitespace) {
    const Shown t90 = kDefaults.with(&Shown::tempo, "90.0");
    expectRun("1 2 \t t 90\n\n  b\t3 x", kStartup + menu() + step(kTempoAsk, t90) +
                                             step(kBeatsAsk, t90.with(&Shown::meter, "3")));
}

// ---------------------------------------------------------------- refusals

struct RefusalCase {
    const char* name;
    std::string word;
    std::vector<std::string> values;  // each refused in turn
    std::string prompt;
    std::string rule;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public ConsoleTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, SaysWhatIsAcceptedAndKeepsTheValue) {
    const RefusalCase& c = GetParam();
    std::string script = kStart;
    for (const std::string& v : c.values) script += c.word + "\n" + v + "\n";
    const std::string refusal = step(c.prompt + c.rule + "\n", kDefaults);
    expectRun(script + "x\n", kStartup + menu() + repeat(refusal, c.values.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Values, RefusalTest,
    ::testing::Values(
        RefusalCase{"Tempo", "t", {"0", "-5", "inf", "nan", "2646001"}, kTempoAsk,
                    "Tempo must be above 0 and at most 2646000 bpm (one beat per sample); "
                    "keeping 120.0."},
        RefusalCase{"TempoBeatTooLong", "t", {"0.001"}, kTempoAsk,
                    "Tempo must be high enough that one beat lasts at most 2147483647 samples; "
                    "keeping 120.0."},
        RefusalCase{"Frequency", "f", {"0", "-60", "22051", "inf"}, kHzAsk,
                    "Frequency must be above 0 and below 22051 Hz (half the sample rate); "
                    "keeping 60.0."},
        RefusalCase{"Beats", "b", {"-1", "2147483648"}, kBeatsAsk,
                    "Beats per measure must be a whole number from 0 to 2147483647; keeping 4."},
        RefusalCase{"Measures", "m", {"-3"}, kMeasAsk,
                    "Number of measures must be a whole number from 0 to 2147483647; keeping 48."},
        RefusalCase{"Audition", "al", {"-1", "48696", "nan"}, kAtimeAsk,
                    "Audition length must be from 0 to 48695.76 seconds at this sample rate; "
                    "keeping 10.0."},
        RefusalCase{"OutputNameTooLong", "n", {std::string(64, 'n')}, kNameAsk,
                    "The output file name must be at most 63 characters; keeping 'click.wav'."},
        RefusalCase{"DeviceTooLong", "o", {std::string(16, 'd')}, kDeviceAsk,
                    "The device name must be at most 15 characters; keeping 'default'."}),
    caseName<RefusalCase>);

// ---------------------------------------------------------------- end of input

TEST_F(ConsoleTest, EndOfInputEndsLikeXAtEveryStage) {
    const std::string atMenu = kStartup + menu();
    const std::pair<std::string, std::string> stages[] = {
        {"", kRateQuestion},
        {" \n\t\n", kRateQuestion},
        {"1\n", kRateQuestion + kBitQuestion},
        {kStart, atMenu},
        {kStart + "T", atMenu + menu()},  // no line break after the last word
        {kStart + "h\nx\n", atMenu + kHelp},
        {kStart + "t\n", atMenu + kTempoAsk},
        {kStart + "b\n", atMenu + kBeatsAsk},
        {kStart + "f\n", atMenu + kHzAsk},
        {kStart + "al\n", atMenu + kAtimeAsk},
        {kStart + "m\n", atMenu + kMeasAsk},
        {kStart + "n\n", atMenu + kNameAsk},
        {kStart + "o\n", atMenu + kDeviceAsk}};
    for (const auto& [input, transcript] : stages) {
        SCOPED_TRACE(input);
        expectRun(input, transcript);
    }
}

// ---------------------------------------------------------------- track length

struct SecondsCase {
    const char* name;
    float tempo;
    float startup, recomputed;                // trackSeconds by either formula
    int32_t startupFrames, recomputedFrames;  // at 44100 samples per second
};
void PrintTo(const SecondsCase& c, std::ostream* os) { *os << c.name; }

class TrackSecondsTest : public ::testing::TestWithParam<SecondsCase> {};

// 4 beats a measure, 48 measures.
TEST_P(TrackSecondsTest, BothFormulasAndThePlannedFrames) {
    const SecondsCase& c = GetParam();
    Settings s;
    s.tempo = c.tempo;
    EXPECT_EQ(startupTrackSeconds(s), c.startup);
    EXPECT_EQ(recomputedTrackSeconds(s), c.recomputed);
    EXPECT_EQ(trackFrames(44100, c.startup), c.startupFrames);
    EXPECT_EQ(trackFrames(44100, c.recomputed), c.recomputedFrames);
}

INSTANTIATE_TEST_SUITE_P(
    Tempos, TrackSecondsTest,
    ::testing::Values(SecondsCase{"Defaults", 120.0f, 96.0f, 96.0f, 4233600, 4233600},
                      SecondsCase{"Tempo60", 60.0f, 192.0f, 192.0f, 8467200, 8467200},
                      SecondsCase{"Tempo90", 90.0f, 128.0f, 128.0f, 5644800, 5644800},
                      // The formulas part in the last bit: 383.744140625 and 383.74417114...
                      SecondsCase{"Tempo30Point02", 30.02f, 0x1.7fbe8p+8f, 0x1.7fbe82p+8f, 16923116,
                                  16923118}),
    caseName<SecondsCase>);

TEST(TrackFrames, RefusesCountsThatAreNo32BitSampleCount) {
    EXPECT_FALSE(trackFrames(44100, -1.0f));
    EXPECT_FALSE(trackFrames(96000, 1.0e6f));
    EXPECT_FALSE(trackFrames(44100, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_EQ(trackFrames(44100, 0.0f), 0);
    EXPECT_EQ(trackFrames(44100, 1.5f), 66150);
}

}  // namespace
