#include "files/label_track.hpp"

#include <cstdio>

namespace {

double secondsAt(int64_t frame, uint32_t rate) {
    return static_cast<double>(frame) / static_cast<double>(rate);
}

}  // namespace

std::string labelTrackText(const std::vector<TrackMark>& marks, int64_t endFrame, uint32_t rate,
                           int64_t offset) {
    std::string text;
    for (size_t i = 0; i < marks.size(); ++i) {
        const int64_t end = i + 1 < marks.size() ? marks[i + 1].frame : endFrame;
        char times[80];
        std::snprintf(times, sizeof times, "%.6f\t%.6f\t", secondsAt(marks[i].frame + offset, rate),
                      secondsAt(end + offset, rate));
        text += times + marks[i].name + "\n";
    }
    return text;
}
