#include "io/file_paths.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

// As many links in a row as the system follows itself.
constexpr int kMaxLinkHops = 40;

}  // namespace

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string followLinks(const std::string& path) {
    std::string name = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        struct stat info {};
        if (::lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return name;
        std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t n = ::readlink(name.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return name;
        const std::string next(target.data(), static_cast<size_t>(n));
        name = next[0] == '/' ? next : folderOf(name) + "/" + next;
    }
    return name;
}

namespace {

// The file a name leads to: its links followed, and its folder's, whether
// the file exists yet or not.
std::string canonicalName(const std::string& given) {
    if (char* real = ::realpath(given.c_str(), nullptr)) {
        std::string name(real);
        std::free(real);
        return name;
    }
    // A file not made yet, perhaps through a link: where it will be made.
    const std::string path = followLinks(given);
    if (char* real = ::realpath(folderOf(path).c_str(), nullptr)) {
        std::string name = std::string(real) + "/" + baseNameOf(path);
        std::free(real);
        return name;
    }
    return path;
}

}  // namespace

bool sameOutput(const std::string& a, const std::string& b) {
    if (a == b || canonicalName(a) == canonicalName(b)) return true;
    struct stat first {}, second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool isOpenFile(int fd, const std::string& path) {
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}
