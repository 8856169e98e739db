// A track as a musician describes it, in terms no front end owns: sections
// with their measures, meter, tempo, pattern and level, a count-in, and
// subdivisions. Every front end builds one; the planner lays it out for the
// wave file, the MIDI file, the label track and the device alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/practice.hpp"

// How beats are put on frames.
//   MenuGrid  the menu's single-precision grid: a beat starts at the first
//             frame at or after its time, each click laid whole.
//   Exact     every beat at its exact time from the start of the track,
//             rounded to the nearest frame.
enum class Rounding { MenuGrid, Exact };

struct SongSection {
    std::string label;            // a map's label; empty: "Section N"
    // A map's line without a label after the lines before it: part of the
    // section before, named after it, with no marker of its own.
    bool continues = false;
    std::string origin;           // where a map gave it ("line 3", "entry 2"), for messages
    bool countIn = false;         // the measures before the song, named "Count-in"
    int64_t measures = 0;
    int64_t beatsPerMeasure = 4;  // 0 or below: the first measure never ends
    int64_t noteValue = 4;        // a beat is a 1/noteValue note (exact rounding)
    bool dotted = false;          // and half as long again: a compound beat of three
    // Quarter notes a minute: one tempo; {A, B} with `ramp` for a change
    // from A to B across the section; or one for each beat.
    std::vector<double> tempos;
    bool ramp = false;
    std::string pattern;          // X accent, x normal, o soft, . silent, beat by beat
    bool accentFirst = false;     // with no pattern: the first beat of a measure accented
    double level = 1.0;           // above 0, at most 1
    // Under the menu's grid, the section's length as the menu keeps it, in
    // single precision; none: its beats at its tempo, as a map's section.
    std::optional<float> menuSeconds;
    double countedQuarters = 1.0;  // quarter notes in the note its tempo counts (1.5 for q.=)
    // Its own trainer and muted bars (a map line's), in place of the song's;
    // once laid out (layPractice), `mute` is the cycle in force and
    // `mutePhase` how far into it the section starts.
    std::optional<Trainer> trainer;
    std::optional<MuteCycle> mute;
    int64_t mutePhase = 0;
    // The trainer splits a section where its tempo steps: a part after the
    // first continues it, `earlierBars` of the section before it.
    int64_t earlierBars = 0;
};

// The sound of a song's clicks by the name of a built-in sound, and the
// levels laid over it in dB; a level not given is the sound's own.
struct SongSound {
    std::string name = "classic";
    std::optional<double> volume;       // the whole click
    std::optional<double> accent;       // above the volume
    std::optional<double> subdivision;  // relative to the volume
    std::optional<double> soft;         // the soft beats (o), relative to the volume
};

struct Song {
    std::vector<SongSection> sections;  // a count-in first, when there is one
    Rounding rounding = Rounding::Exact;
    bool fromMap = false;               // a map gave the sections
    int32_t subdivide = 1;              // clicks a beat
    double swing = 0.5;                 // where the second of each pair of subdivisions falls in it
    // Accents, subdivisions or silent beats sound: each click is cut where
    // the next starts, and the accent and subdivision clicks are made.
    bool shapedClicks = false;
    SongSound sound;
    // Over the whole song, its bars counted from the first after the count-in.
    std::optional<Trainer> trainer;
    std::optional<MuteCycle> mute;
};

// The sections of the song proper, the count-in left out.
std::vector<const SongSection*> songSections(const Song& song);

// Puts `measures` of count-in before the song: the first section's meter,
// note value and first tempo, at full level. Its pattern is `pattern` when
// given, else the first section's, with the first beat accented when that
// has no accent (and with no pattern, the first beat of each measure).
void addCountIn(Song& song, int64_t measures, const std::optional<std::string>& pattern);
