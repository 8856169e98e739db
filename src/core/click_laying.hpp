// Laying clicks into a track: the encoded clicks of each voice, and the walk
// of a schedule that says where each click goes and how much of it sounds.
// The wave writer and the player both lay clicks this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/beat_schedule.hpp"

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
