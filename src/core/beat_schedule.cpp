#include "core/beat_schedule.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kWholeNote = 240.0;  // seconds of a whole note at one quarter a minute

}  // namespace

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

ClickKind kindOfBeat(const std::string& pattern, int64_t beat, bool accentFirst) {
    if (pattern.empty() || beat < 1) {
        return accentFirst && beat == 1 ? ClickKind::Accent : ClickKind::Normal;
    }
    const char c = pattern[static_cast<size_t>((beat - 1) % static_cast<int64_t>(pattern.size()))];
    if (c == 'o') return ClickKind::Soft;
    return c == 'X' ? ClickKind::Accent : c == '.' ? ClickKind::Silent : ClickKind::Normal;
}

BeatSchedule::BeatSchedule(std::vector<ScheduledSection> sections)
    : sections_(std::move(sections)) {
    // Room for a beat's subdivisions, made once: a player walking the
    // schedule as it plays allocates nothing.
    size_t most = 0;
    for (const ScheduledSection& s : sections_) {
        most = std::max(most, static_cast<size_t>(std::max(s.subdivide, 1) - 1));
    }
    pending_.reserve(most);
    startSection();
}

void BeatSchedule::startSection() {
    beatCounter_ = 0.0f;
    beatIndex_ = 0;
    notBefore_ = 0;
    clickEnd_ = 0;
    listTime_ = 0.0;
    beat_ = 1;
    measure_ = 1;
    if (index_ < sections_.size()) {
        starts_.push_back(sectionStart_);
        const ScheduledSection& s = sections_[index_];
        measure_ = s.firstMeasure;
        spacing_ = static_cast<float>(s.rate) / (s.tempo / 60.0f);
        if (s.firstBeat > 0 && s.beatsPerMeasure > 0) {
            measure_ = s.firstMeasure + s.firstBeat / s.beatsPerMeasure;
            beat_ = 1 + s.firstBeat % s.beatsPerMeasure;
        } else if (s.firstBeat > 0) {
            beat_ = 1 + s.firstBeat;
        }
    }
}

namespace {

bool tempoList(const ScheduledSection& s) {
    return s.tempos.size() > 1 && !(s.ramp && s.tempos.size() == 2);
}

// A beat's length in seconds at `tempo` quarter notes a minute.
double beatSeconds(double tempo, double noteValue) { return kWholeNote / (tempo * noteValue); }

// Seconds from the start of an exact section of one tempo or a change of
// tempo to its beat k. Under a change from A to B over n beats, the tempo at
// beat k is T = A + (B - A) k / n, and the time to beat k is the integral of
// the beat length over the beats: 240 k / (L d), L the logarithmic mean of A
// and T.
double exactTimeOfBeat(const ScheduledSection& s, int64_t k) {
    // The first beat is the section's start, even in a section without beats.
    if (k <= 0 || s.tempos.empty()) return 0.0;
    const double d = s.noteValue;
    if (s.tempos.size() == 1 || (s.ramp && s.tempos[0] == s.tempos[1])) {
        return kWholeNote * static_cast<double>(k) / (s.tempos[0] * d);
    }
    const double a = s.tempos[0];
    const double t = a + (s.tempos[1] - a) * static_cast<double>(k) /
                             static_cast<double>(s.beatCount);
    const double mean = a == t ? a : (a - t) / (std::log(a) - std::log(t));
    return kWholeNote * static_cast<double>(k) / (mean * d);
}

}  // namespace

double subdivisionPoint(int32_t j, int32_t ways, double swing) {
    if (j % 2 == 0 || swing == 0.5) return static_cast<double>(j) / ways;
    // The second of the pair j - 1, j: with an odd number of ways (the three
    // eighths of a dotted beat) the last one stands alone, unswung.
    return (j - 1 + 2.0 * swing) / ways;
}

double tempoAtBeat(const ScheduledSection& s, int64_t k) {
    switch (s.rounding) {
        case BeatRounding::FileGrid: return static_cast<double>(s.tempo);
        case BeatRounding::WholeBeats:
            return s.beatLength > 0 ? static_cast<double>(s.rate) * 60.0 / static_cast<double>(s.beatLength)
                                    : 0.0;
        case BeatRounding::Exact: break;
    }
    if (s.tempos.empty()) return 0.0;
    if (tempoList(s)) {
        const int64_t last = static_cast<int64_t>(s.tempos.size()) - 1;
        return s.tempos[static_cast<size_t>(std::clamp<int64_t>(k, 0, last))];
    }
    if (s.tempos.size() == 1 || s.beatCount <= 0) return s.tempos[0];
    const double a = s.tempos[0];
    return a + (s.tempos[1] - a) * static_cast<double>(std::clamp<int64_t>(k, 0, s.beatCount)) /
                   static_cast<double>(s.beatCount);
}

double exactSectionSeconds(const ScheduledSection& s) {
    if (!tempoList(s)) return exactTimeOfBeat(s, s.beatCount);
    double seconds = 0.0;
    for (const double t : s.tempos) seconds += beatSeconds(t, s.noteValue);
    return seconds;
}

// Seconds from the section's start to its beat k.
double BeatSchedule::exactBeatTime(const ScheduledSection& s, int64_t k) {
    if (!tempoList(s)) return exactTimeOfBeat(s, k);
    // One tempo for each beat: the beats' lengths added up, beat by beat.
    while (beatIndex_ < k && beatIndex_ < static_cast<int64_t>(s.tempos.size())) {
        listTime_ += beatSeconds(s.tempos[static_cast<size_t>(beatIndex_)], s.noteValue);
        ++beatIndex_;
    }
    return listTime_;
}

