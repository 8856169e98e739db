// The console: start-up questions, the menu, its commands and their prompts,
// driven through the built program with scripted standard input. Every
// transcript is compared whole, byte for byte.
#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "console/commands.hpp"
#include "console/settings.hpp"
#include "support/test_support.hpp"

namespace {

// ---------------------------------------------------------------- expected text

const std::string kRateQuestion =
    "\nEnter sample rate or\n"
    "0 = exit, 1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n";
const std::string kBitQuestion = "\nChoose Bit Depth (1 = 16 bits, 2 = 24 bits)\n";
const std::string kStartup = kRateQuestion + kBitQuestion + "ready\n";

const std::string kHelp =
    "\n"
    "How to Create a Remote Tempo Map File:\n"
    "\n"
    "1. Make a plain text file called tmap.txt.\n"
    "\n"
    "2. Start a line with the command 'tmap' for a new tempo or meter.\n"
    "\n"
    "3. Then enter tempo, beats per measure, and measures.\n"
    "\n"
    "   Use a <tab> after tmap as well as between values.\n"
    "\n"
    "   Example:\n"
    "\n"
    "   tmap\t120\t4\t48\n"
    "   tmap\t160\t3\t16\n"
    "\n"
    "4. Save the file in same directory as this program.\n"
    "\n"
    "Enter 'c' to continue.\n";

// The line break the click stage writes after every recognised word but `x`.
const std::string kClick = "\n";

// What the menu shows, as the menu prints it.
struct Shown {
    std::string tempo = "120.0";
    std::string hz = "60.0";
    int meter = 4;
    std::string atime = "10.0";
    std::string device = "default";
    int meas = 48;
    std::string save = "click.wav";

    Shown withTempo(std::string v) const { Shown s = *this; s.tempo = std::move(v); return s; }
    Shown withHz(std::string v) const { Shown s = *this; s.hz = std::move(v); return s; }
    Shown withMeter(int v) const { Shown s = *this; s.meter = v; return s; }
    Shown withAtime(std::string v) const { Shown s = *this; s.atime = std::move(v); return s; }
    Shown withDevice(std::string v) const { Shown s = *this; s.device = std::move(v); return s; }
    Shown withMeas(int v) const { Shown s = *this; s.meas = v; return s; }
    Shown withSave(std::string v) const { Shown s = *this; s.save = std::move(v); return s; }
};

std::string menu(const Shown& v = {}) {
    return "\nGlobal settings:\n"
           "\tEnter 't' to adjust tempo (" + v.tempo + " bpm).\n"
           "\tEnter 'f' to set the lowest click frequency (" + v.hz + " Hz).\n"
           "\tEnter 'b' to set beats per measure (" + std::to_string(v.meter) + ")\n"
           "\tEnter 'h' for tempo map file help\n"
           "\tEnter 's' to save current settings to 'dodiradoz.txt'\n"
           "\tEnter 'x' to exit.\n"
           "\nAudition settings:\n"
           "\tEnter 'a' to audition click.\n"
           "\tEnter 'al' to set the audition length (" + v.atime + " sec).\n"
           "\tEnter 'o' to change output device from '" + v.device + "'.\n"
           "\tEnter 'ptm' to play tempo map file.\n"
           "\nOutput file settings:\n"
           "\tEnter 'm' to set number of measures to write (" + std::to_string(v.meas) + ").\n"
           "\tEnter 'n' to change the output file name from '" + v.save + "'.\n"
           "\tEnter 'w' to write from beginning of '" + v.save + "'.\n"
           "\tEnter '+' to add new click to end of '" + v.save + "'.\n"
           "\tEnter 'rtm' to read tempo map file and write click track file.\n";
}

std::string repeat(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
}

// Answers to the start-up questions: 44100 samples per second, 24 bits.
const std::string kStart = "1\n2\n";

// ---------------------------------------------------------------- running

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 |
           uint32_t{b.at(at + 3)} << 24;
}

uint32_t u16At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8;
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

    std::vector<uint8_t> header(const std::string& name = "click.wav") {
        std::vector<uint8_t> bytes = readBytes(dir.file(name));
        bytes.resize(44);
        return bytes;
    }

    TempDir dir;
};

// ---------------------------------------------------------------- start-up

struct RateCase {
    const char* name;
    const char* answer;
    uint32_t rate;
};
void PrintTo(const RateCase& c, std::ostream* os) { *os << c.name; }

class StartupRateTest : public ConsoleTest, public ::testing::WithParamInterface<RateCase> {};

