// The conductor track of the MIDI file: the Set Tempo events that keep
// every beat within one sample at the track's rate of its click, the Time
// Signatures and the section Markers. A click lies up to half a sample from
// its exact time, so a steady section gets one Set Tempo at its first beat
// unless the whole microseconds of its tempo drift a sample from the clicks.
//
// Every beat of a section of note value d lasts 3840 / d ticks, so beat
// ticks are exact. Tempos are whole microseconds a quarter note, which a
// steady tempo such as 140 bpm does not divide evenly: the conductor keeps
// the MIDI time of every beat, exactly, and writes a corrected tempo where
// a beat would otherwise land further than that from its click. Each beat of
// a change of tempo gets its own tempo, the one that makes it last as long
// as in the audio.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/beat_schedule.hpp"
#include "midi/smf_writer.hpp"

constexpr int64_t kTicksPerQuarter = 960;
constexpr int64_t kWholeNoteTicks = 4 * kTicksPerQuarter;

// Long walks through the schedule look for a stop signal this often.
constexpr int64_t kEventsBetweenSignalChecks = 4096;

// What the writer needs to know of each section before it starts.
struct SectionFacts {
    int64_t beats = 0;          // beats of the grid (a silent beat counts, a subdivision does not)
    int64_t beatTicks = 0;      // ticks of one beat
    int noteShift = 2;          // log2 of the time signature's note
    int meterFactor = 1;        // its notes in a beat: 3 for a dotted beat
    bool changing = false;      // the tempo changes across the section
    bool exactTimes = false;    // its beats are laid at their exact times
    double quarterMicros = 0.0; // microseconds a quarter at the section's tempo (its first)
};

// The sections' beat lengths and tempos; `beats` holds each section's
// beats as the planner counted them, names[i] section i's name (an empty
// one goes by the name before it). A steady
// section slower than a MIDI tempo can state is refused. A note value that is no power of two
// from 1 to 64 has no whole number of ticks: EINVAL.
Outcome surveySections(const std::vector<ScheduledSection>& sections,
                       const std::vector<std::string>& names, const std::vector<int64_t>& beats,
                       std::vector<SectionFacts>& facts);

class Conductor;

// The conductor track, written beat by beat as the track is walked;
// names[i] is section i's marker text, none when it is empty.
class ConductorTrack {
public:
    ConductorTrack(SmfWriter& out, const std::vector<ScheduledSection>& sections,
                   const std::vector<SectionFacts>& facts, const std::vector<std::string>& names);
    ~ConductorTrack();

    // Starts the track, after the file's header.
    void begin();
    // Every event of the track in order; subdivisions are passed over.
    void beat(const BeatEvent& e);
    // The track ends at `endFrame`.
    void finish(int64_t endFrame);

private:
    SmfWriter& out_;
    const std::vector<ScheduledSection>& sections_;
    const std::vector<SectionFacts>& facts_;
    std::unique_ptr<Conductor> conductor_;
    int64_t tick_ = 0;             // of the next beat
    size_t unmarked_ = 0;          // the first section whose marker is still to come
    bool anyBeat_ = false;
    size_t previous_ = 0;          // the section of the last beat
    int64_t inSection_ = 0;        // beats of the section so far
    int64_t shortMeasureAt_ = -1;
    uint32_t rate_ = 1;
};
