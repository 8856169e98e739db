// What a command line run works with: the settings, laid from the program's
// defaults, then the settings file named by --settings, then the options;
// and the tempo map when --map names one. Every value is checked with the
// menu's rules before anything is written or played.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "audio/sample_file.hpp"
#include "cli/options.hpp"
#include "click/click_set.hpp"
#include "core/settings.hpp"
#include "track/song.hpp"

struct Job {
    Settings settings;
    Song song;                          // the track to write or play
    std::vector<std::string> warnings;  // lines about the settings file's refused values
    std::optional<SoundSamples> samples;  // --sample's clicks, at the rate in force
    std::optional<BackingTrack> backing;  // --backing's file, at the rate in force, routed
};

// The job, or why it cannot be done: a usage error (status 2) for a value
// the options gave, a file failure (status 1) for the settings file or the map.
std::variant<Job, Exit> prepareJob(const CommandLine& line);

// A failure of a file or the device, said the command line's way: on
// standard error after "clicktrack: ", with status 1 (a signal keeps its status).
Exit commandLineFailure(const Failure& failure);

// The clicks the job's song sounds: --sample's, or its sound's; for the
// classic click, the accent (at --accent-freq, or a fifth above --freq), the
// subdivision, the soft click and the quieter levels only when it shapes its
// clicks. The levels apply to every sound.
ClickSet clickSetFor(const CommandLine& line, const Job& job);
