#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/beat_schedule.hpp"

// Why the MIDI file could not be written.
struct MidiStop {
    int error = 0;         // errno of a failed write
    int signal = 0;        // a signal caught while writing (interruptSignal())
    int64_t slowSection = -1;  // index of a section with a beat too long for a MIDI tempo
};

// Writes a Standard MIDI File describing the track that `sections` lay out
// to `fd`, a new, empty, seekable regular file opened for writing.
// names[i] is section i's marker text.
std::optional<MidiStop> writeMidiFile(int fd, const std::vector<ScheduledSection>& sections,
                                      const std::vector<std::string>& names);
