// The formulas that turn settings into lengths and frame counts. Each works
// in the precision the program has always used, since that precision is
// part of what it writes and plays.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/beat_schedule.hpp"

// Largest frame count of a track or a section: counts are signed 32-bit.
constexpr float kFrameCountLimit = 2147483648.0f;  // 2^31

// Frames of a track of `seconds`: rate x seconds in single precision,
// truncated; nothing when that is no 32-bit frame count.
std::optional<int32_t> trackFrames(uint32_t rate, float seconds);

// A section written to a file: `frames` planned at `tempo`, the click of
// `clickLength` frames laid whole at each beat.
ScheduledSection fileSection(uint32_t rate, float tempo, int64_t frames, int64_t clickLength);

// Frames the sections really take, the last click included.
int64_t trackLength(const std::vector<ScheduledSection>& sections);
