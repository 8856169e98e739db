// One beat of audio: the click, then silence up to the beat's length.
//
// The beat is described rather than stored: its frames past the click are
// all silence, so a very slow tempo costs no memory.
#pragma once

#include <cstdint>
#include <vector>

struct Beat {
    const uint8_t* click = nullptr;  // the encoded click
    int32_t clickFrames = 0;         // frames taken from the click: min(clickLength, length)
    int32_t length = 0;              // frames in the beat
    int32_t frameBytes = 3;          // bytes per frame
};

// The beat of `beatLength` frames made from the encoded click, whose frames
// are `frameBytes` bytes each. The click must outlive the beat.
Beat makeBeat(const std::vector<uint8_t>& click, int32_t frameBytes, int32_t beatLength);
