// What a command line run works with: the settings, laid from the program's
// defaults, then the settings file named by --settings, then the options;
// and the tempo map when --map names one. Every value is checked with the
// menu's rules before anything is written or played.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "cli/options.hpp"
#include "core/settings.hpp"
#include "files/line_map.hpp"
#include "files/tempo_map.hpp"

struct Job {
    Settings settings;
    float trackSeconds = 0.0f;            // as at start-up: single precision
    std::vector<TempoMapEntry> map;       // the sections, with --map of "tmap" lines
    std::vector<LineMapSection> lineMap;      // the sections, with --map in the line format
    std::vector<std::string> warnings;    // lines about the settings file's refused values
    // Seconds of a track laid at exact times (a change of tempo, or a map
    // of the line format), its count-in included: its end, known up front.
    std::optional<double> exactSeconds;
};

// The job, or why it cannot be done: a usage error (status 2) for a value
// the options gave, a file failure (status 1) for the settings file or the map.
std::variant<Job, Stop> prepareJob(const CommandLine& line);

// A failure of a file or the device, said the command line's way: on
// standard error after "clicktrack: ", with status 1 (a signal keeps its status).
Stop commandLineFailure(Stop stop);
