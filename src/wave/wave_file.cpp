#include "wave/wave_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/file_paths.hpp"
#include "wave/chunk_walk.hpp"
#include "wave/cue_chunks.hpp"
#include "wave/header.hpp"

namespace {

// Stray bytes after the audio, left by an append that was cut off, are
// kept for a roll back up to this many; beyond it only the length is.
constexpr uint64_t kMaxKeptTail = 1 << 20;
// Attempts at locking a file that other programs keep replacing.
constexpr int kLockAttempts = 100;
constexpr uint32_t kRiffHeaderBytes = 8;
// "RIFF", its size, "WAVE" and the format chunk: what precedes the markers.
constexpr size_t kFormatEnd = 36;
constexpr uint64_t kFirstChunk = 12;
// Old audio is copied into a rewritten file this much at a time.
constexpr size_t kCopyBytes = 1 << 20;

std::string quoted(const std::string& path) { return "'" + path + "'"; }

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

WriteResult writeAt(int fd, uint64_t offset, const void* data, size_t size) {
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return WriteStop{errno, 0};
    return writeAll(fd, data, size);
}

bool readAt(int fd, uint64_t offset, std::vector<uint8_t>& bytes) {
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got,
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return true;
}

// Whether another chunk (a name of four printable characters and a size that
// fits the file) starts where the data chunk says it ends. Samples appended
// there would land behind that chunk instead of after the audio.
bool chunkFollowsData(int fd, const WaveLayout& layout, uint64_t fileBytes) {
    const uint64_t end = layout.dataTag + 8 + layout.dataSize + (layout.dataSize & 1u);
    if (end + 8 > fileBytes) return false;
    std::vector<uint8_t> chunk(8);
    if (!readAt(fd, end, chunk) || chunk.size() != 8) return false;
    for (int i = 0; i < 4; ++i) {
        if (chunk[i] < 0x20 || chunk[i] > 0x7E) return false;
    }
    return end + 8 + getU32le(chunk.data() + 4) <= fileBytes;
}

// Whether other data (a tag, a damaged chunk) follows the audio. What an
// append of this program left behind when it was cut off starts with a
// silent sample (every track starts with the click's first sample, 0, or
// with silence), and so does a pad byte; anything else is somebody's data.
bool otherDataFollows(int fd, uint64_t audioEnd, uint64_t fileBytes, uint32_t bytesPerSample) {
    if (fileBytes <= audioEnd) return false;
    std::vector<uint8_t> first(static_cast<size_t>(std::min<uint64_t>(bytesPerSample,
                                                                       fileBytes - audioEnd)));
    if (!readAt(fd, audioEnd, first)) return true;
    for (const uint8_t byte : first) {
        if (byte != 0) return true;
    }
    return false;
}

}  // namespace

WaveFile::WaveFile(std::string path, uint32_t rate, uint32_t bits)
    : path_(std::move(path)), target_(path_), rate_(rate), bits_(bits) {}

WaveFile::~WaveFile() {
    if (!committed_) rollBack();
    closeAll();
}

Outcome WaveFile::refuse(const std::string& problem) const {
    const char* outcome = mode_ == Mode::Append || mode_ == Mode::Rewrite ? "added" : "written";
    return programError(quoted(path_) + " " + problem + "; nothing was " + outcome + ".");
}

// What the user is told when writing stopped; the file is rolled back first.
Outcome WaveFile::stopped(const WriteStop& why) {
    const std::string state = mode_ == Mode::Stream ? "the wave file is incomplete."
                              : existed_ || mode_ == Mode::Append || mode_ == Mode::Rewrite
                                  ? quoted(path_) + " is unchanged."
                                  : quoted(path_) + " was not written.";
    rollBack();
    if (why.signal != 0) return Stop{kSignalStatusBase + why.signal, "Interrupted; " + state, false};
    return programError("Can't write " + quoted(path_) + ": " + std::strerror(why.error) + "; " +
                        state);
}

Outcome WaveFile::checkByteRate() const {
    const uint64_t byteRate = uint64_t{rate_} * bytesPerSample(bits_);
    if (byteRate <= UINT32_MAX) return std::nullopt;
    char problem[160];
    std::snprintf(problem, sizeof problem,
                  "cannot hold %u samples per second at %u bits (the bytes per second must "
                  "fit 32 bits)",
                  rate_, bits_);
    return refuse(problem);
}

