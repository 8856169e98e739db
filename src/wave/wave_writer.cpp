#include "wave/wave_writer.hpp"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "wave/beat_grid.hpp"
#include "wave/header.hpp"

namespace {

constexpr long kFirstTagOffset = 2;
constexpr long kLastTagOffset = 15000;
constexpr size_t kTagSearchBytes = kLastTagOffset + 4;
constexpr size_t kSilenceBlock = 1 << 16;   // bytes in the block of zeros
constexpr size_t kGatherPieces = 1024;      // pieces handed over in one write
constexpr size_t kGatherBytes = 1 << 20;    // bytes after which they are handed over

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string failure(const char* what, const std::string& path, int error) {
    return std::string(what) + " '" + path + "': " + std::strerror(error);
}

// Flushes and closes the file; a failure of either is a write error.
Outcome closeChecked(File& file, const std::string& path) {
    FILE* f = file.release();
    int error = 0;
    if (std::fflush(f) != 0 || std::ferror(f) != 0) error = errno != 0 ? errno : EIO;
    if (std::fclose(f) != 0 && error == 0) error = errno;
    if (error != 0) return programError(failure("Can't write", path, error));
    return std::nullopt;
}

Outcome writeBytes(FILE* f, const void* data, size_t size, const std::string& path) {
    if (size > 0 && std::fwrite(data, 1, size, f) != size) {
        return programError(failure("Can't write", path, errno));
    }
    return std::nullopt;
}

// Hands a track to the file as a list of pieces, copies of the click and
// runs of zeros, gathered into large writes. The pieces point into the
// click and into one block of zeros, so no byte of the track is copied on
// the way and memory stays the same whatever the track's length.
class TrackWriter {
public:
    TrackWriter(int fd, const std::string& path) : fd_(fd), path_(path), zeros_(kSilenceBlock) {}

    // `data` must stay valid until the next flush.
    Outcome add(const uint8_t* data, size_t size) {
        if (size == 0) return std::nullopt;
        if (count_ == pieces_.size()) {
            if (Outcome r = flush()) return r;
        }
        pieces_[count_++] = iovec{const_cast<uint8_t*>(data), size};
        queued_ += size;
        if (queued_ >= kGatherBytes) return flush();
        return std::nullopt;
    }

    Outcome addZeros(uint64_t size) {
        while (size > 0) {
            const size_t piece = size < zeros_.size() ? static_cast<size_t>(size) : zeros_.size();
            if (Outcome r = add(zeros_.data(), piece)) return r;
            size -= piece;
        }
        return std::nullopt;
    }

    // Writes every queued piece, carrying on after a short write.
    Outcome flush() {
        size_t first = 0;
        while (first < count_) {
            const ssize_t done = ::writev(fd_, &pieces_[first], static_cast<int>(count_ - first));
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) return programError(failure("Can't write", path_, done < 0 ? errno : EIO));
            size_t left = static_cast<size_t>(done);
            while (first < count_ && left >= pieces_[first].iov_len) {
                left -= pieces_[first].iov_len;
                ++first;
            }
            if (left > 0) {
                pieces_[first].iov_base = static_cast<uint8_t*>(pieces_[first].iov_base) + left;
                pieces_[first].iov_len -= left;
            }
        }
        count_ = 0;
        queued_ = 0;
        return std::nullopt;
    }

private:
    int fd_;
    const std::string& path_;
    std::vector<uint8_t> zeros_;
    std::array<iovec, kGatherPieces> pieces_{};
    size_t count_ = 0;
    size_t queued_ = 0;
};

// Closes a descriptor on every way out unless it was closed and checked.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Reads up to kTagSearchBytes from the start of the file.
std::vector<uint8_t> readTagSearchRange(FILE* f) {
    std::vector<uint8_t> head(kTagSearchBytes);
    std::rewind(f);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    return head;
}

bool fileLength(FILE* f, uint64_t& length) {
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    const off_t end = ftello(f);
    if (end < 0) return false;
    length = static_cast<uint64_t>(end);
    return true;
}

// Where the "data" tag stands (-1 when it is not in reach) and how long the
// file is; false when the length cannot be read.
bool locateData(FILE* f, std::vector<uint8_t>& head, long& tag, uint64_t& length) {
    head = readTagSearchRange(f);
    tag = findDataTag(head.data(), head.size());
    return fileLength(f, length);
}

// Whether the chunks before the data tag describe one-channel PCM at rate and bits.
bool formatMatches(const std::vector<uint8_t>& head, long dataTag, uint32_t rate, int32_t bits) {
    if (head.size() < 12 || std::memcmp(&head[0], "RIFF", 4) != 0 ||
        std::memcmp(&head[8], "WAVE", 4) != 0) {
        return false;
    }
    // 64-bit, so that a chunk size near 4 GiB cannot wrap the walk round on
    // a 32-bit system and send it back to where it was.
    uint64_t at = 12;
    while (at + 8 <= static_cast<uint64_t>(dataTag)) {
        const uint32_t size = getU32le(&head[at + 4]);
        if (std::memcmp(&head[at], "fmt ", 4) == 0) {
            if (size < 16 || at + 8 + 16 > head.size()) return false;
            const uint8_t* fmt = &head[at + 8];
            const uint16_t tag = getU16le(fmt);
            const bool pcm = tag == 1 || tag == 0xFFFE;
            return pcm && getU16le(fmt + 2) == 1 && getU32le(fmt + 4) == rate &&
                   getU16le(fmt + 12) == bytesPerSample(static_cast<uint32_t>(bits)) &&
                   getU16le(fmt + 14) == static_cast<uint32_t>(bits);
        }
        at += 8 + uint64_t{size} + (size & 1u);
    }
    return false;
}

