// Loops one beat on the playback device, telling when each measure begins.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/click_laying.hpp"
#include "core/outcome.hpp"
#include "playback/beat.hpp"
#include "playback/pcm_device.hpp"

// What a caller may learn of a play: the frames written to the device are
// added to `framesPlayed`.
struct PlayTally {
    int64_t framesPlayed = 0;
    // Told the index of each section after the first as its first beat is
    // announced, just before that beat.
    std::function<void(size_t section)> onNewSection;
};

// Called at the start of each beat with its measure and its number in the
// measure, as the period in which it begins is filled: ahead of the moment
// the listener hears it.
using BeatListener = std::function<void(int64_t measure, int64_t beat)>;

// Plays `beat` repeated for total - P frames rounded up to whole periods of
// P frames (nothing when total is not above P), or without end when there
// is no total. Tells `onBeat` of beat 1 of `firstMeasure` at the start, and
// of every beat that begins after it, measures being `beatsPerMeasure`
// beats long (a beat below one frame has no beats after it). Drains and closes
// the device at the end. Inside an InterruptGuard, a stop signal ends the
// playing before the next period: what waits to be played is dropped, and
// the failure is an interruption naming the signal.
// Keeps `tally`, when given.
Outcome playBeat(PcmDevice& device, const Beat& beat, std::optional<int64_t> total,
                 int32_t beatsPerMeasure, int32_t firstMeasure, const BeatListener& onBeat,
                 PlayTally* tally = nullptr);

// The encoded clicks of every kind, held elsewhere, and the bytes of a
// sample; the channels of a frame, and a backing, as the layout says.
struct PlayClicks {
    std::vector<ClickVoice> voices;  // at least one; a section names its own
    int32_t frameBytes = 3;          // of one channel
    FrameLayout layout;
};

// Plays the sections' clicks as the schedule lays them out, each cut where
// the next click starts, for total - P frames rounded up to whole periods as
// playBeat does. Whole-beat sections with a negative length run to the end.
Outcome playSchedule(PcmDevice& device, std::vector<ScheduledSection> sections,
                     const PlayClicks& clicks, std::optional<int64_t> total,
                     int32_t firstMeasure, const BeatListener& onBeat,
                     PlayTally* tally = nullptr);

// Told of each beat of a stream as the period where it begins is filled:
// its frame from the start of the stream, its section, measure and beat.
using EventListener = std::function<void(const BeatEvent& beat)>;

// A track played as one stream: `track` once, then, when `again` is not
// empty, `again` round after round, each starting where the beats of the
// one before end; every frame of it, the last period perhaps short, up to
// `frames` (none: to where the beats end, or without end when it repeats).
struct DeviceStream {
    std::vector<ScheduledSection> track;
    std::vector<ScheduledSection> again;
    std::optional<int64_t> frames;
};

// Plays the stream's clicks as the schedule lays them out, each cut where
// the next click starts and the last where the beats end: the very frames a
// wave file of the track holds. Drains and closes the device at the end; a
// stop signal inside an InterruptGuard ends it before the next period.
Outcome playStream(PcmDevice& device, const DeviceStream& stream, const PlayClicks& clicks,
                   const EventListener& onEvent, PlayTally* tally = nullptr);

class LiveLink;

// Plays the plans `link` hands over, each from the beat it takes over at,
// clicks laid as playStream lays them, for at most `frames` when given.
// Starts with the plan posted first; at the end of a plan's beats goes on
// with the next round the link holds, or ends. Ends before the next period
// when the link is told to quit (what waits is dropped) or on a stop signal.
Outcome playLive(PcmDevice& device, LiveLink& link, const PlayClicks& clicks,
                 std::optional<int64_t> frames, const EventListener& onEvent,
                 PlayTally* tally = nullptr);

// Where and how to play: the device's name, the rate and the sample size.
struct PlaybackTarget {
    std::string device;
    uint32_t rate = 44100;
    int32_t bits = 24;
};

// Opens the device and plays the sections' clicks on it as playSchedule does.
Outcome playScheduleOnDevice(const PlaybackTarget& target, std::vector<ScheduledSection> sections,
                             const PlayClicks& clicks, std::optional<int64_t> total,
                             const BeatListener& onBeat, PlayTally* tally = nullptr);

// Opens the device and plays the stream on it as playStream does.
Outcome playStreamOnDevice(const PlaybackTarget& target, const DeviceStream& stream,
                           const PlayClicks& clicks, const EventListener& onEvent,
                           PlayTally* tally = nullptr);

// Opens the device with a short buffer, so that a key is heard soon, and
// plays on it as playLive does.
Outcome playLiveOnDevice(const PlaybackTarget& target, LiveLink& link, const PlayClicks& clicks,
                         std::optional<int64_t> frames, const EventListener& onEvent,
                         PlayTally* tally = nullptr);
