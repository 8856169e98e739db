// Where the clicks of a track fall.
//
// A track of `count` samples starts a beat at the first sample n for which n,
// as a single-precision float, is at least k x s (s = rate / (tempo / 60) and
// the beat counter k, both single precision). A started click is always laid
// whole, even past `count`; between clicks lies silence. The grid yields the
// track as runs of silence each followed by a click, so that a writer can
// copy whole blocks and a size check can count the samples without writing.
#pragma once

#include <cstdint>

class BeatGrid {
public:
    BeatGrid(uint32_t rate, float tempo, int64_t count, int32_t clickLength);

    // The next run: `silence` samples, then a click when `click` is set.
    // Returns false when the track is complete.
    bool next(int64_t& silence, bool& click);

private:
    float spacing_;
    int64_t count_;
    int64_t clickLength_;
    int64_t written_ = 0;
    float beat_ = 0.0f;
};

// The smallest n >= from whose single-precision value is at least target.
int64_t firstSampleAtOrAfter(float target, int64_t from);

// Number of samples a track of `count` samples really holds, its last click included.
int64_t trackSamples(uint32_t rate, float tempo, int64_t count, int32_t clickLength);
