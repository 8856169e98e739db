#include "cli/job.hpp"

#include <cmath>
#include <cstdio>

#include "core/timing.hpp"
#include "core/value_rules.hpp"
#include "files/settings_file.hpp"

namespace {

constexpr int kFileFailure = 1;

Stop fileFailure(const std::string& message) {
    return Stop{kFileFailure, "clicktrack: " + message, true};
}

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// A value refused at the rate in force: the option that gave it, or else
// the rate that it does not suit.
Stop refusedValue(const char* option, bool fromOption, const std::string& value,
                  const std::string& rate, const std::string& rule) {
    if (fromOption) return usageError(std::string(option) + " " + value + ": " + rule + ".");
    const char* what = std::string(option) == "--tempo" ? "tempo" : "frequency";
    return usageError("--rate " + rate + " does not suit the " + what + " " + value +
                      " in force: " + rule + ".");
}

// The settings file named by --settings, as start-up loads it.
std::optional<Stop> loadSettingsFile(const std::string& path, Job& job) {
    SettingsFileText file = readSettingsFile(path);
    if (!file.problem.empty()) return fileFailure(file.problem);
    if (!file.text) return fileFailure("Can't read settings file '" + path + "': No such file.");
    job.warnings = loadSettingsText(std::move(*file.text), job.settings, path);
    return std::nullopt;
}

// The options over the settings, each checked as the menu checks it.
std::optional<Stop> applyOptions(const CommandLine& line, Settings& s) {
    if (line.rate) s.rate = *line.rate;
    if (line.bits) s.bits = *line.bits;
    if (line.tempoFrom) s.tempo = *line.tempoFrom;
    if (line.freq) s.Hz = *line.freq;
    if (line.beats) s.meter = *line.beats;
    if (line.measures) s.meas = *line.measures;
    if (line.output && !line.toStandardOutput()) s.save = *line.output;
    if (line.device) s.device = *line.device;
    if (line.map) s.map = *line.map;
    if (line.tempoRamp) {
        // Both ends of a change of tempo must be tempos the menu takes.
        if (const Rule rule = checkTempo(*line.tempoTo, s.rate)) {
            return refusedValue("--tempo", true, number(*line.tempoTo), std::to_string(s.rate),
                                *rule);
        }
    }
    if (line.accentFreq) {
        if (const Rule rule = checkFrequency(*line.accentFreq, s.rate)) {
            return usageError("--accent-freq " + number(*line.accentFreq) + ": " + *rule + ".");
        }
    }
    if (line.pattern && !line.map && static_cast<int64_t>(line.pattern->size()) != s.meter) {
        return usageError("--pattern " + *line.pattern + " has " +
                          std::to_string(line.pattern->size()) + " beats, not the " +
                          std::to_string(s.meter) + " of a measure.");
    }
    if (const Rule rule = checkTempo(s.tempo, s.rate)) {
        return refusedValue("--tempo", line.tempoFrom.has_value(), number(s.tempo),
                            std::to_string(s.rate), *rule);
    }
    if (const Rule rule = checkFrequency(s.Hz, s.rate)) {
        return refusedValue("--freq", line.freq.has_value(), number(s.Hz),
                            std::to_string(s.rate), *rule);
    }
    if (line.seconds) {
        if (const Rule rule = checkAuditionLength(*line.seconds, s.rate)) {
            return usageError("--seconds " + number(*line.seconds) + ": " + *rule + ".");
        }
    }
    // The menu's limits on names belong to its settings file: the command
    // line takes any name the system takes (the parser refuses empty ones).
    return std::nullopt;
}

// Seconds a section of the line format lasts.
double lineMapSeconds(const LineMapSection& k) {
    const double n = static_cast<double>(k.measures) * static_cast<double>(k.beats);
    const double d = static_cast<double>(k.noteValue);
    if (k.tempos.size() == 1) return 240.0 * n / (k.tempos[0] * d);
    if (k.ramp) {
        const double a = k.tempos[0], b = k.tempos[1];
        const double mean = a == b ? a : (a - b) / (std::log(a) - std::log(b));
        return 240.0 * n / (mean * d);
    }
    double seconds = 0.0;
    for (const double t : k.tempos) seconds += 240.0 / (t * d);
    return seconds;
}

// A map in the line format, checked at the rate in force: every beat at
// least a frame and the whole map within 32-bit frame counts.
std::optional<Stop> loadLineMap(const std::string& path, const std::string& text, Job& job) {
    LineMap map = parseLineMap(text);
    if (map.error) return fileFailure(path + ": " + *map.error);
    const double rate = job.settings.rate;
    double seconds = 0.0;
    for (const LineMapSection& k : map.sections) {
        for (const double t : k.tempos) {
            if (240.0 / (t * static_cast<double>(k.noteValue)) * rate < 1.0) {
                return fileFailure(path + ": line " + std::to_string(k.line) +
                                   ": a beat would be shorter than one sample at this rate.");
            }
        }
        seconds += lineMapSeconds(k);
    }
    if (!(seconds * rate < kFrameCountLimitDouble)) {
        return fileFailure(path + ": the map is too long: its frames do not fit 31 bits.");
    }
    job.lineMap = std::move(map.sections);
    return std::nullopt;
}

// How long a track laid at exact times lasts, count-in included; refused
// when its frames would not fit 31 bits.
std::optional<Stop> measureExactTrack(const CommandLine& line, Job& job) {
    const Settings& s = job.settings;
    const double countIn = line.countIn.value_or(0);
    double seconds = 0.0;
    if (!job.lineMap.empty()) {
        for (const LineMapSection& k : job.lineMap) seconds += lineMapSeconds(k);
        const LineMapSection& first = job.lineMap.front();
        seconds += 240.0 * static_cast<double>(first.beats) * countIn /
                   (first.tempos.front() * static_cast<double>(first.noteValue));
    } else if (line.tempoRamp) {
        LineMapSection ramp;
        ramp.measures = s.meas;
        ramp.beats = s.meter;
        ramp.tempos = {*line.tempoFrom, *line.tempoTo};
        ramp.ramp = true;
        seconds = lineMapSeconds(ramp) + 60.0 * s.meter * countIn / *line.tempoFrom;
    } else {
        return std::nullopt;
    }
    if (!(seconds * s.rate < kFrameCountLimitDouble)) {
        return fileFailure("the track is too long: its frames do not fit 31 bits at this rate; "
                           "nothing was written or played.");
    }
    job.exactSeconds = seconds;
    return std::nullopt;
}

// A count-in of the menu's rounding whose frames do not fit 31 bits is
// refused, as a track laid at exact times is; it would otherwise vanish.
std::optional<Stop> checkCountIn(const CommandLine& line, const Job& job) {
    if (line.countIn.value_or(0) <= 0 || line.tempoRamp || !job.lineMap.empty()) {
        return std::nullopt;
    }
    const Settings& s = job.settings;
    bool fits = false;
    if (job.map.empty()) {
        Settings counted = s;
        counted.meas = *line.countIn;
        fits = trackFrames(s.rate, startupTrackSeconds(counted)).has_value();
    } else {
        const TempoMapEntry& first = job.map.front();
        fits = sectionWriteFrames(s.rate, first.tempo, first.beats, *line.countIn).has_value();
    }
    if (fits) return std::nullopt;
    return fileFailure("the count-in is too long: its frames do not fit 31 bits at this rate; "
                       "nothing was written or played.");
}

// The tempo map, checked whole at the rate in force: the line format, or
// the menu's "tmap" lines.
std::optional<Stop> loadMap(const std::string& path, Job& job) {
    const MapFileText file = readMapText(path);
    if (file.problem) return fileFailure(*file.problem);
    if (isLineMap(file.text)) return loadLineMap(path, file.text, job);
    TempoMapFile map = tempoMapFromText(file.text, job.settings.rate);
    if (map.entryCount == 0 || !map.problems.empty()) {
        std::string lines;
        for (const std::string& problem : map.problems) lines += "clicktrack: " + problem + "\n";
        const char* what = map.entryCount == 0 ? "Could not find tempo entries in map file."
                                               : "The tempo map was not used.";
        return Stop{kFileFailure, lines + "clicktrack: " + what, true};
    }
    job.map = std::move(map.entries);
    return std::nullopt;
}

}  // namespace

