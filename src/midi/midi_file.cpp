#include "midi/midi_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <deque>
#include <initializer_list>
#include <limits>
#include <optional>

#include "core/interrupt.hpp"

namespace {

constexpr int64_t kTicksPerQuarter = 960;
constexpr int64_t kWholeNoteTicks = 4 * kTicksPerQuarter;
constexpr int64_t kNoteTicks = kTicksPerQuarter / 4;  // a sixteenth
constexpr int64_t kLongestTempo = 0xFFFFFF;           // microseconds a quarter in three bytes
constexpr double kTolerance = 1e6 / 96000.0;          // half a sample at 48 kHz, in microseconds
constexpr int64_t kLongestDelta = 0x0FFFFFFF;         // what four bytes of variable length hold
constexpr uint64_t kLongestTrack = 0xFFFFFFFF;        // bytes a chunk's 32-bit length can state
constexpr size_t kBufferBytes = 64 * 1024;
constexpr size_t kLongestText = 255;                  // bytes of a text event that every reader takes
constexpr int64_t kEventsBetweenSignalChecks = 4096;

constexpr uint8_t kAccentKey = 76;     // high wood block
constexpr uint8_t kNormalKey = 77;     // low wood block
constexpr uint8_t kBeatVelocity = 100;
constexpr uint8_t kSubdivisionVelocity = 60;
constexpr uint8_t kReleaseVelocity = 0x40;
constexpr uint8_t kNoteOn = 0x99;      // channel 10
constexpr uint8_t kNoteOff = 0x89;

MidiStop failedWith(int error) {
    MidiStop stop;
    stop.error = error;
    return stop;
}

MidiStop stoppedBy(int signal) {
    MidiStop stop;
    stop.signal = signal;
    return stop;
}

MidiStop tooSlow(size_t section) {
    MidiStop stop;
    stop.slowSection = static_cast<int64_t>(section);
    return stop;
}

// How much of `s` a text event keeps: all of it up to kLongestText bytes,
// else the longest start that ends on a UTF-8 character boundary. A
// character is at most four bytes, so at most three continuation bytes
// (10xxxxxx) are given back; text that is no UTF-8 there is cut where it is.
size_t textLength(const std::string& s) {
    if (s.size() <= kLongestText) return s.size();
    const auto continues = [&](size_t i) { return (static_cast<uint8_t>(s[i]) & 0xC0) == 0x80; };
    for (size_t cut = kLongestText; cut + 3 >= kLongestText; --cut) {
        if (!continues(cut)) return cut;
    }
    return kLongestText;
}

// Bytes on their way to the file, through one buffer. The first failure
// sticks: later writes do nothing, and the callers look at failed() to stop.
class ByteStream {
public:
    explicit ByteStream(int fd) : fd_(fd), buffer_(kBufferBytes) {}

    bool failed() const { return stop_.has_value(); }
    const std::optional<MidiStop>& stop() const { return stop_; }
    void fail(const MidiStop& why) {
        if (!stop_) stop_ = why;
    }

    void put(uint8_t byte) {
        if (used_ == buffer_.size()) flush();
        if (failed()) return;
        buffer_[used_++] = byte;
        if (++trackBytes_ > kLongestTrack) fail(failedWith(EFBIG));
    }

    void put(std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes) put(b);
    }

