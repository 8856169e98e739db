// The command line run end to end: `render` writes the menu's bytes, `-o -`
// streams them, `play` sends the device the menu's frames, the exit statuses
// and messages follow the command line's rules, and Ctrl-C stops cleanly.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/audio_support.hpp"
#include "support/background_run.hpp"

namespace {

const std::string kExampleMap = "tmap\t120\t4\t48\ntmap\t160\t3\t16\n";

class CommandLineRun : public CommandLineFolder {
protected:
    // Every entry of the folder with what it holds (a link: where it points).
    std::map<std::string, std::string> folder() const {
        std::map<std::string, std::string> entries;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            entries[name] = entry.is_symlink() ? "-> " + std::filesystem::read_symlink(entry).string()
                                               : readFile(entry.path().string());
        }
        return entries;
    }

    // The menu's file for the same session, written in a folder of its own.
    std::string menuFile(const std::string& settings, const std::string& commands,
                         const std::string& map = kExampleMap) {
        const TempDir menu;
        if (!settings.empty()) writeFile(menu.file("dodiradoz.txt"), settings);
        writeFile(menu.file("tmap.txt"), map);
        runProgram(menu.path(), (settings.empty() ? startAnswers() : "") + commands + "x\n");
        return readFile(menu.file("click.wav"));
    }
};

