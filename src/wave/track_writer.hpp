// Writing the samples of a track to an open file: each beat of the schedule
// starts with the whole click, the rest is silence.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/beat_schedule.hpp"

// Why writing stopped: a failed write (its errno) or a caught signal.
struct WriteStop {
    int error = 0;
    int signal = 0;
};
using WriteResult = std::optional<WriteStop>;

// Writes the track of `schedule` at the descriptor's current offset: the
// click at every beat, silence between and after, up to the schedule's end.
// Adds the bytes written to `written`; checks for a stop signal between writes.
WriteResult writeTrackSamples(int fd, BeatSchedule& schedule, const std::vector<uint8_t>& click,
                              uint32_t bytesPerSample, uint64_t& written);

// Writes all of `size` bytes at the descriptor's current offset.
WriteResult writeAll(int fd, const void* data, size_t size);