    void put32(uint32_t value) {
        put({static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
             static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    }

    // A variable-length quantity: seven bits a byte, most significant first.
    void quantity(uint32_t value) {
        int shift = 21;
        while (shift > 0 && (value >> shift) == 0) shift -= 7;
        for (; shift > 0; shift -= 7) put(static_cast<uint8_t>(0x80 | ((value >> shift) & 0x7F)));
        put(static_cast<uint8_t>(value & 0x7F));
    }

    // A text meta event of `type` (01 text, 03 track name, 06 marker).
    void text(uint8_t type, const std::string& s) {
        const size_t size = textLength(s);
        put({0xFF, type});
        quantity(static_cast<uint32_t>(size));
        for (size_t i = 0; i < size && !failed(); ++i) put(static_cast<uint8_t>(s[i]));
    }

    // The delta time of an event at `tick`; events come in tick order. A gap
    // longer than a delta can state is bridged by empty text events.
    void at(int64_t tick) {
        int64_t delta = tick - lastTick_;
        while (delta > kLongestDelta) {
            quantity(static_cast<uint32_t>(kLongestDelta));
            text(0x01, std::string());
            delta -= kLongestDelta;
        }
        quantity(static_cast<uint32_t>(delta));
        lastTick_ = tick;
    }

    int64_t lastTick() const { return lastTick_; }

    void beginTrack() {
        lengthAt_ = written_ + used_ + 4;
        put({'M', 'T', 'r', 'k'});
        put32(0);  // written in by endTrack
        trackBytes_ = 0;
        lastTick_ = 0;
    }

    // Writes out the track and then its length.
    void endTrack() {
        flush();
        if (failed()) return;
        const auto size = static_cast<uint32_t>(trackBytes_);
        const uint8_t length[4] = {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                                   static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
        size_t done = 0;
        while (done < sizeof length) {
            const ssize_t n = ::pwrite(fd_, length + done, sizeof length - done,
                                       static_cast<off_t>(lengthAt_ + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return fail(failedWith(n < 0 ? errno : EIO));
            done += static_cast<size_t>(n);
        }
    }

    // Hands the buffer to the file, carrying on after a short write. A stop
    // signal is looked for before each write.
    void flush() {
        size_t done = 0;
        while (done < used_ && !failed()) {
            if (const int signal = interruptSignal()) return fail(stoppedBy(signal));
            const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return fail(failedWith(n < 0 ? errno : EIO));
            done += static_cast<size_t>(n);
            written_ += static_cast<uint64_t>(n);
        }
        used_ = 0;
    }

    // For loops that may go on for long without writing.
    void checkSignal() {
        if (const int signal = interruptSignal()) fail(stoppedBy(signal));
    }

private:
    int fd_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    uint64_t written_ = 0;     // bytes in the file
    uint64_t lengthAt_ = 0;    // where the current track's length goes
    uint64_t trackBytes_ = 0;  // bytes of the current track after its length
    int64_t lastTick_ = 0;
    std::optional<MidiStop> stop_;
};

// What the writer needs to know of each section before it starts.
struct SectionFacts {
    int64_t beats = 0;          // beats of the grid (a silent beat counts, a subdivision does not)
    int64_t beatTicks = 0;      // ticks of one beat
    int noteShift = 2;          // log2 of the note value
    bool changing = false;      // the tempo changes across the section
    double quarterMicros = 0.0; // microseconds a quarter at the section's tempo (its first)
};

double nominalQuarterMicros(const ScheduledSection& s) {
    switch (s.rounding) {
        case BeatRounding::FileGrid: return 60e6 / static_cast<double>(s.tempo);
        case BeatRounding::WholeBeats:
            return static_cast<double>(s.beatLength) * 1e6 / static_cast<double>(s.rate);
        case BeatRounding::Exact: break;
    }
    return s.tempos.empty() ? 0.0 : 60e6 / s.tempos.front();
}

// The sections' beat lengths and tempos, and their beats counted on a
// first walk through the schedule. A note value that is no power of two
// from 1 to 64 has no whole number of ticks: EINVAL.
std::optional<MidiStop> surveySections(const std::vector<ScheduledSection>& sections,
                                       std::vector<SectionFacts>& facts) {
    facts.assign(sections.size(), SectionFacts{});
    for (size_t i = 0; i < sections.size(); ++i) {
        const ScheduledSection& s = sections[i];
        SectionFacts& f = facts[i];
        for (int shift = 0; shift <= 6 && f.beatTicks == 0; ++shift) {
            if (s.noteValue == static_cast<double>(1 << shift)) {
                f.beatTicks = kWholeNoteTicks >> shift;
                f.noteShift = shift;
            }
        }
        if (f.beatTicks == 0) return failedWith(EINVAL);
        // The same test as the schedule's: one tempo, or a change from A to A, is steady.
        f.changing = s.rounding == BeatRounding::Exact && s.tempos.size() > 1 &&
                     !(s.ramp && s.tempos.size() == 2 && s.tempos[0] == s.tempos[1]);
        f.quarterMicros = nominalQuarterMicros(s);
    }
    BeatSchedule schedule(sections);
    BeatEvent e;
    int64_t events = 0;
    while (schedule.next(e)) {
        if (e.kind != ClickKind::Subdivision) ++facts[e.section].beats;
        if (++events % kEventsBetweenSignalChecks == 0) {
            if (const int signal = interruptSignal()) return stoppedBy(signal);
        }
    }
    return std::nullopt;
}

// A beat of the grid as the conductor sees it.
struct GridBeat {
    int64_t tick = 0;
    double micros = 0.0;  // its click: frame x 1e6 / rate
    size_t section = 0;
    bool forced = false;  // a Set Tempo starts here
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
class Conductor {
public:
    Conductor(ByteStream& out, const std::vector<SectionFacts>& facts,
              const std::vector<std::string>& names)
        : out_(out), facts_(facts), names_(names) {}

    // A Time Signature, when it differs from the one in effect.
    void meter(int64_t tick, int64_t numerator, int shift) {
        if (numerator == meterNumerator_ && shift == meterShift_) return;
        pending_.push_back(Meta{tick, 0, static_cast<uint8_t>(numerator), static_cast<uint8_t>(shift), false});
        meterNumerator_ = numerator;
        meterShift_ = shift;
    }

    void marker(int64_t tick, size_t section) { pending_.push_back(Meta{tick, section, 0, 0, true}); }

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
            if (!tempo) return out_.fail(tooSlow(start_.section));
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
        out_.at(out_.lastTick());
        out_.put({0xFF, 0x2F, 0x00});
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
        bounded_ = false;
        haveLast_ = false;
        low_ = 1.0;
        high_ = static_cast<double>(kLongestTempo);
    }

    void extend(const GridBeat& b) {
        const double span = static_cast<double>(b.tick - start_.tick);
        const double from = static_cast<double>(startTime_);
        const double low = ((b.micros - kTolerance) * kTicksPerQuarter - from) / span;
        const double high = ((b.micros + kTolerance) * kTicksPerQuarter - from) / span;
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
        if (low > static_cast<double>(kLongestTempo)) return out_.fail(tooSlow(start_.section));
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
        if (!tempo) return out_.fail(tooSlow(start_.section));
        writeTempo(start_.tick, *tempo);
        writeMetas(end.tick);
        int64_t length = 0;
        int64_t time = 0;
        if (__builtin_mul_overflow(end.tick - start_.tick, *tempo, &length) ||
            __builtin_add_overflow(startTime_, length, &time)) {
            return out_.fail(failedWith(EOVERFLOW));
        }
        open(end, time);
    }

    void writeTempo(int64_t tick, int64_t tempo) {
        const auto u = static_cast<uint32_t>(tempo);
        out_.at(tick);
        out_.put({0xFF, 0x51, 0x03, static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 8),
                  static_cast<uint8_t>(u)});
    }

    // The waiting events before `tick`, in order: at one tick the Time
    // Signature was queued before the Markers.
    void writeMetas(int64_t tick) {
        while (!pending_.empty() && pending_.front().tick < tick && !out_.failed()) {
            const Meta& m = pending_.front();
            out_.at(m.tick);
            if (m.marker) {
                out_.text(0x06, m.section < names_.size() ? names_[m.section] : std::string());
            } else {
                out_.put({0xFF, 0x58, 0x04, m.numerator, m.shift, 24, 8});
            }
            pending_.pop_front();
        }
    }

    ByteStream& out_;
    const std::vector<SectionFacts>& facts_;
    const std::vector<std::string>& names_;
    std::deque<Meta> pending_;
    int64_t meterNumerator_ = 0;  // 0: none in effect
    int meterShift_ = 0;

    bool open_ = false;
    GridBeat start_;           // the window's first beat
    int64_t startTime_ = 0;    // its MIDI time, in microseconds / 960
    bool followsAudio_ = false;  // a beat of a change of tempo: its length in the audio is the aim
    bool bounded_ = false;     // some beat has narrowed the interval
    double low_ = 1.0;
    double high_ = 0.0;
    bool haveLast_ = false;
    GridBeat last_;            // the last beat that narrowed it, not forced
};

double microsAt(int64_t frame, uint32_t rate) {
    return static_cast<double>(frame) * 1e6 / static_cast<double>(rate);
}

void writeConductor(ByteStream& out, const std::vector<ScheduledSection>& sections,
                    const std::vector<SectionFacts>& facts, const std::vector<std::string>& names) {
    out.beginTrack();
    Conductor conductor(out, facts, names);
    BeatSchedule schedule(sections);
    BeatEvent e;
    int64_t tick = 0;           // of the next beat
    size_t unmarked = 0;        // the first section whose marker is still to come
    bool anyBeat = false;
    size_t previous = 0;        // the section of the last beat
    int64_t inSection = 0;      // beats of the section so far
    int64_t shortMeasureAt = -1;
    uint32_t rate = sections.empty() ? 1 : sections.front().rate;
    int64_t events = 0;
    while (!out.failed() && schedule.next(e)) {
        if (++events % kEventsBetweenSignalChecks == 0) out.checkSignal();
        if (e.kind == ClickKind::Subdivision) continue;
        const ScheduledSection& s = sections[e.section];
        const SectionFacts& f = facts[e.section];
        GridBeat b{tick, microsAt(e.frame, s.rate), e.section, f.changing};
        if (!anyBeat || e.section != previous) {
            const SectionFacts& p = facts[previous];
            b.forced = !anyBeat || f.changing || p.changing || f.quarterMicros != p.quarterMicros;
            // A Time Signature has 8 bits for its numerator: a section of
            // more beats a measure, or none, cannot state its own.
            const int64_t perMeasure = s.beatsPerMeasure;
            shortMeasureAt = -1;
            if (perMeasure < 1 || perMeasure > 255) {
                // A bar of one beat keeps the bar lines on the beats, so that
                // the next section still starts on one.
                conductor.meter(tick, 1, f.noteShift);
            } else {
                conductor.meter(tick, std::min(f.beats, perMeasure), f.noteShift);
                // The last measure, when short, states its own length, so that
                // the recorder's next bar line falls on the next section.
                if (f.beats > perMeasure && f.beats % perMeasure != 0) {
                    shortMeasureAt = f.beats / perMeasure * perMeasure;
                }
            }
            for (; unmarked <= e.section; ++unmarked) conductor.marker(tick, unmarked);
            inSection = 0;
        } else {
            b.forced = f.changing;
        }
        if (inSection == shortMeasureAt) {
            conductor.meter(tick, f.beats % s.beatsPerMeasure, f.noteShift);
        }
        conductor.beat(b);
        tick += f.beatTicks;
        ++inSection;
        previous = e.section;
        rate = s.rate;
        anyBeat = true;
    }
    if (out.failed()) return;
    for (; unmarked < sections.size(); ++unmarked) conductor.marker(tick, unmarked);
    conductor.finish(GridBeat{tick, microsAt(schedule.end(), rate), previous, true});
    out.endTrack();
}

// Notes one at a time: a note ends a sixteenth after it starts, or where the
// next one starts if that is sooner; of two notes at one tick the first is kept.
class NoteTrack {
public:
    explicit NoteTrack(ByteStream& out) : out_(out) {}

    void note(int64_t tick, uint8_t key, uint8_t velocity) {
        if (sounding_ && tick == onTick_) return;
        release(std::min(onTick_ + kNoteTicks, tick));
        out_.at(tick);
        out_.put({kNoteOn, key, velocity});
        sounding_ = true;
        onTick_ = tick;
        key_ = key;
    }

    void finish() {
        release(onTick_ + kNoteTicks);
        out_.at(out_.lastTick());
        out_.put({0xFF, 0x2F, 0x00});
    }

private:
    void release(int64_t tick) {
        if (!sounding_) return;
        out_.at(tick);
        out_.put({kNoteOff, key_, kReleaseVelocity});
        sounding_ = false;
    }

    ByteStream& out_;
    bool sounding_ = false;
    int64_t onTick_ = 0;
    uint8_t key_ = 0;
};

void writeNotes(ByteStream& out, const std::vector<ScheduledSection>& sections,
                const std::vector<SectionFacts>& facts) {
    out.beginTrack();
    out.at(0);
    out.text(0x03, "Click");
    NoteTrack notes(out);
    int64_t tick = 0;           // of the next beat
    int64_t beatTick = 0;       // of the last beat
    int64_t beatFrame = 0;
    int64_t beatTicks = 0;
    int64_t ways = 1;           // how many ways the last beat is split
    std::vector<int64_t> subdivisions;  // frames of the last beat's subdivisions, at most ways - 1
    // The conductor keeps every beat's MIDI time at its click, so within a
    // beat MIDI time runs evenly from the beat's click to where the beat
    // ends: the next beat's click, or for the last beat the end of the
    // track, which is where the schedule would start the next beat and
    // where the conductor ends the last beat of a change of tempo. A
    // subdivision goes to the tick nearest to where its click falls between
    // the two, even in a beat that a long click pushed back. In a beat that
    // ends where it starts, subdivision j of N sits at j / N of the beat,
    // halves rounded up.
    const auto placeSubdivisions = [&](int64_t endFrame) {
        for (size_t k = 0; k < subdivisions.size(); ++k) {
            const int64_t j = static_cast<int64_t>(k) + 1;
            int64_t at = (2 * j * beatTicks + ways) / (2 * ways);
            if (endFrame > beatFrame) {
                at = std::llround(static_cast<double>(subdivisions[k] - beatFrame) *
                                  static_cast<double>(beatTicks) /
                                  static_cast<double>(endFrame - beatFrame));
            }
            at = std::max<int64_t>(1, std::min(at, beatTicks - 1));
            notes.note(beatTick + at, kNormalKey, kSubdivisionVelocity);
        }
        subdivisions.clear();
    };
    BeatSchedule schedule(sections);
    BeatEvent e;
    int64_t events = 0;
    while (!out.failed() && schedule.next(e)) {
        if (++events % kEventsBetweenSignalChecks == 0) out.checkSignal();
        if (e.kind == ClickKind::Subdivision) {
            if (static_cast<int64_t>(subdivisions.size()) + 1 < ways) subdivisions.push_back(e.frame);
            continue;
        }
        placeSubdivisions(e.frame);
        beatTick = tick;
        beatFrame = e.frame;
        beatTicks = facts[e.section].beatTicks;
        ways = std::max<int64_t>(sections[e.section].subdivide, 1);
        if (e.kind != ClickKind::Silent) {
            notes.note(tick, e.kind == ClickKind::Accent ? kAccentKey : kNormalKey, kBeatVelocity);
        }
        tick += beatTicks;
    }
    if (out.failed()) return;
    placeSubdivisions(schedule.end());
    notes.finish();
    out.endTrack();
}

}  // namespace

std::optional<MidiStop> writeMidiFile(int fd, const std::vector<ScheduledSection>& sections,
                                      const std::vector<std::string>& names) {
    std::vector<SectionFacts> facts;
    if (std::optional<MidiStop> stop = surveySections(sections, facts)) return stop;
    ByteStream out(fd);
    out.put({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2});
    out.put({kTicksPerQuarter >> 8, kTicksPerQuarter & 0xFF});
    writeConductor(out, sections, facts, names);
    if (!out.failed()) writeNotes(out, sections, facts);
    return out.stop();
}
