// A file people keep, changed so that a failure, a power cut or another
// copy of the program running at once never leaves it half written: the
// new file is written beside the old one, takes its owner and permissions,
// goes to disk and is renamed over it; the folder follows to disk. Dropped
// without commit, the new file is removed and the old one is as it was.
//
// Only a regular file is replaced (or the regular file a link names): a
// plain file put in place of a device or a FIFO would break whatever uses
// it. A file the user made read-only is not replaced either. A link to a
// file not made yet makes the file where it points.
//
// Optionally the old file is opened first and locked (an advisory lock)
// until the object goes, after the rename: two programs writing the same
// file then take turns. The locked file may also be changed in place
// (an append) instead of replaced.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

// Why a step failed; the caller words it.
struct FileProblem {
    enum Step {
        kOpen,         // the old file can't be opened or examined
        kNotRegular,   // a folder (error EISDIR when known by its name), a FIFO, a device
        kLock,         // the lock can't be taken
        kReplaced,     // another program kept replacing the file meanwhile
        kInterrupted,  // a stop signal came while waiting for the lock
        kCreate,       // the new file can't be made, or the old one is read-only
        kMode,         // the new file can't take the old one's permissions
    };
    Step step;
    int error = 0;   // errno, when there is one
    int signal = 0;  // for kInterrupted
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

    // Makes the new file, open for writing as fd().
    FileResult create();

    int fd() const { return fd_; }
    int oldFd() const { return oldFd_; }  // once locked
    bool existed() const { return existed_; }
    uint64_t oldLength() const { return oldLength_; }  // as it was once locked

    // Puts the new file's data on disk and closes it: all that can fail
    // but the rename. 0 or an errno.
    int finish();

    // Finishes the new file, renames it over the old one, puts the folder
    // on disk and ends the lock. 0 or an errno.
    int commit();

    // Removes the new file now.
    void discard();

    // Closes the old file, ending the lock. 0 or an errno.
    int release();

private:
    std::string path_;       // as given
    std::string target_;     // the file itself, a link followed
    std::string temporary_;  // the new file, while it is written
    bool examined_ = false;  // the old file was looked for
    bool existed_ = false;
    mode_t mode_ = 0;
    uid_t owner_ = 0;
    gid_t group_ = 0;
    uint64_t oldLength_ = 0;
    int fd_ = -1;
    int oldFd_ = -1;
};
