// Tempo maps in the line format: one section a line,
//
//   [label:] measures [beats/note] tempo [pattern] [volume] [trainer=...] [mute=...]
//
//   intro:    8 120           # 8 measures of 4/4 at 120
//             4 120-140 X.x.  # speeding up to 140
//   bridge:   8 3/4 140 0.5   # 3/4, half volume
//   drill:    16 100 trainer=+2/4:110 mute=3/1
//
// trainer= and mute= (core/practice.hpp) may stand anywhere after the tempo.
// The label is all the line holds before its first colon, blanks within it
// kept and those around it dropped ("Verse 1: 8 96"); the colon of a
// trainer's limit ends none.
// `#` starts a comment that runs to the end of the line; blank lines are
// skipped; fields are separated by blanks or tabs; a CR before the line
// break is dropped. Parsing is a pure function of the text: the caller reads
// the file and prints what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/practice.hpp"

constexpr int64_t kMaxLineMapMeasures = 2147483647;  // at least 1 measure a section
constexpr int64_t kMaxLineMapBeats = 64;             // beats per measure, at least 1
constexpr int64_t kMaxLineMapNoteValue = 64;         // a power of two from 1
constexpr double kMaxLineMapTempo = 10000.0;         // quarter notes a minute, above 0
constexpr size_t kMaxLineMapSections = 4096;

// One section of a map: one line of the file.
struct LineMapSection {
    std::string label;           // without the colon; empty when the line has none
    int64_t measures = 0;        // 1 to kMaxLineMapMeasures
    int64_t beats = 4;           // beats per measure, 1 to kMaxLineMapBeats
    int64_t noteValue = 4;       // 1, 2, 4, 8, 16, 32 or 64
    std::vector<double> tempos;  // one tempo; {A, B} for a ramp; or one for each beat
                                 // of the section (measures x beats of them)
    bool ramp = false;           // the tempo was written "A-B"
    std::string pattern;         // X accent, x normal, o soft, . silent; `beats` long, or empty
    double volume = 1.0;         // above 0, at most 1.0
    size_t line = 0;             // line number in the text, from 1
    bool dotted = false;         // a beat is a dotted 1/noteValue note (the tempo counted q. or e.)
    double countedQuarters = 1.0;  // quarter notes in the note the tempo counts
    std::optional<Trainer> trainer{};  // trainer=
    std::optional<MuteCycle> mute{};   // mute=
};

struct LineMap {
    std::vector<LineMapSection> sections;  // empty when there is an error
    // "line N: <what was expected>, not '<text>'." for the first line that
    // cannot be read, or "no sections found."
    std::optional<std::string> error;
    size_t sectionsRead = 0;  // sections read before the line in error
};

// Whether the text is a map in the line format rather than the menu's "tmap"
// lines: true unless some token, split at tabs and line breaks as the menu's
// reader splits them, is "tmap" outside a # comment. Like that reader, it
// stops at a zero byte.
bool isLineMap(std::string_view text);

LineMap parseLineMap(std::string_view text);
