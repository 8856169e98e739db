// The wave-file object: finding the audio by walking the chunks, appending
// where the audio ends, and leaving the user's file as it was whenever
// writing fails, is interrupted, or meets another program; and every other
// file the program writes, when a write, a flush or a rename fails.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/audio_support.hpp"
#include "support/background_run.hpp"
#include "wave/chunk_walk.hpp"
#include "wave/riff_chunks.hpp"
#include "wave/wave_file.hpp"

namespace {

constexpr uint32_t kTrackBytes = 12700800;  // the default track at 44100, 24 bits
const std::string kExampleMap = "tmap\t120\t4\t48\ntmap\t160\t3\t16\n";

std::string chunk(const std::string& id, const std::string& payload) {
    std::string s = id;
    putLE(s, static_cast<uint32_t>(payload.size()), 4);
    s += payload;
    if (payload.size() % 2 == 1) s += '\0';
    return s;
}

// A 24-bit file at 44100 with `extra` chunks between the format and the audio.
std::string waveWith(const std::string& extra, const std::string& audio, uint32_t rate = 44100,
                     uint16_t bits = 24) {
    std::string fmt;
    for (const auto& [v, n] : {std::pair<uint32_t, int>{1, 2}, {1, 2}, {rate, 4},
                               {rate * (bits / 8u), 4}, {bits / 8u, 2}, {bits, 2}}) {
        putLE(fmt, v, n);
    }
    const std::string body = "WAVE" + chunk("fmt ", fmt) + extra + chunk("data", audio);
    std::string s = "RIFF";
    putLE(s, static_cast<uint32_t>(body.size()), 4);
    return s + body;
}

WaveLayout walk(const std::string& file) {
    return walkChunks(reinterpret_cast<const uint8_t*>(file.data()), file.size(), file.size());
}

// Each chunk as "id size held", a '+' after a whole one, then where the
// walk ended.
std::string chunksOf(const std::string& bytes) {
    RiffChunks walk(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    RiffChunk c;
    std::string seen;
    while (walk.next(c)) {
        seen += std::string(reinterpret_cast<const char*>(c.id), 4) + " " + std::to_string(c.size) +
                " " + std::to_string(c.held) + (c.whole ? "+ " : " ");
        if (std::string(reinterpret_cast<const char*>(c.payload), c.held) !=
            bytes.substr(static_cast<size_t>(c.offset) + 8, c.held)) {
            seen += "(payload elsewhere) ";
        }
    }
    return seen + "@" + std::to_string(walk.offset());
}

TEST(RiffChunks, GiveEveryHeaderInTheRangeAndNoByteBeyondIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "@0"},
        {"1234567", "@0"},
        {chunk("abcd", "xyz") + chunk("efgh", ""), "abcd 3 3+ efgh 0 0+ @20"},
        {chunk("abcd", "xyz").substr(0, 11), "abcd 3 3 @12"},               // no pad byte
        {chunk("abcd", "xy") + "1234567", "abcd 2 2+ @10"},                 // a stray tail
        {std::string("JUNK\xf8\xff\xff\xff", 8) + "abcd", "JUNK 4294967288 4 @4294967296"},
        {std::string("JUNK\xff\xff\xff\xff", 8), "JUNK 4294967295 0 @4294967304"},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(chunksOf(bytes), expected) << expected;
}

TEST(ChunkWalk, FindsTheAudioWhereTheChunksLeadAndNowhereElse) {
    const std::string comment = chunk("LIST", "INFOICMT" + std::string("\x0a\0\0\0", 4) + "metadata..");
    struct Case {
        const char* name;
        std::string file;
        bool hasData;
        uint64_t dataTag;
    };
    const Case cases[] = {
        {"plain", waveWith("", "abcdef"), true, 36},
        {"the word data in a comment", waveWith(comment, "abcdef"), true, 36 + comment.size()},
        {"an odd chunk and its pad byte", waveWith(chunk("note", "odd"), "abc"), true, 48},
        // 817508530 samples a second at 16 bits: the byte rate reads "data".
        {"a byte rate spelling data", waveWith("", "ab", 817508530, 16), true, 36},
        {"audio starting at 15000", waveHeader(44100, 24, 1, 6, 15000) + "abcdef", true, 15000},
        {"audio past 15000", waveHeader(44100, 24, 1, 6, 15002) + "abcdef", false, 0},
        {"a chunk running past the end", waveWith(std::string("JUNK\xf8\xff\xff\xff", 8), "ab"),
         false, 0},
        {"no RIFF", "RIFXdata" + waveWith("", "ab").substr(8), false, 0},
    };
    for (const Case& c : cases) {
        const WaveLayout layout = walk(c.file);
        EXPECT_EQ(layout.hasData, c.hasData) << c.name;
        if (c.hasData) {
            EXPECT_EQ(layout.dataTag, c.dataTag) << c.name;
        }
    }
    EXPECT_TRUE(formatMatches(walk(waveWith(comment, "")).format, 44100, 24));
}

TEST(ChunkWalk, TakesTheExtensibleFormOnlyWithPcmSamples) {
    const std::string pcm("\x01\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71", 16);
    const std::string ieeeFloat = "\x03" + pcm.substr(1);
    for (const auto& [subformat, validBits, matches] :
         {std::tuple{pcm, 24, true}, {pcm, 20, false}, {ieeeFloat, 24, false}}) {
        std::string fmt;
        for (const auto& [v, n] : {std::pair<uint32_t, int>{0xFFFE, 2}, {1, 2}, {44100, 4},
                                   {132300, 4}, {3, 2}, {24, 2}, {22, 2},
                                   {static_cast<uint32_t>(validBits), 2}, {4, 4}}) {
            putLE(fmt, v, n);
        }
        std::string file = std::string("RIFF\0\0\0\0WAVE", 12) + chunk("fmt ", fmt + subformat) + chunk("data", "");
        EXPECT_EQ(formatMatches(walk(file).format, 44100, 24), matches) << validBits;
    }
}

TEST(ChunkWalk, EndsTheAudioAtItsStatedSizeInWholeSamples) {
    const WaveLayout odd = walk(waveWith("", "abc"));  // 3 bytes and a pad byte
    EXPECT_EQ(audioEnd(odd, 48, 3), 47u);
    EXPECT_EQ(audioEnd(odd, 200, 3), 47u);  // stray bytes after it
    EXPECT_EQ(audioEnd(odd, 46, 3), 44u);   // cut short: whole samples only
}

TEST(WaveFileObject, RefusesARateWhoseByteRateDoesNotFitTheHeader) {
    const TempDir dir;
    WaveFile file(dir.file("fast.wav"), 2000000000, 24);
    const Outcome r = file.create(0);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->detail.rfind("'" + dir.file("fast.wav") + "' cannot hold 2000000000 samples", 0),
              0u);
    EXPECT_FALSE(fileExists(dir.file("fast.wav")));
}

