// Helpers for the tests: temporary folders, files, and running the built
// program with scripted standard input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
std::vector<uint8_t> readBytes(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);

// A FILE* writing into memory, for code that prints to a stream.
class TextSink {
public:
    TextSink();
    ~TextSink();
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    FILE* file() const { return file_; }
    std::string text();  // everything written so far

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    FILE* file_;
};

struct RunResult {
    std::string out;   // standard output
    std::string err;   // standard error
    int status = -1;   // exit status, or -1 when the program did not exit normally
    long peakKiB = 0;  // the most memory it held at once (a background run's)
};

// Limits for one run; 0 means none. A program that runs past `seconds` or
// writes a file past `fileBytes` is killed (its status is then -1), so a run
// that loops without end fails quickly instead of hanging or filling the disk.
// An `unprivileged` run obeys file permissions even when the tests run as
// root: the program then runs as the user nobody (through setpriv), so that
// a read-only file or folder is read-only for it too, and its folder is made
// searchable for that user. When that cannot be done the program does not run
// at all and standard error says why: a test that needs it fails, it is never
// skipped.
struct RunLimits {
    unsigned seconds = 0;
    uint64_t fileBytes = 0;
    bool unprivileged = false;
};

inline RunLimits unprivilegedRun() {
    RunLimits limits;
    limits.unprivileged = true;
    return limits;
}

// Runs the built program in `workDir` with `input` as standard input and HOME
// set to `home` (the workDir when empty), so that an .asoundrc there applies.
RunResult runProgram(const std::string& workDir, const std::string& input,
                     const std::string& home = "", RunLimits limits = {});

// Writes an .asoundrc into `home` defining the PCM "cap": a capture of every
// frame played into `captureFile` (each open appends) over the null device.
void writeCaptureAsoundrc(const std::string& home, const std::string& captureFile);

// Standard input that answers the start-up questions with 44100 Hz and the
// given depth (1 = 16 bits, 2 = 24 bits).
std::string startAnswers(int depthAnswer = 2);
