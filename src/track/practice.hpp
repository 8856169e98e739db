// The trainer and the muted bars laid into a song before it is planned, so
// that render, play, the MIDI file, the labels and `show` follow one plan.
//
// Bars are counted from the song's first bar after the count-in, which is
// neither trained nor muted. The song's trainer adds the same amount to the
// tempo of every section at a bar, in each section's own note (a q.= tempo
// steps in dotted quarters), stopping when the first section's first tempo
// would pass the limit; a ramp keeps its shape, shifted by the amount, and
// a tempo for each beat each moves by it. A section's own trainer or muted
// bars take the song's place in it, counted from its own first bar.
//
// A section is split where its trainer steps the tempo, at a bar line: each
// part after the first continues it (no marker of its own), with a steady
// tempo or a piece of its ramp. Muted bars need no split: each section
// carries the cycle in force and where in it the section starts, and the
// schedule silences those bars.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "track/song.hpp"

// The most a song's trainers may step the tempo, all sections together.
constexpr int64_t kMostTrainerSteps = 10000;

struct PracticeProblem {
    size_t section = 0;  // of the song as given, count-in included
    bool own = false;    // the section's own trainer (else the song's)
    std::string detail;  // "its limit 90 lies below ...", for the front end to put after the value
};

// Lays the trainers and the muted bars into `song` at `rate`; clears the
// trainers it applied. A trainer that would take a beat out of what `rate`
// can lay (a tempo of 0 or below, a beat shorter than a sample or longer
// than 2147483647), or whose limit lies on the wrong side of the tempo it
// starts from, leaves the song as it was.
std::optional<PracticeProblem> layPractice(Song& song, uint32_t rate);
