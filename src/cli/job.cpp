#include "cli/job.hpp"

#include <cstdio>

#include "cli/channels.hpp"
#include "click/click_set.hpp"
#include "click/sounds.hpp"
#include "core/timing.hpp"
#include "core/user_text.hpp"
#include "core/value_rules.hpp"
#include "files/settings_file.hpp"
#include "track/map_reading.hpp"
#include "track/planner.hpp"
#include "track/practice.hpp"

namespace {

constexpr int kFileFailure = 1;

// The lowest rate that carries a designed sound's partials and noise.
constexpr uint32_t kLowestSoundRate = 8000;

Exit fileFailure(const std::string& message) {
    return Exit{kFileFailure, "clicktrack: " + message, true};
}

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// A value refused at the rate in force: the option that gave it, or else
// the rate that it does not suit.
Exit refusedValue(const char* option, bool fromOption, const std::string& value,
                  const std::string& rate, const std::string& rule) {
    if (fromOption) return usageError(std::string(option) + " " + value + ": " + rule + ".");
    const char* what = std::string(option) == "--tempo" ? "tempo" : "frequency";
    return usageError("--rate " + rate + " does not suit the " + what + " " + value +
                      " in force: " + rule + ".");
}

// The settings file named by --settings, as start-up loads it.
std::optional<Exit> loadSettingsFile(const std::string& path, Job& job) {
    SettingsFileText file = readSettingsFile(path);
    if (file.problem) return fileFailure(file.problem->detail);
    if (!file.text) return fileFailure("Can't read settings file '" + path + "': No such file.");
    job.warnings = loadSettingsText(std::move(*file.text), job.settings, path);
    return std::nullopt;
}

// The options over the settings, each checked as the menu checks it; the
// frequency only when the classic click sounds.
std::optional<Exit> applyOptions(const CommandLine& line, Settings& s, bool classic) {
    if (line.rate) s.rate = *line.rate;
    if (line.bits) s.bits = *line.bits;
    if (line.tempoFrom) s.tempo = *line.tempoFrom;
    if (line.freq) s.hz = *line.freq;
    if (line.beats) s.meter = *line.beats;
    if (line.measures) s.meas = *line.measures;
    if (line.output && !line.toStandardOutput()) s.save = *line.output;
    if (line.device) s.device = *line.device;
    if (line.map) s.map = *line.map;
    if (line.tempoRamp) {
        // Both ends of a change of tempo must be tempos the menu takes.
        if (const Rule rule = checkTempo(*line.tempoTo, s.rate)) {
            return refusedValue("--tempo", true, number(*line.tempoTo), std::to_string(s.rate),
                                rule->detail);
        }
    }
    if (line.accentFreq) {
        if (const Rule rule = checkFrequency(*line.accentFreq, s.rate)) {
            return usageError("--accent-freq " + number(*line.accentFreq) + ": " + rule->detail + ".");
        }
    }
    if (line.pattern && static_cast<int64_t>(line.pattern->size()) != s.meter) {
        return usageError("--pattern " + *line.pattern + " has " +
                          std::to_string(line.pattern->size()) + " beats, not the " +
                          std::to_string(s.meter) + " of a measure.");
    }
    if (const Rule rule = checkTempo(s.tempo, s.rate)) {
        return refusedValue("--tempo", line.tempoFrom.has_value(), number(s.tempo),
                            std::to_string(s.rate), rule->detail);
    }
    if (const Rule rule = classic ? checkFrequency(s.hz, s.rate) : Rule{}) {
        return refusedValue("--freq", line.freq.has_value(), number(s.hz),
                            std::to_string(s.rate), rule->detail);
    }
    if (line.seconds) {
        if (const Rule rule = checkAuditionLength(*line.seconds, s.rate)) {
            return usageError("--seconds " + number(*line.seconds) + ": " + rule->detail + ".");
        }
    }
    // The menu's limits on names belong to its settings file: the command
    // line takes any name the system takes (the parser refuses empty ones).
    return std::nullopt;
}

// The sound named, or the default: the classic click when the options or
// the settings shape it (--freq, --accent-freq, --settings), so that the
// scripts written before there were sounds sound the same.
SongSound soundOf(const CommandLine& line) {
    SongSound sound;
    const bool shapedClassic = line.freq || line.accentFreq || line.settings;
    sound.name = line.sound ? *line.sound : shapedClassic ? kClassicSound : kDefaultSound;
    const auto decibels = [](const std::optional<float>& v) -> std::optional<double> {
        if (!v) return std::nullopt;
        return static_cast<double>(*v);
    };
    sound.volume = decibels(line.volume);
    sound.accent = decibels(line.accentLevel);
    sound.subdivision = decibels(line.subLevel);
    sound.soft = decibels(line.softLevel);
    return sound;
}

// A designed sound needs a rate that carries its partials and noise, and
// keeps within the classic click's memory budget.
std::optional<Exit> checkSoundRate(const std::string& name, uint32_t rate) {
    const std::string start = "--rate " + std::to_string(rate) + " is too ";
    if (rate < kLowestSoundRate) {
        return usageError(start + "low for the " + name + " sound: it needs at least " +
                          std::to_string(kLowestSoundRate) + " samples a second.");
    }
    const int64_t ms = findSound(name)->milliseconds;
    const int64_t highest = (1000 * (kMaxClickSamples + 1) - 1) / ms;
    if (int64_t{rate} > highest) {
        return usageError(start + "high for the " + name + " sound: its " + std::to_string(ms) +
                          " ms must fit 32 MiB, at most " + std::to_string(highest) +
                          " samples a second.");
    }
    return std::nullopt;
}

// The tempo map, checked whole at the rate in force.
std::optional<Exit> loadMap(const std::string& path, Job& job) {
    MapReading map = readMapSong(path, job.settings.rate);
    if (map.unreadable) return fileFailure(map.unreadable->detail);
    if (map.entryCount == 0 || !map.problems.empty()) {
        std::string lines;
        for (const std::string& problem : map.problems) {
            if (!lines.empty()) lines += "\n";
            lines += "clicktrack: " + problem;
        }
        if (map.verdict) lines += (lines.empty() ? "" : "\n") + ("clicktrack: " + *map.verdict);
        return Exit{kFileFailure, lines, true};
    }
    job.song = std::move(map.song);
    return std::nullopt;
}

// The song of one tempo, or of a change of tempo, for the options' measures:
// its length is that of its beats, every beat at its exact time.
Song oneTempoSong(const CommandLine& line, const Settings& s) {
    Song song;
    SongSection only;
    only.measures = s.meas;
    only.beatsPerMeasure = s.meter;
    if (line.tempoRamp) {
        only.tempos = {decimalOf(*line.tempoFrom), decimalOf(*line.tempoTo)};
        only.ramp = true;
    } else {
        only.tempos = {decimalOf(s.tempo)};
    }
    if (line.tempoNote) {
        // The beat is the note the tempo counts; the tempos count quarters.
        only.noteValue = line.tempoNote->noteValue;
        only.dotted = line.tempoNote->dotted;
        only.countedQuarters = line.tempoNote->quarters();
        for (double& t : only.tempos) t *= line.tempoNote->quarters();
    }
    song.sections.push_back(only);
    return song;
}

// The clicks the options give every section without a pattern of its own,
// the subdivisions and the count-in.
std::optional<Exit> shapeSong(const CommandLine& line, Song& song) {
    for (SongSection& s : song.sections) {
        if (!s.pattern.empty()) continue;
        if (line.pattern) s.pattern = *line.pattern;
        else if (line.accent) s.accentFirst = true;
    }
    song.subdivide = line.subdivide.value_or(line.swing ? 2 : 1);
    if (line.swing) song.swing = decimalOf(*line.swing) / 100.0;
    song.shapedClicks = song.shapedClicks || line.shapesTheClicks();
    if (line.countIn.value_or(0) > 0 && !song.sections.empty()) {
        // The count-in is in the first section's meter, tempo and pattern.
        const int64_t beats = song.sections.front().beatsPerMeasure;
        if (line.countInPattern && static_cast<int64_t>(line.countInPattern->size()) != beats) {
            return usageError("--count-in-pattern " + *line.countInPattern + " has " +
                              std::to_string(line.countInPattern->size()) + " beats, not the " +
                              std::to_string(beats) + " of the first section's measure.");
        }
        addCountIn(song, *line.countIn, line.countInPattern);
    }
    return std::nullopt;
}

// The trainer and the muted bars laid into the song at the rate in force:
// --trainer's problem is a usage error, a map line's the map's.
std::optional<Exit> layTrainer(const CommandLine& line, Song& song, uint32_t rate) {
    song.trainer = line.trainer;
    song.mute = line.mute;
    const std::optional<PracticeProblem> problem = layPractice(song, rate);
    if (!problem) return std::nullopt;
    if (!problem->own) return usageError("--trainer " + line.trainer->text + ": " + problem->detail + ".");
    const SongSection& s = song.sections[problem->section];
    return fileFailure(line.map.value_or("") + ": " + s.origin + ": trainer=" + s.trainer->text + ": " +
                       problem->detail + ".");
}

// --sample's files read at the rate in force; any that cannot be laid
// refuses the whole job.
std::optional<Exit> loadSamples(const CommandLine& line, Job& job) {
    if (line.samples.empty()) return std::nullopt;
    const char* tail = line.command == Command::Show ? "." : "; nothing was written or played.";
    SoundSamples clicks;
    std::vector<int32_t>* slots[] = {&clicks.normal, &clicks.accent, &clicks.subdivision};
    for (size_t i = 0; i < line.samples.size(); ++i) {
        auto read = readSample(line.samples[i], job.settings.rate);
        if (const Failure* f = std::get_if<Failure>(&read)) return fileFailure(f->detail + tail);
        *slots[i] = std::move(std::get<std::vector<int32_t>>(read));
    }
    job.samples = std::move(clicks);
    return std::nullopt;
}

// --backing's file read whole at the rate in force, before anything is
// written or played, and routed onto its channels.
std::optional<Exit> loadBacking(const CommandLine& line, Job& job) {
    if (!line.backing) return std::nullopt;
    const int32_t channels = channelCount(line);
    const uint32_t mask = line.backingTo.value_or(allChannels(channels));
    auto read = readBacking(*line.backing, job.settings.rate, channelsIn(mask));
    if (const Failure* f = std::get_if<Failure>(&read)) {
        return fileFailure(f->detail + "; nothing was written or played.");
    }
    job.backing = std::move(std::get<BackingTrack>(read));
    routeBacking(*job.backing, mask, channels);
    return std::nullopt;
}

// The whole song checked at the rate in force: its frames within 31 bits.
std::optional<Exit> checkLength(const Song& song, uint32_t rate, bool writesNothing) {
    if (!(exactSeconds(song) * rate < kFrameCountLimitDouble)) {
        return fileFailure(std::string("the track is too long: its frames do not fit 31 bits at "
                                       "this rate") +
                           (writesNothing ? "." : "; nothing was written or played."));
    }
    return std::nullopt;
}

}  // namespace

