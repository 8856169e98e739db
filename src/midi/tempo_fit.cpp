#include "midi/tempo_fit.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <deque>
#include <limits>

#include "core/interrupt.hpp"

namespace {

constexpr int64_t kLongestTempo = 0xFFFFFF;   // microseconds a quarter in three bytes

Failure tooSlow(size_t section, const std::vector<std::string>& names) {
    // A section without a name continues the one before: it goes by that one's.
    size_t named = section;
    while (named > 0 && named < names.size() && names[named].empty()) --named;
    const std::string name = named < names.size() ? names[named] : std::to_string(section + 1);
    return refusal("a beat of '" + name + "' is too long for a MIDI tempo (at most 16.777215 "
                   "seconds a quarter note)");
}

double nominalQuarterMicros(const ScheduledSection& s) {
    switch (s.rounding) {
        case BeatRounding::FileGrid: return 60e6 / static_cast<double>(s.tempo);
        case BeatRounding::WholeBeats:
            return static_cast<double>(s.beatLength) * 1e6 / static_cast<double>(s.rate);
        case BeatRounding::Exact: break;
    }
    return s.tempos.empty() ? 0.0 : 60e6 / s.tempos.front();
}

// A beat of the grid as the conductor sees it.
struct GridBeat {
    int64_t tick = 0;
    double micros = 0.0;  // its click: frame x 1e6 / rate
    size_t section = 0;
    bool forced = false;  // a Set Tempo starts here
    double exactMicros = 0.0;  // where it falls before rounding to a frame
};

// The conductor track. Tempos are chosen in windows: from a beat where a Set
// Tempo goes, one tempo holds for as many beats as it keeps within the
// tolerance of their clicks; the tempos that do so for every beat so far
// form an interval, narrowed beat by beat, and the window closes before the
// beat that leaves no whole number in it, or at a beat that must start a
// window of its own. Of the interval, the whole number nearest the
// section's tempo is written (nearest the beat's length in the audio for a
// beat of a change of tempo). The MIDI time of the window's start is kept
// exactly, in microseconds / 960.
//
// Time Signatures and Markers inside an open window wait (at most three a
// section) and follow its Set Tempo, so the track stays in tick order.
}  // namespace

class Conductor {
public:
    // A beat may lie up to one sample at `rate` from its click.
    Conductor(SmfWriter& out, const std::vector<SectionFacts>& facts,
              const std::vector<std::string>& names, uint32_t rate)
        : out_(out), facts_(facts), names_(names), tolerance_(1e6 / std::max<uint32_t>(rate, 1)) {}

    // A Time Signature, when it differs from the one in effect.
    void meter(int64_t tick, int64_t numerator, int shift) {
        if (numerator == meterNumerator_ && shift == meterShift_) return;
        pending_.push_back(Meta{tick, 0, static_cast<uint8_t>(numerator), static_cast<uint8_t>(shift), false});
        meterNumerator_ = numerator;
        meterShift_ = shift;
    }

    // A Marker, when the section has a name.
    void marker(int64_t tick, size_t section) {
        if (section >= names_.size() || names_[section].empty()) return;
        pending_.push_back(Meta{tick, section, 0, 0, true});
    }

    void beat(const GridBeat& b) {
        if (!open_) return open(b, 0);
        extend(b);
    }

    // `end` is where the beat after the last one would be.
    void finish(const GridBeat& end) {
        if (open_ && followsAudio_ && !bounded_) {
            // The last beat of a change of tempo lasts until the track ends.
            GridBeat last = end;
            last.forced = true;
            extend(last);
        } else if (open_) {
            const std::optional<int64_t> tempo = chooseTempo(start_);
            if (!tempo) return out_.fail(tooSlow(start_.section, names_));
            writeTempo(start_.tick, *tempo);
        } else if (!facts_.empty()) {
            // A track without beats still states a tempo at its start, where
            // readers look for one.
            const double quarter = facts_.front().quarterMicros;
            if (quarter >= 1.0 && quarter < static_cast<double>(kLongestTempo) + 0.5) {
                writeTempo(0, std::llround(quarter));
            }
        }
        writeMetas(std::numeric_limits<int64_t>::max());
    }

private:
    struct Meta {
        int64_t tick;
        size_t section;
        uint8_t numerator;
        uint8_t shift;
        bool marker;
    };

    void open(const GridBeat& b, int64_t midiTime) {
        open_ = true;
        start_ = b;
        startTime_ = midiTime;
        followsAudio_ = b.forced && facts_[b.section].changing;
        haveLast_ = false;
        free();
        // A steady tempo that whole microseconds do not state exactly takes
        // the whole number below it or the one above, whichever brings the
        // MIDI time back towards the clicks: a lane of two values a DAW
        // shows as the tempo itself, changed only where the drift reaches a
        // sample.
        const SectionFacts& f = facts_[b.section];
        if (f.exactTimes && !f.changing && f.quarterMicros >= 1.0 &&
            f.quarterMicros < static_cast<double>(kLongestTempo)) {
            const double ahead = static_cast<double>(midiTime) / kTicksPerQuarter - b.exactMicros;
            low_ = high_ = std::fabs(ahead) < 1e-3 ? std::round(f.quarterMicros)
                           : ahead > 0.0          ? std::floor(f.quarterMicros)
                                                  : std::ceil(f.quarterMicros);
            bounded_ = true;
            fixed_ = true;
        }
    }

