#include "midi/midi_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include <cerrno>

#include "core/interrupt.hpp"
#include "io/regular_file.hpp"
#include "io/spool.hpp"
#include "midi/smf_writer.hpp"
#include "midi/tempo_fit.hpp"

namespace {

constexpr int64_t kNoteTicks = kTicksPerQuarter / 4;  // a sixteenth

constexpr uint8_t kAccentKey = 76;     // high wood block
constexpr uint8_t kNormalKey = 77;     // low wood block
constexpr uint8_t kBeatVelocity = 100;
constexpr uint8_t kSoftVelocity = 80;
constexpr uint8_t kSubdivisionVelocity = 60;
constexpr uint8_t kReleaseVelocity = 0x40;
constexpr uint8_t kNoteOn = 0x99;      // channel 10
constexpr uint8_t kNoteOff = 0x89;
constexpr size_t kCopyBytes = 64 * 1024;

// Notes one at a time: a note ends a sixteenth after it starts, or where the
// next one starts if that is sooner; of two notes at one tick the first is kept.
class NoteTrack {
public:
    explicit NoteTrack(SmfWriter& out) : out_(out) {}

    void note(int64_t tick, uint8_t key, uint8_t velocity) {
        if (sounding_ && tick == onTick_) return;
        release(std::min(onTick_ + kNoteTicks, tick));
        out_.at(tick);
        out_.channelEvent(kNoteOn, key, velocity);
        sounding_ = true;
        onTick_ = tick;
        key_ = key;
    }

    void finish() { release(onTick_ + kNoteTicks); }

private:
    void release(int64_t tick) {
        if (!sounding_) return;
        out_.at(tick);
        out_.channelEvent(kNoteOff, key_, kReleaseVelocity);
        sounding_ = false;
    }

    SmfWriter& out_;
    bool sounding_ = false;
    int64_t onTick_ = 0;
    uint8_t key_ = 0;
};

// The notes track, note by note as the track is walked.
//
// The conductor keeps every beat's MIDI time at its click, so within a beat
// MIDI time runs evenly from the beat's click to where the beat ends: the
// next beat's click, or for the last beat the end of the track, which is
// where the schedule would start the next beat and where the conductor ends
// the last beat of a change of tempo. A subdivision goes to the tick nearest
// to where its click falls between the two, even in a beat that a long click
// pushed back. In a beat that ends where it starts, subdivision j of N sits
// at j / N of the beat, halves rounded up.
class NotesTrack {
public:
    NotesTrack(SmfWriter& out, const std::vector<ScheduledSection>& sections,
               const std::vector<SectionFacts>& facts)
        : out_(out), sections_(sections), facts_(facts), notes_(out) {
        out_.beginTrack();
        out_.at(0);
        out_.text(0x03, "Click");
        subdivisions_.reserve(kMaxSubdivisions);
    }

    void beat(const BeatEvent& e) {
        if (out_.failed()) return;
        if (e.kind == ClickKind::Subdivision) {
            if (static_cast<int64_t>(subdivisions_.size()) + 1 < ways_ &&
                subdivisions_.size() < kMaxSubdivisions) {
                subdivisions_.push_back(e.frame);
            }
            return;
        }
        placeSubdivisions(e.frame);
        beatTick_ = tick_;
        beatFrame_ = e.frame;
        beatTicks_ = facts_[e.section].beatTicks;
        ways_ = std::max<int64_t>(sections_[e.section].subdivide, 1);
        if (e.kind != ClickKind::Silent) {
            notes_.note(tick_, e.kind == ClickKind::Accent ? kAccentKey : kNormalKey,
                        e.kind == ClickKind::Soft ? kSoftVelocity : kBeatVelocity);
        }
        tick_ += beatTicks_;
    }

    void finish(int64_t endFrame) {
        if (out_.failed()) return;
        placeSubdivisions(endFrame);
        notes_.finish();
        out_.endTrack();
    }

private:
    static constexpr size_t kMaxSubdivisions = 64;

