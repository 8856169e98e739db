// The formulas that turn settings into lengths and frame counts. Each works
// in the precision the program has always used, since that precision is
// part of what it writes and plays.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/settings.hpp"

// Frame counts are signed 32-bit: a track or a section holds fewer than
// 2^31 frames, and so does a beat.
constexpr float kFrameCountLimit = 2147483648.0f;
constexpr double kFrameCountLimitDouble = 2147483648.0;
constexpr int64_t kMaxFrameCount = 2147483647;

// A full click: 8 partials, each lasting 3 periods of its own.
constexpr int32_t kStartHarmonics = 8;
constexpr int32_t kStartCycles = 3;

// The longest click the program makes: 32 MiB of 24-bit samples. With its
// 32-bit samples beside it, a click takes at most 75 MiB, and making it
// takes well under a second.
constexpr int64_t kClickBudgetBytes = int64_t{32} << 20;
constexpr int64_t kMaxClickSamples = kClickBudgetBytes / 3;

// Period of the lowest frequency in whole samples: rate / hz in single
// precision, truncated. Nothing when it is far longer than any rate (then no
// whole period fits in a second).
std::optional<int64_t> lowestPeriod(float hz, uint32_t rate);

// Whole periods of the lowest frequency, from kStartCycles down, that fit
// below the rate; 0 when none does.
int32_t cyclesThatFit(float hz, uint32_t rate);

// Samples in the click made for `hz` and `rate`: the period times the cycles
// that fit; 0 when no whole period fits in one second. Always below the rate.
int64_t clickLengthFor(float hz, uint32_t rate);

// A section of one tempo and meter, as a tempo map lists them.
struct MeterSection {
    float tempo = 0.0f;      // beats per minute
    int64_t beats = 0;       // beats per measure, as written
    int64_t measures = 0;    // measures in the section, as written
};

// Track length at start-up: meter x meas / (tempo / 60), all in single precision.
float startupTrackSeconds(const Settings& s);

// Track length after `t`, `b` or `m`: the product as float times the double
// quotient 60 / tempo, stored as float. Differs from the start-up value in the
// last bits for some tempos.
float recomputedTrackSeconds(const Settings& s);

// Length in seconds of a section of `beats` x `measures` beats at `tempo`,
// computed the same way as recomputedTrackSeconds.
float sectionSeconds(int64_t beats, int64_t measures, float tempo);

// Frames in one beat when the beat is played at the menu's tempo:
// rate / (tempo / 60) in single precision, truncated.
int32_t beatSamples(uint32_t rate, float tempo);

// Frames in one beat when a tempo map section is played: (rate x 60) /
// tempo in double precision, truncated.
int32_t sectionBeatLength(uint32_t rate, float tempo);

// Frames written for a tempo map section of beats x measures at `tempo`:
// rate x its length in seconds, in single precision, truncated. Nothing when
// the count is negative or does not fit 31 bits.
std::optional<int32_t> sectionWriteFrames(uint32_t rate, float tempo, int64_t beats,
                                          int64_t measures);

// Frames played for the section: rate x measures x beats times the quotient
// 60 / tempo, in double precision, truncated. Nothing as above.
std::optional<int32_t> sectionPlayFrames(uint32_t rate, float tempo, int64_t beats,
                                         int64_t measures);

// Frames of a track of `seconds`: rate x seconds in single precision,
// truncated; nothing when that is no 32-bit frame count.
std::optional<int32_t> trackFrames(uint32_t rate, float seconds);

// A section written to a file: `frames` planned at `tempo`, the click of
// `clickLength` frames laid whole at each beat.
ScheduledSection fileSection(uint32_t rate, float tempo, int64_t frames, int64_t clickLength);

// Frames the sections really take, the last click included.
int64_t trackLength(const std::vector<ScheduledSection>& sections);