    // Any tempo from 1 to the longest, until beats narrow it.
    void free() {
        bounded_ = false;
        fixed_ = false;
        low_ = 1.0;
        high_ = static_cast<double>(kLongestTempo);
    }

    void extend(const GridBeat& b) {
        const double span = static_cast<double>(b.tick - start_.tick);
        const double from = static_cast<double>(startTime_);
        // A steady tempo keeps each beat within half a sample of where it
        // falls unrounded, and so within a sample of its click.
        const double at = fixed_ ? b.exactMicros : b.micros;
        const double tolerance = fixed_ ? tolerance_ / 2 : tolerance_;
        const double low = ((at - tolerance) * kTicksPerQuarter - from) / span;
        const double high = ((at + tolerance) * kTicksPerQuarter - from) / span;
        const double narrowLow = std::max(low_, low);
        const double narrowHigh = std::min(high_, high);
        if (std::ceil(narrowLow) <= std::floor(narrowHigh)) {
            low_ = narrowLow;
            high_ = narrowHigh;
            bounded_ = true;
            if (b.forced) return closeAt(b);
            last_ = b;
            haveLast_ = true;
            return;
        }
        if (fixed_ && !haveLast_) {
            // Not even the first beat fits the steady tempo: any tempo that does.
            free();
            return extend(b);
        }
        if (haveLast_) {
            // A new window from the last beat the tempo still fitted; b is tried again there.
            GridBeat restart = last_;
            restart.forced = false;
            closeAt(restart);
            if (!out_.failed()) extend(b);
            return;
        }
        // b alone fits no tempo from 1 to the longest, which holds whole
        // numbers at both ends: so it needs a longer tempo, or a quarter
        // shorter than a microsecond, which gets 1 and runs ahead.
        if (low > static_cast<double>(kLongestTempo)) return out_.fail(tooSlow(start_.section, names_));
        low_ = high_ = 1.0;
        bounded_ = true;
        closeAt(b);
    }

    // The tempo of the window that `end` closes: nothing when it is too long.
    std::optional<int64_t> chooseTempo(const GridBeat& end) const {
        double target = facts_[start_.section].quarterMicros;
        if (followsAudio_ && end.tick > start_.tick) {
            target = (end.micros - start_.micros) * kTicksPerQuarter /
                     static_cast<double>(end.tick - start_.tick);
        }
        if (!bounded_) {
            if (!(target < static_cast<double>(kLongestTempo) + 0.5)) return std::nullopt;
            return target >= 1.0 ? std::llround(target) : 1;
        }
        const double low = std::ceil(low_);
        const double high = std::floor(high_);
        if (!(target >= low)) target = low;
        if (!(target <= high)) target = high;
        return std::llround(target);
    }

    // Writes the window's Set Tempo and what waited inside it; opens the next at `end`.
    void closeAt(const GridBeat& end) {
        const std::optional<int64_t> tempo = chooseTempo(end);
        if (!tempo) return out_.fail(tooSlow(start_.section, names_));
        writeTempo(start_.tick, *tempo);
        writeMetas(end.tick);
        int64_t length = 0;
        int64_t time = 0;
        if (__builtin_mul_overflow(end.tick - start_.tick, *tempo, &length) ||
            __builtin_add_overflow(startTime_, length, &time)) {
            return out_.fail(midiError(EOVERFLOW));
        }
        open(end, time);
    }

    void writeTempo(int64_t tick, int64_t tempo) {
        out_.at(tick);
        out_.setTempo(static_cast<uint32_t>(tempo));
    }

    // The waiting events before `tick`, in order: at one tick the Time
    // Signature was queued before the Markers.
    void writeMetas(int64_t tick) {
        while (!pending_.empty() && pending_.front().tick < tick && !out_.failed()) {
            const Meta& m = pending_.front();
            out_.at(m.tick);
            if (m.marker) {
                out_.text(0x06, names_[m.section]);
            } else {
                out_.timeSignature(m.numerator, m.shift);
            }
            pending_.pop_front();
        }
    }

    SmfWriter& out_;
    const std::vector<SectionFacts>& facts_;
    const std::vector<std::string>& names_;
    double tolerance_;  // microseconds
    std::deque<Meta> pending_;
    int64_t meterNumerator_ = 0;  // 0: none in effect
    int meterShift_ = 0;

    bool open_ = false;
    GridBeat start_;           // the window's first beat
    int64_t startTime_ = 0;    // its MIDI time, in microseconds / 960
    bool followsAudio_ = false;  // a beat of a change of tempo: its length in the audio is the aim
    bool bounded_ = false;     // some beat has narrowed the interval
    bool fixed_ = false;       // a steady tempo's whole number, chosen at the start
    double low_ = 1.0;
    double high_ = 0.0;
    bool haveLast_ = false;
    GridBeat last_;            // the last beat that narrowed it, not forced
};

