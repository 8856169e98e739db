// The tempo map: sections of their own tempo, beats per measure and length.
//
// An entry is the word "tmap", a tab, the tempo, a tab, the beats per
// measure, a tab, and the number of measures running to the end of the line:
//
//   tmap<TAB>120<TAB>4<TAB>48
//   tmap<TAB>160<TAB>3<TAB>16
//
// Other text is skipped token by token (tokens end at tabs and line breaks;
// blanks do not end them, so "tmap 120" is no entry). The tempo and the
// beats end only at a tab, so an entry may run over several lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/outcome.hpp"
#include "core/timing.hpp"

constexpr size_t kMaxTempoMapEntries = 255;
// A larger map file is refused; at most one byte more than this is read.
constexpr uint64_t kMaxTempoMapFileBytes = 1 << 20;

// An entry is a section of one tempo and meter.
using TempoMapEntry = MeterSection;

struct TempoMapText {
    std::vector<TempoMapEntry> entries;  // at most kMaxTempoMapEntries + 1 are kept
    size_t entryCount = 0;               // all entries found
    bool cutShort = false;               // the text ended inside an entry
};

// Parses the text of a tempo map; a zero byte ends the text.
TempoMapText parseTempoMap(std::string_view text);

// Checks every entry before anything is written or played. Returns one line
// for each entry that cannot be used; none when the map is ready.
std::vector<std::string> checkTempoMap(const TempoMapText& map, uint32_t rate);

// "Tempo map entry N: <problem>."
std::string entryLine(size_t number, const std::string& problem);

// What reading a tempo map file came to.
struct TempoMapFile {
    Outcome unreadable;                     // the file could not be read: why
    size_t entryCount = 0;                  // entries found
    std::vector<std::string> problems;      // why the map cannot be used, entry by entry
    std::vector<TempoMapEntry> entries;     // the sections, when the map can be used
};

// The whole text of a map file, or a line saying why it could not be read
// (a regular file only, read without waiting on it, at most 1 MiB).
struct MapFileText {
    std::string text;
    Outcome problem;
};
MapFileText readMapText(const std::string& path);

// Reads the map file at `path` (a regular file only, never waiting on it)
// and checks every entry against `rate`.
TempoMapFile readTempoMap(const std::string& path, uint32_t rate);

// The same for the text of a map file already read.
TempoMapFile tempoMapFromText(std::string_view text, uint32_t rate);