// Opens the user's file (when it is there) and locks it. Only a regular
// file is opened, and without blocking, so that a FIFO or a device named as
// the output is refused at once. Waits while another program holds the
// lock; when that program replaced the file meanwhile, starts again.
Outcome WaveFile::lockUserFile(int openFlags, bool mustExist) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        struct stat named {};
        if (::stat(path_.c_str(), &named) != 0) {
            if (errno == ENOENT && !mustExist) return std::nullopt;
            if (mustExist) return cannotOpen(errno);
            return programError("Can't create " + quoted(path_) + ": " + std::strerror(errno));
        }
        if (!S_ISREG(named.st_mode)) return refuse("is not a regular file");
        const int fd = ::open(path_.c_str(), openFlags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EISDIR) return refuse("is not a regular file");
            if (mustExist) return cannotOpen(errno);
            return programError("Can't create " + quoted(path_) + ": " + std::strerror(errno));
        }
        lockFd_ = fd;
        existed_ = true;
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            return refuse("is not a regular file");
        }
        while (::flock(fd, LOCK_EX) != 0) {
            if (errno != EINTR) return refuse(std::string("can't be locked: ") + std::strerror(errno));
            if (const int signal = interruptSignal()) return stopped(WriteStop{0, signal});
        }
        // Another program may have changed the file while this one waited:
        // take its length only now that the lock is held.
        if (::stat(path_.c_str(), &named) == 0 && sameFile(named, opened) &&
            ::fstat(fd, &opened) == 0) {
            oldMode_ = opened.st_mode & 07777;
            oldOwner_ = opened.st_uid;
            oldGroup_ = opened.st_gid;
            oldLength_ = static_cast<uint64_t>(opened.st_size);
            return std::nullopt;
        }
        ::close(fd);
        lockFd_ = -1;
        existed_ = false;
    }
    return refuse("keeps being replaced by another program");
}

// Why the file to add to cannot be opened: the menu's one sentence, or
// what went wrong.
Outcome WaveFile::cannotOpen(int error) const {
    if (!sayWhy_ || error == ENOENT) return programError("The requested filename does not exist!");
    return refuse(std::string("can't be opened to add to it: ") + std::strerror(error));
}

// Why the new file cannot be made. An append that adds markers makes one
// too, beside the file it adds to.
Outcome WaveFile::cannotCreate(int error) const {
    if (mode_ == Mode::Rewrite) {
        return refuse(std::string("can't be written anew beside itself (to add markers): ") +
                      std::strerror(error));
    }
    return programError("Can't create " + quoted(path_) + ": " + std::strerror(error));
}

// A new file beside the one it replaces, with that file's permissions.
Outcome WaveFile::createTemporary() {
    if (existed_) {
        if (char* real = ::realpath(path_.c_str(), nullptr)) {
            target_ = real;
            std::free(real);
        }
        // A file the user made read-only is not replaced.
        if (::access(target_.c_str(), W_OK) != 0) return cannotCreate(errno);
    } else {
        // A link to a file not made yet: the file is made where it points.
        target_ = followLinks(path_);
    }
    const std::string base = target_ + ".new-" + std::to_string(::getpid());
    for (int n = 0; n < kLockAttempts; ++n) {
        temporary_ = n == 0 ? base : base + "-" + std::to_string(n);
        writeFd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (writeFd_ >= 0 || errno != EEXIST) break;
    }
    if (writeFd_ < 0) {
        const int error = errno;
        temporary_.clear();
        return cannotCreate(error);
    }
    if (existed_) {
        // The old file's owner keeps it (possible only for root; otherwise
        // the file is already the user's own), and its permissions stay.
        if (::fchown(writeFd_, oldOwner_, oldGroup_) != 0) {
            // Not permitted: the new file belongs to whoever writes it.
        }
        if (::fchmod(writeFd_, oldMode_) != 0) return stopped(WriteStop{errno, 0});
    }
    return std::nullopt;
}

// The chunks of `marks` for a new file; a refusal when they do not fit
// before the audio's reach.
Outcome WaveFile::planMarkers(const std::vector<TrackMark>& marks) {
    chunks_.clear();
    if (marks.empty()) return std::nullopt;
    std::optional<std::vector<uint8_t>> chunks = chunksWithMarkers(nullptr, 0, marks, 0);
    if (!chunks || kFormatEnd + chunks->size() > kDataChunkReach) {
        return refuse("can't hold " + std::to_string(marks.size()) +
                      " markers before its audio, which must start within its first " +
                      std::to_string(kDataChunkReach) + " bytes");
    }
    chunks_ = std::move(*chunks);
    return std::nullopt;
}

