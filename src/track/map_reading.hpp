// A tempo map file, in either format, read into the sections of a song.
// Nothing past this reader knows which format a file had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/outcome.hpp"
#include "track/song.hpp"

struct MapReading {
    Outcome unreadable;                     // the file could not be read: why
    size_t entryCount = 0;                  // sections found
    // Why the map cannot be used, a line each, and the sentence that sums
    // them up when there is one; none when the song is ready.
    std::vector<std::string> problems;
    std::optional<std::string> verdict;
    Song song;  // its sections, when the map can be used
};

// How a text without "tmap" entries whose first section does not read in
// the line format is taken: with that line's error, or as the menu has
// always read it (a map without entries).
enum class Unreadable { LineError, MenuReading };

// Reads the map at `path` (a regular file only, never waiting on it) and
// checks every section against `rate` before anything is written or played.
MapReading readMapSong(const std::string& path, uint32_t rate,
                       Unreadable firstLine = Unreadable::LineError);
