// Laying clicks into a track: the encoded clicks of each voice, and the walk
// of a schedule that says where each click goes and how much of it sounds.
// The wave writer and the player both lay clicks this way.
#pragma once

#include <cstddef>
#include <cstdint>
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
    int64_t soft = 0;
};


// The encoded clicks of one level: a section's voice.
//
// A quieter voice keeps no bytes of its own, so that a map of many levels
// holds each click once: its clicks are made as they are laid from the
// full-level samples of each kind (on the 24-bit scale), each multiplied by
// `level` and truncated. Its bytes are then the full-level clicks, which
// give the lengths.
struct ClickVoice {
    ClickBytes normal;
    ClickBytes accent;
    ClickBytes subdivision;
    ClickBytes soft;
    const int32_t* normalSamples = nullptr;  // set for a voice made as it is laid
    const int32_t* accentSamples = nullptr;
    const int32_t* subdivisionSamples = nullptr;
    const int32_t* softSamples = nullptr;
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

// One event of a track as it is walked: a beat or subdivision of the
// schedule, and how many frames of its click are laid there (none for a
// silent beat).
struct TrackEvent {
    BeatEvent beat;
    int64_t frames = 0;

    LaidClick click() const { return LaidClick{beat.frame, frames, beat.kind, beat.voice}; }
};

// Where a track ends, in frames from its start.
struct TrackEnd {
    int64_t beats = 0;  // where the schedule would start the next beat
    int64_t audio = 0;  // the last click whole, at least `beats`
};

// Whatever consumes a track: the wave file's samples, the MIDI file, the
// sound device. The walk hands each output every event in order, then the
// track's end.
class TrackOutput {
public:
    virtual ~TrackOutput() = default;
    // False stops the walk: the output failed, or has all it wants.
    virtual bool take(const TrackEvent& event) = 0;
    // The track ends: its beats where the beat after the last would start,
    // its audio at `end`, where no click runs past.
    virtual bool finish(const TrackEnd& end) = 0;
};

// Walks the schedule once, laying its clicks, and hands every event to each
// of `outputs`; gives where the track ends, the last click whole, or -1 when
// an output stopped the walk. Clicks are laid whole (the menu's files, whose
// grid already keeps them apart) or, with `cutAtNextClick`, cut where the
// next click or silent beat starts, the last where the beats end; then an
// event reaches the outputs once the next one is known.
int64_t walkTrack(BeatSchedule& schedule, const std::vector<ClickLengths>& lengths,
                  bool cutAtNextClick, const std::vector<TrackOutput*>& outputs);

// What the planner learns of a track by walking it without output.
struct TrackExtent {
    int64_t end = 0;                     // frames, the last click whole
    std::vector<int64_t> sectionStarts;  // first frame of each section
    std::vector<int64_t> beats;          // beats of each section (subdivisions not counted)
};

TrackExtent measureTrack(const std::vector<ScheduledSection>& sections,
                         const std::vector<ClickLengths>& lengths, bool cutAtNextClick);
