// Writing the samples of a track to an open file: each beat of the schedule
// starts with the whole click, the rest is silence.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/click_laying.hpp"
#include "core/outcome.hpp"

// Why writing stopped: a failed write (a file failure with its errno) or a
// caught signal.
using WriteResult = Outcome;

// The encoded clicks a track lays, and how they meet: whole (the menu's
// files), cut where the next click starts, or summed.
struct TrackClicks {
    std::vector<ClickVoice> voices;  // at least one; a section names its own
    ClickOverlap overlap = ClickOverlap::Whole;
    FrameLayout layout;              // the channels, and a backing; one channel by default
};

// The menu's track: the one click at every beat, laid whole.
TrackClicks menuClicks(const std::vector<uint8_t>& click);

// Frames of each click of every voice, at `bytesPerSample` bytes a frame.
std::vector<ClickLengths> clickLengths(const TrackClicks& clicks, uint32_t bytesPerSample);

class GatherWriter;

// The samples of a track, written at the descriptor's current offset as the
// walk lays its clicks: silence between and after them, up to the track's
// end, in frames of the clicks' layout. In one channel, a stretch where one
// full-level click sounds alone is written from the click itself; silence
// without a backing comes from one block of zeros. Looks for a stop signal
// between writes.
class TrackSamples : public TrackOutput {
public:
    TrackSamples(int fd, const TrackClicks& clicks, uint32_t bytesPerSample);
    ~TrackSamples() override;

    bool take(const TrackEvent& event) override;
    bool finish(const TrackEnd& end) override;

    // Why writing stopped, if it did.
    const WriteResult& stop() const { return result_; }
    // Bytes written so far.
    uint64_t written() const;

private:
    // Writes every frame up to `to`.
    bool layUpTo(int64_t to);

    std::unique_ptr<GatherWriter> writer_;
    const TrackClicks& clicks_;
    ClickMix mix_;
    uint64_t bytesPerSample_;
    uint64_t frameBytes_;
    int64_t at_ = 0;  // frames written
    WriteResult result_;
};
