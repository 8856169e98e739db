#include "track/map_reading.hpp"

#include <algorithm>

#include "core/beat_schedule.hpp"
#include "core/timing.hpp"
#include "core/user_text.hpp"
#include "files/line_map.hpp"
#include "files/tempo_map.hpp"
#include "track/planner.hpp"

namespace {

// A map of the line format: every beat exact, each section at its own level.
void readLineMap(const std::string& path, const LineMap& parsed, uint32_t rate,
                 MapReading& reading) {
    LineMap map = parsed;
    reading.entryCount = map.error ? map.sectionsRead : map.sections.size();
    if (map.error) {
        reading.problems.push_back(path + ": " + *map.error);
        return;
    }
    Song& song = reading.song;
    song.rounding = Rounding::Exact;
    song.fromMap = true;
    song.shapedClicks = true;
    // In a map with labels, a line without one continues the section before it.
    const bool labeled = std::any_of(map.sections.begin(), map.sections.end(),
                                     [](const LineMapSection& k) { return !k.label.empty(); });
    for (LineMapSection& k : map.sections) {
        for (const double t : k.tempos) {
            if (240.0 / (t * static_cast<double>(k.noteValue)) * (k.dotted ? 1.5 : 1.0) * rate < 1.0) {
                reading.problems.push_back(path + ": line " + std::to_string(k.line) +
                                           ": a beat would be shorter than one sample at this "
                                           "rate.");
                return;
            }
        }
        SongSection s;
        s.continues = labeled && k.label.empty() && !song.sections.empty();
        s.label = std::move(k.label);
        s.origin = "line " + std::to_string(k.line);
        s.measures = k.measures;
        s.beatsPerMeasure = k.beats;
        s.noteValue = k.noteValue;
        s.dotted = k.dotted;
        s.tempos = std::move(k.tempos);
        s.ramp = k.ramp;
        // A section without a pattern accents its first beat.
        s.accentFirst = k.pattern.empty();
        s.pattern = std::move(k.pattern);
        s.level = k.volume;
        s.countedQuarters = k.countedQuarters;
        s.trainer = std::move(k.trainer);
        s.mute = std::move(k.mute);
        song.sections.push_back(std::move(s));
    }
    if (!(exactSeconds(song) * rate < kFrameCountLimitDouble)) {
        reading.problems.push_back(path + ": the map is too long: its frames do not fit 31 bits.");
    }
}

// A map of the menu's "tmap" lines, on the menu's grid.
void readMenuMap(const std::string& text, uint32_t rate, MapReading& reading) {
    TempoMapFile map = tempoMapFromText(text, rate);
    reading.entryCount = map.entryCount;
    reading.problems = std::move(map.problems);
    if (map.entryCount == 0) {
        reading.verdict = "Could not find tempo entries in map file.";
        return;
    }
    if (!reading.problems.empty()) {
        reading.verdict = "The tempo map was not used.";
        return;
    }
    reading.song.rounding = Rounding::MenuGrid;
    reading.song.fromMap = true;
    for (const TempoMapEntry& e : map.entries) {
        SongSection s;
        s.origin = "entry " + std::to_string(reading.song.sections.size() + 1);
        s.measures = e.measures;
        s.beatsPerMeasure = e.beats;
        s.tempos = {decimalOf(e.tempo)};
        reading.song.sections.push_back(std::move(s));
    }
}

}  // namespace

MapReading readMapSong(const std::string& path, uint32_t rate, Unreadable firstLine) {
    MapReading reading;
    MapFileText file = readMapText(path);
    if (file.problem) {
        reading.unreadable = std::move(file.problem);
    } else if (!isLineMap(file.text)) {
        readMenuMap(file.text, rate, reading);
    } else {
        const LineMap map = parseLineMap(file.text);
        if (map.error && map.sectionsRead == 0 && firstLine == Unreadable::MenuReading) {
            readMenuMap(file.text, rate, reading);
        } else {
            readLineMap(path, map, rate, reading);
        }
    }
    if (!reading.problems.empty() || reading.unreadable) reading.song.sections.clear();
    return reading;
}
