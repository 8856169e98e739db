#include "wave/wave_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/user_text.hpp"
#include "io/regular_file.hpp"
#include "wave/chunk_walk.hpp"
#include "wave/cue_chunks.hpp"
#include "wave/header.hpp"

namespace {

// Stray bytes after the audio, left by an append that was cut off, are
// kept for a roll back up to this many; beyond it only the length is.
constexpr uint64_t kMaxKeptTail = 1 << 20;
constexpr uint32_t kRiffHeaderBytes = 8;
// "RIFF", its size, "WAVE" and the format chunk: what precedes the markers.
// (Past two channels the format chunk is longer: see formatEnd().)
constexpr size_t kFormatEnd = 36;
constexpr uint64_t kFirstChunk = 12;
// Old audio is copied into a rewritten file this much at a time.
constexpr size_t kCopyBytes = 1 << 20;

std::string quoted(const std::string& path) { return shownText(path, kShowQuoted); }

int writeAt(int fd, uint64_t offset, const void* data, size_t size) {
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return errno;
    return writeAll(fd, data, size);
}

// Whether another chunk (a name of four printable characters and a size that
// fits the file) starts where the data chunk says it ends. Samples appended
// there would land behind that chunk instead of after the audio.
bool chunkFollowsData(int fd, const WaveLayout& layout, uint64_t fileBytes) {
    const uint64_t end = layout.dataTag + 8 + layout.dataSize + (layout.dataSize & 1u);
    if (end + 8 > fileBytes) return false;
    std::vector<uint8_t> chunk(8);
    if (readAt(fd, end, chunk) != 0 || chunk.size() != 8) return false;
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
    if (readAt(fd, audioEnd, first) != 0) return true;
    for (const uint8_t byte : first) {
        if (byte != 0) return true;
    }
    return false;
}

}  // namespace

WaveFile::WaveFile(std::string path, uint32_t rate, uint32_t bits, uint32_t channels)
    : path_(std::move(path)), file_(path_), rate_(rate), bits_(bits), channels_(channels) {}

size_t WaveFile::formatEnd() const { return kFormatEnd + headerSize(channels_) - kHeaderBytes; }

uint32_t WaveFile::frameBytes() const { return bytesPerSample(bits_) * channels_; }

WaveFile::~WaveFile() {
    if (!committed_) rollBack();
}

Outcome WaveFile::refuse(const std::string& problem) const {
    const char* outcome = mode_ == Mode::Append || mode_ == Mode::Rewrite ? "added" : "written";
    return refusal(quoted(path_) + " " + problem + "; nothing was " + outcome + ".");
}

// What the user is told when writing stopped; the file is rolled back first.
Outcome WaveFile::stopped(const Failure& why) {
    const std::string state = mode_ == Mode::Stream ? "the wave file is incomplete."
                              : file_.existed() || mode_ == Mode::Append || mode_ == Mode::Rewrite
                                  ? quoted(path_) + " is unchanged."
                                  : quoted(path_) + " was not written.";
    rollBack();
    if (why.kind == Failure::Kind::Interrupted) return interruption(why.signal, "Interrupted; " + state);
    return fileFailure(path_, why.error,
                       "Can't write " + quoted(path_) + ": " + std::strerror(why.error) + "; " + state);
}

Outcome WaveFile::checkByteRate() const {
    const uint64_t byteRate = uint64_t{rate_} * frameBytes();
    if (byteRate <= UINT32_MAX) return std::nullopt;
    char problem[160];
    std::snprintf(problem, sizeof problem,
                  "cannot hold %u samples per second at %u bits (the bytes per second must "
                  "fit 32 bits)",
                  rate_, bits_);
    return refuse(problem);
}

// Opens the user's file (when it is there) and locks it.
Outcome WaveFile::lockUserFile(int openFlags, bool mustExist) {
    const FileResult problem = file_.lock(openFlags, mustExist);
    if (!problem) return std::nullopt;
    switch (problem->step) {
        case FileProblem::Step::NotRegular: return refuse("is not a regular file");
        case FileProblem::Step::Lock:
            return refuse(std::string("can't be locked: ") + std::strerror(problem->error));
        case FileProblem::Step::Replaced: return refuse("keeps being replaced by another program");
        case FileProblem::Step::Interrupted: return stopped(interruption(problem->signal));
        default:
            if (mustExist) return cannotOpen(problem->error);
            return fileFailure(path_, problem->error,
                               "Can't create " + quoted(path_) + ": " + std::strerror(problem->error));
    }
}

// Why the file to add to cannot be opened: the menu's one sentence, or
// what went wrong.
Outcome WaveFile::cannotOpen(int error) const {
    if (!sayWhy_ || error == ENOENT) {
        return fileFailure(path_, error, "The requested filename does not exist!");
    }
    return refuse(std::string("can't be opened to add to it: ") + std::strerror(error));
}

