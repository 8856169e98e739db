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

// How the clicks of a track meet.
//   Whole  each click laid whole: the menu's files, whose grid keeps them apart.
//   Cut    each click cut where the next click or silent beat starts, the
//          last where the beats end.
//   Sum    clicks that overlap (a click longer than a subdivision) sound
//          together, their samples summed and held at full scale; a silent
//          beat silences whatever sounds, and the track's end cuts them all.
enum class ClickOverlap { Whole, Cut, Sum };

// Walks the schedule once, laying its clicks, and hands every event to each
// of `outputs`; gives where the track ends (the last click whole under
// Whole, where the beats end otherwise), or -1 when an output stopped the
// walk. Under Cut and Sum an event reaches the outputs once the next one is
// known, its frames cut where that one starts (Cut), or only where a silent
// beat starts (Sum); the last one's where the beats end.
int64_t walkTrack(BeatSchedule& schedule, const std::vector<ClickLengths>& lengths,
                  ClickOverlap overlap, const std::vector<TrackOutput*>& outputs);

// What the planner learns of a track by walking it without output.
struct TrackExtent {
    int64_t end = 0;                     // frames, the last click whole
    std::vector<int64_t> sectionStarts;  // first frame of each section
    std::vector<int64_t> beats;          // beats of each section (subdivisions not counted)
};

TrackExtent measureTrack(const std::vector<ScheduledSection>& sections,
                         const std::vector<ClickLengths>& lengths, ClickOverlap overlap);

// Channels a frame may have: a bit each in a channel mask.
constexpr int32_t kMostChannels = 32;

// A backing track laid under the clicks: decoded and converted to the
// track's rate before anything is laid, so that laying it only reads memory.
struct BackingTrack {
    std::vector<int32_t> samples;  // `channels` a frame, interleaved, on the 24-bit scale
    int32_t channels = 1;
    // For each channel of the frame, the backing's channel heard there; -1: none.
    std::vector<int32_t> source;

    int64_t frames() const {
        return channels > 0 ? static_cast<int64_t>(samples.size()) / channels : 0;
    }
};

// What one frame of a track holds: `channels` samples, the click on those
// whose bit is set in `clickChannels` (bit 0: the first channel), and the
// backing, when there is one, from frame `backingStart` on, added to the
// click where they share a channel and held at full scale.
struct FrameLayout {
    int32_t channels = 1;
    uint32_t clickChannels = 1;
    const BackingTrack* backing = nullptr;
    int64_t backingStart = 0;

    // The mono click alone, as every track was before there were channels.
    bool plain() const { return channels == 1 && clickChannels == 1 && backing == nullptr; }
};

// The clicks sounding at a point of a track, and the frames they make
// together: what an output lays once clicks may overlap. An output lays
// every frame before an event's, then hands the event over; what sounds
// then started at or before the frame it lays next.
//
// Under Sum the samples of the clicks sounding together are added in the
// track's sample size and held within it; a silent beat silences every
// click, and cutAt() ends them all. Under Cut and Whole each click ends
// where the next event starts. At most kMostSounding clicks sound at once:
// past that the oldest is cut where a new one starts. Memory is taken when
// the mix is made, never while it lays.
class ClickMix {
public:
    static constexpr size_t kMostSounding = 256;

    ClickMix(const std::vector<ClickVoice>& voices, int32_t bytesPerSample, ClickOverlap overlap,
             const FrameLayout& layout = {});

    // A click starts sounding at `click.frame` for `click.frames` frames (a
    // silent beat: none).
    void take(const LaidClick& click);
    // Every click sounding stops at `frame`.
    void cutAt(int64_t frame);
    // Takes back the click taken last, when it starts at `frame`: a walk
    // that stops before laying it hands it over again.
    void takeBack(int64_t frame);

    // How many frames from `at` (up to `limit`) make one piece, and how many
    // clicks sound in it: 0 (silence), 1 (the one click, at `*only`) or more.
    struct Piece {
        int64_t frames = 0;
        size_t sounding = 0;
        const LaidClick* only = nullptr;
    };
    Piece pieceAt(int64_t at, int64_t limit) const;

    // Encodes `count` frames of the layout from `at`: every click sounding
    // there summed, silence where none does, on the click's channels; the
    // backing added on its own.
    void lay(int64_t at, int64_t count, uint8_t* bytes);

    // The backing starts again from its first frame at `frame`: a track
    // played round after round restarts it each round.
    void restartBacking(int64_t frame) { layout_.backingStart = frame; }

    const std::vector<ClickVoice>& voices() const { return voices_; }
    int32_t bytesPerSample() const { return bytesPerSample_; }
    const FrameLayout& layout() const { return layout_; }
    // Bytes of one frame: a sample for each channel.
    size_t frameBytes() const {
        return static_cast<size_t>(bytesPerSample_) * static_cast<size_t>(layout_.channels);
    }

private:
    void layClicks(int64_t at, int64_t count, uint8_t* bytes);
    void layPiece(int64_t at, int64_t count, uint8_t* bytes);
    void spread(int64_t at, int64_t count, const uint8_t* clicks, uint8_t* bytes) const;

    std::vector<ClickVoice> voices_;
    int32_t bytesPerSample_;
    ClickOverlap overlap_;
    std::vector<LaidClick> sounding_;  // in order of their start
    std::vector<int64_t> sum_;         // a block of summed samples
    std::vector<uint8_t> scratch_;     // a block of one click's bytes
    FrameLayout layout_;
    std::vector<uint8_t> mono_;        // a block of the clicks, before they are spread
};
