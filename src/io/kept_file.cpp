#include "io/kept_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/file_paths.hpp"
#include "core/interrupt.hpp"
#include "io/regular_file.hpp"

namespace {

// Attempts at locking a file that other programs keep replacing, and at a
// name for the new file that no other file has.
constexpr int kAttempts = 100;

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
        if (file.notRegular) return FileProblem{FileProblem::Step::NotRegular, file.error};
        if (file.fd < 0) {
            if (file.error == ENOENT && !mustExist) return std::nullopt;
            return FileProblem{FileProblem::Step::Open, file.error};
        }
        oldFd_ = file.fd;
        existed_ = true;
        while (::flock(oldFd_, LOCK_EX) != 0) {
            if (errno != EINTR) return FileProblem{FileProblem::Step::Lock, errno};
            if (const int signal = interruptSignal()) {
                return FileProblem{FileProblem::Step::Interrupted, 0, signal};
            }
        }
        // Another program may have changed the file while this one waited:
        // take its length only now that the lock is held.
        struct stat named {};
        if (::stat(path_.c_str(), &named) == 0 && ::fstat(oldFd_, &old_) == 0 &&
            named.st_dev == old_.st_dev && named.st_ino == old_.st_ino) {
            return std::nullopt;
        }
        release();
        existed_ = false;
    }
    return FileProblem{FileProblem::Step::Replaced};
}

FileResult KeptFile::create() {
    if (!examined_) {
        if (FileResult problem = lock(O_WRONLY, false)) return problem;
    }
    if (existed_) {
        if (char* real = ::realpath(path_.c_str(), nullptr)) {
            target_ = real;
            std::free(real);
        }
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
    if (fd_ < 0) return FileProblem{FileProblem::Step::Create, errno};
    if (existed_) {
        // The old file's owner and permissions stay. Only root may give a
        // file away; for others the file is already their own.
        if (::fchown(fd_, old_.st_uid, old_.st_gid) != 0) {
        }
        if (::fchmod(fd_, old_.st_mode & 07777) != 0) return FileProblem{FileProblem::Step::Mode, errno};
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
