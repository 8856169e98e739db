#include "files/regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

RegularFileText readRegularFile(const std::string& path, size_t limit) {
    RegularFileText result;
    // O_NONBLOCK: opening a FIFO without a writer, or a device, does not wait.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.status = RegularFileText::kCannotOpen;
        result.error = errno;
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        result.status = RegularFileText::kCannotRead;
        result.error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        result.status = RegularFileText::kNotRegular;
    } else {
        result.text.resize(limit);
        size_t done = 0;
        while (done < limit) {
            const ssize_t n = ::read(fd, result.text.data() + done, limit - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result.status = RegularFileText::kCannotRead;
                result.error = errno;
                break;
            }
            if (n == 0) break;
            done += static_cast<size_t>(n);
        }
        result.text.resize(result.status == RegularFileText::kRead ? done : 0);
    }
    ::close(fd);
    return result;
}
