#include "cli/track_plan.hpp"

#include "core/sample_codec.hpp"
#include "core/timing.hpp"

namespace {

// The accent's lowest frequency: a fifth above the normal click's by default.
constexpr float kAccentRatio = 1.5f;

ScheduledSection withClicks(ScheduledSection s, const CommandLine& line) {
    setMeasurePattern(s, line);
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

void setCountInPattern(ScheduledSection& section, const CommandLine& line) {
    section.pattern.clear();
    section.accentFirst = line.accent;
}

void setMeasurePattern(ScheduledSection& section, const CommandLine& line) {
    section.pattern = line.pattern.value_or("");
    section.accentFirst = !line.pattern && line.accent;
}

std::vector<ClickVoice> ClickSet::voices() const {
    ClickVoice full{bytesOf(normal.clickBytes), bytesOf(accent.clickBytes), bytesOf(subdivision)};
    std::vector<ClickVoice> all{full};
    for (const double level : levels) {
        ClickVoice quieter = full;
        quieter.normalSamples = normal.clickSamples.data();
        quieter.accentSamples = accent.clickSamples.data();
        quieter.level = level;
        all.push_back(quieter);
    }
    return all;
}

size_t voiceOf(const ClickSet& set, double volume) {
    for (size_t i = 0; i < set.levels.size(); ++i) {
        if (set.levels[i] == volume) return i + 1;
    }
    return 0;
}

ClickSet makeClickSet(const CommandLine& line, const Job& job) {
    const Settings& s = job.settings;
    ClickSet set;
    initClickState(set.normal, s.bits);
    initClickState(set.accent, s.bits);
    set.frequencyTooLow = makeClick(set.normal, s.Hz, s.rate).frequencyTooLow;
    if (line.shapesTheClicks() || !job.lineMap.empty()) {
        const float accentHz = line.accentFreq.value_or(s.Hz * kAccentRatio);
        set.frequencyTooLow |= makeClick(set.accent, accentHz, s.rate).frequencyTooLow;
        const int32_t bytes = set.normal.bytesPerSample;
        set.subdivision.resize(set.normal.clickSamples.size() * static_cast<size_t>(bytes));
        encodeScaled(set.normal.clickSamples.data(), SampleScale{kSubdivisionDivisor, 1.0},
                     set.subdivision.data(),
                     static_cast<int64_t>(set.normal.clickSamples.size()), bytes);
        for (const LineMapSection& section : job.lineMap) {
            if (section.volume >= 1.0 || voiceOf(set, section.volume) != 0) continue;
            set.levels.push_back(section.volume);
        }
    }
    return set;
}

namespace {

// A section of the line format: every beat at its exact time. A section
// without a pattern accents its first beat.
ScheduledSection exactSection(const CommandLine& line, const LineMapSection& k, uint32_t rate,
                              size_t voice) {
    ScheduledSection e;
    e.rounding = BeatRounding::Exact;
    e.rate = rate;
    e.beatsPerMeasure = k.beats;
    e.beatCount = k.measures * k.beats;
    e.tempos = k.tempos;
    e.ramp = k.ramp;
    e.noteValue = static_cast<double>(k.noteValue);
    e.pattern = !k.pattern.empty() ? k.pattern : line.pattern.value_or("");
    e.accentFirst = e.pattern.empty();
    e.subdivide = line.subdivide.value_or(1);
    e.voice = voice;
    return e;
}

// The line format's sections after the count-in, which keeps the first
// section's meter and starting tempo and the normal pattern (accented with
// --accent).
std::vector<ScheduledSection> lineMapSections(const CommandLine& line, const Job& job,
                                            const ClickSet& clicks) {
    std::vector<ScheduledSection> sections;
    const uint32_t rate = job.settings.rate;
    if (line.countIn.value_or(0) > 0) {
        LineMapSection count = job.lineMap.front();
        count.measures = *line.countIn;
        count.tempos = {count.tempos.front()};
        count.ramp = false;
        count.pattern.clear();
        ScheduledSection counted = exactSection(line, count, rate, 0);
        setCountInPattern(counted, line);
        sections.push_back(counted);
    }
    for (const LineMapSection& k : job.lineMap) {
        sections.push_back(exactSection(line, k, rate, voiceOf(clicks, k.volume)));
    }
    return sections;
}

}  // namespace

std::vector<ScheduledSection> plannedSections(const CommandLine& line, const Job& job,
                                              const ClickSet& clicks) {
    if (!job.lineMap.empty()) return lineMapSections(line, job, clicks);
    const int64_t clickLength = clicks.normal.clickLength;
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
        // The count-in has the normal pattern, accented with --accent.
        if (line.countIn.value_or(0) > 0) {
            setCountInPattern(sections.front(), line);
        }
    }
    return sections;
}

std::vector<std::string> sectionNames(const CommandLine& line, const Job& job) {
    std::vector<std::string> names;
    if (line.countIn.value_or(0) > 0) names.emplace_back("Count-in");
    const size_t count = !job.lineMap.empty() ? job.lineMap.size()
                         : !job.map.empty()   ? job.map.size()
                                              : 1;
    for (size_t i = 0; i < count; ++i) {
        const bool labelled = i < job.lineMap.size() && !job.lineMap[i].label.empty();
        names.push_back(labelled ? job.lineMap[i].label : "Section " + std::to_string(i + 1));
    }
    return names;
}

std::vector<TrackMark> sectionMarks(const std::vector<std::string>& names,
                                    const BeatSchedule& schedule) {
    std::vector<TrackMark> marks;
    const std::vector<int64_t>& starts = schedule.sectionStarts();
    for (size_t i = 0; i < names.size() && i < starts.size(); ++i) {
        marks.push_back(TrackMark{names[i], starts[i]});
    }
    return marks;
}