// The header, the marker chunks between the format and the data chunk's
// id: the header states `plannedFrames` samples, or `audioBytes` when
// they are given.
Outcome WaveFile::writeHeader(int32_t plannedFrames, uint64_t audioBytes) {
    auto header = headerBytes(rate_, bits_, plannedFrames);
    dataTag_ = kFormatEnd + chunks_.size();
    audioStart_ = dataTag_ + 8;
    writeAt_ = audioStart_;
    if (audioBytes > 0 || mode_ == Mode::Stream) {
        putU32le(&header[40], static_cast<uint32_t>(audioBytes));
        putU32le(&header[4], static_cast<uint32_t>(audioStart_ - kRiffHeaderBytes +
                                                   paddedBytes(audioBytes)));
    } else {
        putU32le(&header[4], getU32le(&header[4]) + static_cast<uint32_t>(chunks_.size()));
    }
    std::vector<uint8_t> bytes(header.begin(), header.begin() + kFormatEnd);
    bytes.insert(bytes.end(), chunks_.begin(), chunks_.end());
    bytes.insert(bytes.end(), header.begin() + kFormatEnd, header.end());
    if (WriteResult r = writeAll(writeFd_, bytes.data(), bytes.size())) return stopped(*r);
    return std::nullopt;
}

Outcome WaveFile::create(int32_t plannedFrames, const std::vector<TrackMark>& marks) {
    mode_ = Mode::Create;
    if (Outcome r = checkByteRate()) return r;
    if (Outcome r = planMarkers(marks)) return r;
    guard_.emplace();
    if (Outcome r = lockUserFile(O_RDONLY, false)) return r;
    if (Outcome r = createTemporary()) return r;
    return writeHeader(plannedFrames, 0);
}

Outcome WaveFile::openStream(int fd, uint64_t audioBytes, const std::vector<TrackMark>& marks) {
    mode_ = Mode::Stream;
    if (Outcome r = checkByteRate()) return r;
    if (Outcome r = planMarkers(marks)) return r;
    guard_.emplace();
    writeFd_ = fd;
    announced_ = audioBytes;
    return writeHeader(0, audioBytes);
}

Outcome WaveFile::readLayout() {
    std::vector<uint8_t> head(kWalkHeadBytes);
    if (!readAt(lockFd_, 0, head)) {
        return refuse(std::string("can't be read: ") + std::strerror(errno));
    }
    const WaveLayout layout = walkChunks(head.data(), head.size(), oldLength_);
    if (!layout.riffWave) return programError("Can't find data block in wave file!");
    if (!layout.hasData && layout.hasFormat && formatMatches(layout.format, rate_, bits_)) {
        return programError("Can't find data block in wave file!");
    }
    if (!layout.hasFormat || !formatMatches(layout.format, rate_, bits_)) {
        char problem[160];
        std::snprintf(problem, sizeof problem,
                      "is not a one-channel %u-bit wave file at %u samples per second", bits_,
                      rate_);
        return refuse(problem);
    }
    if (!layout.hasData) return programError("Can't find data block in wave file!");
    if (chunkFollowsData(lockFd_, layout, oldLength_)) {
        return refuse("has another chunk after its audio");
    }
    dataTag_ = layout.dataTag;
    audioStart_ = layout.dataTag + 8;
    writeAt_ = audioEnd(layout, oldLength_, bytesPerSample(bits_));
    if (otherDataFollows(lockFd_, writeAt_, oldLength_, bytesPerSample(bits_))) {
        return refuse("has other data after its audio");
    }
    // The size fields as they are, to put back should the append not finish.
    putU32le(oldSizes_.data(), getU32le(head.data() + 4));
    putU32le(oldSizes_.data() + 4, layout.dataSize);
    head_ = std::move(head);
    return std::nullopt;
}