// One measure at 120 bpm is 2 seconds, so `w` plans rate x 2 samples.
TEST_P(StartupRateTest, AnswerSetsTheRateOfTheWrittenFile) {
    const RateCase& c = GetParam();
    expectRun(std::string(c.answer) + "\n2\nm\n1\nw\nx\n",
              kStartup + menu() + "\nEnter number of measures\n" + kClick + menu(Shown().withMeas(1)) +
                  kClick + menu(Shown().withMeas(1)));
    const std::vector<uint8_t> h = header();
    EXPECT_EQ(u32At(h, 24), c.rate);
    EXPECT_EQ(u32At(h, 28), c.rate * 3);
    EXPECT_EQ(u16At(h, 34), 24u);
    EXPECT_EQ(u32At(h, 40), c.rate * 2 * 3);
}

INSTANTIATE_TEST_SUITE_P(Answers, StartupRateTest,
                         ::testing::Values(RateCase{"One", "1", 44100}, RateCase{"Two", "2", 48000},
                                           RateCase{"Three", "3", 88200},
                                           RateCase{"Four", "4", 96000},
                                           RateCase{"TypedRate", "22050", 22050},
                                           RateCase{"HexadecimalRate", "0x5622", 22050},
                                           RateCase{"OctalRate", "053042", 22050}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConsoleTest, ZeroAtTheRateQuestionEndsBeforeTheBitQuestion) {
    expectRun("0\n2\nw\n", kRateQuestion);
    EXPECT_FALSE(fileExists(dir.file("click.wav")));
}

struct BitsCase {
    const char* answer;
    uint32_t bits;
    uint32_t bytesPerSample;
};
void PrintTo(const BitsCase& c, std::ostream* os) { *os << c.answer; }

class StartupBitsTest : public ConsoleTest, public ::testing::WithParamInterface<BitsCase> {};

TEST_P(StartupBitsTest, AnswerSetsTheDepthOfTheWrittenFile) {
    const BitsCase& c = GetParam();
    expectRun(std::string("1\n") + c.answer + "\nm\n1\nw\nx\n",
              kStartup + menu() + "\nEnter number of measures\n" + kClick + menu(Shown().withMeas(1)) +
                  kClick + menu(Shown().withMeas(1)));
    const std::vector<uint8_t> h = header();
    EXPECT_EQ(u32At(h, 28), 44100 * c.bytesPerSample);
    EXPECT_EQ(u16At(h, 32), c.bytesPerSample);
    EXPECT_EQ(u16At(h, 34), c.bits);
    EXPECT_EQ(u32At(h, 40), 88200 * c.bytesPerSample);
}

INSTANTIATE_TEST_SUITE_P(Answers, StartupBitsTest,
                         ::testing::Values(BitsCase{"1", 16, 2}, BitsCase{"2", 24, 3},
                                           BitsCase{"3", 24, 3}, BitsCase{"0x1", 16, 2}));

// A refused rate asks the question again; the next answer counts. Rates
// too low for the 60 Hz click or too high for a 10 s audition are refused too.
TEST_F(ConsoleTest, RefusedRatesAskTheQuestionAgain) {
    const std::string refused =
        "Sample rate must be a whole number from 120 to 214748360 for the tempo, frequency and "
        "audition length in force.\n";
    expectRun("-1\n4294967295\n3000000000\n119\n214748365\n2\n1\nm\n1\nw\nx\n",
              repeat(kRateQuestion + refused, 5) + kStartup + menu() +
                  "\nEnter number of measures\n" + kClick + menu(Shown().withMeas(1)) + kClick +
                  menu(Shown().withMeas(1)));
    const std::vector<uint8_t> h = header();
    EXPECT_EQ(u32At(h, 24), 48000u);
    EXPECT_EQ(u16At(h, 34), 16u);
}

// The text stays unread: the bit question fails the same way and the menu
// reads it as a (non-)command word.
TEST_F(ConsoleTest, NonNumericRateAnswerKeeps44100And24BitsAndReachesTheMenu) {
    expectRun("abc\nm\n1\nw\nx\n", kStartup + menu() + menu() + "\nEnter number of measures\n" +
                                       kClick + menu(Shown().withMeas(1)) + kClick +
                                       menu(Shown().withMeas(1)));
    const std::vector<uint8_t> h = header();
    EXPECT_EQ(u32At(h, 24), 44100u);
    EXPECT_EQ(u16At(h, 34), 24u);
}

TEST_F(ConsoleTest, SettingsFileReplacesTheQuestionsWithASummary) {
    writeFile(dir.file("dodiradoz.txt"), "tempo\t30.02\n");
    expectRun("x\n",
              "Settings Loaded\n"
              "-------------------------\n"
              "rate: 44100\tbits: 24\tdevice: default\n"
              "meter: 4\tmeas: 48\tatime: 10.0\n"
              "Hz: 60.00\tsave: click.wav\ttmap: tmap.txt\n"
              "-------------------------\n"
              "ready\n" +
                  menu(Shown().withTempo("30.0")));
}

// ---------------------------------------------------------------- the menu words

struct WordCase {
    const char* name;
    std::string script;  // after the start-up answers, before the final `x`
    std::string middle;  // what follows the first menu, up to the last menu
    Shown after;         // what the last menu shows
};
void PrintTo(const WordCase& c, std::ostream* os) { *os << c.name; }

class MenuWordTest : public ConsoleTest, public ::testing::WithParamInterface<WordCase> {};

TEST_P(MenuWordTest, PromptsReadsAndShowsTheNewValue) {
    const WordCase& c = GetParam();
    expectRun(kStart + c.script + "x\n", kStartup + menu() + c.middle + menu(c.after));
}

const Shown kDefaults;

INSTANTIATE_TEST_SUITE_P(
    Words, MenuWordTest,
    ::testing::Values(
        WordCase{"Tempo", "t\n90\n", "Enter tempo in beats per minute\n" + kClick,
                 kDefaults.withTempo("90.0")},
        WordCase{"FastestTempo", "t\n2646000\n", "Enter tempo in beats per minute\n" + kClick,
                 kDefaults.withTempo("2646000.0")},
        WordCase{"BeatsHexadecimal", "b\n0x1F\n", "Enter beats per measure\n" + kClick,
                 kDefaults.withMeter(31)},
        WordCase{"BeatsOctal", "b\n017\n", "Enter beats per measure\n" + kClick,
                 kDefaults.withMeter(15)},
        WordCase{"NoBeats", "b\n0\n", "Enter beats per measure\n" + kClick,
                 kDefaults.withMeter(0)},
        WordCase{"Frequency", "f\n440.3\n", "\nEnter lowest frequency of click in Hz\n" + kClick,
                 kDefaults.withHz("440.3")},
        WordCase{"HighestFrequency", "f\n22050\n",
                 "\nEnter lowest frequency of click in Hz\n" + kClick,
                 kDefaults.withHz("22050.0")},
        WordCase{"TooLowFrequencyWarnsAtTheClickStage", "f\n1\n",
                 "\nEnter lowest frequency of click in Hz\n"
                 "The frequency chosen is too low for this tempo!\n" + kClick,
                 kDefaults.withHz("1.0")},
        WordCase{"AuditionLength", "al\n2.5\n", "\nEnter audition length in seconds\n" + kClick,
                 kDefaults.withAtime("2.5")},
        WordCase{"NoAudition", "al\n0\n", "\nEnter audition length in seconds\n" + kClick,
                 kDefaults.withAtime("0.0")},
        WordCase{"Measures", "m\n0x10\n", "\nEnter number of measures\n" + kClick,
                 kDefaults.withMeas(16)},
        WordCase{"OutputName", "n\nout.wav\n", "Enter new output file name.\n" + kClick,
                 kDefaults.withSave("out.wav")},
        WordCase{"LongestOutputName", "n\n" + std::string(63, 'n') + "\n",
                 "Enter new output file name.\n" + kClick, kDefaults.withSave(std::string(63, 'n'))},
        WordCase{"Device", "o\nhw:1,0\n", "Enter new playback device name.\n" + kClick,
                 kDefaults.withDevice("hw:1,0")},
        WordCase{"LongestDevice", "o\n" + std::string(15, 'd') + "\n",
                 "Enter new playback device name.\n" + kClick,
                 kDefaults.withDevice(std::string(15, 'd'))},
        WordCase{"Save", "s\n", "Saved Settings\n" + kClick, kDefaults},
        WordCase{"HelpIgnoresOtherWordsUntilC", "h\nx\nabcdefgc\nC\nc\n", kHelp + kClick,
                 kDefaults},
        WordCase{"Write", "w\n", kClick, kDefaults},
        WordCase{"Append", "w\n+\n", kClick + menu() + kClick, kDefaults},
        WordCase{"PlayTempoMapWithoutMap", "ptm\n",
                 kClick + "Can't open tempo map file 'tmap.txt': No such file or directory.\n",
                 kDefaults},
        WordCase{"RenderTempoMapWithoutMap", "rtm\n",
                 kClick + "Can't open tempo map file 'tmap.txt': No such file or directory.\n",
                 kDefaults},
        // A failed read still goes through the click stage; the text that was
        // not a number is the next command word.
        WordCase{"NonNumericTempoIsReadAsTheNextWord", "t\nm\n1\n",
                 "Enter tempo in beats per minute\n" + kClick + menu() +
                     "\nEnter number of measures\n" + kClick,
                 kDefaults.withMeas(1)},
        WordCase{"NonNumericBeatsIsReadAsTheNextWord", "b\nabc\n",
                 "Enter beats per measure\n" + kClick + menu(), kDefaults}),
    [](const auto& info) { return std::string(info.param.name); });

// After a frequency too low for any click, a normal one gives a click again;
// 60.5 Hz sounds 60 Hz for 2184 samples (sample values computed independently).
TEST_F(ConsoleTest, WrittenClickFollowsTheFrequencyInForce) {
    const Shown hz1 = kDefaults.withHz("1.0");
    const Shown hz60 = kDefaults.withHz("60.5");
    expectRun(kStart + "f\n1\nf\n60.5\nm\n1\nw\nx\n",
              kStartup + menu() + "\nEnter lowest frequency of click in Hz\n" +
                  "The frequency chosen is too low for this tempo!\n" + kClick + menu(hz1) +
                  "\nEnter lowest frequency of click in Hz\n" + kClick + menu(hz60) +
                  "\nEnter number of measures\n" + kClick + menu(hz60.withMeas(1)) + kClick +
                  menu(hz60.withMeas(1)));
    const std::vector<uint8_t> file = readBytes(dir.file("click.wav"));
    ASSERT_EQ(file.size(), 44u + 88200 * 3);
    const auto sample = [&](size_t i) {
        return std::vector<uint8_t>(file.begin() + 44 + 3 * i, file.begin() + 47 + 3 * i);
    };
    EXPECT_EQ(sample(0), (std::vector<uint8_t>{0x00, 0x00, 0x00}));
    EXPECT_EQ(sample(1), (std::vector<uint8_t>{0xE8, 0x9B, 0x01}));      // 105448
    EXPECT_EQ(sample(2183), (std::vector<uint8_t>{0xA8, 0xC1, 0xFD}));   // -147032
    EXPECT_EQ(sample(2184), (std::vector<uint8_t>{0x00, 0x00, 0x00}));   // the click has ended
    EXPECT_EQ(sample(22051), (std::vector<uint8_t>{0xE8, 0x9B, 0x01}));  // the second beat
}

TEST_F(ConsoleTest, XExitsAtOnceWithoutClickOrSave) {
    expectRun(kStart + "x\nt\n90\n", kStartup + menu());
    EXPECT_FALSE(fileExists(dir.file("dodiradoz.txt")));
}

TEST_F(ConsoleTest, AuditionPlaysOnTheChosenDevice) {
    writeCaptureAsoundrc(dir.path(), dir.file("cap.raw"));
    const Shown cap = kDefaults.withDevice("cap");
    expectRun(kStart + "o\ncap\nal\n0.5\na\nx\n",
              kStartup + menu() + "Enter new playback device name.\n" + kClick + menu(cap) +
                  "\nEnter audition length in seconds\n" + kClick + menu(cap.withAtime("0.5")) +
                  kClick + "\tMeasure  1\n" + menu(cap.withAtime("0.5")));
}

// Words that are not commands bring the menu back and nothing else, and no
// part of a long word is read as a word of its own.
TEST_F(ConsoleTest, UnrecognisedWordsOnlyReshowTheMenu) {
    const std::vector<std::string> words = {"T", "tt", "X", "c", "tmap", "ALL", "abcdefgx",
                                            "abcdefghijklmnopqrstuvwx", "++", "w+"};
    std::string script = kStart;
    for (const std::string& w : words) script += w + "\n";
    expectRun(script + "x\n", kStartup + repeat(menu(), static_cast<int>(words.size()) + 1));
}

TEST_F(ConsoleTest, WordsAreSeparatedByAnyWhitespace) {
    expectRun("1 2 \t t 90\n\n  b\t3 x", kStartup + menu() + "Enter tempo in beats per minute\n" +
                                             kClick + menu(kDefaults.withTempo("90.0")) +
                                             "Enter beats per measure\n" + kClick +
                                             menu(kDefaults.withTempo("90.0").withMeter(3)));
}

// ---------------------------------------------------------------- refusals

struct RefusalCase {
    const char* name;
    std::string script;
    std::string prompt;
    std::string refusal;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public ConsoleTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, SaysWhatIsAcceptedAndKeepsTheValue) {
    const RefusalCase& c = GetParam();
    expectRun(kStart + c.script + "x\n",
              kStartup + menu() + c.prompt + c.refusal + "\n" + kClick + menu());
}

const std::string kTempoPrompt = "Enter tempo in beats per minute\n";
const std::string kTempoRule =
    "Tempo must be above 0 and at most 2646000 bpm (one beat per sample); keeping 120.0.";
const std::string kHzPrompt = "\nEnter lowest frequency of click in Hz\n";
const std::string kHzRule =
    "Frequency must be above 0 and below 22051 Hz (half the sample rate); keeping 60.0.";
const std::string kAtimePrompt = "\nEnter audition length in seconds\n";
const std::string kAtimeRule =
    "Audition length must be from 0 to 48695.76 seconds at this sample rate; keeping 10.0.";

INSTANTIATE_TEST_SUITE_P(
    Values, RefusalTest,
    ::testing::Values(
        RefusalCase{"TempoZero", "t\n0\n", kTempoPrompt, kTempoRule},
        RefusalCase{"TempoNegative", "t\n-5\n", kTempoPrompt, kTempoRule},
        RefusalCase{"TempoInfinite", "t\ninf\n", kTempoPrompt, kTempoRule},
        RefusalCase{"TempoNotANumber", "t\nnan\n", kTempoPrompt, kTempoRule},
        RefusalCase{"TempoBeatShorterThanASample", "t\n2646001\n", kTempoPrompt, kTempoRule},
        RefusalCase{"TempoBeatTooLong", "t\n0.001\n", kTempoPrompt,
                    "Tempo must be high enough that one beat lasts at most 2147483647 samples; "
                    "keeping 120.0."},
        RefusalCase{"FrequencyZero", "f\n0\n", kHzPrompt, kHzRule},
        RefusalCase{"FrequencyNegative", "f\n-60\n", kHzPrompt, kHzRule},
        RefusalCase{"FrequencyAboveHalfTheRate", "f\n22051\n", kHzPrompt, kHzRule},
        RefusalCase{"FrequencyInfinite", "f\ninf\n", kHzPrompt, kHzRule},
        RefusalCase{"BeatsNegative", "b\n-1\n", "Enter beats per measure\n",
                    "Beats per measure must be a whole number from 0 to 2147483647; keeping 4."},
        RefusalCase{"BeatsTooMany", "b\n2147483648\n", "Enter beats per measure\n",
                    "Beats per measure must be a whole number from 0 to 2147483647; keeping 4."},
        RefusalCase{"MeasuresNegative", "m\n-3\n", "\nEnter number of measures\n",
                    "Number of measures must be a whole number from 0 to 2147483647; keeping 48."},
        RefusalCase{"AuditionNegative", "al\n-1\n", kAtimePrompt, kAtimeRule},
        RefusalCase{"AuditionTooLong", "al\n48696\n", kAtimePrompt, kAtimeRule},
        RefusalCase{"AuditionNotANumber", "al\nnan\n", kAtimePrompt, kAtimeRule},
        RefusalCase{"OutputNameTooLong", "n\n" + std::string(64, 'n') + "\n",
                    "Enter new output file name.\n",
                    "The output file name must be at most 63 characters; keeping 'click.wav'."},
        RefusalCase{"DeviceTooLong", "o\n" + std::string(16, 'd') + "\n",
                    "Enter new playback device name.\n",
                    "The device name must be at most 15 characters; keeping 'default'."}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- end of input

struct EndCase {
    const char* name;
    std::string input;
    std::string transcript;
};
void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class EndOfInputTest : public ConsoleTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndOfInputTest, EndsLikeX) {
    const EndCase& c = GetParam();
    expectRun(c.input, c.transcript);
}

INSTANTIATE_TEST_SUITE_P(
    Stages, EndOfInputTest,
    ::testing::Values(
        EndCase{"RateQuestion", "", kRateQuestion},
        EndCase{"RateQuestionAfterBlanks", " \n\t\n", kRateQuestion},
        EndCase{"BitQuestion", "1\n", kRateQuestion + kBitQuestion},
        EndCase{"Menu", kStart, kStartup + menu()},
        EndCase{"MenuWithoutFinalLineBreak", kStart + "T", kStartup + menu() + menu()},
        EndCase{"HelpScreen", kStart + "h\nx\n", kStartup + menu() + kHelp},
        EndCase{"TempoPrompt", kStart + "t\n", kStartup + menu() + kTempoPrompt},
        EndCase{"BeatsPrompt", kStart + "b\n", kStartup + menu() + "Enter beats per measure\n"},
        EndCase{"FrequencyPrompt", kStart + "f\n", kStartup + menu() + kHzPrompt},
        EndCase{"AuditionPrompt", kStart + "al\n", kStartup + menu() + kAtimePrompt},
        EndCase{"MeasuresPrompt", kStart + "m\n",
                kStartup + menu() + "\nEnter number of measures\n"},
        EndCase{"NamePrompt", kStart + "n\n", kStartup + menu() + "Enter new output file name.\n"},
        EndCase{"DevicePrompt", kStart + "o\n",
                kStartup + menu() + "Enter new playback device name.\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- track length

TEST_F(ConsoleTest, DefaultTrackIs96SecondsAnd60BpmDoublesIt) {
    expectRun(kStart + "w\nx\n", kStartup + menu() + kClick + menu());
    EXPECT_EQ(u32At(header(), 40), 12700800u);  // 4233600 frames of 3 bytes
    EXPECT_EQ(u32At(header(), 4), 12700836u);

    expectRun(kStart + "t\n60\nw\nx\n", kStartup + menu() + kTempoPrompt + kClick +
                                             menu(kDefaults.withTempo("60.0")) + kClick +
                                             menu(kDefaults.withTempo("60.0")));
    EXPECT_EQ(u32At(header(), 40), 25401600u);  // 8467200 frames
}

struct SecondsCase {
    const char* name;
    int32_t meter, meas;
    float tempo;
    float startup, recomputed;  // trackSeconds by either formula
    int32_t startupFrames, recomputedFrames;  // at 44100 samples per second
};
void PrintTo(const SecondsCase& c, std::ostream* os) { *os << c.name; }

class TrackSecondsTest : public ::testing::TestWithParam<SecondsCase> {};

TEST_P(TrackSecondsTest, BothFormulasAndThePlannedFrames) {
    const SecondsCase& c = GetParam();
    Settings s;
    s.meter = c.meter;
    s.meas = c.meas;
    s.tempo = c.tempo;
    EXPECT_EQ(startupTrackSeconds(s), c.startup);
    EXPECT_EQ(recomputedTrackSeconds(s), c.recomputed);
    int32_t frames = -1;
    ASSERT_TRUE(trackFrames(44100, c.startup, frames));
    EXPECT_EQ(frames, c.startupFrames);
    ASSERT_TRUE(trackFrames(44100, c.recomputed, frames));
    EXPECT_EQ(frames, c.recomputedFrames);
}

INSTANTIATE_TEST_SUITE_P(
    Tempos, TrackSecondsTest,
    ::testing::Values(SecondsCase{"Defaults", 4, 48, 120.0f, 96.0f, 96.0f, 4233600, 4233600},
                      SecondsCase{"Tempo60", 4, 48, 60.0f, 192.0f, 192.0f, 8467200, 8467200},
                      SecondsCase{"Tempo90", 4, 48, 90.0f, 128.0f, 128.0f, 5644800, 5644800},
                      // The formulas part in the last bit: 383.744140625 and 383.74417114...
                      SecondsCase{"Tempo30Point02", 4, 48, 30.02f, 0x1.7fbe8p+8f, 0x1.7fbe82p+8f,
                                  16923116, 16923118}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrackFrames, RefusesCountsThatAreNo32BitSampleCount) {
    int32_t frames = 7;
    EXPECT_FALSE(trackFrames(44100, -1.0f, frames));
    EXPECT_FALSE(trackFrames(96000, 1.0e6f, frames));
    EXPECT_FALSE(trackFrames(44100, std::numeric_limits<float>::quiet_NaN(), frames));
    EXPECT_EQ(frames, 7);
    EXPECT_TRUE(trackFrames(44100, 0.0f, frames));
    EXPECT_EQ(frames, 0);
    EXPECT_TRUE(trackFrames(44100, 1.5f, frames));
    EXPECT_EQ(frames, 66150);
}

}  // namespace