class WaveSafety : public ::testing::Test {
protected:
    TempDir dir;
    std::string file(const std::string& name) const { return dir.file(name); }
    std::string session(const std::string& commands) const { return startAnswers() + commands + "x\n"; }
    RunResult run(const std::string& commands) { return runProgram(dir.path(), session(commands)); }
    // The track `w` writes for the default settings, without its header.
    std::string defaultTrack() {
        const TempDir fresh;
        runProgram(fresh.path(), session("w\n"));
        return readFile(fresh.file("click.wav")).substr(44);
    }
};

TEST_F(WaveSafety, AppendContinuesTheAudioAndEndsTheFileWithIt) {
    const std::string comment = chunk("LIST", "INFOICMT" + std::string("\x0a\0\0\0", 4) + "metadata..");
    struct Case {
        const char* name;
        std::string before;
        size_t keep;  // bytes of the old file that stay as they were
    };
    const std::string odd = waveWith("", "\x01\x02\x03");
    const Case cases[] = {
        {"metadata reading data before the audio", waveWith(comment, "\x01\x02\x03\x04\x05\x06"),
         44 + comment.size() + 6},
        {"odd length with its pad byte", odd, 47},
        // Every track starts with a silent sample: so do the leftovers of one cut off.
        {"stray bytes of a cut-off append",
         odd.substr(0, 47) + std::string(3, '\0') + std::string(998, '\x7f'), 47},
    };
    const std::string track = defaultTrack();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file("click.wav"), c.before);
        ASSERT_EQ(run("+\n").status, 2);
        const std::string after = readFile(file("click.wav"));
        const bool pad = (c.keep - 44 + kTrackBytes) % 2 == 1;  // audio starts at an even offset
        ASSERT_EQ(after.size(), c.keep + kTrackBytes + (pad ? 1 : 0));
        const size_t dataTag = c.before.rfind("data", c.keep);
        EXPECT_EQ(after.substr(8, dataTag - 4), c.before.substr(8, dataTag - 4));
        EXPECT_EQ(after.substr(dataTag + 8, c.keep - dataTag - 8),
                  c.before.substr(dataTag + 8, c.keep - dataTag - 8));
        EXPECT_TRUE(after.substr(c.keep, kTrackBytes) == track);
        const Bytes b(after.begin(), after.begin() + static_cast<long>(dataTag) + 8);
        EXPECT_EQ(u32At(b, 4), after.size() - 8);
        EXPECT_EQ(u32At(b, dataTag + 4), c.keep - dataTag - 8 + kTrackBytes);
    }
}

