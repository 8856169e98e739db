// Where the beats of a track fall: the one source of beat events for the
// wave writer and the player.
//
// A track is a list of sections, each with its tempo, beats per measure,
// length and rounding rule. The schedule yields every beat in order: its
// first frame (counted from the start of the track), its number in the
// measure and the number of its measure, both from 1.
//
// Two rounding rules, both part of what the program writes and plays:
//
//   FileGrid    beat k of a section starts at the first frame n for which n,
//               as a single-precision float, is at least k x s (s = rate /
//               (tempo / 60) and the beat counter k, both single precision),
//               but not before the previous beat's click has ended: a click
//               is always laid whole. Beats start while n is below the
//               section's length; the next section starts where this one's
//               length, or its last click, ends, whichever is later.
//   WholeBeats  beat k starts at k x beatLength, a whole number of frames;
//               beats start up to and including the section's length. A
//               beat length below 1 has no beats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class BeatRounding { FileGrid, WholeBeats };

struct ScheduledSection {
    BeatRounding rounding = BeatRounding::FileGrid;
    uint32_t rate = 44100;
    float tempo = 120.0f;          // FileGrid: sets the beat spacing
    int64_t beatLength = 0;        // WholeBeats: frames in one beat
    int64_t beatsPerMeasure = 4;   // 0 or below: the first measure never ends
    int64_t frames = 0;            // the section's planned length
    int64_t clickLength = 0;       // FileGrid: frames of the click laid at each beat
};

struct BeatEvent {
    int64_t frame = 0;     // first frame of the beat, from the start of the track
    int64_t beat = 1;      // number of the beat in its measure
    int64_t measure = 1;   // number of the measure in its section
    size_t section = 0;    // index of the section
};

class BeatSchedule {
public:
    explicit BeatSchedule(std::vector<ScheduledSection> sections);

    // The next beat; false when every section is done.
    bool next(BeatEvent& event);

    // Where the track ends: valid once next() has returned false.
    int64_t end() const { return sectionStart_; }

private:
    bool nextInSection(BeatEvent& event);
    void startSection();

    std::vector<ScheduledSection> sections_;
    size_t index_ = 0;
    int64_t sectionStart_ = 0;
    float spacing_ = 0.0f;     // FileGrid: frames between beats, single precision
    float beatCounter_ = 0.0f; // FileGrid: k, single precision
    int64_t beatIndex_ = 0;    // beats started in this section
    int64_t notBefore_ = 0;    // FileGrid: where the next beat may start, from the section start
    int64_t clickEnd_ = 0;     // FileGrid: where the last click ended, from the section start
    int64_t beat_ = 1;
    int64_t measure_ = 1;
};

// The smallest n >= from whose single-precision value is at least target.
int64_t firstSampleAtOrAfter(float target, int64_t from);