std::variant<Job, Exit> prepareJob(const CommandLine& line) {
    Job job;
    if (line.settings) {
        if (std::optional<Exit> r = loadSettingsFile(*line.settings, job)) return *r;
    }
    const SongSound sound = soundOf(line);
    const bool classic = sound.name == kClassicSound && line.samples.empty();
    if (!classic && (line.freq || line.accentFreq)) {
        return usageError(std::string(line.freq ? "--freq" : "--accent-freq") +
                          " shapes the classic sound only, not '" + sound.name +
                          "': give --sound classic or leave it out.");
    }
    if (std::optional<Exit> r = applyOptions(line, job.settings, classic)) return *r;
    // A sample brings its own sound, at any rate up to its own limit.
    if (!classic && line.samples.empty()) {
        if (std::optional<Exit> r = checkSoundRate(sound.name, job.settings.rate)) return *r;
    }
    if (classic && line.shapesTheClicks()) {
        // The accent click must be one the rate can carry, given or not.
        const float accentHz = line.accentFreq.value_or(job.settings.hz * kAccentRatio);
        if (const Rule rule = checkFrequency(accentHz, job.settings.rate)) {
            return usageError("--accent-freq " + number(accentHz) +
                              (line.accentFreq ? "" : " (1.5 x --freq)") + ": " + rule->detail + ".");
        }
    }
    if (std::optional<Exit> r = loadSamples(line, job)) return *r;
    if (line.map) {
        if (std::optional<Exit> r = loadMap(*line.map, job)) return *r;
    } else {
        job.song = oneTempoSong(line, job.settings);
    }
    job.song.sound = sound;
    // The command line lays every beat at its exact time, maps of the
    // menu's format too: only the menu keeps its own grid.
    job.song.rounding = Rounding::Exact;
    if (std::optional<Exit> r = shapeSong(line, job.song)) return *r;
    if (std::optional<Exit> r = layTrainer(line, job.song, job.settings.rate)) return *r;
    if (std::optional<Exit> r = checkLength(job.song, job.settings.rate, line.command == Command::Show)) return *r;
    // The longest to read, once all else is known to be right.
    if (std::optional<Exit> r = loadBacking(line, job)) return *r;
    return job;
}

Exit commandLineFailure(const Failure& failure) {
    const int status =
        failure.kind == Failure::Kind::Interrupted ? kSignalExit + failure.signal : kFileFailure;
    return Exit{status, failure.detail.empty() ? "" : "clicktrack: " + failure.detail, true};
}

ClickSet clickSetFor(const CommandLine& line, const Job& job) {
    const Settings& s = job.settings;
    std::optional<float> accentHz;
    if (job.song.shapedClicks) accentHz = line.accentFreq.value_or(s.hz * kAccentRatio);
    const SongSound& sound = job.song.sound;
    ClickChoice choice;
    choice.sound = sound.name;
    const auto gain = [](double decibels) { return gainOfDecibels(decibels); };
    choice.volume = sound.volume ? gain(*sound.volume) : 1.0;
    if (sound.accent) choice.accent = gain(*sound.accent);
    if (sound.subdivision) choice.subdivision = gain(*sound.subdivision);
    if (sound.soft) choice.soft = gain(*sound.soft);
    if (job.samples) choice.samples = &*job.samples;
    return makeClickSet(s.bits, s.hz, s.rate, accentHz, quieterLevels(job.song), choice);
}