// Where the menu's single-precision grid puts every beat on its exact
// frame, render writes the menu's very bytes; elsewhere it keeps to the
// exact times (see ClickOptions.OneTempoPutsEveryBeatAtItsExactFrame).
TEST_F(CommandLineRun, RenderWritesTheMenusBytesWhereItsGridIsExact) {
    const std::string slow = "rate\t48000\nbits\t16\ntempo\t30.02\nmeter\t3\nmeas\t5\nHz\t90\n";
    writeFile(file("slow.txt"), slow);
    writeFile(file("tmap.txt"), kExampleMap);
    // The classic click is the menu's; the command line's own default sound is another.
    const RunResult plain = clicktrack({"render", "--sound", "classic"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out,
              "click.wav: 48 measures of 4 at 120 bpm, 1:36.000, 44100 Hz 24-bit, 12700844 bytes\n");
    EXPECT_TRUE(readFile(file("click.wav")) == menuFile("", "w\n"));
    // A tempo that names its note is told as it was written.
    EXPECT_EQ(clicktrack({"render", "-t", "q.=52", "-b", "2", "-m", "4", "-o", "six.wav"}).out,
              "six.wav: 4 measures of 2 at q.=52 bpm, 0:09.230, 44100 Hz 24-bit, 1221276 bytes\n");
    ASSERT_EQ(clicktrack({"render", "--settings", "slow.txt", "-o", "slow.wav"}).status, 0);
    EXPECT_FALSE(readFile(file("slow.wav")) == menuFile(slow, "w\n"));
    ASSERT_EQ(clicktrack({"render", "--map", "tmap.txt", "-o", "map.wav", "-q", "--sound", "classic"}).status, 0);
    EXPECT_TRUE(readFile(file("map.wav")) == menuFile("", "rtm\n"));
    // A map of the line format: the menu's `rtm` writes what `render` does.
    const std::string lineMap = "intro: 2 3/8 120-140 X.x 0.5\n  1 90,100,110,120\n";
    writeFile(file("song.txt"), lineMap);
    ASSERT_EQ(clicktrack({"render", "--map", "song.txt", "-o", "song.wav", "-q", "--sound", "classic"}).status, 0);
    EXPECT_TRUE(readFile(file("song.wav")) == menuFile("", "rtm\n", lineMap));
    // Standard output gets the same file; the summary goes to standard error.
    const RunResult streamed = clicktrack({"render", "-o", "-", "--sound", "classic"});
    EXPECT_TRUE(streamed.out == readFile(file("click.wav")));
    EXPECT_EQ(streamed.err.rfind("standard output: 48 measures of 4", 0), 0u);
    // With markers too, the summary counts every byte streamed.
    const RunResult marked = clicktrack({"render", "-m", "2", "--markers", "--count-in", "1", "-o", "-"});
    EXPECT_NE(marked.err.find(", " + std::to_string(marked.out.size()) + " bytes\n"), std::string::npos)
        << marked.err;
}

TEST_F(CommandLineRun, StatusesAndMessagesFollowTheCommandLinesRules) {
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::string tryHelp = "Try 'clicktrack --help'.\n";
    writeFile(file("bad.txt"), "intro: 8 fast\n");
    writeFile(file("two.txt"), "1 3/4 120\n1 120\n");
    writeFile(file("tmap.txt"), "tmap\t120\t4\t1\n");
    writeFile(file("drill.txt"), "a: 2 100\nb: 8 80 trainer=-50/2\n");
    for (const Row& row : {
             Row{{"render", "--bogus"}, 2, "clicktrack: unknown option '--bogus'.\n" + tryHelp},
             Row{{"render", "-r", "7999"}, 2,
                 "clicktrack: --rate 7999 is too low for the woodblock sound: it needs at least "
                 "8000 samples a second.\n" + tryHelp},
             Row{{"render", "--sound", "cowbell", "-r", "159783015"}, 2,
                 "clicktrack: --rate 159783015 is too high for the cowbell sound: its 70 ms must "
                 "fit 32 MiB, at most 159783014 samples a second.\n" + tryHelp},
             Row{{"play", "--sound", "tick", "-f", "800"}, 2,
                 "clicktrack: --freq shapes the classic sound only, not 'tick': give --sound "
                 "classic or leave it out.\n" + tryHelp},
             Row{{"show", "--sound", "beep", "--accent-freq", "800"}, 2,
                 "clicktrack: --accent-freq shapes the classic sound only, not 'beep': give "
                 "--sound classic or leave it out.\n" + tryHelp},
             Row{{"render", "-f", "30000"}, 2,
                 "clicktrack: --freq 30000: Frequency must be above 0 and below 22051 Hz (half "
                 "the sample rate).\n" + tryHelp},
             Row{{"play", "--seconds", "60000"}, 2,
                 "clicktrack: --seconds 60000: Audition length must be from 0 to 48695.76 "
                 "seconds at this sample rate.\n" + tryHelp},
             Row{{"render", "-r", "5", "--sound", "classic"}, 2,
                 "clicktrack: --rate 5 does not suit the frequency 60 in force: Frequency must "
                 "be above 0 and below 3 Hz (half the sample rate).\n" + tryHelp},
             Row{{"render", "-m", "20000"}, 1,
                 "clicktrack: the track would make 'click.wav' 4 GiB or larger; nothing was "
                 "written.\n"},
             Row{{"render", "-m", "200000"}, 1,
                 "clicktrack: the track is too long: its frames do not fit 31 bits at this rate; "
                 "nothing was written or played.\n"},
             Row{{"render", "--settings", "none.txt"}, 1,
                 "clicktrack: Can't read settings file 'none.txt': No such file.\n"},
             Row{{"play", "--map", "none.txt"}, 1,
                 "clicktrack: Can't open tempo map file 'none.txt': No such file or directory.\n"},
             Row{{"render", "-a", "-o", "none.wav"}, 1,
                 "clicktrack: The requested filename does not exist!\n"},
             Row{{"play", "-d", "nosuchdevice", "-q"}, 1, ""},
             Row{{"render", "--subdivide", "17"}, 2,
                 "clicktrack: --subdivide must be a whole number of clicks a beat from 1 to 16, "
                 "not '17'.\n" + tryHelp},
             Row{{"render", "--pattern", "X.x"}, 2,
                 "clicktrack: --pattern X.x has 3 beats, not the 4 of a measure.\n" + tryHelp},
             Row{{"render", "--map", "two.txt", "--pattern", "X.x"}, 2,
                 "clicktrack: --map and --pattern cannot be used together: the map sets "
                 "patterns line by line.\n" + tryHelp},
             Row{{"play", "--map", "tmap.txt", "--pattern", "Xxxx"}, 2,
                 "clicktrack: --map and --pattern cannot be used together: the map sets "
                 "patterns line by line.\n" + tryHelp},
             Row{{"play", "--accent", "--pattern", "X..."}, 2,
                 "clicktrack: --accent and --pattern cannot be used together: the pattern says "
                 "where the accents go.\n" + tryHelp},
             Row{{"render", "--map", "bad.txt"}, 1,
                 "clicktrack: bad.txt: line 1: a tempo above 0 and at most 10000 (a number, A-B, "
                 "or one tempo for each beat), not 'fast'.\n"},
             Row{{"show", "--map", "bad.txt"}, 1,
                 "clicktrack: bad.txt: line 1: a tempo above 0 and at most 10000 (a number, A-B, "
                 "or one tempo for each beat), not 'fast'.\n"},
             Row{{"show", "-m", "200000"}, 1,
                 "clicktrack: the track is too long: its frames do not fit 31 bits at this "
                 "rate.\n"},
             Row{{"render", "-r", "8000", "-f", "3000", "--accent"}, 2,
                 "clicktrack: --accent-freq 4500 (1.5 x --freq): Frequency must be above 0 and "
                 "below 4001 Hz (half the sample rate).\n" + tryHelp},
             Row{{"render", "-t", "100-200", "-m", "2147483647"}, 1,
                 "clicktrack: the track is too long: its frames do not fit 31 bits at this rate; "
                 "nothing was written or played.\n"},
             Row{{"render", "-t", "100", "--trainer", "+10/2:90"}, 2,
                 "clicktrack: --trainer +10/2:90: its limit 90 lies below the tempo it starts "
                 "from, 100: a rising tempo stops at a ceiling.\n" + tryHelp},
             Row{{"render", "--map", "drill.txt"}, 1,
                 "clicktrack: drill.txt: line 2: trainer=-50/2: it would take the tempo to -20 "
                 "at bar 7: a tempo stays above 0.\n"},
             Row{{"--version"}, 0, ""}}) {
        const RunResult r = clicktrack(row.args);
        EXPECT_EQ(r.status, row.status) << row.args.back();
        if (!row.err.empty()) {
            EXPECT_EQ(r.err, row.err);
        }
    }
    EXPECT_EQ(namesIn(dir.path()), "bad.txt drill.txt tmap.txt two.txt");
}

// The plan of a hand-worked map, a count-in before it: 4/4 at 120 is 2 s
// a bar; the seven eighths of 7/8 at 120 last 7 x 240 / (120 x 8) = 1.75 s;
// 8 beats from 120 to 90 last 240 x 8 / (4 L) = 4.602913 s, L = 30 / ln(4/3)
// the logarithmic mean, so the track ends at frame round(12.352913 x 44100)
// = 544763, and the ramp starts at 7.75 s, frame 341775.
TEST_F(CommandLineRun, ShowPrintsThePlanOfATrackAndWritesNothing) {
    writeFile(file("song.txt"), "Verse 1:  2 120\n"
                                "          1 7/8 120 XxXxXxx\n"
                                "Chorus:   2 120-90\n");
    writeFile(file("long.txt"), "1 3/8 100,90,120\nLong one: 1800 120 0.5\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--map", "song.txt", "--count-in", "1"},
         "start     bar  meter  tempo   pattern  label     length\n"
         "0:00.000  -    4/4    120     -        Count-in  0:02.000\n"
         "0:02.000  1    4/4    120     -        Verse 1   0:04.000\n"
         "0:06.000  3    7/8    120     XxXxXxx  -         0:01.750\n"
         "0:07.750  4    4/4    120-90  -        Chorus    0:04.602\n"
         "total 0:12.352, 5 bars, 23 beats after a count-in of 1 bar\n"
         "sound woodblock\n"},
        {{"--map", "song.txt", "--count-in", "1", "--tsv"},
         "start\tbar\tmeter\ttempo\tpattern\tlabel\tlength\n"
         "0:00.000\t-\t4/4\t120\t-\tCount-in\t0:02.000\n"
         "0:02.000\t1\t4/4\t120\t-\tVerse 1\t0:04.000\n"
         "0:06.000\t3\t7/8\t120\tXxXxXxx\t-\t0:01.750\n"
         "0:07.750\t4\t4/4\t120-90\t-\tChorus\t0:04.602\n"
         "total\t0:12.352\t5\t23\n"
         "sound\twoodblock\n"},
        // An hour on, h:mm:ss.mmm; a tempo for each beat, its lowest and highest.
        {{"--map", "long.txt", "--tsv"},
         "start\tbar\tmeter\ttempo\tpattern\tlabel\tlength\n"
         "0:00.000\t1\t3/8\t90..120\t-\tSection 1\t0:00.883\n"
         "0:00.883\t2\t4/4\t120\t-\tLong one\t1:00:00.000\n"
         "total\t1:00:00.883\t1801\t7203\n"
         "sound\twoodblock\n"},
        // What sounds: the sound or the samples, the levels given, the
        // subdivisions (three eighths on a dotted beat) and the swing.
        {{"-t", "q.=52", "-b", "2", "-m", "1", "--sound", "cowbell", "--volume", "-6",
          "--accent-level", "4.5", "--swing", "66.7"},
         "start     bar  meter  tempo  pattern  label      length\n"
         "0:00.000  1    6/8    q.=52  -        Section 1  0:02.307\n"
         "total 0:02.307, 1 bar, 2 beats\n"
         "sound cowbell, volume -6 dB, accent +4.5 dB, 3 clicks a beat, swing 66.7 %\n"},
        {{"--map", "song.txt", "--subdivide", "4", "-f", "800", "--sub-level", "0", "--tsv"},
         "start\tbar\tmeter\ttempo\tpattern\tlabel\tlength\n"
         "0:00.000\t1\t4/4\t120\t-\tVerse 1\t0:04.000\n"
         "0:04.000\t3\t7/8\t120\tXxXxXxx\t-\t0:01.750\n"
         "0:05.750\t4\t4/4\t120-90\t-\tChorus\t0:04.602\n"
         "total\t0:10.352\t5\t23\n"
         "sound\tclassic\tsubdivisions 0 dB\t4 clicks a beat\n"},
        // A row where the trainer steps the tempo; the silent bars.
        {{"-t", "100", "-m", "9", "--trainer", "+25/3:150", "--mute", "1/2"},
         "start     bar  meter  tempo  pattern  muted  label      length\n"
         "0:00.000  1    4/4    100    -        2-3    Section 1  0:07.200\n"
         "0:07.200  4    4/4    125    -        5-6    -          0:05.760\n"
         "0:12.960  7    4/4    150    -        8-9    -          0:04.800\n"
         "total 0:17.760, 9 bars, 36 beats\n"
         "sound woodblock\n"},
    };
    for (const auto& [options, table] : rows) {
        std::vector<std::string> args{"show"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = clicktrack(args);
        EXPECT_EQ(r.status, 0) << options.back();
        EXPECT_EQ(r.out, table);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(namesIn(dir.path()), "long.txt song.txt");
}

TEST_F(CommandLineRun, CtrlCStopsPlayingAndWritingCleanly) {
    BackgroundRun loop(dir.path(), "", 0, {"play", "-d", "null", "--loop", "-q"});
    // A loaded machine may take longer than that to start it.
    ::usleep(300000);
    ASSERT_TRUE(waitFor([&] { return loop.catches(SIGINT); }));
    loop.signal(SIGINT);
    EXPECT_EQ(loop.wait().status, 130);

    ASSERT_EQ(clicktrack({"render", "-m", "1", "-q"}).status, 0);
    const std::string before = readFile(file("click.wav"));
    BackgroundRun render(dir.path(), "", 0, {"render", "-m", "400"});
    ASSERT_TRUE(waitFor([&] { return namesIn(dir.path()).find(".new-") != std::string::npos; }));
    render.signal(SIGINT);
    const RunResult r = render.wait();
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.err, "clicktrack: Interrupted; 'click.wav' is unchanged.\n");
    EXPECT_TRUE(readFile(file("click.wav")) == before);
    EXPECT_EQ(namesIn(dir.path()), "click.wav");
}

