#include "core/timing.hpp"

std::optional<int32_t> trackFrames(uint32_t rate, float seconds) {
    const float samples = static_cast<float>(rate) * seconds;
    if (!(samples >= 0.0f && samples < kFrameCountLimit)) return std::nullopt;
    return static_cast<int32_t>(samples);
}

ScheduledSection fileSection(uint32_t rate, float tempo, int64_t frames, int64_t clickLength) {
    ScheduledSection s;
    s.rounding = BeatRounding::FileGrid;
    s.rate = rate;
    s.tempo = tempo;
    s.frames = frames;
    s.clickLength = clickLength;
    return s;
}

int64_t trackLength(const std::vector<ScheduledSection>& sections) {
    BeatSchedule schedule(sections);
    BeatEvent beat;
    while (schedule.next(beat)) {
    }
    return schedule.end();
}