namespace {

double microsAt(int64_t frame, uint32_t rate) {
    return static_cast<double>(frame) * 1e6 / static_cast<double>(rate);
}

}  // namespace

Outcome surveySections(const std::vector<ScheduledSection>& sections,
                       const std::vector<std::string>& names, const std::vector<int64_t>& beats,
                       std::vector<SectionFacts>& facts) {
    facts.assign(sections.size(), SectionFacts{});
    for (size_t i = 0; i < sections.size(); ++i) {
        const ScheduledSection& s = sections[i];
        SectionFacts& f = facts[i];
        // A dotted beat is three notes of twice its note's value: a bar of
        // two dotted quarters is 6/8.
        const double note = s.dotted ? s.noteValue * 1.5 : s.noteValue;
        for (int shift = 0; shift <= 6 && f.beatTicks == 0; ++shift) {
            if (note == static_cast<double>(1 << shift)) {
                f.beatTicks = s.dotted ? (kWholeNoteTicks >> shift) * 3 / 2 : kWholeNoteTicks >> shift;
                f.noteShift = s.dotted ? shift + 1 : shift;
                f.meterFactor = s.dotted ? 3 : 1;
            }
        }
        if (f.beatTicks == 0) return midiError(EINVAL);
        // The same test as the schedule's: one tempo, or a change from A to A, is steady.
        f.changing = s.rounding == BeatRounding::Exact && s.tempos.size() > 1 &&
                     !(s.ramp && s.tempos.size() == 2 && s.tempos[0] == s.tempos[1]);
        f.quarterMicros = nominalQuarterMicros(s);
        f.exactTimes = s.rounding == BeatRounding::Exact;
        f.beats = i < beats.size() ? beats[i] : 0;
        // A steady section whose quarter no tempo can state is refused
        // before anything is written.
        if (f.beats > 0 && !f.changing &&
            !(f.quarterMicros < static_cast<double>(kLongestTempo) + 0.5)) {
            return tooSlow(i, names);
        }
    }
    return std::nullopt;
}

ConductorTrack::ConductorTrack(SmfWriter& out, const std::vector<ScheduledSection>& sections,
                               const std::vector<SectionFacts>& facts,
                               const std::vector<std::string>& names)
    : out_(out),
      sections_(sections),
      facts_(facts),
      conductor_(std::make_unique<Conductor>(out, facts, names,
                                             sections.empty() ? 48000 : sections.front().rate)),
      rate_(sections.empty() ? 1 : sections.front().rate) {}

void ConductorTrack::begin() { out_.beginTrack(); }

ConductorTrack::~ConductorTrack() = default;

void ConductorTrack::beat(const BeatEvent& e) {
    if (out_.failed() || e.kind == ClickKind::Subdivision) return;
    Conductor& conductor = *conductor_;
    const ScheduledSection& s = sections_[e.section];
    const SectionFacts& f = facts_[e.section];
    GridBeat b{tick_, microsAt(e.frame, s.rate), e.section, f.changing, e.time * 1e6};
    if (!anyBeat_ || e.section != previous_) {
        const SectionFacts& p = facts_[previous_];
        b.forced = !anyBeat_ || f.changing || p.changing || f.quarterMicros != p.quarterMicros;
        // A Time Signature has 8 bits for its numerator: a section of
        // more beats a measure, or none, cannot state its own.
        const int64_t perMeasure = s.beatsPerMeasure;
        shortMeasureAt_ = -1;
        if (perMeasure < 1 || perMeasure * f.meterFactor > 255) {
            // A bar of one beat keeps the bar lines on the beats, so that
            // the next section still starts on one.
            conductor.meter(tick_, f.meterFactor, f.noteShift);
        } else {
            conductor.meter(tick_, std::min(f.beats, perMeasure) * f.meterFactor, f.noteShift);
            // The last measure, when short, states its own length, so that
            // the recorder's next bar line falls on the next section.
            if (f.beats > perMeasure && f.beats % perMeasure != 0) {
                shortMeasureAt_ = f.beats / perMeasure * perMeasure;
            }
        }
        for (; unmarked_ <= e.section; ++unmarked_) conductor.marker(tick_, unmarked_);
        inSection_ = 0;
    } else {
        b.forced = f.changing;
    }
    if (inSection_ == shortMeasureAt_) {
        conductor.meter(tick_, f.beats % s.beatsPerMeasure * f.meterFactor, f.noteShift);
    }
    conductor.beat(b);
    tick_ += f.beatTicks;
    ++inSection_;
    previous_ = e.section;
    rate_ = s.rate;
    anyBeat_ = true;
}

void ConductorTrack::finish(int64_t endFrame) {
    if (out_.failed()) return;
    for (; unmarked_ < sections_.size(); ++unmarked_) conductor_->marker(tick_, unmarked_);
    conductor_->finish(GridBeat{tick_, microsAt(endFrame, rate_), previous_, true, microsAt(endFrame, rate_)});
    out_.endTrack();
}
