// The track a command line run lays out: its sections with their accents,
// subdivisions and count-in, and the clicks of every kind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/job.hpp"
#include "cli/options.hpp"
#include "click/click.hpp"
#include "core/beat_schedule.hpp"
#include "core/track_mark.hpp"

// The encoded clicks: the normal one, the accent (the same synthesis at its
// own lowest frequency) and the subdivision (the normal one at a quarter of
// its level, each sample divided by 4 and truncated).
struct ClickSet {
    ClickState normal;
    ClickState accent;
    std::vector<uint8_t> subdivision;
    bool frequencyTooLow = false;  // one of the clicks is silent: no whole period fits
    // The quieter levels a map's sections ask for: voice i + 1 sounds at
    // levels[i], its clicks made from the samples above as they are laid.
    std::vector<double> levels;

    // Voice 0 at full level, then one for each quieter level.
    std::vector<ClickVoice> voices() const;
};

ClickSet makeClickSet(const CommandLine& line, const Job& job);

// The voice of a map section at `volume`.
size_t voiceOf(const ClickSet& set, double volume);

// The sections to write: one tempo (or a change of tempo) for the job's
// measures, or the map's sections, after the count-in. Without any option
// that shapes the clicks, these are exactly the menu's `w` and `rtm`.
std::vector<ScheduledSection> plannedSections(const CommandLine& line, const Job& job,
                                              const ClickSet& clicks);

// The name of each of those sections, in order: "Count-in", then each
// section's label, or "Section N" (N from 1) for one without.
std::vector<std::string> sectionNames(const CommandLine& line, const Job& job);

// The named places where those sections start in the track `schedule` laid
// out (its sections' first frames, once it has run to its end).
std::vector<TrackMark> sectionMarks(const std::vector<std::string>& names,
                                    const BeatSchedule& schedule);

// The pattern of the count-in: all normal, the first beat accented with
// --accent. Set as a rule, not spelt out beat by beat, so that a measure of
// any size costs nothing.
void setCountInPattern(ScheduledSection& section, const CommandLine& line);

// The pattern of every measure the options ask for: --pattern, or all
// normal with the first beat accented under --accent.
void setMeasurePattern(ScheduledSection& section, const CommandLine& line);
