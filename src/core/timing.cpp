#include "core/timing.hpp"

#include "core/click_laying.hpp"

namespace {

// Beats in a section, or nothing when they are negative or more than 2^31 - 1.
std::optional<int64_t> sectionBeats(int64_t beats, int64_t measures) {
    if (beats < 0 || measures < 0) return std::nullopt;
    if (beats != 0 && measures > kMaxFrameCount / beats) return std::nullopt;
    return beats * measures;
}

}  // namespace

std::optional<int64_t> lowestPeriod(float hz, uint32_t rate) {
    const float p = static_cast<float>(rate) / hz;
    if (!(p < 4294967296.0f)) return std::nullopt;
    return static_cast<int64_t>(p);
}

int32_t cyclesThatFit(float hz, uint32_t rate) {
    const std::optional<int64_t> p = lowestPeriod(hz, rate);
    if (!p) return 0;
    for (int32_t n = kStartCycles; n >= 1; --n) {
        if (*p * n < int64_t{rate}) return n;
    }
    return 0;
}

int64_t clickLengthFor(float hz, uint32_t rate) {
    const int32_t cycles = cyclesThatFit(hz, rate);
    return cycles == 0 ? 0 : *lowestPeriod(hz, rate) * cycles;
}

float startupTrackSeconds(const Settings& s) {
    const int64_t beats = int64_t{s.meter} * s.meas;
    return static_cast<float>(beats) / (s.tempo / 60.0f);
}

float sectionSeconds(int64_t beats, int64_t measures, float tempo) {
    const float product = static_cast<float>(beats * measures);
    const double quotient = 60.0 / static_cast<double>(tempo);
    return static_cast<float>(static_cast<double>(product) * quotient);
}

float recomputedTrackSeconds(const Settings& s) {
    return sectionSeconds(s.meter, s.meas, s.tempo);
}

int32_t beatSamples(uint32_t rate, float tempo) {
    return static_cast<int32_t>(static_cast<float>(rate) / (tempo / 60.0f));
}

int32_t sectionBeatLength(uint32_t rate, float tempo) {
    return static_cast<int32_t>((static_cast<double>(rate) * 60.0) / static_cast<double>(tempo));
}

std::optional<int32_t> sectionWriteFrames(uint32_t rate, float tempo, int64_t beats,
                                          int64_t measures) {
    if (!sectionBeats(beats, measures)) return std::nullopt;
    return trackFrames(rate, sectionSeconds(beats, measures, tempo));
}

std::optional<int32_t> sectionPlayFrames(uint32_t rate, float tempo, int64_t beats,
                                         int64_t measures) {
    const std::optional<int64_t> all = sectionBeats(beats, measures);
    if (!all) return std::nullopt;
    const uint64_t product = uint64_t{rate} * static_cast<uint64_t>(*all);
    const double samples = static_cast<double>(product) * (60.0 / static_cast<double>(tempo));
    if (!(samples < kFrameCountLimitDouble)) return std::nullopt;
    return static_cast<int32_t>(samples);
}

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
    return measureTrack(sections, {}, ClickOverlap::Whole).end;
}
