// The planner: a song in, the schedule of its beats out, for every output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/timing.hpp"
#include "core/track_mark.hpp"
#include "track/song.hpp"

// The levels below full of the song's sections, each once, in order of first
// use: voice i + 1 of the clicks sounds at level i.
std::vector<double> quieterLevels(const Song& song);

// The voice of a section at `level`: 0 for full level.
size_t voiceOf(const std::vector<double>& levels, double level);

// The scheduled sections of the song written to a file at `rate`, each
// menu-grid beat laying a click of `clickLength` frames. Every menu-grid
// section's frames must fit 31 bits (see menuFramesFit).
std::vector<ScheduledSection> planFile(const Song& song, uint32_t rate, int64_t clickLength);

// A beat of a song: its section, and its index among the section's beats
// from 0.
struct SongPlace {
    size_t section = 0;
    int64_t beat = 0;
};

// A song of exact rounding planned from `place` on, as planFile plans it but
// with every tempo multiplied by `tempoFactor` (a change of tempo scales with
// it): the sections before it keep no beats, and the one it falls in starts
// at that beat, which keeps its number and its measure's; frames count from
// there. A place past a section's beats is the first beat of the next one
// that has beats.
std::vector<ScheduledSection> planFrom(const Song& song, uint32_t rate, SongPlace place,
                                       double tempoFactor);

// The place of the next beat after `place`, or of the first beat of its
// measure's next measure (`nextBar`), as planFrom counts them.
SongPlace placeAfter(const Song& song, SongPlace place, bool nextBar);

// Whether the frames of every menu-grid section, as the menu counts them,
// fit 31 bits at `rate`; the index of the first that does not otherwise.
std::optional<size_t> sectionPastFrameLimit(const Song& song, uint32_t rate);

// Seconds a song of exact rounding lasts, count-in included.
double exactSeconds(const Song& song);

// The name of each section in order: "Count-in", a section's label, the
// name of the section it continues, or "Section N" with N counting from 1
// the song's sections that continue none.
std::vector<std::string> sectionNames(const Song& song);

// What marks each section in the outputs (cue points, label track, MIDI
// markers): its name, or none (empty) when it continues the section before.
std::vector<std::string> markerNames(const Song& song);

// The named places where the sections start: `starts` holds their first
// frames, as measureTrack finds them; a section without a name has none.
std::vector<TrackMark> sectionMarks(const std::vector<std::string>& names,
                                    const std::vector<int64_t>& starts);

// The song on the menu's device: whole-frame beats of its device rounding
// for menu-grid sections, the exact times otherwise.
//
// A menu-grid song is played as the menu plays it: a song of one section as
// one run of whole beats of the single-precision beat length; a map's
// sections each on the device opened afresh, with beats of the
// double-precision length.
struct DevicePlay {
    std::vector<ScheduledSection> sections;
    std::optional<int64_t> total;  // frames
};

// `seconds`: play only that long (the menu's audition length rule).
std::vector<DevicePlay> planDevice(const Song& song, uint32_t rate, std::optional<float> seconds);

// Whether the song has nothing to play: no beats in its sections proper.
bool silentSong(const Song& song);
