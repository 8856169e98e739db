// A sound the user recorded, laid as the click: read from any file
// libsndfile reads (WAV, FLAC, Ogg, AIFF, ...), mixed down to the track's one
// channel, converted to the track's rate by libsamplerate at its best
// quality and put on the 24-bit scale the synthesised clicks use.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "core/click_laying.hpp"
#include "core/outcome.hpp"

// A sample may last at most this long: a click, not a backing track.
constexpr double kSampleSecondsLimit = 2.0;
// Rates a sample is read or converted to at most: bounds what a file's
// header can make the reader hold.
constexpr uint32_t kSampleRateLimit = 768000;

// The sample in `path` at `rate`, frames on the 24-bit scale (a value
// beyond full scale after conversion saturates); its length is the file's
// at its own rate, rounded to the nearest frame at `rate`. Refused, with a
// sentence naming the file: one that cannot be read, holds no frames, is
// silent at 24 bits, lasts longer than kSampleSecondsLimit, or whose rate or
// `rate` exceed kSampleRateLimit.
std::variant<std::vector<int32_t>, Failure> readSample(const std::string& path, uint32_t rate);

// A backing track may hold at most this many samples at the track's rate
// (256 MiB): about 12 minutes of stereo at 44100 Hz, 25 of mono. Reading
// and converting it takes at most twice that for a while.
constexpr size_t kBackingSamplesLimit = size_t{1} << 26;

// The backing track in `path` at `rate`, to be heard on `listed` channels:
// a file of that many channels keeps them, any other is mixed down to one
// (the mean of its channels). Converted and put on the 24-bit scale as
// readSample does; the channel map is the caller's. Refused, with a
// sentence naming the file: one that cannot be read, holds no frames,
// would hold more than kBackingSamplesLimit samples, or whose rate or
// `rate` exceed kSampleRateLimit.
std::variant<BackingTrack, Failure> readBacking(const std::string& path, uint32_t rate,
                                                int32_t listed);
