// Preloaded into the program (LD_PRELOAD), this makes one chosen call on
// its files fail, so that a test can see what every file is left as when
// the disk fills, a flush fails or a rename is refused.
//
// CLICKTRACK_TEST_FAIL is "call:n:ERROR": the n-th call (from 1) of `call`
// (write, writev, fsync, fdatasync, rename or ftruncate) fails with ERROR
// (ENOSPC, EIO, EXDEV, EDQUOT or EROFS); "write" counts writev too. Calls
// on standard input, output and error are not counted, nor made to fail.
// "call:n:ERROR:NAME" counts only calls on files whose path holds NAME.
#include <dlfcn.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Fault {
    std::string call;
    long nth = 0;
    int error = 0;
    long seen = 0;
    std::string within;  // counted only on files whose path holds this
};

int errorNamed(const std::string& name) {
    static const std::pair<const char*, int> errors[] = {
        {"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EXDEV", EXDEV}, {"EDQUOT", EDQUOT}, {"EROFS", EROFS}};
    for (const auto& [text, code] : errors) {
        if (name == text) return code;
    }
    return EIO;
}

Fault& fault() {
    static Fault f = [] {
        Fault made;
        const char* setting = std::getenv("CLICKTRACK_TEST_FAIL");
        const std::string text = setting ? setting : "";
        const size_t first = text.find(':'), second = text.find(':', first + 1);
        if (second == std::string::npos) return made;
        made.call = text.substr(0, first);
        made.nth = std::atol(text.c_str() + first + 1);
        const size_t third = text.find(':', second + 1);
        made.error = errorNamed(text.substr(second + 1, third - second - 1));
        if (third != std::string::npos) made.within = text.substr(third + 1);
        return made;
    }();
    return f;
}

// Whether this call is the one to fail; sets errno when it is.
bool failsNow(const char* call, int fd) {
    Fault& f = fault();
    const bool counted = f.call == call || (f.call == "write" && std::strcmp(call, "writev") == 0);
    if (!counted || fd <= 2) return false;
    if (!f.within.empty()) {
        char path[4096];
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
        if (n <= 0 || std::string(path, static_cast<size_t>(n)).find(f.within) == std::string::npos) {
            return false;
        }
    }
    if (++f.seen != f.nth) return false;
    errno = f.error;
    return true;
}

// The programs this one starts run without the shim.
__attribute__((constructor)) void keepToThisProgram() { unsetenv("LD_PRELOAD"); }

template <typename Function>
Function real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
    static const auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    return failsNow("write", fd) ? -1 : next(fd, data, size);
}

extern "C" ssize_t writev(int fd, const struct iovec* pieces, int count) {
    static const auto next = real<ssize_t (*)(int, const struct iovec*, int)>("writev");
    return failsNow("writev", fd) ? -1 : next(fd, pieces, count);
}

extern "C" int fsync(int fd) {
    static const auto next = real<int (*)(int)>("fsync");
    return failsNow("fsync", fd) ? -1 : next(fd);
}

extern "C" int fdatasync(int fd) {
    static const auto next = real<int (*)(int)>("fdatasync");
    return failsNow("fdatasync", fd) ? -1 : next(fd);
}

// The program is built with 64-bit file offsets: its ftruncate is this one.
extern "C" int ftruncate64(int fd, off64_t length) {
    static const auto next = real<int (*)(int, off64_t)>("ftruncate64");
    return failsNow("ftruncate", fd) ? -1 : next(fd, length);
}

extern "C" int rename(const char* from, const char* to) {
    static const auto next = real<int (*)(const char*, const char*)>("rename");
    return failsNow("rename", 3) ? -1 : next(from, to);
}
