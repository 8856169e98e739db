#include "wave/beat_grid.hpp"

#include <cmath>
#include <limits>

BeatGrid::BeatGrid(uint32_t rate, float tempo, int64_t count, int32_t clickLength)
    : spacing_(static_cast<float>(rate) / (tempo / 60.0f)),
      count_(count),
      clickLength_(clickLength > 0 ? clickLength : 0) {}

int64_t firstSampleAtOrAfter(float target, int64_t from) {
    if (static_cast<float>(from) >= target) return from;
    if (!(target < 4.0e18f)) return std::numeric_limits<int64_t>::max();
    int64_t n = static_cast<int64_t>(std::ceil(target));
    if (n < from) n = from;
    // Above 2^24 a sample number can round up to the target, so a sample or
    // a few before ceil(target) may already qualify.
    while (n - 1 >= from && static_cast<float>(n - 1) >= target) --n;
    return n;
}

bool BeatGrid::next(int64_t& silence, bool& click) {
    if (written_ >= count_) return false;
    if (clickLength_ == 0) {
        // An empty click adds nothing: the whole track is silence.
        silence = count_ - written_;
        click = false;
        written_ = count_;
        return true;
    }
    const int64_t start = firstSampleAtOrAfter(spacing_ * beat_, written_);
    if (start >= count_) {
        silence = count_ - written_;
        click = false;
        written_ = count_;
        return true;
    }
    silence = start - written_;
    click = true;
    written_ = start + clickLength_;
    beat_ += 1.0f;
    return true;
}

int64_t trackSamples(uint32_t rate, float tempo, int64_t count, int32_t clickLength) {
    BeatGrid grid(rate, tempo, count, clickLength);
    int64_t total = 0;
    int64_t silence = 0;
    bool click = false;
    while (grid.next(silence, click)) {
        total += silence;
        if (click && clickLength > 0) total += clickLength;
    }
    return total;
}
