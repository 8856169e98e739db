// `clicktrack play --jack`: the track played as a JACK client, free, or
// following or leading the JACK transport.
#pragma once

#include <cstdio>

#include "cli/exit.hpp"
#include "cli/job.hpp"
#include "cli/options.hpp"

// Plays the job's track through JACK at the server's rate: the very frames
// render writes at that rate. Free, as playTrack plays (count-in, --loop,
// --seconds); with --transport, where the transport rolls, its frame 0
// being the first bar after the count-in, for --seconds of the server's
// time or until stopped. Tells of xruns on `err` at the end.
Result playOnJack(const CommandLine& line, const Job& job, FILE* out, FILE* err);