std::variant<Job, Stop> prepareJob(const CommandLine& line) {
    Job job;
    if (line.settings) {
        if (std::optional<Stop> r = loadSettingsFile(*line.settings, job)) return *r;
    }
    if (std::optional<Stop> r = applyOptions(line, job.settings)) return *r;
    job.trackSeconds = startupTrackSeconds(job.settings);
    if (line.shapesTheClicks()) {
        // The accent click must be one the rate can carry, given or not.
        const float accentHz = line.accentFreq.value_or(job.settings.Hz * 1.5f);
        if (const Rule rule = checkFrequency(accentHz, job.settings.rate)) {
            return usageError("--accent-freq " + number(accentHz) +
                              (line.accentFreq ? "" : " (1.5 x --freq)") + ": " + *rule + ".");
        }
    }
    if (line.map) {
        if (std::optional<Stop> r = loadMap(*line.map, job)) return *r;
        for (const LineMapSection& k : job.lineMap) {
            // A section's own pattern wins; the others take --pattern.
            if (line.pattern && k.pattern.empty() &&
                static_cast<int64_t>(line.pattern->size()) != k.beats) {
                return usageError("--pattern " + *line.pattern + " has " +
                                  std::to_string(line.pattern->size()) + " beats, but line " +
                                  std::to_string(k.line) + " of the map has " +
                                  std::to_string(k.beats) + " a measure.");
            }
        }
        for (size_t i = 0; line.pattern && i < job.map.size(); ++i) {
            if (static_cast<int64_t>(line.pattern->size()) != job.map[i].beats) {
                return usageError("--pattern " + *line.pattern + " has " +
                                  std::to_string(line.pattern->size()) + " beats, but entry " +
                                  std::to_string(i + 1) + " of the map has " +
                                  std::to_string(job.map[i].beats) + " a measure.");
            }
        }
    }
    if (std::optional<Stop> r = checkCountIn(line, job)) return *r;
    if (std::optional<Stop> r = measureExactTrack(line, job)) return *r;
    return job;
}

Stop commandLineFailure(Stop stop) {
    if (stop.status < kSignalStatusBase) stop.status = kFileFailure;
    if (!stop.message.empty()) stop.message = "clicktrack: " + stop.message;
    stop.onStderr = true;
    return stop;
}
