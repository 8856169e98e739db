// Writing the samples of a track to an open file: each beat of the schedule
// starts with the whole click, the rest is silence.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/click_laying.hpp"

// Why writing stopped: a failed write (its errno) or a caught signal.
struct WriteStop {
    int error = 0;
    int signal = 0;
};
using WriteResult = std::optional<WriteStop>;

// The encoded clicks a track lays, and how: whole (the menu's files) or cut
// where the next click starts.
struct TrackClicks {
    std::vector<ClickVoice> voices;  // at least one; a section names its own
    bool cutAtNextClick = false;
};

// The menu's track: the one click at every beat, laid whole.
TrackClicks menuClicks(const std::vector<uint8_t>& click);

// Frames of each click of every voice, at `bytesPerSample` bytes a frame.
std::vector<ClickLengths> clickLengths(const TrackClicks& clicks, uint32_t bytesPerSample);

// Writes the track of `schedule` at the descriptor's current offset: the
// clicks as the schedule lays them, silence between and after, up to the
// track's end. Adds the bytes written to `written`; checks for a stop
// signal between writes.
WriteResult writeTrackSamples(int fd, BeatSchedule& schedule, const TrackClicks& clicks,
                              uint32_t bytesPerSample, uint64_t& written);
