// The sections of a track as a label track: one line a label,
//
//   start<TAB>end<TAB>name
//
// with the times in seconds and 6 decimals, the plain-text form audio
// editors import beside the audio. A section's label runs from its first
// sample to the next section's first sample, the last one's to the end of
// the track.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/track_mark.hpp"

// The label track of `marks` (in order) in a track of `endFrame` frames at
// `rate`, every frame moved on by `offset` (the audio already in a file
// that the track is added to).
std::string labelTrackText(const std::vector<TrackMark>& marks, int64_t endFrame, uint32_t rate,
                           int64_t offset);
