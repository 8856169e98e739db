// The tempo map of a track as a Standard MIDI File, for a recorder to adopt
// so that its bar grid lines up with every click.
//
// Format 1, 960 ticks a quarter note, two tracks:
//   1. the conductor: Set Tempo, Time Signature and a Marker for each section;
//   2. the clicks as notes on channel 10 (General MIDI percussion): 76 for an
//      accent, 77 for a normal beat, both at velocity 100, 77 at velocity 60
//      for a subdivision; each a sixteenth long, or up to the next note.
//
// The conductor's tempos keep every beat within half a sample at 48 kHz of
// its click (tempo_fit.hpp says how); smf_writer.hpp lays out the bytes.
//
// A subdivision sits on the tick nearest to its click, the MIDI time running
// evenly through a beat from its click to the next one's; the last beat
// runs to the end of the track.
//
// Text events (the track's name, the markers) hold at most 255 bytes, which
// every reader takes: a longer name is cut at the last UTF-8 character
// boundary within them.
//
// Memory stays the same whatever the number of beats: the file is streamed
// through one buffer and the track lengths are written in at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/beat_schedule.hpp"

// Why the MIDI file could not be written.
struct MidiStop {
    int error = 0;             // errno of a failed write
    int signal = 0;            // a signal caught while writing (interruptSignal())
    int64_t slowSection = -1;  // index of a section with a beat too long for a MIDI tempo
};

// Writes a Standard MIDI File describing the track that `sections` lay out
// (the same vector the wave writer schedules with BeatSchedule) to `fd`, a new,
// empty, seekable regular file opened for writing. names[i] is section i's marker text.
std::optional<MidiStop> writeMidiFile(int fd, const std::vector<ScheduledSection>& sections,
                                      const std::vector<std::string>& names);
