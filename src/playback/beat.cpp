#include "playback/beat.hpp"

#include <algorithm>
#include <cstring>

Beat makeBeat(const std::vector<uint8_t>& click, int32_t frameBytes, int32_t beatLength) {
    Beat beat;
    beat.click = click.data();
    beat.length = beatLength > 0 ? beatLength : 0;
    const int32_t clickFrames = static_cast<int32_t>(click.size() / static_cast<size_t>(frameBytes));
    beat.clickFrames = std::min(clickFrames, beat.length);
    beat.frameBytes = frameBytes;
    return beat;
}

void copyBeatFrames(const Beat& beat, int64_t pos, int64_t frames, uint8_t* dest) {
    const size_t fb = static_cast<size_t>(beat.frameBytes);
    const int64_t fromClick = std::max<int64_t>(0, std::min<int64_t>(beat.clickFrames - pos, frames));
    if (fromClick > 0) {
        std::memcpy(dest, beat.click + static_cast<size_t>(pos) * fb, static_cast<size_t>(fromClick) * fb);
    }
    std::memset(dest + static_cast<size_t>(fromClick) * fb, 0,
                static_cast<size_t>(frames - fromClick) * fb);
}