// A file system that fills up. Mounting a small one needs root; otherwise
// the program runs under a file size limit, which fails its writes the same way.
class FullDisk : public WaveSafety {
protected:
    void SetUp() override {
        folder = file("disk");
        std::filesystem::create_directory(folder);
        mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    void TearDown() override {
        if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
    }
    RunResult runFull(const std::string& commands) {
        BackgroundRun run(folder, session(commands), mounted ? 0 : 1 << 20);
        return run.wait();
    }
    std::string folder;
    bool mounted = false;
};

TEST_F(FullDisk, FailedWritesLeaveTheOldFileByteForByte) {
    for (const char* commands : {"w\n", "+\n", "rtm\n"}) {
        SCOPED_TRACE(commands);
        ASSERT_EQ(runProgram(folder, session("m\n2\nw\n")).status, 2);  // a good file of 529244 bytes
        writeFile(folder + "/tmap.txt", kExampleMap);
        const std::string before = readFile(folder + "/click.wav");
        const RunResult r = runFull(commands);
        EXPECT_EQ(r.status, 2);
        const std::string cause = mounted ? "No space left on device" : "File too large";
        EXPECT_TRUE(endsWith(r.out, "\nCan't write 'click.wav': " + cause +
                                        "; 'click.wav' is unchanged.\n"))
            << r.out.substr(r.out.size() - 200);
        EXPECT_TRUE(readFile(folder + "/click.wav") == before);
        EXPECT_EQ(namesIn(folder), "click.wav tmap.txt");
    }
}

// Stops each kind of write with a signal once it is well under way.
TEST_F(WaveSafety, ASignalStopsTheWriteAndLeavesTheOldFile) {
    writeFile(file("tmap.txt"), "tmap\t120\t4\t400\n");
    for (const auto& [commands, signal] : {std::pair{"m\n400\nw\n", SIGINT},
                                          {"m\n400\n+\n", SIGTERM}, {"rtm\n", SIGHUP},
                                          {"m\n400\nw\n", SIGXCPU}}) {
        SCOPED_TRACE(commands);
        ASSERT_EQ(run("m\n2\nw\n").status, 2);
        const std::string before = readFile(file("click.wav"));
        BackgroundRun program(dir.path(), session(commands));
        ASSERT_TRUE(waitFor([&] {
            for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
                std::error_code ec;
                if (entry.file_size(ec) > before.size() + (1 << 20)) return true;
            }
            return false;
        }));
        program.signal(signal);
        const RunResult r = program.wait();
        EXPECT_EQ(r.status, 128 + signal);
        EXPECT_TRUE(endsWith(r.out, "\nInterrupted; 'click.wav' is unchanged.\n"));
        EXPECT_TRUE(readFile(file("click.wav")) == before);
        EXPECT_EQ(namesIn(dir.path()), "click.wav tmap.txt");
    }
}

