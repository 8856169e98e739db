#include "cli/options.hpp"

#include <getopt.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "cli/keys.hpp"
#include "cli/channels.hpp"
#include "click/sounds.hpp"
#include "core/user_text.hpp"

namespace {

// The range of every level option, in dB.
constexpr float kLowestDecibels = -60.0f;
constexpr float kHighestDecibels = 12.0f;

// Values getopt_long gives back for options without a short letter; an
// option with one gives back the letter.
enum : int {
    kBits = 256,
    kMap,
    kSettings,
    kSeconds,
    kLoop,
    kVersion,
    kAccent,
    kPattern,
    kAccentFreq,
    kSubdivide,
    kCountIn,
    kCountInPattern,
    kMarkers,
    kMidi,
    kLabels,
    kTsv,
    kSound,
    kListSounds,
    kVolume,
    kAccentLevel,
    kSubLevel,
    kSoftLevel,
    kSwing,
    kSample,
    kFormat,
    kJack,
    kConnect,
    kTransport,
    kBig,
    kSetlist,
    kGap,
    kTrainer,
    kMute,
    kChannels,
    kClickTo,
    kBacking
};

// Which commands take an option: every one, render and play (Sound), one
// alone, or none (Top: the program's own).
enum class Scope { All, Sound, Render, Play, Show, Top };

// Where the help texts list an option. The program's help gives values and
// click under "Options of every command", quiet under render and play's,
// then each command's own; a command's help gives values, its own, quiet,
// click and help, those of them it takes.
enum class Block { Values, Quiet, Click, Own, Help, None };

// One option: the parser and the help texts both read these rows.
struct OptionInfo {
    const char* name;
    const char* argument;  // what the help calls its value; nullptr: it takes none
    int val;
    Scope scope;
    Block block;
    const char* help;      // a line break continues it under itself
    const char* renderHelp = nullptr;  // a command's own words, when they differ
    const char* playHelp = nullptr;
    const char* showHelp = nullptr;
    const char* clickArgument = nullptr;  // a second form, listed last among the click options
    const char* clickHelp = nullptr;
};

// In the order getopt_long is given them, which decides how an ambiguous
// abbreviation is reported.
const OptionInfo kOptions[] = {
    {"rate", "N", 'r', Scope::All, Block::Values, "sample rate (default 44100)"},
    {"bits", "16|24", kBits, Scope::All, Block::Values, "sample size (default 24)"},
    {"tempo", "BPM", 't', Scope::All, Block::Values, "tempo in beats per minute (default 120); q=, e=,\nh=, q.= ... before it name the note it counts,\nwhich is then the beat (q.=52: dotted quarters)",
     nullptr, nullptr, nullptr, "A-B", "a change of tempo across the whole track, from A to B"},
    {"beats", "N", 'b', Scope::All, Block::Values, "beats per measure (default 4)"},
    {"measures", "N", 'm', Scope::All, Block::Values, "number of measures (default 48)"},
    {"freq", "HZ", 'f', Scope::All, Block::Values, "lowest click frequency (default 60)"},
    {"map", "FILE", kMap, Scope::All, Block::Values,
     "play, render or show a tempo map instead of one tempo",
     "render a tempo map instead of one tempo", "play a tempo map instead of one tempo",
     "show a tempo map instead of one tempo"},
    {"settings", "FILE", kSettings, Scope::All, Block::Values,
     "start from a settings file in the menu's format;\noptions override it"},
    {"quiet", nullptr, 'q', Scope::Sound, Block::Quiet, "no summary line, no progress display",
     "no summary line", "no progress display"},
    {"channels", "N", kChannels, Scope::Sound, Block::Quiet,
     "N channels a frame, 1 to 32 (default 1)"},
    {"click-to", "LIST", kClickTo, Scope::Sound, Block::Quiet,
     "the channels that carry the click, e.g. 1 or 1,3-4\n(default all); the others are silent"},
    {"backing", "FILE", kBacking, Scope::Sound, Block::Quiet,
     "FILE[:LIST]: a sound file (WAV, FLAC, Ogg, AIFF, ...)\nmixed onto the channels LIST (default all) from\nthe first bar after the count-in"},
    {"accent", nullptr, kAccent, Scope::All, Block::Click,
     "accent the first beat of every measure"},
    {"pattern", "P", kPattern, Scope::All, Block::Click,
     "a pattern for every measure: X accent, x normal,\no soft, . silent"},
    {"accent-freq", "HZ", kAccentFreq, Scope::All, Block::Click,
     "lowest frequency of the accent click (default 1.5 x freq)"},
    {"subdivide", "N", kSubdivide, Scope::All, Block::Click,
     "N clicks a beat, the extra ones at --sub-level"},
    {"swing", "R", kSwing, Scope::All, Block::Click,
     "swing: every second subdivision at R % of its pair\n(50 straight, 66.7 triplet, 75 hard; --subdivide 2\nwhen none is given)"},
    {"count-in", "N", kCountIn, Scope::All, Block::Click,
     "N measures before the track, in the first section's\nmeter and pattern, its first beat accented"},
    {"count-in-pattern", "P", kCountInPattern, Scope::All, Block::Click,
     "the count-in's own pattern, X x o and . as --pattern"},
    {"trainer", "+STEP/BARS[:MAX]", kTrainer, Scope::All, Block::Click,
     "raise the tempo by STEP\nevery BARS bars after the count-in, up to MAX\n(a negative STEP lowers it, MAX a floor)"},
    {"mute", "ON/OFF", kMute, Scope::All, Block::Click,
     "play ON bars, then keep OFF bars silent, over and\nover, to practise holding time"},
    {"sound", "NAME", kSound, Scope::All, Block::Click,
     "the click's sound (clicktrack --list-sounds); default\n"
     "woodblock, but classic with --freq, --accent-freq\nor --settings"},
    {"volume", "DB", kVolume, Scope::All, Block::Click,
     "the whole click's level, -60 to 12 dB (default 0);\nlouder than full scale is held there"},
    {"accent-level", "DB", kAccentLevel, Scope::All, Block::Click,
     "the accent's level above the volume, -60 to 12 dB\n(default 0 for classic, 3 for the others)"},
    {"sub-level", "DB", kSubLevel, Scope::All, Block::Click,
     "the subdivisions' level, -60 to 12 dB (default a\nquarter of the volume, -12.04)"},
    {"soft-level", "DB", kSoftLevel, Scope::All, Block::Click,
     "the level of the soft beats (o), -60 to 12 dB\n(default -10)"},
    {"sample", "FILES", kSample, Scope::All, Block::Click,
     "NORMAL[,ACCENT[,SUBDIVISION]]: sound files (WAV, FLAC,\n"
     "Ogg, AIFF, ...) of at most 2 s laid as the clicks"},
    {"output", "FILE", 'o', Scope::Render, Block::Own,
     "the audio file (default click.wav); its extension\n"
     "chooses the format; - writes WAV to standard output"},
    {"format", "F", kFormat, Scope::Render, Block::Own,
     "wav, flac, ogg or aiff, whatever the file's extension"},
    {"append", nullptr, 'a', Scope::Render, Block::Own, "add to the end of an existing file"},
    {"markers", nullptr, kMarkers, Scope::Render, Block::Own,
     "mark where each section starts: a cue point named by\n"
     "its label (\"Section N\" without one); \"Count-in\" at 0"},
    {"midi", "FILE", kMidi, Scope::Render, Block::Own,
     "also write the tempo map and the clicks as a MIDI file"},
    {"labels", "FILE", kLabels, Scope::Render, Block::Own,
     "also write the sections as a label track: start, end\nand name, tab-separated, in seconds"},
    {"device", "NAME", 'd', Scope::Play, Block::Own, "ALSA device (default \"default\")"},
    {"seconds", "S", kSeconds, Scope::Play, Block::Own,
     "stop after S seconds (default: when the track ends)"},
    {"loop", nullptr, kLoop, Scope::Play, Block::Own, "play the song again where it ends, without its\ncount-in, until stopped"},
    {"big", nullptr, kBig, Scope::Play, Block::Own,
     "the bar and beat in digits filling the terminal,\nfor a stage"},
    {"setlist", "FILE", kSetlist, Scope::Sound, Block::Quiet,
     "songs, a line each: a name, then its options",
     "songs, a line each: a name, then its options;\n-o names the folder of their files (one a song)",
     "songs, a line each: a name, then its options;\neach starts on a key (space or Enter)"},
    {"gap", "S", kGap, Scope::Play, Block::Own,
     "with --setlist: the next song after S seconds"},
    {"jack", "[=NAME]", kJack, Scope::Play, Block::Own,
     "play as a JACK client named NAME (default clicktrack;\n-d jack is the same), at the server's rate"},
    {"connect", "PORTS", kConnect, Scope::Play, Block::Own,
     "PORT[,PORT...]: the JACK ports to feed (default the\nsystem's first two playback ports); none: no port"},
    {"transport", "MODE", kTransport, Scope::Play, Block::Own,
     "follow: play with the JACK transport, its frame 0 the\nfirst bar after the count-in; lead: that, and publish\nbar, beat and tempo as the timebase master"},
    {"tsv", nullptr, kTsv, Scope::Show, Block::Own,
     "print the table tab-separated, for scripts"},
    {"help", nullptr, 'h', Scope::All, Block::Help, "this text"},
    {"version", nullptr, kVersion, Scope::Top, Block::None, nullptr},
    {"list-sounds", nullptr, kListSounds, Scope::Top, Block::None, nullptr},
};

bool hasLetter(const OptionInfo& o) { return o.val < 256; }

bool takes(Scope scope, Command command) {
    switch (scope) {
        case Scope::All: return true;
        case Scope::Sound: return command == Command::Render || command == Command::Play;
        case Scope::Render: return command == Command::Render;
        case Scope::Play: return command == Command::Play;
        case Scope::Show: return command == Command::Show;
        case Scope::Top: return command == Command::Menu;
    }
    return false;
}

// "  -r, --rate N" or "      --bits 16|24", the help from the 24th column on.
std::string helpLine(const OptionInfo& o, const char* argument, const char* help) {
    constexpr size_t kHelpColumn = 23;
    std::string line = "      --";
    if (hasLetter(o)) line = std::string("  -") + static_cast<char>(o.val) + ", --";
    line += o.name;
    if (argument) line += std::string(argument[0] == '[' ? "" : " ") + argument;
    line.resize(std::max(line.size() + 1, kHelpColumn), ' ');
    for (const char* c = help; *c; ++c) {
        line += *c;
        if (*c == '\n') line.append(kHelpColumn, ' ');
    }
    return line + "\n";
}

// The lines of one block as `command`'s help words them (Command::Menu: the program's).
std::string helpBlock(Block block, Command command, Scope own = Scope::All) {
    std::string lines;
    for (const OptionInfo& o : kOptions) {
        if (o.block != block || (block == Block::Own && o.scope != own)) continue;
        if (command != Command::Menu && !takes(o.scope, command)) continue;
        const char* words = command == Command::Render && o.renderHelp ? o.renderHelp
                            : command == Command::Play && o.playHelp   ? o.playHelp
                            : command == Command::Show && o.showHelp   ? o.showHelp
                                                                       : o.help;
        lines += helpLine(o, o.argument, words);
    }
    for (const OptionInfo& o : kOptions) {
        if (block == Block::Click && o.clickHelp) {
            lines += helpLine(o, o.clickArgument, o.clickHelp);
        }
    }
    return lines;
}

std::string programHelp() {
    const Command menu = Command::Menu;
    return std::string(
               "Usage: clicktrack                   the interactive menu\n"
               "       clicktrack render [OPTIONS]  write a click track to an audio file\n"
               "       clicktrack play [OPTIONS]    play it on an ALSA device\n"
               "       clicktrack show [OPTIONS]    print its plan, section by section,\n"
               "                                    writing nothing\n"
               "       clicktrack --help | -h       this text ('clicktrack COMMAND --help'\n"
               "                                    for a command's)\n"
               "       clicktrack --version         the version\n"
               "       clicktrack --list-sounds     the built-in sounds, a line each\n"
               "\n"
               "Options of every command:\n") +
           helpBlock(Block::Values, menu) + helpBlock(Block::Click, menu) +
           "Options of render and play:\n" + helpBlock(Block::Quiet, menu) +
           "Options of render:\n" + helpBlock(Block::Own, menu, Scope::Render) +
           "Options of play:\n" + helpBlock(Block::Own, menu, Scope::Play) +
           "Options of show:\n" + helpBlock(Block::Own, menu, Scope::Show) +
           "\nEvery beat falls at its exact time, rounded to the nearest sample, and play\n"
           "sends the device what render writes. The menu keeps its own single-precision\n"
           "grid, so that its files stay as they always were.\n"
           "\nExit status: 0 success, 1 file or device failure, 2 usage error, 130 Ctrl-C.";
}

// A command's own help: its options only, without the last line break.
std::string commandHelp(Command command, const char* usage) {
    const Scope own = command == Command::Render ? Scope::Render
                      : command == Command::Play ? Scope::Play
                                                 : Scope::Show;
    std::string text = std::string(usage) + "\n" + helpBlock(Block::Values, command) +
                       helpBlock(Block::Own, command, own) + helpBlock(Block::Quiet, command) +
                       helpBlock(Block::Click, command) + helpBlock(Block::Help, command);
    text.pop_back();
    return text;
}

// The short letters; the leading ':' makes getopt report a missing value
// apart from an unknown option.
std::string shortOptions() {
    std::string letters = ":";
    for (const OptionInfo& o : kOptions) {
        if (!hasLetter(o)) continue;
        letters += static_cast<char>(o.val);
        if (o.argument) letters += ':';
    }
    return letters;
}

const OptionInfo* findOption(int val) {
    for (const OptionInfo& o : kOptions) {
        if (o.val == val) return &o;
    }
    return nullptr;
}

std::string longName(int val) { return std::string("--") + findOption(val)->name; }

// The user's text inside quotes, with control characters shown as '?' so
// that the message stays on one line.
std::string quoted(const std::string& text) {
    return shownText(text, kShowQuoted | kShowControlsAsQuestion);
}

Exit refuse(const std::string& option, const char* accepts, const std::string& given) {
    return usageError(option + " must be " + accepts + ", not " + quoted(given) + ".");
}

// A whole number in base 10 and nothing else: no blanks, no trailing text.
bool wholeNumber(const std::string& text, long long& value) {
    const std::optional<long long> n = readWholeNumber(text, NumberForm::Strict);
    if (n) value = *n;
    return n.has_value();
}

// A finite decimal and nothing else: no blanks, hexadecimal, "inf" or "nan".
bool finiteNumber(std::string_view text, float& value) {
    const std::optional<float> x = readFloat(text, NumberForm::Strict);
    if (x) value = *x;
    return x && std::isfinite(*x);
}

// A tempo: one number, or two joined by '-' for a ramp; each above 0.
bool tempoValue(const std::string& given, CommandLine& line) {
    // The note the tempo counts may come first: "q.=52".
    std::string_view numbers = given;
    const std::optional<CountedNote> counted = takeCountedNote(numbers);
    const std::string text(numbers);
    const std::optional<LeadingFloat> first = readLeadingFloat(text);
    if (!first) return false;
    const float from = first->value;
    float to = from;
    const bool ramp = !first->rest.empty();
    if (ramp && (first->rest[0] != '-' || !finiteNumber(first->rest.substr(1), to))) return false;
    if (!std::isfinite(from) || !(from > 0.0f) || !(to > 0.0f)) return false;
    line.tempoFrom = from;
    line.tempoTo = to;
    line.tempoRamp = ramp;
    line.tempoNote = counted;
    return true;
}

const char* commandName(Command command) {
    return command == Command::Render ? "render"
           : command == Command::Play ? "play"
           : command == Command::Show ? "show"
                                      : "";
}


// An option given to a command that does not take it.
Exit notTaken(int val, Scope scope, Command command) {
    const std::string option = longName(val);
    const std::string here = std::string("'clicktrack ") + commandName(command) + "'";
    if (scope == Scope::Render && command == Command::Show) {
        return usageError(option + " is an option of 'clicktrack render': " + here +
                          " writes nothing.");
    }
    const std::string owners = scope == Scope::Sound ? "'clicktrack render' and 'clicktrack play'"
                               : scope == Scope::Render ? "'clicktrack render'"
                               : scope == Scope::Play   ? "'clicktrack play'"
                                                        : "'clicktrack show'";
    return usageError(option + " is an option of " + owners + ", not of " + here + ".");
}

// The built-in sounds' names: "classic, woodblock, ... or cowbell".
std::string soundNames() {
    const std::vector<BuiltInSound>& sounds = builtInSounds();
    std::string names;
    for (size_t i = 0; i < sounds.size(); ++i) {
        if (i > 0) names += i + 1 == sounds.size() ? " or " : ", ";
        names += sounds[i].name;
    }
    return names;
}

// Stores one option's value; a usage error when it is not acceptable.
Result takeOption(int val, const std::string& arg, CommandLine& line) {
    long long n = 0;
    float x = 0.0f;
    const std::string name = longName(val);
    switch (val) {
        case 'r':
            if (!wholeNumber(arg, n) || n < 1 || n > 2147483647) {
                return refuse(name, "a whole number from 1 to 2147483647", arg);
            }
            line.rate = static_cast<uint32_t>(n);
            break;
        case kBits:
            if (!wholeNumber(arg, n) || (n != 16 && n != 24)) return refuse(name, "16 or 24", arg);
            line.bits = static_cast<int32_t>(n);
            break;
        case 't':
            if (!tempoValue(arg, line)) {
                return refuse(name, "a number of beats per minute above 0", arg);
            }
            break;
        case 'b':
        case 'm':
            if (!wholeNumber(arg, n) || n < 0 || n > 2147483647) {
                return refuse(name, "a whole number from 0 to 2147483647", arg);
            }
            (val == 'b' ? line.beats : line.measures) = static_cast<int32_t>(n);
            break;
        case 'f':
            if (!finiteNumber(arg, x) || !(x > 0.0f)) {
                return refuse(name, "a frequency in Hz above 0", arg);
            }
            line.freq = x;
            break;
        case kSeconds:
            if (!finiteNumber(arg, x) || !(x >= 0.0f)) {
                return refuse(name, "a number of seconds, 0 or more", arg);
            }
            line.seconds = x;
            break;
        case kMidi:
        case kLabels:
            // Standard output carries the wave file, or nothing at all.
            if (arg == "-") return refuse(name, "a file name (standard output is for -o -)", arg);
            [[fallthrough]];
        case kMap:
        case kSettings:
        case kSetlist:
        case 'o':
        case 'd': {
            if (arg.empty()) return refuse(name, val == 'd' ? "a device name" : "a file name", arg);
            if (val == 'd' && arg == "jack") {
                line.jack = "clicktrack";
                break;
            }
            std::optional<std::string>& field = val == kMap        ? line.map
                                                : val == kSettings ? line.settings
                                                : val == 'o'       ? line.output
                                                : val == kMidi     ? line.midi
                                                : val == kLabels   ? line.labels
                                                : val == kSetlist  ? line.setlist
                                                                   : line.device;
            field = arg;
            break;
        }
        case kAccent: line.accent = true; break;
        case kPattern:
        case kCountInPattern:
            if (arg.empty() || arg.find_first_not_of("Xxo.") != std::string::npos) {
                return refuse(name, "a pattern of X (accent), x (normal), o (soft) and . (silent)",
                              arg);
            }
            (val == kPattern ? line.pattern : line.countInPattern) = arg;
            break;
        case kAccentFreq:
            if (!finiteNumber(arg, x) || !(x > 0.0f)) {
                return refuse(name, "a frequency in Hz above 0", arg);
            }
            line.accentFreq = x;
            break;
        case kSubdivide:
            if (!wholeNumber(arg, n) || n < 1 || n > 16) {
                return refuse(name, "a whole number of clicks a beat from 1 to 16", arg);
            }
            line.subdivide = static_cast<int32_t>(n);
            break;
        case kSwing: {
            // "66.7" or "66.7%".
            const std::string ratio = !arg.empty() && arg.back() == '%' ? arg.substr(0, arg.size() - 1) : arg;
            if (!finiteNumber(ratio, x) || !(x >= 50.0f && x <= 75.0f)) {
                return refuse(name, "a ratio in % from 50 (straight) to 75 (hard swing)", arg);
            }
            line.swing = x;
            break;
        }
        case kCountIn:
            if (!wholeNumber(arg, n) || n < 0 || n > 1000) {
                return refuse(name, "a whole number of measures from 0 to 1000", arg);
            }
            line.countIn = static_cast<int32_t>(n);
            break;
        case kSound:
            if (!findSound(arg)) return refuse(name, ("one of " + soundNames()).c_str(), arg);
            line.sound = arg;
            break;
        case kVolume:
        case kAccentLevel:
        case kSubLevel:
        case kSoftLevel: {
            if (!finiteNumber(arg, x) || !(x >= kLowestDecibels && x <= kHighestDecibels)) {
                return refuse(name, "a level in dB from -60 to 12", arg);
            }
            std::optional<float>& level = val == kVolume        ? line.volume
                                          : val == kAccentLevel ? line.accentLevel
                                          : val == kSubLevel    ? line.subLevel
                                                                : line.softLevel;
            level = x;
            break;
        }
        case kSample: {
            // Names are split at commas: up to three, none empty.
            std::vector<std::string> names;
            size_t start = 0;
            for (;;) {
                const size_t comma = arg.find(',', start);
                names.push_back(arg.substr(start, comma == std::string::npos ? comma : comma - start));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            const bool empty = std::any_of(names.begin(), names.end(),
                                           [](const std::string& n) { return n.empty(); });
            if (empty || names.size() > 3) {
                return refuse(name, "NORMAL[,ACCENT[,SUBDIVISION]], one to three file names", arg);
            }
            line.samples = std::move(names);
            break;
        }
        case kFormat: {
            const std::optional<AudioFormat> format = formatNamed(arg);
            if (!format) return refuse(name, "wav, flac, ogg or aiff", arg);
            line.format = format;
            break;
        }
        case kJack:
            line.jack = arg.empty() ? "clicktrack" : arg;
            break;
        case kConnect: {
            line.connect.clear();
            line.connectNone = arg == "none";
            size_t start = 0;
            while (!line.connectNone) {
                const size_t comma = arg.find(',', start);
                line.connect.push_back(arg.substr(start, comma == std::string::npos ? comma : comma - start));
                if (line.connect.back().empty()) {
                    return refuse(name, "PORT[,PORT...] (JACK port names) or none", arg);
                }
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
            break;
        }
        case kTransport:
            if (arg != "follow" && arg != "lead") return refuse(name, "follow or lead", arg);
            line.transport = arg;
            break;
        case kTrainer:
            line.trainer = readTrainer(arg);
            if (!line.trainer) return refuse(name, kTrainerForm, arg);
            break;
        case kMute:
            line.mute = readMuteCycle(arg);
            if (!line.mute) return refuse(name, kMuteForm, arg);
            break;
        case kChannels:
            if (!wholeNumber(arg, n) || n < 1 || n > kMostChannels) {
                return refuse(name, "a whole number of channels from 1 to 32", arg);
            }
            line.channels = static_cast<int32_t>(n);
            break;
        case kClickTo: {
            uint32_t mask = 0;
            if (!channelList(arg, mask)) return refuse(name, "channels from 1 to 32, as 1 or 1,3-4", arg);
            line.clickTo = mask;
            break;
        }
        case kBacking:
            if (!backingValue(arg, line)) return refuse(name, "FILE or FILE:LIST, a file name first", arg);
            break;
        case 'a': line.append = true; break;
        case kMarkers: line.markers = true; break;
        case kLoop: line.loop = true; break;
        case kBig: line.big = true; break;
        case kGap:
            if (!finiteNumber(arg, x) || !(x >= 0.0f && x <= 86400.0f)) {
                return refuse(name, "a number of seconds from 0 to 86400", arg);
            }
            line.gap = x;
            break;
        case kTsv: line.tsv = true; break;
        case 'q': line.quiet = true; break;
    }
    return std::nullopt;
}

// What getopt_long's '?' means: an unknown or ambiguous option, or a value
// given to an option that takes none.
Exit badOption(int optionCode, const char* text) {
    if (optionCode != 0 && findOption(optionCode)) {
        return usageError("option " + quoted(longName(optionCode)) + " takes no value.");
    }
    if (optionCode != 0) {
        // One byte of a longer character cannot be shown alone.
        const unsigned char c = static_cast<unsigned char>(optionCode);
        const char shown = (c > 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
        return usageError("unknown option " + quoted(std::string("-") + shown) + ".");
    }
    std::string given(text);
    given = given.substr(0, given.find('='));
    std::string matches;
    int count = 0;
    for (const OptionInfo& o : kOptions) {
        if (given.size() > 2 && std::strncmp(o.name, given.c_str() + 2, given.size() - 2) == 0) {
            matches += std::string(count++ ? ", --" : "--") + o.name;
        }
    }
    if (count > 1) return usageError("option " + quoted(given) + " is ambiguous: " + matches + ".");
    return usageError("unknown option " + quoted(given) + ".");
}

// Rules between options, once all are read.
Result checkCombinations(const CommandLine& line) {
    if (line.accent && line.pattern) {
        return usageError("--accent and --pattern cannot be used together: the pattern says "
                          "where the accents go.");
    }
    // A dotted beat splits in its three eighths whatever the count: those swing in pairs.
    const bool dottedBeat = line.tempoNote && line.tempoNote->dotted;
    if (line.swing && line.subdivide && *line.subdivide % 2 != 0 && !dottedBeat) {
        return usageError("--swing needs subdivisions in pairs: --subdivide " +
                          std::to_string(*line.subdivide) + " is odd.");
    }
    if (line.countInPattern && line.countIn.value_or(0) == 0) {
        return usageError("--count-in-pattern needs a count-in: give --count-in N as well.");
    }
    if (line.append && line.toStandardOutput()) {
        return usageError("--append cannot be used with '-o -' (standard output).");
    }
    if (line.toStandardOutput() && line.format.value_or(AudioFormat::Wav) != AudioFormat::Wav) {
        return usageError(std::string("--format ") + formatName(*line.format) +
                          " cannot be used with '-o -': standard output carries WAV only.");
    }
    if (!line.samples.empty() && line.sound) {
        return usageError("--sample and --sound cannot be used together: the sample is the "
                          "click's sound.");
    }
    if (!line.samples.empty() && (line.freq || line.accentFreq)) {
        return usageError(std::string(line.freq ? "--freq" : "--accent-freq") +
                          " cannot be used with --sample: the sample is the click.");
    }
    if (line.gap && !line.setlist) {
        return usageError("--gap needs a setlist: give --setlist FILE as well.");
    }
    if (line.setlist && (line.append || line.midi || line.labels || line.toStandardOutput())) {
        return usageError(std::string(line.append ? "--append" : line.midi ? "--midi" : line.labels ? "--labels" : "-o -") +
                          " cannot be used with --setlist: each song has a file of its own.");
    }
    if (line.append && line.midi) {
        return usageError("--midi cannot be used with --append: the audio already in the file "
                          "has no tempo map to continue.");
    }
    if ((!line.connect.empty() || line.connectNone || line.transport) && !line.jack) {
        return usageError(std::string(line.transport ? "--transport" : "--connect") +
                          " is for JACK: give --jack or -d jack as well.");
    }
    if (Result r = checkChannels(line)) return r;
    if (line.map) {
        const char* other = line.tempoFrom  ? "--tempo"
                            : line.beats    ? "--beats"
                            : line.measures ? "--measures"
                                            : nullptr;
        if (other) {
            return usageError(std::string("--map and ") + other +
                              " cannot be used together: the map gives each section its tempo,"
                              " beats and measures.");
        }
        if (line.pattern) {
            return usageError("--map and --pattern cannot be used together: the map sets "
                              "patterns line by line.");
        }
    }
    return std::nullopt;
}

}  // namespace

Exit usageError(const std::string& sentence) {
    return Exit{2, "clicktrack: " + sentence + "\nTry 'clicktrack --help'.", true};
}

const char* helpText(Command command) {
    static const std::string program = programHelp();
    static const std::string render = commandHelp(
        Command::Render, "Usage: clicktrack render [OPTIONS]\nWrite a click track to an audio file.\n");
    static const std::string play = commandHelp(
        Command::Play, "Usage: clicktrack play [OPTIONS]\nPlay a click track on an ALSA device, or as a JACK client.\n") +
        "\n\n" + keyHelp();
    static const std::string show = commandHelp(
        Command::Show, "Usage: clicktrack show [OPTIONS]\nPrint the plan of a click track: where "
                       "each section starts, its first\nbar, meter, tempo, pattern, label and "
                       "length, then the whole track's.\nNothing is written or played.\n");
    if (command == Command::Render) return render.c_str();
    if (command == Command::Show) return show.c_str();
    return command == Command::Play ? play.c_str() : program.c_str();
}

const char* versionText() { return "clicktrack " CLICKTRACK_VERSION; }

std::string soundList() {
    std::string lines;
    for (const BuiltInSound& s : builtInSounds()) {
        std::string name = s.name;
        if (name == kDefaultSound) name += " *";
        name.resize(std::max<size_t>(name.size() + 2, 13), ' ');
        lines += name + s.description + "\n";
    }
    return lines + "* the default; classic with --freq, --accent-freq or --settings";
}

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    CommandLine line;
    if (args.empty()) return line;
    size_t first = 0;
    for (const Command command : {Command::Render, Command::Play, Command::Show}) {
        if (args[0] == commandName(command)) {
            line.command = command;
            first = 1;
        }
    }

    // getopt_long reorders the array it is given: hand it copies.
    std::vector<std::string> words{"clicktrack"};
    words.insert(words.end(), args.begin() + static_cast<long>(first), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<option> longOptions;
    for (const OptionInfo& o : kOptions) {
        const int has = !o.argument ? no_argument
                        : o.argument[0] == '[' ? optional_argument
                                               : required_argument;
        longOptions.push_back({o.name, has, nullptr, o.val});
    }
    longOptions.push_back({nullptr, 0, nullptr, 0});

    const std::string letters = shortOptions();
    const int argc = static_cast<int>(words.size());
    optind = 0;  // start afresh, as glibc does for 0
    opterr = 0;  // the messages are ours
    for (;;) {
        const int val = getopt_long(argc, argv.data(), letters.c_str(), longOptions.data(), nullptr);
        if (val == -1) break;
        if (val == ':') return usageError("option " + quoted(longName(optopt)) + " needs a value.");
        if (val == '?') return badOption(optopt, argv[optind - 1]);
        if (val == 'h') return Exit{0, helpText(line.command), false};
        const Scope scope = findOption(val)->scope;
        if (line.command == Command::Menu && val != kVersion && val != kListSounds) {
            return usageError(longName(val) + " goes after a command: 'clicktrack render', "
                                              "'clicktrack play' or 'clicktrack show'.");
        }
        if (val == kVersion) {
            if (line.command != Command::Menu) return usageError("unknown option '--version'.");
            return Exit{0, versionText(), false};
        }
        if (val == kListSounds) {
            if (line.command != Command::Menu) {
                return usageError("unknown option '--list-sounds'.");
            }
            return Exit{0, soundList(), false};
        }
        if (!takes(scope, line.command)) return notTaken(val, scope, line.command);
        std::string value = optarg ? optarg : "";
        // --jack NAME as well as --jack=NAME: the command line has no other words.
        if (val == kJack && !optarg && optind < argc && argv[optind][0] != '-') value = argv[optind++];
        if (Result stop = takeOption(val, value, line)) return *stop;
    }
    if (optind < argc) {
        const std::string extra = argv[optind];
        if (line.command == Command::Menu && extra != "render" && extra != "play" &&
            extra != "show") {
            return usageError("unknown command " + quoted(extra) +
                              "; the commands are render, play and show.");
        }
        return usageError("unexpected argument " + quoted(extra) + ".");
    }
    if (Result stop = checkCombinations(line)) return *stop;
    line.arguments.assign(args.begin() + static_cast<long>(first), args.end());
    return line;
}
