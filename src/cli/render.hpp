// `clicktrack render`: one click track, or a tempo map, into a WAV, FLAC, Ogg or AIFF file.
#pragma once

#include <cstdio>

#include "cli/job.hpp"
#include "cli/options.hpp"
#include "cli/exit.hpp"
#include "core/outcome.hpp"

// Writes the job's track to the file the options name, to the end of it
// with --append, or to `audioOut` with "-o -". Writes the summary line to
// `summaryOut` unless quiet, and warnings to `err`. Nothing on success.
Result renderTrack(const CommandLine& line, const Job& job, int audioOut, FILE* summaryOut,
                    FILE* err);
