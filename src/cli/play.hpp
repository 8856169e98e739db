// `clicktrack play`: the track, or a tempo map, on an ALSA device.
#pragma once

#include <cstdio>
#include <string>

#include "cli/job.hpp"
#include "click/click_set.hpp"
#include "playback/player.hpp"
#include "cli/options.hpp"
#include "cli/exit.hpp"
#include "core/outcome.hpp"

// What every play starts with, whatever plays it.
//
// Whether the song has something to play at `rate` in the time --seconds
// gives; says so on `err` when not.
bool somethingToPlay(const CommandLine& line, const Song& song, uint32_t rate, FILE* err);
// The job's clicks, saying on `err` when one of them is silent.
ClickSet playedClicks(const CommandLine& line, const Job& job, FILE* err);
// The stream `play` lays out: the track, then, with --loop, the song again
// without its count-in's measures; cut at --seconds when `timed`.
DeviceStream playedStream(const CommandLine& line, const Song& song, uint32_t rate, bool timed);
// The frame the play lays: channels, the click's, and the backing from the
// first bar after the count-in of `track`.
FrameLayout playedLayout(const CommandLine& line, const Job& job,
                         const std::vector<ScheduledSection>& track);

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
