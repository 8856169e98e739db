#include "playback/beat.hpp"

#include <algorithm>
#include <cstring>

Beat makeBeat(const ClickState& click, int32_t beatLength) {
    Beat beat;
    beat.click = click.clickBytes.data();
    beat.length = beatLength > 0 ? beatLength : 0;
    beat.clickFrames = std::min(std::max(click.clickLength, 0), beat.length);
    beat.frameBytes = click.bytesPerSample;
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