// Whatever the command line is given, no file it reads or writes is lost,
// it never hangs, and it holds memory in proportion to what it writes.
TEST_F(CommandLineRun, NoOutputReplacesAnInputOrAnotherOutput) {
    writeFile(file("song.txt"), "verse: 2 120\n");
    writeFile(file("set.txt"), "rate\t48000\n");
    writeFile(file("self.txt"), "save\tself.txt\n");
    std::filesystem::create_symlink("song.txt", file("alias.txt"));
    const auto refused = [](const std::string& what) {
        return "clicktrack: " + what + "\nTry 'clicktrack --help'.\n";
    };
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--map", "song.txt", "--labels", "song.txt"},
         refused("--labels names the file --map reads, 'song.txt'.")},
        {{"--map", "song.txt", "--midi", "song.txt"},
         refused("--midi names the file --map reads, 'song.txt'.")},
        {{"--map", "song.txt", "-o", "song.txt"},
         refused("--output names the file --map reads, 'song.txt'.")},
        {{"--map", "song.txt", "-a", "-o", "alias.txt"},
         refused("--output names the file --map reads, 'song.txt'.")},
        {{"--map", "alias.txt", "--midi", "song.txt"},
         refused("--midi names the file --map reads, 'alias.txt'.")},
        {{"--settings", "set.txt", "-o", "set.txt"},
         refused("--output names the file --settings reads, 'set.txt'.")},
        {{"--settings", "self.txt"},
         refused("the output file names the file --settings reads, 'self.txt'.")},
        {{"--settings", "/dev/stdout", "-o", "-"},
         refused("--settings names the file standard output goes to, '/dev/stdout'.")},
        {{"--map", "song.txt", "-o", "x.wav", "--midi", "alias.txt"},
         refused("--midi names the file --map reads, 'song.txt'.")},
        {{"-o", "x.wav", "--labels", "./x.wav"},
         refused("--output and --labels name the same file './x.wav'.")},
    };
    const auto before = folder();
    for (const auto& [options, message] : rows) {
        std::vector<std::string> args{"render", "-q"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = clicktrack(args);
        EXPECT_EQ(r.status, 2) << options.back();
        EXPECT_EQ(r.err, message);
        EXPECT_TRUE(folder() == before) << options.back();
    }
}

