#include "files/replacement_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/file_paths.hpp"

namespace {

// Attempts at a name for the new file that no other file has.
constexpr int kNameAttempts = 100;

}  // namespace

int writeText(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

ReplacementFile::ReplacementFile(std::string path) : path_(std::move(path)), target_(path_) {}

ReplacementFile::~ReplacementFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

std::optional<std::string> ReplacementFile::open() {
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return std::string(std::strerror(EISDIR));
        if (!S_ISREG(info.st_mode)) return std::string("Not a regular file");
        if (char* real = ::realpath(path_.c_str(), nullptr)) {
            target_ = real;
            std::free(real);
        }
        if (::access(target_.c_str(), W_OK) != 0) return std::string(std::strerror(errno));
        mode_ = info.st_mode & 07777;
    } else if (errno != ENOENT) {
        return std::string(std::strerror(errno));
    } else {
        // A link to a file not made yet: the file is made where it points.
        target_ = followLinks(path_);
    }
    const std::string base = target_ + ".new-" + std::to_string(::getpid());
    for (int n = 0; n < kNameAttempts && fd_ < 0; ++n) {
        const std::string name = n == 0 ? base : base + "-" + std::to_string(n);
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) temporary_ = name;
        else if (errno != EEXIST) break;
    }
    if (fd_ < 0) return std::string(std::strerror(errno));
    if (mode_ != 0 && ::fchmod(fd_, mode_) != 0) return std::string(std::strerror(errno));
    return std::nullopt;
}

std::optional<std::string> ReplacementFile::finish() {
    if (fd_ < 0) return std::nullopt;
    int error = ::fsync(fd_) != 0 ? errno : 0;
    if (::close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    if (error != 0) return std::string(std::strerror(error));
    return std::nullopt;
}

std::optional<std::string> ReplacementFile::commit() {
    if (std::optional<std::string> problem = finish()) return problem;
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        return std::string(std::strerror(errno));
    }
    committed_ = true;
    syncFolder(folderOf(target_));
    return std::nullopt;
}
