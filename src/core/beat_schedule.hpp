// Where the beats of a track fall: the one source of beat events for the
// wave writer and the player.
//
// A track is a list of sections, each with its tempo, beats per measure,
// length and rounding rule. The schedule yields every beat in order: its
// first frame (counted from the start of the track), its number in the
// measure and the number of its measure, both from 1, and which click sits
// there; subdivision clicks follow their beat.
//
// Three rounding rules:
//
//   FileGrid    beat k of a section starts at the first frame n for which n,
//               as a single-precision float, is at least k x s (s = rate /
//               (tempo / 60) and the beat counter k, both single precision),
//               but not before the previous beat's click has ended: a click
//               is always laid whole. Beats start while n is below the
//               section's length; the next section starts where this one's
//               length, or its last click, ends, whichever is later. This is
//               the grid of the menu's wave files.
//   WholeBeats  beat k starts at k x beatLength, a whole number of frames;
//               beats start up to and including the section's length. A
//               beat length below 1 has no beats. This is the menu's device.
//   Exact       beat k starts at its exact time, counted from the start of
//               the track in double precision and rounded to the nearest
//               frame, so that no error builds up. A section of n beats
//               ends where its beat n would start.
//
// Subdivision clicks fall j/N of the way from a beat's exact time to the
// next beat's (under swing the second of each pair later), rounded to the
// nearest frame; a silent beat has none, nor has a muted measure. They
// never reach the next beat: where the grid runs ahead of the exact times,
// they are spread evenly between the beats as laid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/practice.hpp"

enum class BeatRounding { FileGrid, WholeBeats, Exact };

// Which click sits at an event.
enum class ClickKind { Normal, Accent, Silent, Subdivision, Soft };

struct ScheduledSection {
    BeatRounding rounding = BeatRounding::FileGrid;
    uint32_t rate = 44100;
    float tempo = 120.0f;          // FileGrid: sets the beat spacing
    int64_t beatLength = 0;        // WholeBeats: frames in one beat
    int64_t beatsPerMeasure = 4;   // 0 or below: the first measure never ends
    int64_t frames = 0;            // FileGrid, WholeBeats: the section's planned length
    int64_t clickLength = 0;       // FileGrid: frames of the click laid at each beat

    // Exact: the tempo counts quarter notes; a beat is a `noteValue` note and
    // lasts 240 / (tempo x noteValue) seconds. One tempo; {A, B} for a change
    // from A to B across the section; or one tempo for each beat.
    std::vector<double> tempos;
    bool ramp = false;
    double noteValue = 4.0;
    bool dotted = false;           // the beat is a dotted note (noteValue is then 2/3 of its note's)
    int64_t beatCount = 0;         // Exact: beats in the section

    std::string pattern;           // X accent, x normal, o soft, . silent, beat by beat; empty: all normal
    bool accentFirst = false;      // with no pattern: the first beat of each measure accented
    int32_t subdivide = 1;         // clicks a beat
    // Swing: of each pair of subdivisions (beat and first extra click, second
    // and third extra ...), the second falls this far into the pair; 0.5 is
    // straight, 2/3 a triplet feel. Of an odd `subdivide` the last stands alone.
    double swing = 0.5;
    size_t voice = 0;              // which set of clicks sounds (a section's own level)
    // Beats of the section left out before these (a section planned from one
    // of its beats on): its beats keep their numbers in the measure and
    // their measures, and the pattern its place.
    int64_t firstBeat = 0;
    // Muted measures: every beat of a measure the cycle silences is silent,
    // its measures counted from `mutePhase` measures into the cycle.
    MuteCycle mute;
    int64_t mutePhase = 0;
    // The number of its first measure: a part of a section that the
    // trainer split counts on from the part before.
    int64_t firstMeasure = 1;
};

struct BeatEvent {
    int64_t frame = 0;     // first frame of the click, from the start of the track
    double time = 0.0;     // seconds from the start of the track where it falls, unrounded
    int64_t beat = 1;      // number of the beat in its measure
    int64_t measure = 1;   // number of the measure in its section (from its firstMeasure)
    size_t section = 0;    // index of the section
    ClickKind kind = ClickKind::Normal;
    size_t voice = 0;      // the section's set of clicks
};

class BeatSchedule {
public:
    explicit BeatSchedule(std::vector<ScheduledSection> sections);

    // The next event; false when every section is done.
    bool next(BeatEvent& event);

    // Where the track ends: valid once next() has returned false.
    int64_t end() const { return sectionStart_; }

    // The first frame of every section started so far, in order: all of
    // them once next() has returned false. A section's first beat starts
    // there; a section without beats takes no time.
    const std::vector<int64_t>& sectionStarts() const { return starts_; }

private:
    bool nextBeat(BeatEvent& event);
    void startSection();
    double exactBeatTime(const ScheduledSection& s, int64_t k);
    void addSubdivisions(const ScheduledSection& s, const BeatEvent& beat, double from, double to,
                         int64_t nextBeat);

    std::vector<ScheduledSection> sections_;
    size_t index_ = 0;
    int64_t sectionStart_ = 0;      // frames
    double sectionStartTime_ = 0.0; // seconds, for the exact rule
    float spacing_ = 0.0f;     // FileGrid: frames between beats, single precision
    float beatCounter_ = 0.0f; // FileGrid: k, single precision
    int64_t beatIndex_ = 0;    // beats started in this section
    int64_t notBefore_ = 0;    // FileGrid: where the next beat may start, from the section start
    int64_t clickEnd_ = 0;     // FileGrid: where the last click ended, from the section start
    double listTime_ = 0.0;    // Exact with a tempo for each beat: the time of beat beatIndex_
    int64_t beat_ = 1;
    int64_t measure_ = 1;
    std::vector<BeatEvent> pending_;  // subdivisions of the last beat
    size_t nextPending_ = 0;          // the next of them to hand out
    int64_t lastFrame_ = 0;
    std::vector<int64_t> starts_;
};

// Where subdivision j of `ways` falls in its beat, as a fraction of it:
// j / ways, but for the second of each pair under swing (j odd), which falls
// `swing` of the way through its pair. Of an odd number of ways (a dotted
// beat's three eighths) the last stands alone.
double subdivisionPoint(int32_t j, int32_t ways, double swing);

// Quarter notes a minute at beat k (from 0) of the section: a change of
// tempo from A to B over n beats is at A + (B - A) k / n.
double tempoAtBeat(const ScheduledSection& s, int64_t k);

// Seconds an exact section lasts: up to where its beat n would start.
double exactSectionSeconds(const ScheduledSection& s);

// The smallest n >= from whose single-precision value is at least target.
int64_t firstSampleAtOrAfter(float target, int64_t from);

// The kind of beat `beat` (from 1) under `pattern`; with no pattern, normal
// but for an accented first beat when `accentFirst`.
ClickKind kindOfBeat(const std::string& pattern, int64_t beat, bool accentFirst = false);
