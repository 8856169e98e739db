#include "midi/midi_file.hpp"

#include <algorithm>
#include <cmath>

#include "midi/smf_writer.hpp"
#include "midi/tempo_fit.hpp"

namespace {

constexpr int64_t kNoteTicks = kTicksPerQuarter / 4;  // a sixteenth

constexpr uint8_t kAccentKey = 76;     // high wood block
constexpr uint8_t kNormalKey = 77;     // low wood block
constexpr uint8_t kBeatVelocity = 100;
constexpr uint8_t kSubdivisionVelocity = 60;
constexpr uint8_t kReleaseVelocity = 0x40;
constexpr uint8_t kNoteOn = 0x99;      // channel 10
constexpr uint8_t kNoteOff = 0x89;

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

void writeNotes(SmfWriter& out, const std::vector<ScheduledSection>& sections,
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
    SmfWriter out(fd);
    out.fileHeader(1, 2, kTicksPerQuarter);
    writeConductor(out, sections, facts, names);
    if (!out.failed()) writeNotes(out, sections, facts);
    return out.stop();
}
