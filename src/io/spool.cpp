#include "io/spool.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

int openSpool(const std::string& folder, int& fd) {
    const std::string where = folder.empty() ? "." : folder;
    fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return 0;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = where + "/.clicktrack-spool-XXXXXX";
    std::vector<char> path(name.begin(), name.end());
    path.push_back('\0');
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    if (::unlink(path.data()) != 0) {
        const int error = errno;
        ::close(fd);
        fd = -1;
        return error;
    }
    return 0;
}
