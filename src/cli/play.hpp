// `clicktrack play`: the track, or a tempo map, on an ALSA device.
#pragma once

#include <cstdio>
#include <string>

#include "cli/job.hpp"
#include "cli/options.hpp"
#include "cli/exit.hpp"
#include "core/outcome.hpp"

// Plays the job's track, the very frames render writes: all its measures,
// the first --seconds of it, or, with --loop, again and again without its
// count-in until a signal stops it. Shows where it is on `err` when that is
// a terminal, one line rewritten in place, unless quiet. A track with
// nothing to play plays nothing and says so on `err`, once.
Result playTrack(const CommandLine& line, const Job& job, FILE* out, FILE* err);

// The same, with standard input a terminal read for keys (see cli/keys.hpp),
// and `title` before the display's line: a setlist's song.
Result playTrack(const CommandLine& line, const Job& job, FILE* out, FILE* err,
                 const std::string& title);