TEST_F(CommandLineRun, AFileSizeLimitStopsEveryWriteAndLeavesNoFileBehind) {
    ASSERT_EQ(clicktrack({"render", "-m", "1", "-q", "-o", "old.wav"}).status, 0);
    std::string many;
    for (int i = 0; i < 300; ++i) many += "part" + std::to_string(i) + ": 1 240\n";
    writeFile(file("many.txt"), many);
    // Long names make a MIDI file larger than the wave file, so that it
    // meets the limit first.
    std::string named;
    for (int i = 0; i < 300; ++i) named += std::string(240, 'x') + std::to_string(i) + ": 1 240\n";
    writeFile(file("named.txt"), named);
    struct Row {
        std::vector<std::string> args;
        uint64_t limit;
        std::string err;
    };
    const std::string tooLarge = "clicktrack: Can't write ";
    for (const Row& row : {
             Row{{"-m", "8", "-o", "new.wav"}, 300000, "'new.wav': File too large; 'new.wav' was not written."},
             Row{{"-m", "8", "-a", "-o", "old.wav"}, 300000, "'old.wav': File too large; 'old.wav' is unchanged."},
             Row{{"-m", "8", "-a", "--markers", "-o", "old.wav"}, 300000,
                 "'old.wav': File too large; 'old.wav' is unchanged."},
             Row{{"--map", "named.txt", "-r", "100", "-f", "20", "--bits", "16", "--midi", "new.mid",
                  "-o", "new.wav"},
                 70000,
                 "'new.mid': File too large; nothing was written."},
             Row{{"--map", "many.txt", "--labels", "new.txt", "-o", "new.wav"}, 4096,
                 "'new.txt': File too large; nothing was written."}}) {
        const auto before = folder();
        std::vector<std::string> args{"render", "-q"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = BackgroundRun(dir.path(), "", row.limit, args).wait();
        EXPECT_EQ(r.status, 1) << row.args.back();
        EXPECT_EQ(r.err, tooLarge + row.err + "\n");
        EXPECT_TRUE(folder() == before) << row.args.back();
    }
}

TEST_F(CommandLineRun, NothingToPlayPlaysNothingAndSaysSoOnce) {
    writeCaptureAsoundrc(dir.path(), file("cap.raw"));
    writeFile(file("empty.txt"), "tmap\t120\t4\t0\n");
    const std::string empty = "clicktrack: nothing to play: the track is empty.\n";
    for (const auto& [options, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--seconds", "0"}, empty},
             {{"-t", "100-200", "-m", "0"}, empty},
             {{"-m", "0"}, empty},
             {{"-m", "0", "--accent", "--count-in", "1"}, empty},
             {{"--map", "empty.txt"}, empty},
             {{"-m", "0", "--seconds", "1"}, empty}}) {
        std::vector<std::string> args{"play", "-d", "cap", "--loop"};
        args.insert(args.end(), options.begin(), options.end());
        const auto start = std::chrono::steady_clock::now();
        const RunResult r = clicktrack(args);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_EQ(r.status, 0) << options.back();
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fileExists(file("cap.raw")) && !readFile(file("cap.raw")).empty());
}

TEST_F(CommandLineRun, HugeMeasuresAndManyLevelsCostWhatIsWritten) {
    std::string levels;
    for (int i = 1; i <= 500; ++i) levels += "1 1/64 10000 " + std::to_string(i / 1000.0) + "\n";
    writeFile(file("levels.txt"), levels);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-b", "2147483647", "-m", "0", "--accent"},
          {"-b", "2147483647", "-m", "0", "-t", "100-200", "--accent", "--subdivide", "4"},
          {"--map", "levels.txt", "-r", "1000000", "-f", "2"}}) {
        std::vector<std::string> args{"render", "-q", "-o", "out.wav"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = clicktrack(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_LT(r.peakKiB, 256 * 1024) << options.back();
    }
}

TEST_F(CommandLineRun, MessagesAndEdgesSayWhatIsTrue) {
    ASSERT_EQ(clicktrack({"render", "-m", "1", "-q", "-o", "ro.wav"}).status, 0);
    ::chmod(file("ro.wav").c_str(), 0444);
    const RunResult readOnly =
        BackgroundRun(dir.path(), "", 0, {"render", "-a", "-o", "ro.wav"}, true).wait();
    EXPECT_EQ(readOnly.status, 1);
    EXPECT_EQ(readOnly.err, "clicktrack: 'ro.wav' can't be opened to add to it: Permission denied; "
                            "nothing was added.\n");
    // The command line takes names of any length; the device is then what fails.
    const std::string longName = std::string(200, 'n') + ".wav";
    EXPECT_EQ(clicktrack({"render", "-m", "1", "-q", "-o", longName}).status, 0);
    EXPECT_TRUE(fileExists(file(longName)));
    EXPECT_EQ(clicktrack({"play", "-q", "-d", "plughw:CARD=NoSuchCard,DEV=0"}).status, 1);
    // A link to a file not made yet makes that file and stays a link.
    std::filesystem::create_symlink("made.wav", file("link.wav"));
    std::filesystem::create_symlink("made.txt", file("link.txt"));
    EXPECT_EQ(clicktrack({"render", "-m", "1", "-q", "-o", "link.wav", "--labels", "link.txt"}).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(file("link.wav")));
    EXPECT_TRUE(readFile(file("made.wav")) == readFile(file("ro.wav")));
    EXPECT_EQ(readFile(file("made.txt")), "0.000000\t2.000000\tSection 1\n");
    // Help or a summary that cannot be written is a failure.
    for (const char* args : {" --help", " render -m 1 -o full.wav", " --version", " show"}) {
        const std::string command = "cd '" + dir.path() + "' && '" CLICKTRACK_BIN "'" + args +
                                    " >/dev/full 2>/dev/null";
        EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1) << args;
    }
    // A count-in too long for the frame counter is refused with the track, not dropped.
    writeFile(file("slow.txt"), "tmap\t1\t4\t1\n");
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-t", "1", "-m", "1"}, {"--map", "slow.txt"}}) {
        std::vector<std::string> args{"render", "--count-in", "1000", "-o", "long.wav"};
        args.insert(args.end(), options.begin(), options.end());
        const RunResult r = clicktrack(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "clicktrack: the track is too long: its frames do not fit 31 bits at "
                         "this rate; nothing was written or played.\n");
    }
    EXPECT_FALSE(fileExists(file("long.wav")));
    // A change of tempo without beats after a count-in: the count-in whole,
    // the section starting where it ends.
    ASSERT_EQ(clicktrack({"render", "-q", "-t", "100-200", "-m", "0", "--count-in", "1", "--markers",
                          "--labels", "ramp.txt", "-o", "ramp.wav"}).status, 0);
    EXPECT_EQ(readFile(file("ramp.txt")),
              "0.000000\t2.400000\tCount-in\n2.400000\t2.400000\tSection 1\n");
    // The header, the cue and label chunks of the two markers, 2.4 s of audio.
    EXPECT_EQ(readBytes(file("ramp.wav")).size(), 44u + 60u + 56u + 105840u * 3);
    // Labels hold no zero byte; a "tmap" in a comment is no entry.
    writeFile(file("zero.txt"), std::string("ver\0se: 2 120\n", 15));
    EXPECT_EQ(clicktrack({"render", "--map", "zero.txt", "-o", "zero.wav"}).err,
              "clicktrack: zero.txt: line 1: a label without control characters, not "
              "'ver?se:'.\n");
    // A section too slow for a MIDI tempo is refused before any audio goes out.
    writeFile(file("slow.txt"), "fast: 1 120\nslow: 1 3\n");
    const RunResult slowStream = clicktrack({"render", "--map", "slow.txt", "--midi", "s.mid", "-o", "-"});
    EXPECT_EQ(slowStream.status, 1);
    EXPECT_EQ(slowStream.out, "");
    EXPECT_EQ(slowStream.err, "clicktrack: a beat of 'slow' is too long for a MIDI tempo (at most "
                              "16.777215 seconds a quarter note); nothing was written.\n");
    writeFile(file("comment.txt"), "2 120  # was\ttmap\t120\t4\t2\n");
    EXPECT_EQ(clicktrack({"render", "-q", "--map", "comment.txt", "-o", "comment.wav"}).status, 0);
}