Outcome WaveFile::openForAppend(const std::vector<TrackMark>& marks) {
    mode_ = Mode::Append;
    if (Outcome r = checkByteRate()) return r;
    guard_.emplace();
    if (Outcome r = lockUserFile(O_RDWR, true)) return r;
    if (Outcome r = readLayout()) return r;
    if (!marks.empty()) {
        // The file is written anew with the marks in its cue list; what it
        // will look like is known now, the copying waits for the track.
        oldAudioStart_ = audioStart_;
        oldAudioBytes_ = writeAt_ - audioStart_;
        const uint64_t oldFrames = oldAudioBytes_ / bytesPerSample(bits_);
        std::optional<std::vector<uint8_t>> chunks = chunksWithMarkers(
            head_.data() + kFirstChunk, static_cast<size_t>(dataTag_ - kFirstChunk), marks, oldFrames);
        if (!chunks) return refuse("has a cue list that can't be read or extended");
        if (kFirstChunk + chunks->size() > kDataChunkReach) {
            return refuse("can't hold " + std::to_string(marks.size()) +
                          " more markers before its audio, which must start within its first " +
                          std::to_string(kDataChunkReach) + " bytes");
        }
        chunks_ = std::move(*chunks);
        mode_ = Mode::Rewrite;
        dataTag_ = kFirstChunk + chunks_.size();
        audioStart_ = dataTag_ + 8;
        writeAt_ = audioStart_ + oldAudioBytes_;
        return std::nullopt;
    }
    // What the samples will cover past the audio (a pad byte, stray bytes
    // of an append that was cut off) is kept to put back on a roll back.
    if (oldLength_ > writeAt_ && oldLength_ - writeAt_ <= kMaxKeptTail) {
        oldTail_.resize(static_cast<size_t>(oldLength_ - writeAt_));
        if (!readAt(lockFd_, writeAt_, oldTail_)) {
            return refuse(std::string("can't be read: ") + std::strerror(errno));
        }
    }
    writeFd_ = lockFd_;
    return std::nullopt;
}

uint64_t WaveFile::audioFrames() const { return (writeAt_ - audioStart_) / bytesPerSample(bits_); }

uint64_t WaveFile::lengthAfter(uint64_t bytes) const {
    const uint64_t end = writeAt_ + bytes;
    return end + ((end - audioStart_) & 1u);
}

Outcome WaveFile::writeTrack(BeatSchedule schedule, const std::vector<uint8_t>& click) {
    return writeTrack(std::move(schedule), menuClicks(click));
}

// The new file of an append with markers: "RIFF", "WAVE", the file's chunks
// with the markers added, then its audio, copied.
Outcome WaveFile::startRewrite() {
    if (mode_ != Mode::Rewrite || rewriteStarted_) return std::nullopt;
    rewriteStarted_ = true;
    if (Outcome r = createTemporary()) return r;
    std::vector<uint8_t> start(head_.begin(), head_.begin() + kFirstChunk);
    start.insert(start.end(), chunks_.begin(), chunks_.end());
    start.insert(start.end(), {'d', 'a', 't', 'a', 0, 0, 0, 0});
    if (WriteResult r = writeAll(writeFd_, start.data(), start.size())) return stopped(*r);
    std::vector<uint8_t> buffer;
    for (uint64_t done = 0; done < oldAudioBytes_;) {
        if (const int signal = interruptSignal()) return stopped(WriteStop{0, signal});
        buffer.resize(static_cast<size_t>(std::min<uint64_t>(kCopyBytes, oldAudioBytes_ - done)));
        if (!readAt(lockFd_, oldAudioStart_ + done, buffer)) return stopped(WriteStop{errno, 0});
        if (buffer.empty()) return stopped(WriteStop{EIO, 0});
        if (WriteResult r = writeAll(writeFd_, buffer.data(), buffer.size())) return stopped(*r);
        done += buffer.size();
    }
    return std::nullopt;
}

Outcome WaveFile::writeTrack(BeatSchedule schedule, const TrackClicks& clicks) {
    if (Outcome r = startRewrite()) return r;
    if (mode_ != Mode::Stream && ::lseek(writeFd_, static_cast<off_t>(writeAt_), SEEK_SET) < 0) {
        return stopped(WriteStop{errno, 0});
    }
    uint64_t written = 0;
    const WriteResult r =
        writeTrackSamples(writeFd_, schedule, clicks, bytesPerSample(bits_), written);
    writeAt_ += written;
    if (r) return stopped(*r);
    return std::nullopt;
}

