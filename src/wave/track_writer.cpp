#include "wave/track_writer.hpp"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "core/interrupt.hpp"
#include "wave/header.hpp"

namespace {

constexpr size_t kSilenceBlock = 1 << 16;   // bytes in the block of zeros
constexpr size_t kGatherPieces = 1024;      // pieces handed over in one write
constexpr size_t kGatherBytes = 1 << 20;    // bytes after which they are handed over

}  // namespace

// Hands a track to the file as a list of pieces, copies of the click and
// runs of zeros, gathered into large writes. The pieces point into the
// click and into one block of zeros, so no byte of the track is copied on
// the way and memory stays the same whatever the track's length.
class GatherWriter {
public:
    explicit GatherWriter(int fd) : fd_(fd), zeros_(kSilenceBlock) {}

    // Adds `frames` frames from `from` that the mix makes (a quieter click,
    // or clicks summed), encoded piece by piece into a buffer of its own
    // that each flush empties.
    WriteResult addLaid(ClickMix& mix, int64_t from, int64_t frames) {
        if (made_.empty()) made_.resize(kGatherBytes);
        const size_t frameBytes = mix.frameBytes();
        const int64_t room = static_cast<int64_t>(made_.size() / frameBytes);
        for (int64_t done = 0; done < frames;) {
            const int64_t piece = std::min(frames - done, room);
            const size_t size = static_cast<size_t>(piece) * frameBytes;
            if (count_ == pieces_.size() || madeUsed_ + size > made_.size()) {
                if (WriteResult r = flush()) return r;
            }
            uint8_t* at = made_.data() + madeUsed_;
            mix.lay(from + done, piece, at);
            madeUsed_ += size;
            pieces_[count_++] = iovec{at, size};
            queued_ += size;
            if (queued_ >= kGatherBytes) {
                if (WriteResult r = flush()) return r;
            }
            done += piece;
        }
        return std::nullopt;
    }

    // `data` must stay valid until the next flush.
    WriteResult add(const uint8_t* data, size_t size) {
        if (size == 0) return std::nullopt;
        if (count_ == pieces_.size()) {
            if (WriteResult r = flush()) return r;
        }
        pieces_[count_++] = iovec{const_cast<uint8_t*>(data), size};
        queued_ += size;
        if (queued_ >= kGatherBytes) return flush();
        return std::nullopt;
    }

    WriteResult addZeros(uint64_t size) {
        while (size > 0) {
            const size_t piece = size < zeros_.size() ? static_cast<size_t>(size) : zeros_.size();
            if (WriteResult r = add(zeros_.data(), piece)) return r;
            size -= piece;
        }
        return std::nullopt;
    }

    // Writes every queued piece, carrying on after a short write. A stop
    // signal is looked for before each write.
    WriteResult flush() {
        size_t first = 0;
        while (first < count_) {
            if (const int signal = interruptSignal()) return interruption(signal);
            const ssize_t done = ::writev(fd_, &pieces_[first], static_cast<int>(count_ - first));
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) return fileFailure({}, done < 0 ? errno : EIO);
            written_ += static_cast<uint64_t>(done);
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
        madeUsed_ = 0;
        return std::nullopt;
    }

    uint64_t written() const { return written_; }

private:
    int fd_;
    std::vector<uint8_t> zeros_;
    std::array<iovec, kGatherPieces> pieces_{};
    size_t count_ = 0;
    size_t queued_ = 0;
    uint64_t written_ = 0;
    std::vector<uint8_t> made_;  // clicks made as they are laid, until the next flush
    size_t madeUsed_ = 0;
};

TrackClicks menuClicks(const std::vector<uint8_t>& click) {
    return TrackClicks{{ClickVoice{bytesOf(click), bytesOf(click), bytesOf(click), bytesOf(click)}},
                       ClickOverlap::Whole, FrameLayout{}};
}

std::vector<ClickLengths> clickLengths(const TrackClicks& clicks, uint32_t bytesPerSample) {
    const auto frames = [&](const ClickBytes& c) {
        return static_cast<int64_t>(c.size / bytesPerSample);
    };
    std::vector<ClickLengths> lengths;
    for (const ClickVoice& v : clicks.voices) {
        lengths.push_back({frames(v.normal), frames(v.accent), frames(v.subdivision), frames(v.soft)});
    }
    return lengths;
}

TrackSamples::TrackSamples(int fd, const TrackClicks& clicks, uint32_t bytesPerSample)
    : writer_(std::make_unique<GatherWriter>(fd)),
      clicks_(clicks),
      mix_(clicks.voices, static_cast<int32_t>(bytesPerSample), clicks.overlap, clicks.layout),
      bytesPerSample_(bytesPerSample),
      frameBytes_(mix_.frameBytes()) {}

TrackSamples::~TrackSamples() = default;

uint64_t TrackSamples::written() const { return writer_->written(); }

bool TrackSamples::layUpTo(int64_t to) {
    while (!result_ && at_ < to) {
        const ClickMix::Piece piece = mix_.pieceAt(at_, to);
        const bool plain = clicks_.layout.plain();
        if (piece.sounding == 0 && clicks_.layout.backing == nullptr) {
            // A silence sample is all zero bytes: runs of it come from one block of zeros.
            result_ = writer_->addZeros(static_cast<uint64_t>(piece.frames) * frameBytes_);
        } else if (plain && piece.only && !clicks_.voices.at(piece.only->voice).madeAsLaid()) {
            const ClickBytes& bytes = clickOf(clicks_.voices.at(piece.only->voice), piece.only->kind);
            result_ = writer_->add(bytes.data + static_cast<uint64_t>(at_ - piece.only->frame) * bytesPerSample_,
                                   static_cast<size_t>(piece.frames) * bytesPerSample_);
        } else {
            result_ = writer_->addLaid(mix_, at_, piece.frames);
        }
        at_ += piece.frames;
    }
    return !result_;
}

bool TrackSamples::take(const TrackEvent& event) {
    if (!layUpTo(event.beat.frame)) return false;
    mix_.take(event.click());
    return true;
}

bool TrackSamples::finish(const TrackEnd& end) {
    if (clicks_.overlap == ClickOverlap::Sum) mix_.cutAt(end.audio);
    if (layUpTo(end.audio)) result_ = writer_->flush();
    return !result_;
}
