#include "io/regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

RegularFile openRegular(const std::string& path, int flags) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return RegularFile{-1, errno, false};
    if (!S_ISREG(info.st_mode)) return RegularFile{-1, S_ISDIR(info.st_mode) ? EISDIR : 0, true};
    // O_NONBLOCK: a FIFO put in its place meanwhile does not wait for a writer.
    RegularFile file{::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) return RegularFile{-1, errno, errno == EISDIR};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(file.fd);
        return RegularFile{-1, 0, true};
    }
    return file;
}

RegularFileText readRegularFile(const std::string& path, size_t limit) {
    RegularFileText result;
    const RegularFile file = openRegular(path, O_RDONLY);
    if (file.fd < 0) {
        result.status = file.notRegular ? RegularFileText::Status::NotRegular : RegularFileText::Status::CannotOpen;
        result.error = file.error;
        return result;
    }
    std::vector<uint8_t> bytes(limit);
    result.error = readAt(file.fd, 0, bytes);
    if (result.error != 0) result.status = RegularFileText::Status::CannotRead;
    else result.text.assign(bytes.begin(), bytes.end());
    ::close(file.fd);
    return result;
}

int writeAll(int fd, const void* data, size_t size) {
    const uint8_t* at = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t done = ::write(fd, at, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return done < 0 ? errno : EIO;
        at += done;
        size -= static_cast<size_t>(done);
    }
    return 0;
}

int readAt(int fd, uint64_t offset, std::vector<uint8_t>& bytes) {
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got,
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return 0;
}
