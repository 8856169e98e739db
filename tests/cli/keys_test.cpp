// Keys while `play` plays, driven through a pseudo-terminal with the device
// captured through ALSA's file plugin and held to real time by a script
// that drains the capture's pipe at the byte rate; and setlists, checked,
// played in order and written a file a song. Positions are read from the
// capture, never from the clock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/keys.hpp"
#include "cli/setlist.hpp"
#include "cli/stage_display.hpp"
#include "support/background_run.hpp"

namespace {

constexpr int64_t kBeat120 = 22050;  // frames of a beat at 120 bpm, 44100 Hz

// The program on a pseudo-terminal of its own: keys in, display out, and
// the terminal's settings once it has ended.
class Terminal {
public:
    Terminal(const std::string& dir, const std::vector<std::string>& args) {
        pid_ = startOnTerminal(dir, args, master_);
        // Held open so that the settings outlive the program.
        slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
        ::tcgetattr(slave_, &before_);
    }
    ~Terminal() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(slave_);
        ::close(master_);
    }
    void send(const std::string& keys) const { EXPECT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }
    void signal(int number) const { ::kill(pid_, number); }
    // Reads what it shows until `text` appears; false after a minute without.
    bool waitFor(const std::string& text) {
        return ::waitFor([&] { read(50); return shown.find(text) != std::string::npos; }, 60.0);
    }
    // Its exit status (128 + the signal that killed it).
    int finish() {
        int status = 0;
        ::waitFor([&] { read(20); return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 120.0);
        pid_ = -1;
        read(0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Whether the settings are back as they were before it started.
    bool restored() const {
        termios after{};
        ::tcgetattr(slave_, &after);
        return after.c_lflag == before_.c_lflag && after.c_cc[VMIN] == before_.c_cc[VMIN];
    }
    std::string shown;

private:
    void read(int milliseconds) {
        pollfd in{master_, POLLIN, 0};
        char buffer[4096];
        while (::poll(&in, 1, milliseconds) > 0) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            shown.append(buffer, static_cast<size_t>(n));
            milliseconds = 0;
        }
    }
    int master_ = -1, slave_ = -1;
    pid_t pid_ = -1;
    termios before_{};
};

// The "speaker": tests/support/pacer.py draining the capture's named pipe
// in real time, for one run of the program; it ends when the program closes
// the device, and is waited for.
class Pacer {
public:
    Pacer(const std::string& fifo, const std::string& capture) {
        pid_ = ::fork();
        if (pid_ == 0) {
            // In a session of its own, so that Ctrl-C reaches the program alone.
            ::setsid();
            ::execlp("python3", "python3", CLICKTRACK_PACER, fifo.c_str(), capture.c_str(), "132300",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Pacer() {
        if (!::waitFor([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, 10.0)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

class KeysRun : public CommandLineFolder {
protected:
    void SetUp() override {
        ::mkfifo(file("speaker").c_str(), 0600);
        writeFile(file(".asoundrc"), "pcm.cap {\n  type file\n  slave.pcm \"null\"\n  file \"" +
                                         file("speaker") + "\"\n  format \"raw\"\n}\n");
    }
    // Runs the program on a terminal, the pacer draining its device.
    struct Play {
        Play(KeysRun& run, const std::vector<std::string>& args)
            : pacer(run.file("speaker"), run.file("cap.raw")), terminal(run.dir.path(), args) {}
        Pacer pacer;
        Terminal terminal;
    };
    int64_t capturedFrames() const {
        struct stat s {};
        return ::stat(file("cap.raw").c_str(), &s) == 0 ? static_cast<int64_t>(s.st_size) / 3 : 0;
    }
    // Waits until the capture holds `frames`.
    void reach(int64_t frames) const {
        ASSERT_TRUE(waitFor([&] { return capturedFrames() >= frames; }, 60.0));
    }
    // Where each click starts: a sounding frame after at least 2000 silent ones.
    std::vector<int64_t> onsets() const {
        const std::vector<uint8_t> bytes = readBytes(file("cap.raw"));
        std::vector<int64_t> starts;
        int64_t lastSound = -100000;
        for (size_t i = 0; i + 3 <= bytes.size(); i += 3) {
            if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 0) continue;
            const int64_t frame = static_cast<int64_t>(i / 3);
            if (frame - lastSound > 2000) starts.push_back(frame);
            lastSound = frame;
        }
        return starts;
    }
    // The loudest sample of the click that starts at `frame`.
    int32_t peak(int64_t frame) const {
        const std::vector<uint8_t> bytes = readBytes(file("cap.raw"));
        int32_t most = 0;
        for (size_t i = static_cast<size_t>(frame) * 3; i + 3 <= bytes.size() && i < static_cast<size_t>(frame + 500) * 3; i += 3) {
            const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(bytes[i]) << 8 | static_cast<uint32_t>(bytes[i + 1]) << 16 |
                                                   static_cast<uint32_t>(bytes[i + 2]) << 24) / 256;
            most = std::max(most, std::abs(v));
        }
        return most;
    }
    static std::vector<int64_t> gaps(const std::vector<int64_t>& starts) {
        std::vector<int64_t> g;
        for (size_t i = 1; i < starts.size(); ++i) g.push_back(starts[i] - starts[i - 1]);
        return g;
    }
};

bool near(int64_t a, int64_t b) { return std::llabs(a - b) <= 1; }

// A key lands on the first beat not yet handed over, after the frames
// played when it was pressed and within a beat and the device's slack of
// them; a tap sequence lands on the first beat of a bar.
TEST_F(KeysRun, ATempoKeyAndTapsLandOnTheExpectedBeat) {
    Play run(*this, {"play", "-d", "cap", "-t", "120", "-m", "12", "-q"});
    Terminal& t = run.terminal;
    reach(3 * kBeat120);
    const int64_t pressed = capturedFrames();
    t.send("+");
    reach(9 * kBeat120);
    for (int i = 0; i < 4; ++i) {
        t.send("t");
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    reach(20 * kBeat120);
    t.send("q");
    EXPECT_EQ(t.finish(), 0);
    const std::vector<int64_t> g = gaps(onsets());
    // 120 bpm, then 121 from one beat on, then the tapped tempo from a bar on.
    size_t i = 0;
    while (i < g.size() && near(g[i], kBeat120)) ++i;
    ASSERT_LT(i, g.size());
    const int64_t changedAt = onsets()[i];
    EXPECT_GE(changedAt, pressed);
    // Within a beat as a rule; a plan that comes too late for its beat on a
    // loaded machine takes the next.
    if (!CLICKTRACK_EMULATED) {
        EXPECT_LT(changedAt, pressed + 2 * kBeat120 + 44100 / 4);
    }
    const int64_t tapSlack = CLICKTRACK_EMULATED ? 3000 : 1500;
    size_t j = i;
    while (j < g.size() && near(g[j], 21868)) ++j;  // 60 / 121 s
    EXPECT_GT(j, i);
    ASSERT_LT(j + 3, g.size());
    // The taps' tempo: one beat length from a bar's first beat on, about 150 bpm.
    EXPECT_EQ(j % 4, 0u) << j;
    EXPECT_NEAR(g[j], 17640, tapSlack);
    for (size_t k = j + 1; k < g.size() && k < j + 3; ++k) EXPECT_TRUE(near(g[k], g[j]));
}

// Pause and mute keep the grid: every click falls on a beat of the song,
// none twice, and the song goes on from a bar after a pause.
TEST_F(KeysRun, PauseAndMuteKeepTheBeatGrid) {
    Play run(*this, {"play", "-d", "cap", "-t", "120", "-m", "8", "--pattern", "Xxxx"});
    Terminal& t = run.terminal;
    reach(2 * kBeat120);
    t.send("m");
    EXPECT_TRUE(t.waitFor("muted"));
    reach(5 * kBeat120);
    t.send("m");
    reach(8 * kBeat120);
    t.send(" ");
    EXPECT_TRUE(t.waitFor("paused"));
    reach(12 * kBeat120);
    t.send(" ");
    reach(15 * kBeat120);
    t.send("q");
    EXPECT_EQ(t.finish(), 0);
    const std::vector<int64_t> starts = onsets();
    const std::vector<int64_t> g = gaps(starts);
    // Muted beats leave whole beats of silence; the pause leaves a gap after
    // which the clicks keep a beat's distance again.
    size_t silent = 0, paused = 0;
    for (size_t i = 0; i < g.size(); ++i) {
        if (near(g[i], kBeat120)) continue;
        if (paused == 0 && silent == 0) {
            EXPECT_TRUE(near(g[i] % kBeat120, 0) || near(g[i] % kBeat120, kBeat120)) << g[i];
            silent = i + 1;
        } else {
            paused = i + 1;
        }
    }
    EXPECT_GT(silent, 0u);
    ASSERT_GT(paused, silent);
    // The song goes on from a bar's first beat: the accent.
    EXPECT_EQ(peak(starts[paused]), peak(starts[0]));
    EXPECT_GT(peak(starts[paused]), peak(starts[1]));
    EXPECT_NE(t.shown.find("  muted"), std::string::npos);
}

// n and the right arrow go to the next section, p and the left arrow back.
TEST_F(KeysRun, NextAndPreviousSectionJump) {
    writeFile(file("song.txt"), "Verse: 4 120\nChorus: 4 150\n");
    Play run(*this, {"play", "-d", "cap", "--map", "song.txt", "-q"});
    Terminal& t = run.terminal;
    reach(2 * kBeat120);
    t.send("n");
    reach(9 * kBeat120);
    t.send("\x1b[D");
    reach(14 * kBeat120);
    t.send("\x1b[C");
    reach(20 * kBeat120);
    t.send("q");
    EXPECT_EQ(t.finish(), 0);
    // Verse, Chorus, Verse, Chorus again: each run shorter than its section.
    std::vector<std::pair<int64_t, int>> runs;  // beat length, count
    for (const int64_t gap : gaps(onsets())) {
        const int64_t kind = near(gap, kBeat120) ? kBeat120 : near(gap, 17640) ? 17640 : gap;
        if (!runs.empty() && runs.back().first == kind) ++runs.back().second;
        else runs.push_back({kind, 1});
    }
    ASSERT_GE(runs.size(), 4u);
    EXPECT_EQ(runs[0].first, kBeat120);
    EXPECT_EQ(runs[1].first, 17640);
    EXPECT_EQ(runs[2].first, kBeat120);
    EXPECT_EQ(runs[3].first, 17640);
    EXPECT_LT(runs[0].second, 15);
    EXPECT_LT(runs[1].second, 15);
}

// However the play ends, the terminal gets its settings back.
TEST_F(KeysRun, TheTerminalIsRestoredAfterQuitCtrlCAndSigterm) {
    const struct {
        const char* keys;
        int signal;
        int status;
    } ways[] = {{"q", 0, 0}, {"\x1b", 0, 0}, {"\x03", 0, 130}, {"", SIGTERM, 143}};
    for (const auto& way : ways) {
        Play run(*this, {"play", "-d", "cap", "--loop"});
        Terminal& t = run.terminal;
        reach(capturedFrames() + kBeat120);
        if (way.signal) t.signal(way.signal);
        else t.send(way.keys);
        EXPECT_EQ(t.finish(), way.status) << way.status;
        EXPECT_TRUE(t.restored()) << way.status;
    }
    // Not a terminal: no keys, the very frames as before.
    const RunResult piped = clicktrack({"play", "-d", "null", "-m", "1", "-q"});
    EXPECT_EQ(piped.status, 0);
}

TEST(Keys, BytesAreToldApartAsKeys) {
    const struct {
        std::string bytes;
        bool idle;
        std::vector<Key> keys;
        std::string left;
    } table[] = {
        {" +-tq?", false, {Key::Space, Key::Faster, Key::Slower, Key::Tap, Key::Quit, Key::Help}, ""},
        {"\x1b[A\x1b[B\x1b[C\x1b[D", false, {Key::Faster, Key::Slower, Key::Next, Key::Previous}, ""},
        {"\x1b[5~\x1b[6~\x1bOC", false, {Key::MuchFaster, Key::MuchSlower, Key::Next}, ""},
        {"n\x1b[", false, {Key::Next}, "\x1b["},  // the rest of the sequence is still to come
        {"\x1b", false, {}, "\x1b"},
        {"\x1b", true, {Key::Quit}, ""},  // a lone Esc
        {"\x1b[15~m\r", false, {Key::Other, Key::Mute, Key::Enter}, ""},
    };
    for (const auto& row : table) {
        std::string pending = row.bytes;
        EXPECT_EQ(takeKeys(pending, row.idle), row.keys) << row.bytes;
        EXPECT_EQ(pending, row.left);
    }
    TapTempo taps;
    EXPECT_FALSE(taps.tap(0.0));
    EXPECT_FALSE(taps.tap(0.5));
    EXPECT_DOUBLE_EQ(*taps.tap(1.0), 120.0);
    EXPECT_FALSE(taps.tap(3.5));  // forgotten after 2 s: counting again
}

// The stage display's digits: the font's dots as blocks, wider than high.
TEST(Keys, TheStageDisplayDrawsBigDigits) {
    std::vector<std::string> rows = bigText("1.4", 1, 1);
    for (std::string& row : rows) {
        for (size_t at = row.find("\xe2\x96\x88"); at != std::string::npos; at = row.find("\xe2\x96\x88")) {
            row.replace(at, 3, "#");
        }
    }
    // 1, '.', 4: three dots wide, a dot apart.
    EXPECT_EQ(rows, (std::vector<std::string>{" #      # #", "##      # #", " #      ###",
                                              " #        #", "###  #    #"}));
    EXPECT_EQ(bigText("7", 2, 3).size(), 15u);
    EXPECT_EQ(bigText("7", 2, 3)[0], std::string(6 * 3, ' ').replace(0, 18, "\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88\xe2\x96\x88"));
}

class SetlistRun : public CommandLineFolder {};

TEST_F(SetlistRun, AWrongLineRefusesTheWholeSetlist) {
    writeCaptureAsoundrc(dir.path(), file("cap.raw"));
    const struct {
        std::string text;
        std::string err;
    } table[] = {
        {"One -t 120\n# two\n\nThree -t fast\n",
         "clicktrack: set.txt:4: --tempo must be a number of beats per minute above 0, not 'fast'.\n"},
        {"\"Open quote -t 120\n", "clicktrack: set.txt:1: a quote (\") that is not closed\n"},
        {"-t 120\n", "clicktrack: set.txt:1: a song's name first, then its options, not '-t'\n"},
        {"A -m 1\nB --map none.txt\n",
         "clicktrack: set.txt:2: Can't open tempo map file 'none.txt': No such file or directory.\n"},
        {"A -m 1\nB --gap 2\n", "clicktrack: set.txt:2: --gap belongs on the command line, not on a song's line.\n"},
    };
    for (const auto& row : table) {
        writeFile(file("set.txt"), row.text);
        const RunResult r = clicktrack({"play", "-d", "cap", "--setlist", "set.txt"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, row.err);
        EXPECT_FALSE(fileExists(file("cap.raw")));
    }
    writeFile(file("set.txt"), "'My Song!' -m 1\n'My Song?' -m 2\n");
    ::mkdir(file("out").c_str(), 0755);
    const RunResult clash = clicktrack({"render", "--setlist", "set.txt", "-o", "out"});
    EXPECT_EQ(clash.err, "clicktrack: set.txt:2: 'My Song?' would be written to 'My_Song_.wav', as "
                         "the song of line 1 is.\n");
    EXPECT_EQ(namesIn(file("out")), "");
}

TEST_F(SetlistRun, SongsArePlayedInOrderAndWrittenAFileEach) {
    writeCaptureAsoundrc(dir.path(), file("cap.raw"));
    writeFile(file("set.txt"), "# tonight\nOpener -t 120 -m 1\n\"Slow one\" -t 60 -m 1 --sound beep  # ballad\n"
                               "../Last -t 150 -m 1 -b 2\n");
    // Without a terminal or --gap, each song follows when standard input ends.
    const RunResult played = clicktrack({"play", "-d", "cap", "--setlist", "set.txt", "--sound", "tick", "-q"});
    EXPECT_EQ(played.status, 0) << played.err;
    ::mkdir(file("out").c_str(), 0755);
    const RunResult written = clicktrack({"render", "--setlist", "set.txt", "-o", "out", "-q", "--sound", "tick"});
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(namesIn(file("out")), "Opener.wav Slow_one.wav _._Last.wav");
    // The songs in the order of the list, the very frames render writes.
    std::string frames;
    for (const char* name : {"Opener.wav", "Slow_one.wav", "_._Last.wav"}) {
        frames += readFile(file(std::string("out/") + name)).substr(44);
    }
    EXPECT_TRUE(readFile(file("cap.raw")) == frames);
    EXPECT_EQ(safeFileName(".hidden/name\x01"), "_hidden_name_");
}

}  // namespace
