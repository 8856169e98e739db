// A file people keep, never left half written by a failure, a power cut
// or another copy of the program: the new file is written beside the old
// one with its owner and permissions, put on disk and renamed over it; or,
// dropped without commit, removed. The old file, regular only (a plain file
// in place of a device or a FIFO would break whatever uses it), stays
// locked (an advisory lock) until after the rename, so that two programs
// writing it take turns; a locked file may also be appended to in place.
// A link to a file not made yet makes the file where it points.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

// Why a step failed; the caller words it.
struct FileProblem {
    enum class Step {
        Open,         // the old file can't be opened (read-only, say)
        NotRegular,   // a folder (error EISDIR), a FIFO, a device
        Lock,         // the lock can't be taken
        Replaced,     // another program kept replacing the file meanwhile
        Interrupted,  // a stop signal came while waiting for the lock
        Create,       // the new file can't be made
        Mode,         // the new file can't take the old one's permissions
    };
    Step step;
    int error = 0;   // errno, when there is one
    int signal = 0;  // for Step::Interrupted
};
using FileResult = std::optional<FileProblem>;

// The system's text for the problem's error, or "Not a regular file".
std::string problemText(const FileProblem& problem);

class KeptFile {
public:
    explicit KeptFile(std::string path);
    ~KeptFile();
    KeptFile(const KeptFile&) = delete;
    KeptFile& operator=(const KeptFile&) = delete;

    // Opens the old file with `openFlags` and locks it. Waits while another
    // program holds the lock (a stop signal ends the wait); when that
    // program replaced the file meanwhile, starts again. A missing file is
    // no failure unless `mustExist`.
    FileResult lock(int openFlags, bool mustExist);

    // Makes the new file, open for writing as fd(). Unless lock() came
    // first, locks the old file opened for writing: a read-only file is
    // not replaced.
    FileResult create();

    int fd() const { return fd_; }
    int oldFd() const { return oldFd_; }  // once locked
    bool existed() const { return existed_; }
    uint64_t oldLength() const { return static_cast<uint64_t>(old_.st_size); }

    // Each 0 or an errno. finish: the new file's data on disk, and the file
    // closed: all that can fail but the rename. commit: finished, renamed
    // over the old one, the folder on disk, the lock ended. release: the
    // old file closed, the lock ended.
    int finish();
    int commit();
    int release();
    void discard();  // removes the new file now

private:
    std::string path_;       // as given
    std::string target_;     // the file itself, a link followed
    std::string temporary_;  // the new file, while it is written
    bool examined_ = false;  // the old file was looked for
    bool existed_ = false;
    struct stat old_ {};     // as it was once locked
    int fd_ = -1;
    int oldFd_ = -1;
};