// Whether another chunk (a name of four printable characters and a size that
// fits the file) starts where the data block says it ends. Samples appended
// there would land behind that chunk instead of after the audio.
bool chunkFollowsData(FILE* f, uint64_t dataTag, uint64_t fileBytes) {
    uint8_t sizeField[4];
    if (fseeko(f, static_cast<off_t>(dataTag + 4), SEEK_SET) != 0 ||
        std::fread(sizeField, 1, 4, f) != 4) {
        return false;
    }
    const uint64_t dataEnd = dataTag + 8 + getU32le(sizeField);
    uint8_t chunk[8];
    if (dataEnd + 8 > fileBytes || fseeko(f, static_cast<off_t>(dataEnd), SEEK_SET) != 0 ||
        std::fread(chunk, 1, 8, f) != 8) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (chunk[i] < 0x20 || chunk[i] > 0x7E) return false;
    }
    return dataEnd + 8 + getU32le(chunk + 4) <= fileBytes;
}

}  // namespace

long findDataTag(const uint8_t* bytes, size_t size) {
    for (long at = kFirstTagOffset; at <= kLastTagOffset; at += 2) {
        if (static_cast<size_t>(at) + 4 > size) return -1;
        if (std::memcmp(bytes + at, "data", 4) == 0) return at;
    }
    return -1;
}

Outcome MAKE_HEADER(const std::string& path, uint32_t rate, uint32_t bits, int32_t frames) {
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) return programError(failure("Can't create", path, errno));
    const auto header = headerBytes(rate, bits, frames);
    if (Outcome r = writeBytes(f.get(), header.data(), header.size(), path)) return r;
    return closeChecked(f, path);
}

Outcome WRITE_FILE(uint32_t rate, int32_t bits, float tempo, int32_t count,
                   const std::string& path, const std::vector<uint8_t>& click,
                   const std::vector<uint8_t>& silence, int32_t clickLength) {
    Descriptor file;
    file.fd = ::open(path.c_str(), O_RDWR);
    if (file.fd < 0) return programError("The requested filename does not exist!");
    if (::lseek(file.fd, 0, SEEK_END) < 0) return programError(failure("Can't write", path, errno));
    const size_t b = bytesPerSample(static_cast<uint32_t>(bits));
    const size_t clickBytes = static_cast<size_t>(clickLength > 0 ? clickLength : 0) * b;
    // A silence sample is all zero bytes: runs of it are taken from one block of zeros.
    (void)silence;
    TrackWriter writer(file.fd, path);
    BeatGrid grid(rate, tempo, count, clickLength);
    int64_t rest = 0;
    bool withClick = false;
    while (grid.next(rest, withClick)) {
        if (Outcome r = writer.addZeros(static_cast<uint64_t>(rest) * b)) return r;
        if (withClick) {
            if (Outcome r = writer.add(click.data(), clickBytes)) return r;
        }
    }
    if (Outcome r = writer.flush()) return r;
    const int fd = file.fd;
    file.fd = -1;
    if (::close(fd) != 0) return programError(failure("Can't write", path, errno));
    return std::nullopt;
}

Outcome FIX_SIZE(const std::string& path) {
    File f(std::fopen(path.c_str(), "r+b"));
    if (!f) return programError("The requested filename does not exist!");
    std::vector<uint8_t> head;
    long tag = -1;
    uint64_t length = 0;
    if (!locateData(f.get(), head, tag, length)) {
        return programError(failure("Can't write", path, errno));
    }
    if (tag < 0) return programError("Can't find data block in wave file!");
    uint8_t field[4];
    putU32le(field, static_cast<uint32_t>(length - (static_cast<uint64_t>(tag) + 8)));
    if (fseeko(f.get(), tag + 4, SEEK_SET) != 0) {
        return programError(failure("Can't write", path, errno));
    }
    if (Outcome r = writeBytes(f.get(), field, 4, path)) return r;
    putU32le(field, static_cast<uint32_t>(length - 8));
    if (fseeko(f.get(), 4, SEEK_SET) != 0) {
        return programError(failure("Can't write", path, errno));
    }
    if (Outcome r = writeBytes(f.get(), field, 4, path)) return r;
    return closeChecked(f, path);
}

Outcome checkAppendTarget(const std::string& path, uint32_t rate, int32_t bits, uint64_t& bytes) {
    File f(std::fopen(path.c_str(), "r+b"));
    if (!f) return programError("The requested filename does not exist!");
    std::vector<uint8_t> head;
    long tag = -1;
    if (!locateData(f.get(), head, tag, bytes)) {
        return programError(failure("Can't read", path, errno));
    }
    if (tag < 0 || bytes < static_cast<uint64_t>(tag) + 8) {
        return programError("Can't find data block in wave file!");
    }
    if (!formatMatches(head, tag, rate, bits)) {
        char line[256];
        std::snprintf(line, sizeof line,
                      "'%s' is not a one-channel %d-bit wave file at %u samples per second; "
                      "nothing was added.",
                      path.c_str(), bits, rate);
        return programError(line);
    }
    if (chunkFollowsData(f.get(), static_cast<uint64_t>(tag), bytes)) {
        return programError("'" + path + "' has another chunk after its audio; nothing was added.");
    }
    return std::nullopt;
}
