#include "core/beat_schedule.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

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

BeatSchedule::BeatSchedule(std::vector<ScheduledSection> sections)
    : sections_(std::move(sections)) {
    startSection();
}

void BeatSchedule::startSection() {
    beatCounter_ = 0.0f;
    beatIndex_ = 0;
    notBefore_ = 0;
    clickEnd_ = 0;
    beat_ = 1;
    measure_ = 1;
    if (index_ < sections_.size()) {
        const ScheduledSection& s = sections_[index_];
        spacing_ = static_cast<float>(s.rate) / (s.tempo / 60.0f);
    }
}

bool BeatSchedule::nextInSection(BeatEvent& event) {
    const ScheduledSection& s = sections_[index_];
    int64_t start = 0;
    if (s.rounding == BeatRounding::FileGrid) {
        start = firstSampleAtOrAfter(spacing_ * beatCounter_, notBefore_);
        if (start >= s.frames) return false;
        clickEnd_ = start + std::max<int64_t>(s.clickLength, 0);
        // At least one frame on, so that the schedule moves even with an
        // empty click once the beat counter no longer grows (past 2^24 beats).
        notBefore_ = std::max(clickEnd_, start + 1);
        beatCounter_ += 1.0f;
    } else {
        if (s.beatLength < 1 || beatIndex_ > s.frames / s.beatLength) return false;
        start = beatIndex_ * s.beatLength;
    }
    ++beatIndex_;
    event.frame = sectionStart_ + start;
    event.beat = beat_;
    event.measure = measure_;
    event.section = index_;
    if (beat_ == s.beatsPerMeasure) {
        beat_ = 1;
        ++measure_;
    } else {
        ++beat_;
    }
    return true;
}

bool BeatSchedule::next(BeatEvent& event) {
    while (index_ < sections_.size()) {
        if (nextInSection(event)) return true;
        const ScheduledSection& s = sections_[index_];
        const int64_t length =
            s.rounding == BeatRounding::FileGrid
                ? std::max(s.frames, clickEnd_)
                : s.frames;
        sectionStart_ += std::max<int64_t>(length, 0);
        ++index_;
        startSection();
    }
    return false;
}
