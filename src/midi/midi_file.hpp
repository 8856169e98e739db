// The tempo map of a track as a Standard MIDI File, for a recorder to adopt
// so that its bar grid lines up with every click.
//
// Format 1, 960 ticks a quarter note, two tracks:
//   1. the conductor: Set Tempo, Time Signature and a Marker for each section;
//   2. the clicks as notes on channel 10 (General MIDI percussion): 76 for an
//      accent, 77 for a normal beat, both at velocity 100, 77 at velocity 80
//      for a soft beat and 60 for a subdivision; none for a silent beat; each
//      a sixteenth long, or up to the next note.
//
// The conductor's tempos keep every beat within one sample of its click
// (tempo_fit.hpp says how); smf_writer.hpp lays out the bytes.
//
// A subdivision sits on the tick nearest to its click, the MIDI time running
// evenly through a beat from its click to the next one's; the last beat
// runs to the end of the track.
//
// Text events (the track's name, the markers) hold at most 255 bytes, which
// every reader takes: a longer name is cut at the last UTF-8 character
// boundary within them.
//
// Memory stays the same whatever the number of beats: each track is
// streamed through one buffer and its length written in at its end.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/click_laying.hpp"
#include "core/outcome.hpp"


struct SectionFacts;

// The MIDI file of a track, written as the track is walked: the header and
// the conductor go straight into `fd` (a new, empty, seekable regular file
// opened for writing), the notes into an unnamed spool file in
// `spoolFolder`, copied after the conductor once the track ends. Memory
// stays the same whatever the number of beats.
//
// `sections` are those the walk schedules, names[i] is section i's marker
// text (empty: no marker, for a section that continues the one before),
// beats[i] its beats as measureTrack counts them.
class MidiFileOutput : public TrackOutput {
public:
    MidiFileOutput(int fd, const std::string& spoolFolder, std::vector<ScheduledSection> sections,
                   std::vector<std::string> names, const std::vector<int64_t>& beats);
    ~MidiFileOutput() override;
    MidiFileOutput(const MidiFileOutput&) = delete;
    MidiFileOutput& operator=(const MidiFileOutput&) = delete;

    bool take(const TrackEvent& event) override;
    bool finish(const TrackEnd& end) override;

    // Why the file could not be written, once the walk has stopped.
    const Outcome& stop() const { return stop_; }

private:
    struct Tracks;
    bool failing();

    int fd_;
    int spool_ = -1;
    std::vector<ScheduledSection> sections_;
    std::vector<std::string> names_;
    std::vector<SectionFacts> facts_;
    std::unique_ptr<Tracks> tracks_;
    Outcome stop_;
    int64_t events_ = 0;
};

// Walks the track `sections` lay out and writes its MIDI file alone.
Outcome writeMidiFile(int fd, const std::string& spoolFolder,
                                      const std::vector<ScheduledSection>& sections,
                                      const std::vector<std::string>& names);
