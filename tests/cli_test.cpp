// The command line run end to end: `render` writes the menu's bytes, `-o -`
// streams them, `play` sends the device the menu's frames, the exit statuses
// and messages follow the command line's rules, and Ctrl-C stops cleanly.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/audio_support.hpp"
#include "support/background_run.hpp"

namespace {

const std::string kExampleMap = "tmap\t120\t4\t48\ntmap\t160\t3\t16\n";

class CommandLineRun : public CommandLineFolder {
protected:
    // The menu's file for the same session, written in a folder of its own.
    std::string menuFile(const std::string& settings, const std::string& commands) {
        const TempDir menu;
        if (!settings.empty()) writeFile(menu.file("dodiradoz.txt"), settings);
        writeFile(menu.file("tmap.txt"), kExampleMap);
        runProgram(menu.path(), (settings.empty() ? startAnswers() : "") + commands + "x\n");
        return readFile(menu.file("click.wav"));
    }
};

TEST_F(CommandLineRun, RenderWritesTheMenusBytesForTheSameSettings) {
    const std::string slow = "rate\t48000\nbits\t16\ntempo\t30.02\nmeter\t3\nmeas\t5\nHz\t90\n";
    writeFile(file("slow.txt"), slow);
    writeFile(file("tmap.txt"), kExampleMap);
    const RunResult plain = clicktrack({"render"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out,
              "click.wav: 48 measures of 4 at 120 bpm, 1:36.000, 44100 Hz 24-bit, 12700844 bytes\n");
    EXPECT_TRUE(readFile(file("click.wav")) == menuFile("", "w\n"));
    ASSERT_EQ(clicktrack({"render", "--settings", "slow.txt", "-o", "slow.wav"}).status, 0);
    EXPECT_TRUE(readFile(file("slow.wav")) == menuFile(slow, "w\n"));
    ASSERT_EQ(clicktrack({"render", "--map", "tmap.txt", "-o", "map.wav", "-q"}).status, 0);
    EXPECT_TRUE(readFile(file("map.wav")) == menuFile("", "rtm\n"));
    // Standard output gets the same file; the summary goes to standard error.
    const RunResult streamed = clicktrack({"render", "-o", "-"});
    EXPECT_TRUE(streamed.out == readFile(file("click.wav")));
    EXPECT_EQ(streamed.err.rfind("standard output: 48 measures of 4", 0), 0u);
}

TEST_F(CommandLineRun, StatusesAndMessagesFollowTheCommandLinesRules) {
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::string tryHelp = "Try 'clicktrack --help'.\n";
    writeFile(file("bad.txt"), "intro: 8 fast\n");
    for (const Row& row : {
             Row{{"render", "--bogus"}, 2, "clicktrack: unknown option '--bogus'.\n" + tryHelp},
             Row{{"render", "-f", "30000"}, 2,
                 "clicktrack: --freq 30000: Frequency must be above 0 and below 22051 Hz (half "
                 "the sample rate).\n" + tryHelp},
             Row{{"play", "--seconds", "60000"}, 2,
                 "clicktrack: --seconds 60000: Audition length must be from 0 to 48695.76 "
                 "seconds at this sample rate.\n" + tryHelp},
             Row{{"render", "-r", "5"}, 2,
                 "clicktrack: --rate 5 does not suit the frequency 60 in force: Frequency must "
                 "be above 0 and below 3 Hz (half the sample rate).\n" + tryHelp},
             Row{{"render", "-m", "200000"}, 1,
                 "clicktrack: the track would make 'click.wav' 4 GiB or larger; nothing was "
                 "written.\n"},
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
             Row{{"play", "--accent", "--pattern", "X..."}, 2,
                 "clicktrack: --accent and --pattern cannot be used together: the pattern says "
                 "where the accents go.\n" + tryHelp},
             Row{{"render", "--map", "bad.txt"}, 1,
                 "clicktrack: bad.txt: line 1: a tempo above 0 and at most 10000 (a number, A-B, "
                 "or one tempo for each beat), not 'fast'.\n"},
             Row{{"render", "-r", "8000", "-f", "3000", "--accent"}, 2,
                 "clicktrack: --accent-freq 4500 (1.5 x --freq): Frequency must be above 0 and "
                 "below 4001 Hz (half the sample rate).\n" + tryHelp},
             Row{{"render", "-t", "100-200", "-m", "2147483647"}, 1,
                 "clicktrack: the track is too long: its frames do not fit 31 bits at this rate; "
                 "nothing was written or played.\n"},
             Row{{"--version"}, 0, ""}}) {
        const RunResult r = clicktrack(row.args);
        EXPECT_EQ(r.status, row.status) << row.args.back();
        if (!row.err.empty()) {
            EXPECT_EQ(r.err, row.err);
        }
    }
    EXPECT_EQ(namesIn(dir.path()), "bad.txt");
}

TEST_F(CommandLineRun, PlaySendsTheDeviceTheMenusFrames) {
    writeCaptureAsoundrc(dir.path(), file("cap.raw"));
    const RunResult played = clicktrack({"play", "-d", "cap", "-t", "96", "-b", "3", "--seconds", "10"});
    EXPECT_EQ(played.status, 0);
    EXPECT_EQ(played.out.substr(0, 21), "measure 1, 96 bpm\nmea");
    const Bytes fromCommandLine = readCapture(file("cap.raw"), 440320 * 3);
    std::filesystem::remove(file("cap.raw"));
    runProgram(dir.path(), startAnswers() + "o\ncap\nt\n96\nb\n3\na\nx\n");
    EXPECT_TRUE(readCapture(file("cap.raw"), 440320 * 3) == fromCommandLine);
    EXPECT_EQ(fromCommandLine.size(), 440320u * 3);
}

TEST_F(CommandLineRun, CtrlCStopsPlayingAndWritingCleanly) {
    BackgroundRun loop(dir.path(), "", 0, {"play", "-d", "null", "--loop", "-q"});
    ::usleep(300000);
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

}  // namespace