// Why the new file cannot be made. An append that adds markers makes one
// too, beside the file it adds to.
Outcome WaveFile::cannotCreate(int error) const {
    if (mode_ == Mode::Rewrite) {
        return refuse(std::string("can't be written anew beside itself (to add markers): ") +
                      std::strerror(error));
    }
    return fileFailure(path_, error, "Can't create " + quoted(path_) + ": " + std::strerror(error));
}

// A new file beside the one it replaces, with that file's permissions.
Outcome WaveFile::createTemporary() {
    const FileResult problem = file_.create();
    writeFd_ = file_.fd();
    if (!problem) return std::nullopt;
    return problem->step == FileProblem::Step::Mode ? failed(problem->error) : cannotCreate(problem->error);
}

// The chunks of `marks` for a new file; a refusal when they do not fit
// before the audio's reach.
Outcome WaveFile::planMarkers(const std::vector<TrackMark>& marks) {
    chunks_.clear();
    if (marks.empty()) return std::nullopt;
    std::optional<std::vector<uint8_t>> chunks = chunksWithMarkers(nullptr, 0, marks, 0);
    if (!chunks || formatEnd() + chunks->size() > kDataChunkReach) {
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
    std::vector<uint8_t> header = headerBytes(rate_, bits_, channels_, plannedFrames);
    const size_t dataChunk = header.size() - 8;
    dataTag_ = dataChunk + chunks_.size();
    audioStart_ = dataTag_ + 8;
    writeAt_ = audioStart_;
    if (audioBytes > 0 || mode_ == Mode::Stream) {
        putU32le(&header[dataChunk + 4], static_cast<uint32_t>(audioBytes));
        if (channels_ > 2) putU32le(&header[kFactFrames], static_cast<uint32_t>(audioBytes / frameBytes()));
        putU32le(&header[4], static_cast<uint32_t>(audioStart_ - kRiffHeaderBytes +
                                                   paddedBytes(audioBytes)));
    } else {
        putU32le(&header[4], getU32le(&header[4]) + static_cast<uint32_t>(chunks_.size()));
    }
    std::vector<uint8_t> bytes(header.begin(), header.begin() + static_cast<long>(dataChunk));
    bytes.insert(bytes.end(), chunks_.begin(), chunks_.end());
    bytes.insert(bytes.end(), header.begin() + static_cast<long>(dataChunk), header.end());
    if (const int error = writeAll(writeFd_, bytes.data(), bytes.size())) return failed(error);
    return std::nullopt;
}

Outcome WaveFile::create(int32_t plannedFrames, const std::vector<TrackMark>& marks) {
    mode_ = Mode::Create;
    if (Outcome r = checkByteRate()) return r;
    if (Outcome r = planMarkers(marks)) return r;
    guard_.emplace();
    // Opened for writing: a file the user made read-only is not replaced.
    if (Outcome r = lockUserFile(O_WRONLY, false)) return r;
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
    if (const int error = readAt(file_.oldFd(), 0, head)) {
        return refuse(std::string("can't be read: ") + std::strerror(error));
    }
    const uint64_t oldLength = file_.oldLength();
    const WaveLayout layout = walkChunks(head.data(), head.size(), oldLength);
    if (!layout.riffWave) return refusal("Can't find data block in wave file!");
    if (!layout.hasData && layout.hasFormat && formatMatches(layout.format, rate_, bits_)) {
        return refusal("Can't find data block in wave file!");
    }
    if (!layout.hasFormat || !formatMatches(layout.format, rate_, bits_)) {
        char problem[160];
        std::snprintf(problem, sizeof problem,
                      "is not a one-channel %u-bit wave file at %u samples per second", bits_,
                      rate_);
        return refuse(problem);
    }
    if (!layout.hasData) return refusal("Can't find data block in wave file!");
    if (chunkFollowsData(file_.oldFd(), layout, oldLength)) {
        return refuse("has another chunk after its audio");
    }
    dataTag_ = layout.dataTag;
    audioStart_ = layout.dataTag + 8;
    writeAt_ = audioEnd(layout, oldLength, bytesPerSample(bits_));
    if (otherDataFollows(file_.oldFd(), writeAt_, oldLength, bytesPerSample(bits_))) {
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
    const uint64_t oldLength = file_.oldLength();
    if (oldLength > writeAt_ && oldLength - writeAt_ <= kMaxKeptTail) {
        oldTail_.resize(static_cast<size_t>(oldLength - writeAt_));
        if (const int error = readAt(file_.oldFd(), writeAt_, oldTail_)) {
            return refuse(std::string("can't be read: ") + std::strerror(error));
        }
    }
    writeFd_ = file_.oldFd();
    return std::nullopt;
}

uint64_t WaveFile::audioFrames() const { return (writeAt_ - audioStart_) / frameBytes(); }

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
    if (const int error = writeAll(writeFd_, start.data(), start.size())) return failed(error);
    std::vector<uint8_t> buffer;
    for (uint64_t done = 0; done < oldAudioBytes_;) {
        if (const int signal = interruptSignal()) return stopped(interruption(signal));
        buffer.resize(static_cast<size_t>(std::min<uint64_t>(kCopyBytes, oldAudioBytes_ - done)));
        if (const int error = readAt(file_.oldFd(), oldAudioStart_ + done, buffer)) {
            return failed(error);
        }
        if (buffer.empty()) return failed(EIO);
        if (const int error = writeAll(writeFd_, buffer.data(), buffer.size())) return failed(error);
        done += buffer.size();
    }
    return std::nullopt;
}

Outcome WaveFile::writeTrack(BeatSchedule schedule, const TrackClicks& clicks,
                             const std::vector<TrackOutput*>& alongside) {
    if (Outcome r = startRewrite()) return r;
    if (mode_ != Mode::Stream && ::lseek(writeFd_, static_cast<off_t>(writeAt_), SEEK_SET) < 0) {
        return failed(errno);
    }
    TrackSamples samples(writeFd_, clicks, bytesPerSample(bits_));
    std::vector<TrackOutput*> outputs{&samples};
    outputs.insert(outputs.end(), alongside.begin(), alongside.end());
    walkTrack(schedule, clickLengths(clicks, bytesPerSample(bits_)), clicks.overlap, outputs);
    writeAt_ += samples.written();
    if (samples.stop()) return stopped(*samples.stop());
    return std::nullopt;
}

// Ends the audio with its pad byte when its length is odd, and states the
// true sizes. The sizes are written last, once the samples are on disk, so
// that a file cut off before then still reads as it did.
Outcome WaveFile::commit() {
    if (const int signal = interruptSignal()) return stopped(interruption(signal));
    if (mode_ == Mode::Stream) return finishStream();
    if (Outcome r = startRewrite()) return r;
    const uint64_t dataBytes = writeAt_ - audioStart_;
    const uint64_t end = lengthAfter(0);
    if (!fitsWaveSize(end)) return failed(EFBIG);
    if (end > writeAt_) {
        const uint8_t pad = 0;
        if (const int error = writeAt(writeFd_, writeAt_, &pad, 1)) return failed(error);
    }
    if (::ftruncate(writeFd_, static_cast<off_t>(end)) != 0) return failed(errno);
    if (mode_ == Mode::Append && ::fdatasync(writeFd_) != 0) return failed(errno);
    if (const int signal = interruptSignal()) return stopped(interruption(signal));
    uint8_t field[4];
    putU32le(field, static_cast<uint32_t>(dataBytes));
    sizesWritten_ = true;
    if (const int error = writeAt(writeFd_, dataTag_ + 4, field, 4)) return failed(error);
    if (channels_ > 2) {
        putU32le(field, static_cast<uint32_t>(dataBytes / frameBytes()));
        if (const int error = writeAt(writeFd_, kFactFrames, field, 4)) return failed(error);
    }
    putU32le(field, static_cast<uint32_t>(end - kRiffHeaderBytes));
    if (const int error = writeAt(writeFd_, 4, field, 4)) return failed(error);
    const int error = mode_ == Mode::Append ? (::fsync(writeFd_) != 0 ? errno : 0) : file_.finish();
    if (error != 0) return failed(error);
    // A signal that came during the flush still undoes the work.
    if (const int signal = interruptSignal()) return stopped(interruption(signal));
    return mode_ == Mode::Append ? finishAppend() : finishCreate();
}

// The new file in place; the user's file stays locked until then.
Outcome WaveFile::finishCreate() {
    writeFd_ = -1;
    if (const int error = file_.commit()) return failed(error);
    committed_ = true;
    guard_.reset();
    return std::nullopt;
}

// A stream cannot be repaired: its audio must be what the header said.
Outcome WaveFile::finishStream() {
    const uint64_t dataBytes = writeAt_ - audioStart_;
    if (dataBytes != announced_) return failed(EIO);
    if (dataBytes % 2 == 1) {
        const uint8_t pad = 0;
        if (const int error = writeAll(writeFd_, &pad, 1)) return failed(error);
    }
    committed_ = true;
    writeFd_ = -1;  // the caller's
    guard_.reset();
    return std::nullopt;
}

Outcome WaveFile::finishAppend() {
    committed_ = true;
    writeFd_ = -1;
    if (const int error = file_.release()) {
        return fileFailure(path_, error, "Can't write " + quoted(path_) + ": " + std::strerror(error));
    }
    guard_.reset();
    return std::nullopt;
}

void WaveFile::rollBack() {
    if (committed_) return;
    file_.discard();
    if (mode_ == Mode::Append && writeFd_ >= 0) {
        const uint64_t oldLength = file_.oldLength();
        if (::ftruncate(writeFd_, static_cast<off_t>(oldLength)) == 0 && !oldTail_.empty()) {
            writeAt(writeFd_, oldLength - oldTail_.size(), oldTail_.data(), oldTail_.size());
        }
        if (sizesWritten_) {
            writeAt(writeFd_, 4, oldSizes_.data(), 4);
            writeAt(writeFd_, dataTag_ + 4, oldSizes_.data() + 4, 4);
        }
        ::fsync(writeFd_);
    }
    writeFd_ = -1;
    mode_ = Mode::None;
}