TEST_F(WaveSafety, AppendsTakeTurnsAndNoneIsLost) {
    ASSERT_EQ(run("m\n1\nw\n").status, 2);
    const size_t start = std::filesystem::file_size(file("click.wav"));
    // Another program holds the lock: the append waits for it.
    const int held = ::open(file("click.wav").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    BackgroundRun first(dir.path(), session("+\n"));
    BackgroundRun second(dir.path(), session("+\n"));
    ::usleep(300000);
    EXPECT_EQ(std::filesystem::file_size(file("click.wav")), start);
    ::close(held);
    EXPECT_EQ(first.wait().status, 2);
    EXPECT_EQ(second.wait().status, 2);
    const std::string after = readFile(file("click.wav"));
    ASSERT_EQ(after.size(), start + 2 * kTrackBytes);
    const std::string track = defaultTrack();
    EXPECT_TRUE(after.substr(start, kTrackBytes) == track);
    EXPECT_TRUE(after.substr(start + kTrackBytes) == track);
    EXPECT_EQ(u32At(Bytes(after.begin(), after.begin() + 44), 40), after.size() - 44);
}

TEST_F(WaveSafety, OnlyRegularFilesAreWrittenAndNothingWaitsOnThem) {
    ASSERT_EQ(::mkfifo(file("pipe.wav").c_str(), 0644), 0);
    std::filesystem::create_directory(file("folder.wav"));
    std::filesystem::create_symlink("/dev/null", file("null.wav"));
    for (const auto& [name, command, outcome] :
         {std::tuple{"pipe.wav", "w", "written"}, {"pipe.wav", "+", "added"},
          {"folder.wav", "w", "written"}, {"folder.wav", "+", "added"},
          {"null.wav", "w", "written"}, {"null.wav", "+", "added"}}) {
        const RunResult r = runProgram(dir.path(), session(std::string("n\n") + name + "\n" +
                                                           command + "\n"),
                                       "", RunLimits{10, 0});
        EXPECT_EQ(r.status, 2) << name << " " << command;
        EXPECT_TRUE(endsWith(r.out, std::string("\n'") + name +
                                        "' is not a regular file; nothing was " + outcome + ".\n"))
            << r.out.substr(r.out.size() - 200);
    }
    struct stat null {};
    EXPECT_TRUE(::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode));
    EXPECT_EQ(namesIn(dir.path()), "folder.wav null.wav pipe.wav");
}