// The display: one line on the terminal, rewritten in place, that ends
// where the play ends. The null device plays at once, so the line shows the
// last beat played: the count-in counted apart, the bar in the song and in
// its section, the tempo in force through a change, the time played and left.
TEST_F(CommandLineRun, TheDisplayShowsWhereTheSongIsOnATerminalOnly) {
    writeCaptureAsoundrc(dir.path(), file("cap.raw"));
    writeFile(file("song.txt"), "Intro: 2 3/4 120\nVerse 1: 1 90-120\n");
    const struct {
        std::vector<std::string> options;
        std::string line;
    } table[] = {
        {{"--map", "song.txt", "--count-in", "1"},
         "\rVerse 1  bar 3 (1/1)  beat 4/4  112.5 bpm  0:06.3, 0:00.5 left\x1b[K\r\n"},
        {{"-t", "120", "--count-in", "2", "--seconds", "0.6"},
         "\rCount-in  bar 1/2  beat 2/4  120 bpm  0:00.5, 0:00.1 left\x1b[K\r\n"},
        {{"-t", "97.3", "-m", "2", "-b", "3", "--loop", "--seconds", "4"},
         "\rSection 1  bar 1 (1/2)  beat 1/3  97.3 bpm  0:03.7, 0:00.3 left\x1b[K\r\n"},
        // The trained tempo; a muted bar counted all the same.
        {{"-t", "100", "-m", "4", "--trainer", "+20/1", "--mute", "1/1"},
         "\rSection 1  bar 4 (4/4)  beat 4/4  160 bpm  0:07.2, 0:00.4 left\x1b[K\r\n"},
    };
    for (const auto& row : table) {
        std::vector<std::string> args{"play", "-d", "cap"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const RunResult shown = runOnTerminal(dir.path(), args);
        EXPECT_EQ(shown.status, 0);
        const size_t last = shown.out.rfind('\r', shown.out.size() - 3);
        ASSERT_NE(last, std::string::npos) << shown.out;
        EXPECT_EQ(shown.out.substr(last), row.line) << shown.out;
        // Quiet, or with standard error no terminal, nothing is shown.
        args.push_back("-q");
        EXPECT_EQ(runOnTerminal(dir.path(), args).out, "");
        args.pop_back();
        const RunResult piped = clicktrack(args);
        EXPECT_EQ(piped.out + piped.err, "");
    }
}

}  // namespace
