// `clicktrack show`: the plan of a track as a table, a row for each section
// with where it starts, its first bar, meter, tempo, pattern, label and
// length, then the whole track's length, bars and beats. It writes no file
// and opens no device.
#pragma once

#include <cstdio>

#include "cli/job.hpp"
#include "cli/options.hpp"
#include "cli/exit.hpp"

// Writes the table of the job's track to `out`: its columns lined up, or
// with --tsv separated by tabs under a header row. Warnings go to `err`.
Result showTrack(const CommandLine& line, const Job& job, FILE* out, FILE* err);