void BeatSchedule::addSubdivisions(const ScheduledSection& s, const BeatEvent& beat, double from,
                                   double to, int64_t nextBeat) {
    // Far into a long track the menu's grid can run a few frames ahead of
    // the exact times: a subdivision that would reach the next beat would
    // push it back. The beat's subdivisions are then spread evenly between
    // the two beats as they are laid.
    if (s.subdivide > 1 &&
        std::llround(from + (to - from) * subdivisionPoint(s.subdivide - 1, s.subdivide, s.swing)) >=
            nextBeat) {
        from = static_cast<double>(beat.frame);
        to = static_cast<double>(nextBeat);
    }
    for (int32_t j = 1; j < s.subdivide; ++j) {
        BeatEvent sub = beat;
        sub.kind = ClickKind::Subdivision;
        const double at = from + (to - from) * subdivisionPoint(j, s.subdivide, s.swing);
        sub.frame = std::llround(at);
        sub.time = at / static_cast<double>(s.rate);
        // A subdivision never lands on or before its own beat, or on the one
        // before it, nor on or after the next beat.
        const int64_t after = pending_.empty() ? beat.frame : pending_.back().frame;
        if (sub.frame > after && sub.frame < nextBeat) pending_.push_back(sub);
    }
}

bool BeatSchedule::nextBeat(BeatEvent& event) {
    const ScheduledSection& s = sections_[index_];
    int64_t start = 0;
    double exactFrom = 0.0, exactTo = 0.0;  // the beat and the next, in frames, for subdivisions
    int64_t nextBeat = std::numeric_limits<int64_t>::max();  // where the next beat starts
    const int64_t k = beatIndex_;
    if (s.rounding == BeatRounding::FileGrid) {
        start = firstSampleAtOrAfter(spacing_ * beatCounter_, notBefore_);
        if (start >= s.frames) return false;
        clickEnd_ = start + std::max<int64_t>(s.clickLength, 0);
        // At least one frame on, so that the schedule moves even with an
        // empty click once the beat counter no longer grows (past 2^24 beats).
        notBefore_ = std::max(clickEnd_, start + 1);
        beatCounter_ += 1.0f;
        if (s.subdivide > 1) {
            const int64_t next = firstSampleAtOrAfter(spacing_ * beatCounter_, notBefore_);
            nextBeat = sectionStart_ + (next < s.frames ? next : std::max(s.frames, clickEnd_));
        }
        start += sectionStart_;
        const double spacing = static_cast<double>(s.rate) * 60.0 / static_cast<double>(s.tempo);
        // A beat that a long click pushed back takes its subdivisions with it.
        exactFrom = std::max(static_cast<double>(sectionStart_) + spacing * static_cast<double>(k),
                             static_cast<double>(start));
        exactTo = exactFrom + spacing;
        ++beatIndex_;
    } else if (s.rounding == BeatRounding::WholeBeats) {
        if (s.beatLength < 1 || k > s.frames / s.beatLength) return false;
        start = sectionStart_ + k * s.beatLength;
        nextBeat = start + s.beatLength;
        exactFrom = static_cast<double>(start);
        exactTo = exactFrom + static_cast<double>(s.beatLength);
        ++beatIndex_;
    } else {
        if (k >= s.beatCount) return false;
        const double rate = static_cast<double>(s.rate);
        const double now = sectionStartTime_ + exactBeatTime(s, k);
        const double after = sectionStartTime_ + exactBeatTime(s, k + 1);
        if (s.tempos.size() > 1 && !s.ramp) beatIndex_ = k + 1;  // the list's running sum moved on
        else ++beatIndex_;
        start = std::llround(now * rate);
        nextBeat = std::llround(after * rate);
        exactFrom = now * rate;
        exactTo = after * rate;
    }
    event.frame = std::max(start, lastFrame_);
    event.time = exactFrom / static_cast<double>(s.rate);
    event.beat = beat_;
    event.measure = measure_;
    event.section = index_;
    event.kind = s.mute.silent(s.mutePhase, measure_ - s.firstMeasure) ? ClickKind::Silent
                                                           : kindOfBeat(s.pattern, beat_, s.accentFirst);
    event.voice = s.voice;
    if (event.kind != ClickKind::Silent) addSubdivisions(s, event, exactFrom, exactTo, nextBeat);
    if (beat_ == s.beatsPerMeasure) {
        beat_ = 1;
        ++measure_;
    } else {
        ++beat_;
    }
    return true;
}

bool BeatSchedule::next(BeatEvent& event) {
    if (nextPending_ < pending_.size()) {
        event = pending_[nextPending_++];
        lastFrame_ = event.frame;
        return true;
    }
    // Every subdivision handed out: the room is kept for the next beat's.
    pending_.clear();
    nextPending_ = 0;
    while (index_ < sections_.size()) {
        if (nextBeat(event)) {
            lastFrame_ = event.frame;
            return true;
        }
        const ScheduledSection& s = sections_[index_];
        if (s.rounding == BeatRounding::Exact) {
            // The next section starts where this one's beat n would.
            sectionStartTime_ += exactBeatTime(s, s.beatCount);
            sectionStart_ = std::llround(sectionStartTime_ * static_cast<double>(s.rate));
        } else {
            const int64_t length =
                s.rounding == BeatRounding::FileGrid ? std::max(s.frames, clickEnd_) : s.frames;
            sectionStart_ += std::max<int64_t>(length, 0);
            sectionStartTime_ = static_cast<double>(sectionStart_) / static_cast<double>(s.rate);
        }
        ++index_;
        startSection();
    }
    return false;
}
