// A named place in a track: where a section starts, for the markers of a
// wave file, a label track and a MIDI file.
#pragma once

#include <cstdint>
#include <string>

struct TrackMark {
    std::string name;
    int64_t frame = 0;  // from the start of the track
};
