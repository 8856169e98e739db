// The channels of a track's frames on the command line: how many, which
// carry the click, and a backing track mixed onto some of them.
//
//   --channels N          1 to 32 channels (default 1)
//   --click-to LIST       the click's channels (default all), e.g. 1 or 1,3-4
//   --backing FILE[:LIST] a sound file on LIST (default all), from the
//                         track's first bar after the count-in
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/job.hpp"
#include "cli/options.hpp"
#include "core/click_laying.hpp"

// `text` as a list of channels, bit c for channel c + 1: numbers from 1 to
// kMostChannels and ranges A-B (A at most B), separated by commas. False
// when it is not one.
bool channelList(const std::string& text, uint32_t& mask);

// Splits --backing's FILE[:LIST]: the part after the last colon is the
// list when it reads as one, else the colon belongs to the name. False for
// an empty name.
bool backingValue(const std::string& text, CommandLine& line);

// Rules between the channel options and the others, once all are read: a
// list names no channel past the frame's, and an added track stays in the
// one channel of the file it is added to.
Result checkChannels(const CommandLine& line);

// How many channels `mask` names.
int32_t channelsIn(uint32_t mask);

// The channels of the frame, and the mask of them all.
int32_t channelCount(const CommandLine& line);
uint32_t allChannels(int32_t channels);

// Which channel of `backing` each channel of the frame hears: a backing of
// as many channels as `mask` names goes one to one, its first on the lowest
// of them; a backing of one channel sounds on each.
void routeBacking(BackingTrack& backing, uint32_t mask, int32_t channels);

// Where the backing starts: the first frame of the song's first section
// after its count-in (`starts` as measureTrack gives them, `end` the
// track's), 0 without a count-in.
int64_t firstBarFrame(const Song& song, const std::vector<int64_t>& starts, int64_t end);

// The frame the job lays: its channels, the click's, and its backing from `backingStart`.
FrameLayout frameLayout(const CommandLine& line, const Job& job, int64_t backingStart);
