// A track laid out ahead of time for a real-time callback: every click that
// sounds (where, which, how many frames) in a list made before playing
// starts, the clicks' samples as floats, and the beats with their bar,
// beat and tempo. Rendering any range of frames from it then needs no
// allocation, no lock and no call into the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/outcome.hpp"
#include "playback/player.hpp"

// One click as it sounds: `frames` of sound `sound` from `frame` on.
struct PlannedClick {
    int64_t frame = 0;
    int32_t frames = 0;
    uint32_t sound = 0;  // index into ClickPlan::sounds
};

// A list of clicks played through once: a track, or a round of a loop.
struct PlannedRound {
    std::vector<PlannedClick> clicks;  // in order of their first frame
    int64_t length = 0;                // frames, to where the beats end
    int64_t longestClick = 0;          // frames of the longest click laid
};

// The most clicks a plan holds, both rounds together: 16 bytes each, so at
// most 64 MiB. A track of twelve hours at 300 beats a minute, every beat in
// 16 subdivisions, lays fewer.
constexpr size_t kMostPlannedClicks = size_t{1} << 22;

struct ClickPlan {
    PlannedRound track;  // the first time through
    PlannedRound again;  // each round after it (empty: the track plays once)
    int64_t end = 0;     // no frame sounds from here on (the stream's limit, or the track's end)
    bool endless = false;  // played round after round with no limit
    // The samples of each voice's clicks, voice v's kind k at 4 v + k
    // (normal, accent, subdivision, soft), on the scale of the click's
    // bits: a 24-bit sample s is s x 2^-23 exactly.
    std::vector<std::vector<float>> sounds;
    float top = 8388607.0f / 8388608.0f;  // full scale: the highest sample of the click's bits
};

// Plans the stream's clicks exactly as playStream lays them: clicks that
// overlap summed, a silent beat and the end of the beats cutting them. A refusal when there
// are more than kMostPlannedClicks.
Outcome planClicks(const DeviceStream& stream, const PlayClicks& clicks, ClickPlan& plan);

// Where a renderer is in a plan, so that consecutive ranges need no search.
struct RenderCursor {
    const PlannedRound* round = nullptr;
    int64_t next = -1;  // the frame of the round that follows the last range
    size_t index = 0;   // the first click that may still sound there
};

// Lays the plan's frames [from, from + count) of the stream into `out`
// (which the caller zeroed): any range, a jump (binary search) or the next
// one (carrying on from the cursor). Frames before 0 or from `end` on are
// silent. Clicks that overlap are summed and held within [-1, top], as the
// wave file holds them: the same samples as long as at most two overlap
// (a sum of two is exact in single precision), within a step of the last
// bit otherwise.
void renderClicks(const ClickPlan& plan, int64_t from, int64_t count, float* out,
                  RenderCursor& cursor);

// The bar, beat and tempo of a frame, as a JACK timebase publishes them.
struct BarBeat {
    int32_t bar = 1;           // from 1
    int32_t beat = 1;          // from 1
    int32_t tick = 0;          // 0 to ticksPerBeat - 1
    double barStartTick = 0;   // ticks before the bar's first beat
    float beatsPerBar = 4;
    float beatType = 4;        // the note that is the beat (8/3 for a dotted quarter)
    double beatsPerMinute = 120;
};

constexpr double kTicksPerBeat = 1920;

// One beat of the track after its count-in.
struct PlannedBeat {
    int64_t frame = 0;         // from the track's first bar after the count-in
    int32_t bar = 1;
    int32_t beat = 1;
    int32_t beatsPerBar = 4;
    float beatType = 4;
    double beatsPerMinute = 120;
    int64_t barStartBeat = 0;  // beats from the origin before its bar's first
};

struct BeatPlan {
    std::vector<PlannedBeat> beats;
    int64_t origin = 0;  // the frame of the track where its first bar after the count-in starts
    int64_t end = 0;     // where the beats end, from the origin
};

// The beats of `track`, bars counted from the first after the sections
// that `countIn` marks (a count-in comes first). At most one beat for each
// click of the plan; a refusal past kMostPlannedClicks.
Outcome planBeats(const std::vector<ScheduledSection>& track, const std::vector<bool>& countIn,
                  BeatPlan& plan);

// The bar, beat and tick at `frame` from the origin: past the last beat
// the bars go on at its tempo and meter; before the first, bar 1 beat 1.
BarBeat barBeatAt(const BeatPlan& plan, int64_t frame);
