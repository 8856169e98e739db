// The command line: `clicktrack render`, `clicktrack play` and `clicktrack
// show` with their options, read into values without touching any file or
// stream.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "audio/sound_file.hpp"
#include "cli/exit.hpp"
#include "core/user_text.hpp"
#include "core/outcome.hpp"
#include "core/practice.hpp"

enum class Command { Menu, Render, Play, Show };

// What the arguments ask for. A value that is not given stays empty, so that
// the caller can lay the defaults, then the settings file, then these over
// each other. Every value here passed the checks that depend on it alone;
// those that depend on the sample rate are the caller's.
struct CommandLine {
    Command command = Command::Menu;

    std::optional<uint32_t> rate;       // -r, --rate: 1 to 2147483647
    std::optional<int32_t> bits;        // --bits: 16 or 24
    // -t, --tempo: one tempo gives tempoFrom == tempoTo; "A-B" is a ramp from
    // A to B (tempoRamp). Both above 0 and finite.
    std::optional<float> tempoFrom;
    std::optional<float> tempoTo;
    bool tempoRamp = false;
    // The note -t names before its number (q=, e=, h=, q.= ...): the beat
    // then is that note, and -b counts them. None: quarter notes.
    std::optional<CountedNote> tempoNote;
    std::optional<int32_t> beats;       // -b, --beats: 0 to 2147483647
    std::optional<int32_t> measures;    // -m, --measures: 0 to 2147483647
    std::optional<float> freq;          // -f, --freq: above 0, finite
    std::optional<std::string> map;     // --map FILE (never with -t, -b or -m)
    std::optional<std::string> settings;  // --settings FILE

    // render only
    std::optional<std::string> output;  // -o, --output FILE; "-" is standard output
    bool append = false;                // -a, --append (never with -o -)
    bool markers = false;               // --markers: a cue point at every section
    std::optional<std::string> midi;    // --midi FILE: the tempo map and clicks (never with -a)
    std::optional<std::string> labels;  // --labels FILE: the sections as a label track
    std::optional<AudioFormat> format;  // --format: wav, flac, ogg or aiff (else the name's extension)

    // play only
    std::optional<std::string> device;  // -d, --device NAME
    std::optional<float> seconds;       // --seconds: 0 or more, finite
    bool loop = false;                  // --loop
    // JACK (play only): the client's name (--jack [NAME], or -d jack:
    // "clicktrack"); the ports to connect to (--connect, none given: the
    // system's playback ports), or none at all (--connect none); and
    // --transport follow or lead.
    std::optional<std::string> jack;
    std::vector<std::string> connect;
    bool connectNone = false;
    std::optional<std::string> transport;
    bool big = false;                   // --big: the bar and beat filling the terminal
    std::optional<float> gap;           // --gap S: a setlist's songs S seconds apart

    // render and play
    std::optional<std::string> setlist;  // --setlist FILE: a song a line
    // The arguments as given, after the command: a setlist's songs take them first.
    std::vector<std::string> arguments;

    // show only
    bool tsv = false;                   // --tsv: the table tab-separated

    bool quiet = false;                 // -q, --quiet (render and play)

    // The frame's channels (render and play)
    std::optional<int32_t> channels;      // --channels: 1 to 32
    std::optional<uint32_t> clickTo;      // --click-to LIST: bit c for channel c + 1
    std::optional<std::string> backing;   // --backing FILE[:LIST]: the file
    std::optional<uint32_t> backingTo;    // its LIST, as clickTo

    // The click a musician needs (every command)
    bool accent = false;                // --accent: the first beat of every measure accented
    std::optional<std::string> pattern; // --pattern: X accent, x normal, o soft, . silent, a beat each (never with --map)
    std::optional<float> accentFreq;    // --accent-freq: above 0, finite
    std::optional<int32_t> subdivide;   // --subdivide: 1 to 16 clicks a beat
    std::optional<float> swing;         // --swing: 50 (straight) to 75 % (never with an odd --subdivide)
    std::optional<int32_t> countIn;     // --count-in: 0 to 1000 measures
    std::optional<std::string> countInPattern;  // --count-in-pattern: as --pattern
    std::optional<std::string> sound;   // --sound: a built-in sound's name
    // --volume, --accent-level, --sub-level, --soft-level: dB, -60 to 12
    std::optional<float> volume;
    std::optional<float> accentLevel;
    std::optional<float> subLevel;
    std::optional<float> softLevel;
    // --sample NORMAL[,ACCENT[,SUBDIVISION]]: one to three sound files
    // laid as the clicks instead of a sound (never with --sound,
    // --freq or --accent-freq)
    std::vector<std::string> samples;
    std::optional<Trainer> trainer;     // --trainer +STEP/BARS[:MAX]
    std::optional<MuteCycle> mute;      // --mute ON/OFF

    // Whether any of the options above, or a change of tempo, is given: the
    // track is then laid with the accent, subdivision and silent clicks.
    bool shapesTheClicks() const {
        return accent || pattern || accentFreq || subdivide || swing || countIn || tempoRamp;
    }

    bool toStandardOutput() const { return output && *output == "-"; }
};

// Either the command line to run, or how the program ends at once:
//  - help or version text: status 0, on standard output;
//  - a usage error: status 2, on standard error, two lines: what is wrong,
//    then "Try 'clicktrack --help'.".
using ParsedArguments = std::variant<CommandLine, Exit>;

// Reads the arguments that follow the program's name. No arguments at all
// give Command::Menu. Uses getopt_long, whose position it resets first.
ParsedArguments parseArguments(const std::vector<std::string>& args);

// A usage error naming what is wrong, e.g. "--tempo ... not '0'.", in the
// form parseArguments gives its own, for the checks made later.
Exit usageError(const std::string& sentence);

// The help texts (Command::Menu gives the program's, the others the
// command's) and the version line, without their last line break.
const char* helpText(Command command);
const char* versionText();

// The built-in sounds a line each, the default marked, for --list-sounds;
// without the last line break.
std::string soundList();