    void placeSubdivisions(int64_t endFrame) {
        for (size_t k = 0; k < subdivisions_.size(); ++k) {
            const int64_t j = static_cast<int64_t>(k) + 1;
            int64_t at = (2 * j * beatTicks_ + ways_) / (2 * ways_);
            if (endFrame > beatFrame_) {
                at = std::llround(static_cast<double>(subdivisions_[k] - beatFrame_) *
                                  static_cast<double>(beatTicks_) /
                                  static_cast<double>(endFrame - beatFrame_));
            }
            at = std::max<int64_t>(1, std::min(at, beatTicks_ - 1));
            notes_.note(beatTick_ + at, kNormalKey, kSubdivisionVelocity);
        }
        subdivisions_.clear();
    }

    SmfWriter& out_;
    const std::vector<ScheduledSection>& sections_;
    const std::vector<SectionFacts>& facts_;
    NoteTrack notes_;
    int64_t tick_ = 0;       // of the next beat
    int64_t beatTick_ = 0;   // of the last beat
    int64_t beatFrame_ = 0;
    int64_t beatTicks_ = 0;
    int64_t ways_ = 1;       // how many ways the last beat is split
    std::vector<int64_t> subdivisions_;  // frames of the last beat's subdivisions, at most ways - 1
};

}  // namespace

struct MidiFileOutput::Tracks {
    Tracks(int fd, int spool, const std::vector<ScheduledSection>& sections,
           const std::vector<SectionFacts>& facts, const std::vector<std::string>& names)
        : file(fd), notesOut(spool), conductor(file, sections, facts, names),
          notes(notesOut, sections, facts) {
        file.fileHeader(1, 2, kTicksPerQuarter);
        conductor.begin();
    }

    SmfWriter file;      // the header and the conductor, into the file
    SmfWriter notesOut;  // the notes, into the spool until the conductor is done
    ConductorTrack conductor;
    NotesTrack notes;
};

MidiFileOutput::MidiFileOutput(int fd, const std::string& spoolFolder,
                               std::vector<ScheduledSection> sections,
                               std::vector<std::string> names, const std::vector<int64_t>& beats)
    : fd_(fd), sections_(std::move(sections)), names_(std::move(names)) {
    if (Outcome stop = surveySections(sections_, names_, beats, facts_)) {
        stop_ = stop;
        return;
    }
    if (const int error = openSpool(spoolFolder, spool_)) {
        stop_ = midiError(error);
        return;
    }
    tracks_ = std::make_unique<Tracks>(fd_, spool_, sections_, facts_, names_);
}

MidiFileOutput::~MidiFileOutput() {
    tracks_.reset();
    if (spool_ >= 0) ::close(spool_);
}

bool MidiFileOutput::failing() {
    if (!stop_ && tracks_) {
        if (tracks_->file.stop()) stop_ = tracks_->file.stop();
        else if (tracks_->notesOut.stop()) stop_ = tracks_->notesOut.stop();
    }
    return stop_.has_value();
}

bool MidiFileOutput::take(const TrackEvent& event) {
    if (failing()) return false;
    if (++events_ % kEventsBetweenSignalChecks == 0) {
        if (const int signal = interruptSignal()) stop_ = interruption(signal);
    }
    tracks_->conductor.beat(event.beat);
    tracks_->notes.beat(event.beat);
    return !failing();
}

bool MidiFileOutput::finish(const TrackEnd& end) {
    if (failing()) return false;
    // The last beat lasts until the next would start.
    tracks_->conductor.finish(end.beats);
    tracks_->notes.finish(end.beats);
    if (failing()) return false;
    // The notes follow the conductor in the file.
    std::vector<uint8_t> buffer(kCopyBytes);
    for (uint64_t at = 0;;) {
        if (const int signal = interruptSignal()) {
            stop_ = interruption(signal);
            return false;
        }
        const ssize_t n = ::pread(spool_, buffer.data(), buffer.size(), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            stop_ = midiError(errno);
            return false;
        }
        if (n == 0) break;
        if (const int error = writeAll(fd_, buffer.data(), static_cast<size_t>(n))) {
            stop_ = midiError(error);
            return false;
        }
        at += static_cast<uint64_t>(n);
    }
    return true;
}

Outcome writeMidiFile(int fd, const std::string& spoolFolder,
                                      const std::vector<ScheduledSection>& sections,
                                      const std::vector<std::string>& names) {
    const TrackExtent extent = measureTrack(sections, {}, ClickOverlap::Whole);
    MidiFileOutput output(fd, spoolFolder, sections, names, extent.beats);
    BeatSchedule schedule(sections);
    walkTrack(schedule, {}, ClickOverlap::Whole, {&output});
    return output.stop();
}
