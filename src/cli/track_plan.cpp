#include "cli/track_plan.hpp"

#include "click/encode.hpp"
#include "core/timing.hpp"

namespace {

// The accent's lowest frequency: a fifth above the normal click's by default.
constexpr float kAccentRatio = 1.5f;
// The extra clicks of a subdivided beat sound at a quarter of the normal level.
constexpr int32_t kSubdivisionDivisor = 4;

ScheduledSection withClicks(ScheduledSection s, const CommandLine& line) {
    s.pattern = measurePattern(line, s.beatsPerMeasure);
    s.subdivide = line.subdivide.value_or(1);
    return s;
}

// One tempo, or a change from A to B, over `measures` measures of the job's meter.
ScheduledSection oneTempo(const CommandLine& line, const Job& job, int64_t measures,
                          int64_t clickLength, bool countIn) {
    const Settings& s = job.settings;
    if (line.tempoRamp) {
        ScheduledSection e;
        e.rounding = BeatRounding::Exact;
        e.rate = s.rate;
        e.beatsPerMeasure = s.meter;
        e.beatCount = int64_t{s.meter} * measures;
        // The count-in keeps the starting tempo.
        e.tempos = countIn ? std::vector<double>{*line.tempoFrom}
                           : std::vector<double>{*line.tempoFrom, *line.tempoTo};
        e.ramp = !countIn;
        return e;
    }
    Settings counted = s;
    counted.meas = static_cast<int32_t>(measures);
    const float seconds = countIn ? startupTrackSeconds(counted) : job.trackSeconds;
    ScheduledSection f = fileSection(s.rate, s.tempo, trackFrames(s.rate, seconds).value_or(0),
                                     clickLength);
    f.beatsPerMeasure = s.meter;
    return f;
}

}  // namespace

std::string measurePattern(const CommandLine& line, int64_t beatsPerMeasure) {
    if (line.pattern) return *line.pattern;
    if (line.accent && beatsPerMeasure >= 1) {
        return "X" + std::string(static_cast<size_t>(beatsPerMeasure - 1), 'x');
    }
    return "";
}

ClickSet makeClickSet(const CommandLine& line, const Job& job) {
    const Settings& s = job.settings;
    ClickSet set;
    initClickState(set.normal, s.bits);
    initClickState(set.accent, s.bits);
    set.frequencyTooLow = makeClick(set.normal, s.Hz, s.rate).frequencyTooLow;
    if (line.shapesTheClicks()) {
        const float accentHz = line.accentFreq.value_or(s.Hz * kAccentRatio);
        set.frequencyTooLow |= makeClick(set.accent, accentHz, s.rate).frequencyTooLow;
        std::vector<int32_t> quieter = set.normal.clickSamples;
        for (int32_t& v : quieter) v /= kSubdivisionDivisor;
        set.subdivision.assign(quieter.size() * static_cast<size_t>(set.normal.bytesPerSample), 0);
        const int32_t length = static_cast<int32_t>(quieter.size());
        if (set.normal.bytesPerSample == 3) {
            encode24(quieter.data(), set.subdivision.data(), length);
        } else {
            encode16(quieter.data(), set.subdivision.data(), length);
        }
    }
    return set;
}

std::vector<ScheduledSection> plannedSections(const CommandLine& line, const Job& job,
                                              int64_t clickLength) {
    std::vector<ScheduledSection> sections;
    const Settings& s = job.settings;
    if (job.map.empty()) {
        if (line.countIn.value_or(0) > 0) {
            sections.push_back(oneTempo(line, job, *line.countIn, clickLength, true));
        }
        sections.push_back(oneTempo(line, job, s.meas, clickLength, false));
    } else {
        sections = writtenSections(s.rate, job.map, clickLength);
        for (size_t i = 0; i < sections.size(); ++i) {
            sections[i].beatsPerMeasure = job.map[i].beats;
        }
        if (line.countIn.value_or(0) > 0) {
            // The count-in is in the first section's meter and tempo.
            const TempoMapEntry& first = job.map.front();
            const int32_t frames =
                sectionWriteFrames(s.rate, first.tempo, first.beats, *line.countIn).value_or(0);
            ScheduledSection c = fileSection(s.rate, first.tempo, frames, clickLength);
            c.beatsPerMeasure = first.beats;
            sections.insert(sections.begin(), c);
        }
    }
    if (line.shapesTheClicks()) {
        for (ScheduledSection& section : sections) section = withClicks(section, line);
    }
    return sections;
}