// Every file the program writes, with the first write, flush or rename of
// it failing (preloaded tests/support/file_fault_shim.cpp). An append in
// place renames nothing: its cut to the new length fails instead.
TEST_F(WaveSafety, AFailingWriteFlushOrRenameLeavesEveryFileAsItWas) {
    writeFile(file("dodiradoz.txt"), "meas\t2\n");
    writeFile(file("tmap.txt"), "tmap\t120\t4\t2\n");
    ASSERT_EQ(runProgram(dir.path(), "w\nx\n").status, 2);
    writeFile(file("song.mid"), "an older MIDI file\n");
    writeFile(file("labels.txt"), "older labels\n");
    const auto contents = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            files[entry.path().filename().string()] = readFile(entry.path().string());
        }
        return files;
    };
    const auto before = contents();
    const std::string wave = "Can't write 'click.wav': %; 'click.wav' is unchanged.";
    struct Row {
        std::string menu;               // the menu's command, or
        std::vector<std::string> args;  // render's options
        int write;                      // the write that fails
        std::string message;            // when its write or flush fails; % the cause
        const char* last;               // the call putting the work in place
        std::string lastMessage;
        std::string within = "";        // the write counts only on this file
    };
    for (const Row& row : {
             Row{"w", {}, 1, wave, "rename", wave},
             Row{"+", {}, 1, wave, "ftruncate", wave},
             Row{"rtm", {}, 1, wave, "rename", wave},
             Row{"s", {}, 1, "Could not save settings: %; 'dodiradoz.txt' is unchanged.", "rename",
                 "Could not save settings: %; 'dodiradoz.txt' is unchanged."},
             Row{"", {"-o", "new.wav"}, 1, "Can't write 'new.wav': %; 'new.wav' was not written.",
                 "rename", "Can't write 'new.wav': %; 'new.wav' was not written."},
             Row{"", {"--append"}, 1, wave, "ftruncate", wave},
             Row{"", {"--append", "--markers"}, 1, wave, "rename", wave},
             Row{"", {"--midi", "song.mid"}, 1, "Can't write 'song.mid': %; nothing was written.",
                 "rename", wave, "song.mid"},
             // The notes wait in an unnamed spool beside it.
             Row{"", {"--midi", "song.mid"}, 1, "Can't write 'song.mid': %; nothing was written.",
                 "rename", wave, "(deleted)"},
             Row{"", {"--labels", "labels.txt"}, 1,
                 "Can't write 'labels.txt': %; nothing was written.", "rename", wave, "labels.txt"}}) {
        const std::string fails[][3] = {
            {"write:" + std::to_string(row.write) + ":ENOSPC" + (row.within.empty() ? "" : ":" + row.within),
             "No space left on device", row.message},
            {"fsync:1:EIO", "Input/output error", row.message},
            {std::string(row.last) + ":1:EROFS", "Read-only file system", row.lastMessage}};
        for (const auto& [fail, cause, said] : fails) {
            SCOPED_TRACE(row.menu + (row.args.empty() ? "" : row.args.back()) + " " + fail);
            std::string message = said;
            message.replace(message.find('%'), 1, cause);
            std::vector<std::string> args{"render", "-q"};
            args.insert(args.end(), row.args.begin(), row.args.end());
            const Preload shim(CLICKTRACK_FAULT_SHIM, {{"CLICKTRACK_TEST_FAIL", fail}});
            const RunResult r = row.menu.empty() ? BackgroundRun(dir.path(), "", 0, args).wait()
                                                 : BackgroundRun(dir.path(), row.menu + "\nx\n").wait();
            if (row.menu.empty()) {
                EXPECT_EQ(r.status, 1);
                EXPECT_EQ(r.err, "clicktrack: " + message + "\n");
            } else {
                EXPECT_EQ(r.status, 2);
                EXPECT_NE(r.out.find("\n" + message + "\n"), std::string::npos) << r.out;
            }
            EXPECT_TRUE(contents() == before);
        }
    }
}

TEST_F(WaveSafety, WritingThroughALinkReplacesTheFileItNamesAndKeepsItsMode) {
    ASSERT_EQ(run("n\nreal.wav\nm\n1\nw\n").status, 2);
    ::chmod(file("real.wav").c_str(), 0640);
    std::filesystem::create_symlink("real.wav", file("click.wav"));
    ASSERT_EQ(run("w\n").status, 2);
    EXPECT_TRUE(std::filesystem::is_symlink(file("click.wav")));
    EXPECT_EQ(std::filesystem::file_size(file("real.wav")), 44u + kTrackBytes);
    struct stat info {};
    ASSERT_EQ(::stat(file("real.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

}  // namespace
