// The formulas that turn settings into lengths and frame counts. Each works
// in the precision the program has always used, since that precision is
// part of what it writes and plays.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/settings.hpp"

// Frame counts are signed 32-bit: a track or a section holds fewer than
// 2^31 frames, and so does a beat.
constexpr float kFrameCountLimit = 2147483648.0f;
constexpr double kFrameCountLimitDouble = 2147483648.0;
constexpr int64_t kMaxFrameCount = 2147483647;

// A full click: 8 partials, each lasting 3 periods of its own.
constexpr int32_t kStartHarmonics = 8;
constexpr int32_t kStartCycles = 3;

// The longest click the program makes: 32 MiB of 24-bit samples. With its
// 32-bit samples beside it, a click takes at most 75 MiB, and making it
// takes well under a second.
constexpr int64_t kClickBudgetBytes = int64_t{32} << 20;
constexpr int64_t kMaxClickSamples = kClickBudgetBytes / 3;

// Period of the lowest frequency in whole samples: rate / hz in single
// precision, truncated. Nothing when it is far longer than any rate (then no
// whole period fits in a second).
std::optional<int64_t> lowestPeriod(float hz, uint32_t rate);

// Whole periods of the lowest frequency, from kStartCycles down, that fit
// below the rate; 0 when none does.
int32_t cyclesThatFit(float hz, uint32_t rate);

// Samples in the click made for `hz` and `rate`: the period times the cycles
// that fit; 0 when no whole period fits in one second. Always below the rate.
int64_t clickLengthFor(float hz, uint32_t rate);

// A section of one tempo and meter, as a tempo map lists them.
struct MeterSection {
    float tempo = 0.0f;      // beats per minute
    int64_t beats = 0;       // beats per measure, as written
    int64_t measures = 0;    // measures in the section, as written
};

// Track length at start-up: meter x meas / (tempo / 60), all in single precision.
float startupTrackSeconds(const Settings& s);

// Track length after `t`, `b` or `m`: the product as float times the double
// quotient 60 / tempo, stored as float. Differs from the start-up value in the
// last bits for some tempos.
float recomputedTrackSeconds(const Settings& s);

// Length in seconds of a section of `beats` x `measures` beats at `tempo`,
// computed the same way as recomputedTrackSeconds.
float sectionSeconds(int64_t beats, int64_t measures, float tempo);

// Frames in one beat when the beat is played at the menu's tempo:
// rate / (tempo / 60) in single precision, truncated.
int32_t beatSamples(uint32_t rate, float tempo);

// Frames in one beat when a tempo map section is played: (rate x 60) /
// tempo in double precision, truncated.
int32_t sectionBeatLength(uint32_t rate, float tempo);

// Frames written for a tempo map section of beats x measures at `tempo`:
// rate x its length in seconds, in single precision, truncated. Nothing when
// the count is negative or does not fit 31 bits.
std::optional<int32_t> sectionWriteFrames(uint32_t rate, float tempo, int64_t beats,
                                          int64_t measures);

// Frames played for the section: rate x measures x beats times the quotient
// 60 / tempo, in double precision, truncated. Nothing as above.
std::optional<int32_t> sectionPlayFrames(uint32_t rate, float tempo, int64_t beats,
                                         int64_t measures);

// Frames of a track of `seconds`: rate x seconds in single precision,
// truncated; nothing when that is no 32-bit frame count.
std::optional<int32_t> trackFrames(uint32_t rate, float seconds);

// A section written to a file: `frames` planned at `tempo`, the click of
// `clickLength` frames laid whole at each beat.
ScheduledSection fileSection(uint32_t rate, float tempo, int64_t frames, int64_t clickLength);

// Frames the sections really take, the last click included.
int64_t trackLength(const std::vector<ScheduledSection>& sections);

// An encoded click, held elsewhere (a click can be tens of MiB: it is not copied).
struct ClickBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

inline ClickBytes bytesOf(const std::vector<uint8_t>& click) { return {click.data(), click.size()}; }

// Frames of each kind of click a track lays.
struct ClickLengths {
    int64_t normal = 0;
    int64_t accent = 0;
    int64_t subdivision = 0;
};

// The extra clicks of a subdivided beat sound at a quarter of the normal
// level: each sample divided by 4 and truncated.
constexpr int32_t kSubdivisionDivisor = 4;

// The encoded clicks of one level: a section's voice.
//
// A quieter voice keeps no bytes of its own, so that a map of many levels
// holds each click once: its clicks are made as they are laid from the
// full-level samples (on the 24-bit scale), each multiplied by `level` and
// truncated; its subdivision from the normal click's samples, first divided
// by 4. Its bytes are then the full-level clicks, which give the lengths.
struct ClickVoice {
    ClickBytes normal;
    ClickBytes accent;
    ClickBytes subdivision;
    const int32_t* normalSamples = nullptr;  // set for a voice made as it is laid
    const int32_t* accentSamples = nullptr;
    double level = 1.0;

    bool madeAsLaid() const { return normalSamples != nullptr; }
};

// Encodes `count` frames from frame `from` of the click of `kind` in
// `voice`, which is made as it is laid, into `bytes`.
void encodeVoiceFrames(const ClickVoice& voice, ClickKind kind, int64_t from, int64_t count,
                       uint8_t* bytes, int32_t bytesPerSample);

// One click as it is laid into a track: where, how many of its frames, and which.
struct LaidClick {
    int64_t frame = 0;
    int64_t frames = 0;
    ClickKind kind = ClickKind::Normal;
    size_t voice = 0;
};

// The click of `kind` in `voice`.
const ClickBytes& clickOf(const ClickVoice& voice, ClickKind kind);

// Lays the schedule's clicks in order, calling `lay` for each (it returns
// false to stop); gives where the track ends, the last click whole. Clicks
// are laid whole (the menu's files, whose grid already keeps them apart) or,
// with `cutAtNextClick`, cut where the next click or silent beat starts;
// silent beats lay nothing.
int64_t layClicks(BeatSchedule& schedule, const std::vector<ClickLengths>& lengths,
                  bool cutAtNextClick, const std::function<bool(const LaidClick&)>& lay);
