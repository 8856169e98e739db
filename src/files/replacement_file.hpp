// A file written beside the one it replaces and renamed over it when
// complete, so that whoever reads the old file sees it whole until the new
// one is whole, and a failure or a power cut leaves the old one as it was.
//
// Only a regular file is replaced (or the regular file a link names): a
// plain file put in place of a device or a FIFO would break whatever uses
// it. A file the user made read-only is not replaced either. The new file
// takes the old one's permissions.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

class ReplacementFile {
public:
    explicit ReplacementFile(std::string path);
    ~ReplacementFile();  // removes the new file unless it was committed
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Makes the new file; nullopt, or why it cannot be made ("Not a regular
    // file", or the system's text for the error).
    std::optional<std::string> open();

    // The new file, open for writing, once open() succeeded.
    int fd() const { return fd_; }

    // Puts the new file's data on disk and closes it: all that can fail
    // but the rename. Nullopt, or the system's text.
    std::optional<std::string> finish();

    // Puts the new file in place of the old: finished first, then the
    // rename, then the folder on disk. Nullopt, or the system's text.
    std::optional<std::string> commit();

private:
    std::string path_;       // as given
    std::string target_;     // the file itself, a link followed
    std::string temporary_;  // the new file, while it is written
    mode_t mode_ = 0;        // the old file's permissions; 0 when there was none
    int fd_ = -1;
    bool committed_ = false;
};

// Writes `text` whole to `fd`; 0 or an errno.
int writeText(int fd, const std::string& text);
