#include "playback/beat.hpp"

#include <algorithm>

Beat makeBeat(const std::vector<uint8_t>& click, int32_t frameBytes, int32_t beatLength) {
    Beat beat;
    beat.click = click.data();
    beat.length = beatLength > 0 ? beatLength : 0;
    const int32_t clickFrames = static_cast<int32_t>(click.size() / static_cast<size_t>(frameBytes));
    beat.clickFrames = std::min(clickFrames, beat.length);
    beat.frameBytes = frameBytes;
    return beat;
}
