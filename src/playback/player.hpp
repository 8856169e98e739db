// Loops one beat on the playback device, announcing each measure.
#pragma once

#include <cstdio>
#include <string>

#include "common/outcome.hpp"
#include "playback/beat.hpp"
#include "playback/pcm_device.hpp"

// Plays `beat` repeated for total - P frames rounded up to whole periods of
// P frames (nothing when total is not above P), writing "\tMeasure  N" to
// `out` at the start and whenever a measure of `beatsPerMeasure` beats ends.
// Drains and closes the device at the end.
Outcome playBeat(PcmDevice& device, const Beat& beat, int32_t total, int32_t beatsPerMeasure,
                 int32_t firstMeasure, FILE* out);

// Opens `device` and plays the beat on it as playBeat does.
Outcome PLAY(const Beat& beat, int32_t total, const std::string& device, uint32_t rate,
             int32_t beatsPerMeasure, int32_t firstMeasure, int32_t bits, FILE* out);