// Ends the audio with its pad byte when its length is odd, and states the
// true sizes. The sizes are written last, once the samples are on disk, so
// that a file cut off before then still reads as it did.
Outcome WaveFile::commit() {
    if (const int signal = interruptSignal()) return stopped(WriteStop{0, signal});
    if (mode_ == Mode::Stream) return finishStream();
    if (Outcome r = startRewrite()) return r;
    const uint64_t dataBytes = writeAt_ - audioStart_;
    const uint64_t end = lengthAfter(0);
    if (!fitsWaveSize(end)) return stopped(WriteStop{EFBIG, 0});
    if (end > writeAt_) {
        const uint8_t pad = 0;
        if (WriteResult r = writeAt(writeFd_, writeAt_, &pad, 1)) return stopped(*r);
    }
    if (::ftruncate(writeFd_, static_cast<off_t>(end)) != 0) return stopped(WriteStop{errno, 0});
    if (mode_ == Mode::Append && ::fdatasync(writeFd_) != 0) return stopped(WriteStop{errno, 0});
    if (const int signal = interruptSignal()) return stopped(WriteStop{0, signal});
    uint8_t field[4];
    putU32le(field, static_cast<uint32_t>(dataBytes));
    sizesWritten_ = true;
    if (WriteResult r = writeAt(writeFd_, dataTag_ + 4, field, 4)) return stopped(*r);
    putU32le(field, static_cast<uint32_t>(end - kRiffHeaderBytes));
    if (WriteResult r = writeAt(writeFd_, 4, field, 4)) return stopped(*r);
    if (::fsync(writeFd_) != 0) return stopped(WriteStop{errno, 0});
    // A signal that came during the flush still undoes the work.
    if (const int signal = interruptSignal()) return stopped(WriteStop{0, signal});
    return mode_ == Mode::Append ? finishAppend() : finishCreate();
}

Outcome WaveFile::finishCreate() {
    const int fd = writeFd_;
    writeFd_ = -1;
    if (::close(fd) != 0) return stopped(WriteStop{errno, 0});
    if (const int signal = interruptSignal()) return stopped(WriteStop{0, signal});
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) return stopped(WriteStop{errno, 0});
    temporary_.clear();
    committed_ = true;
    syncFolder(folderOf(target_));
    closeAll();
    return std::nullopt;
}

// A stream cannot be repaired: its audio must be what the header said.
Outcome WaveFile::finishStream() {
    const uint64_t dataBytes = writeAt_ - audioStart_;
    if (dataBytes != announced_) return stopped(WriteStop{EIO, 0});
    if (dataBytes % 2 == 1) {
        const uint8_t pad = 0;
        if (WriteResult r = writeAll(writeFd_, &pad, 1)) return stopped(*r);
    }
    committed_ = true;
    writeFd_ = -1;  // the caller's
    guard_.reset();
    return std::nullopt;
}

Outcome WaveFile::finishAppend() {
    committed_ = true;
    writeFd_ = -1;
    const int fd = lockFd_;
    lockFd_ = -1;
    if (::close(fd) != 0) return programError("Can't write " + quoted(path_) + ": " + std::strerror(errno));
    guard_.reset();
    return std::nullopt;
}

void WaveFile::rollBack() {
    if (committed_) return;
    if ((mode_ == Mode::Create || mode_ == Mode::Rewrite) && !temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
    if (mode_ == Mode::Append && writeFd_ >= 0) {
        if (::ftruncate(writeFd_, static_cast<off_t>(oldLength_)) == 0 && !oldTail_.empty()) {
            writeAt(writeFd_, oldLength_ - oldTail_.size(), oldTail_.data(), oldTail_.size());
        }
        if (sizesWritten_) {
            writeAt(writeFd_, 4, oldSizes_.data(), 4);
            writeAt(writeFd_, dataTag_ + 4, oldSizes_.data() + 4, 4);
        }
        ::fsync(writeFd_);
    }
    if (mode_ == Mode::Stream) writeFd_ = -1;  // the caller's descriptor stays open
    mode_ = Mode::None;
}

void WaveFile::closeAll() {
    if (mode_ == Mode::Stream) writeFd_ = -1;  // the caller's descriptor stays open
    if (writeFd_ >= 0 && writeFd_ != lockFd_) ::close(writeFd_);
    writeFd_ = -1;
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    guard_.reset();
}
