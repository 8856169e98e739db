#include "io/kept_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/file_paths.hpp"
#include "core/interrupt.hpp"
#include "io/regular_file.hpp"

namespace {

// Attempts at locking a file that other programs keep replacing, and at a
// name for the new file that no other file has.
constexpr int kAttempts = 100;

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string problemText(const FileProblem& problem) {
    return problem.error != 0 ? std::strerror(problem.error) : "Not a regular file";
}

KeptFile::KeptFile(std::string path) : path_(std::move(path)), target_(path_) {}

KeptFile::~KeptFile() {
    discard();
    release();
}

FileResult KeptFile::lock(int openFlags, bool mustExist) {
    examined_ = true;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const RegularFile file = openRegular(path_, openFlags);
        if (file.notRegular) return FileProblem{FileProblem::kNotRegular};
        if (file.fd < 0) {
            if (file.error == ENOENT && !mustExist) return std::nullopt;
            return FileProblem{FileProblem::kOpen, file.error};
        }
        oldFd_ = file.fd;
        existed_ = true;
        while (::flock(oldFd_, LOCK_EX) != 0) {
            if (errno != EINTR) return FileProblem{FileProblem::kLock, errno};
            if (const int signal = interruptSignal()) {
                return FileProblem{FileProblem::kInterrupted, 0, signal};
            }
        }
        // Another program may have changed the file while this one waited:
        // take its length only now that the lock is held.
        struct stat named {}, opened {};
        if (::stat(path_.c_str(), &named) == 0 && ::fstat(oldFd_, &opened) == 0 &&
            sameFile(named, opened)) {
            mode_ = opened.st_mode & 07777;
            owner_ = opened.st_uid;
            group_ = opened.st_gid;
            oldLength_ = static_cast<uint64_t>(opened.st_size);
            return std::nullopt;
        }
        release();
        existed_ = false;
    }
    return FileProblem{FileProblem::kReplaced};
}

FileResult KeptFile::create() {
    if (!examined_) {
        examined_ = true;
        struct stat info {};
        if (::stat(path_.c_str(), &info) == 0) {
            if (!S_ISREG(info.st_mode)) {
                return FileProblem{FileProblem::kNotRegular, S_ISDIR(info.st_mode) ? EISDIR : 0};
            }
            existed_ = true;
            mode_ = info.st_mode & 07777;
            owner_ = info.st_uid;
            group_ = info.st_gid;
        } else if (errno != ENOENT) {
            return FileProblem{FileProblem::kOpen, errno};
        }
    }
    if (existed_) {
        if (char* real = ::realpath(path_.c_str(), nullptr)) {
            target_ = real;
            std::free(real);
        }
        // A file the user made read-only is not replaced.
        if (::access(target_.c_str(), W_OK) != 0) return FileProblem{FileProblem::kCreate, errno};
    } else {
        // A link to a file not made yet: the file is made where it points.
        target_ = followLinks(path_);
    }
    const std::string base = target_ + ".new-" + std::to_string(::getpid());
    for (int n = 0; n < kAttempts && fd_ < 0; ++n) {
        const std::string name = n == 0 ? base : base + "-" + std::to_string(n);
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) temporary_ = name;
        else if (errno != EEXIST) break;
    }
    if (fd_ < 0) return FileProblem{FileProblem::kCreate, errno};
    if (existed_) {
        // The old file's owner keeps it (possible only for root; otherwise
        // the file is already the user's own), and its permissions stay.
        if (::fchown(fd_, owner_, group_) != 0) {
            // Not permitted: the new file belongs to whoever writes it.
        }
        if (::fchmod(fd_, mode_) != 0) return FileProblem{FileProblem::kMode, errno};
    }
    return std::nullopt;
}

int KeptFile::finish() {
    if (fd_ < 0) return 0;
    int error = ::fsync(fd_) != 0 ? errno : 0;
    if (::close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    return error;
}

int KeptFile::commit() {
    if (const int error = finish()) return error;
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) return errno;
    temporary_.clear();
    syncFolder(folderOf(target_));
    release();
    return 0;
}

void KeptFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

int KeptFile::release() {
    if (oldFd_ < 0) return 0;
    const int error = ::close(oldFd_) != 0 ? errno : 0;
    oldFd_ = -1;
    return error;
}
