#include "cli/options.hpp"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// The help texts share their lists of options; each list is whole lines.
const char* const kValueOptions =
    "  -r, --rate N         sample rate (default 44100)\n"
    "      --bits 16|24     sample size (default 24)\n"
    "  -t, --tempo BPM      tempo in beats per minute (default 120)\n"
    "  -b, --beats N        beats per measure (default 4)\n"
    "  -m, --measures N     number of measures (default 48)\n"
    "  -f, --freq HZ        lowest click frequency (default 60)\n";

const char* const kSettingsOption =
    "      --settings FILE  start from a settings file in the menu's format;\n"
    "                       options override it\n";

const char* const kClickOptions =
    "      --accent         accent the first beat of every measure\n"
    "      --pattern P      a pattern for every measure: X accent, x normal, . silent\n"
    "      --accent-freq HZ lowest frequency of the accent click (default 1.5 x freq)\n"
    "      --subdivide N    N clicks a beat, the extra ones at a quarter of the level\n"
    "      --count-in N     N measures before the track\n"
    "  -t, --tempo A-B      a change of tempo across the whole track, from A to B\n";

const char* const kRenderOptions =
    "  -o, --output FILE    the wave file (default click.wav); - writes to\n"
    "                       standard output\n"
    "  -a, --append         add to the end of an existing file\n"
    "      --markers        mark where each section starts: a cue point named by\n"
    "                       its label (\"Section N\" without one); \"Count-in\" at 0\n"
    "      --midi FILE      also write the tempo map and the clicks as a MIDI file\n"
    "      --labels FILE    also write the sections as a label track: start, end\n"
    "                       and name, tab-separated, in seconds\n";

const char* const kPlayOptions =
    "  -d, --device NAME    ALSA device (default \"default\")\n"
    "      --seconds S      stop after S seconds (default: when the measures end)\n"
    "      --loop           start again at the end, until stopped\n";

std::string programHelp() {
    return std::string(
               "Usage: clicktrack                   the interactive menu\n"
               "       clicktrack render [OPTIONS]  write a click track to a wave file\n"
               "       clicktrack play [OPTIONS]    play it on an ALSA device\n"
               "       clicktrack --help | -h       this text ('clicktrack render --help' and\n"
               "                                    'clicktrack play --help' for a command's)\n"
               "       clicktrack --version         the version\n"
               "\n"
               "Options of both commands:\n") +
           kValueOptions + "      --map FILE       play or render a tempo map instead of one tempo\n" +
           kSettingsOption + "  -q, --quiet          no summary line, no progress display\n" +
           kClickOptions + "Options of render:\n" + kRenderOptions + "Options of play:\n" +
           kPlayOptions +
           "\nExit status: 0 success, 1 file or device failure, 2 usage error, 130 Ctrl-C.";
}

// A command's own help: its options only.
std::string commandHelp(const char* usage, const char* mapLine, const char* ownOptions,
                        const char* quietLine) {
    return std::string(usage) + "\n" + kValueOptions + mapLine + kSettingsOption + ownOptions +
           quietLine + kClickOptions + "  -h, --help           this text";
}

// Values getopt_long gives back for options without a short letter.
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
    kMarkers,
    kMidi,
    kLabels
};

enum class Scope { both, render, play, top };

struct OptionInfo {
    const char* name;
    int hasArg;
    int val;
    Scope scope;
};

const OptionInfo kOptions[] = {
    {"rate", required_argument, 'r', Scope::both},
    {"bits", required_argument, kBits, Scope::both},
    {"tempo", required_argument, 't', Scope::both},
    {"beats", required_argument, 'b', Scope::both},
    {"measures", required_argument, 'm', Scope::both},
    {"freq", required_argument, 'f', Scope::both},
    {"map", required_argument, kMap, Scope::both},
    {"settings", required_argument, kSettings, Scope::both},
    {"quiet", no_argument, 'q', Scope::both},
    {"accent", no_argument, kAccent, Scope::both},
    {"pattern", required_argument, kPattern, Scope::both},
    {"accent-freq", required_argument, kAccentFreq, Scope::both},
    {"subdivide", required_argument, kSubdivide, Scope::both},
    {"count-in", required_argument, kCountIn, Scope::both},
    {"output", required_argument, 'o', Scope::render},
    {"append", no_argument, 'a', Scope::render},
    {"markers", no_argument, kMarkers, Scope::render},
    {"midi", required_argument, kMidi, Scope::render},
    {"labels", required_argument, kLabels, Scope::render},
    {"device", required_argument, 'd', Scope::play},
    {"seconds", required_argument, kSeconds, Scope::play},
    {"loop", no_argument, kLoop, Scope::play},
    {"help", no_argument, 'h', Scope::both},
    {"version", no_argument, kVersion, Scope::top},
};

// The short letters; the leading ':' makes getopt report a missing value
// apart from an unknown option.
const char* const kShortOptions = ":r:t:b:m:f:qo:ad:h";

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
    std::string shown = "'";
    for (char c : text) shown += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    return shown + "'";
}

Stop refuse(const std::string& option, const char* accepts, const std::string& given) {
    return usageError(option + " must be " + accepts + ", not " + quoted(given) + ".");
}

// A whole number in base 10 and nothing else: no blanks, no trailing text.
bool wholeNumber(const std::string& text, long long& value) {
    const char* s = text.c_str();
    const char* digits = (*s == '+' || *s == '-') ? s + 1 : s;
    if (!(*digits >= '0' && *digits <= '9')) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(s, &end, 10);
    return errno == 0 && *end == '\0';
}

// A decimal number at the start of `s`, read up to `end`; false when there
// is none. Only digits, signs, points and exponents count, so hexadecimal,
// "inf", "nan" and blanks are not numbers here.
bool decimalPrefix(const char* s, float& value, const char*& end) {
    if (*s == '\0' || std::strspn(s, "0123456789.eE+-") != std::strlen(s)) return false;
    char* stop = nullptr;
    value = std::strtof(s, &stop);
    end = stop;
    return stop != s;
}

bool finiteNumber(const std::string& text, float& value) {
    const char* end = nullptr;
    return decimalPrefix(text.c_str(), value, end) && *end == '\0' && std::isfinite(value);
}

// A tempo: one number, or two joined by '-' for a ramp; each above 0.
bool tempoValue(const std::string& text, CommandLine& line) {
    float from = 0.0f;
    float to = 0.0f;
    const char* end = nullptr;
    if (!decimalPrefix(text.c_str(), from, end)) return false;
    bool ramp = false;
    if (*end == '-') {
        ramp = true;
        if (!finiteNumber(end + 1, to)) return false;
    } else if (*end == '\0') {
        to = from;
    } else {
        return false;
    }
    if (!std::isfinite(from) || !(from > 0.0f) || !(to > 0.0f)) return false;
    line.tempoFrom = from;
    line.tempoTo = to;
    line.tempoRamp = ramp;
    return true;
}

const char* commandName(Command command) {
    return command == Command::render ? "render" : command == Command::play ? "play" : "";
}

// Stores one option's value; a usage error when it is not acceptable.
Outcome takeOption(int val, const std::string& arg, CommandLine& line) {
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
        case 'o':
        case 'd': {
            if (arg.empty()) return refuse(name, val == 'd' ? "a device name" : "a file name", arg);
            std::optional<std::string>& field = val == kMap        ? line.map
                                                : val == kSettings ? line.settings
                                                : val == 'o'       ? line.output
                                                : val == kMidi     ? line.midi
                                                : val == kLabels   ? line.labels
                                                                   : line.device;
            field = arg;
            break;
        }
        case kAccent: line.accent = true; break;
        case kPattern:
            if (arg.empty() || arg.find_first_not_of("Xx.") != std::string::npos) {
                return refuse(name, "a pattern of X (accent), x (normal) and . (silent)", arg);
            }
            line.pattern = arg;
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
        case kCountIn:
            if (!wholeNumber(arg, n) || n < 0 || n > 1000) {
                return refuse(name, "a whole number of measures from 0 to 1000", arg);
            }
            line.countIn = static_cast<int32_t>(n);
            break;
        case 'a': line.append = true; break;
        case kMarkers: line.markers = true; break;
        case kLoop: line.loop = true; break;
        case 'q': line.quiet = true; break;
    }
    return std::nullopt;
}

// What getopt_long's '?' means: an unknown or ambiguous option, or a value
// given to an option that takes none.
Stop badOption(int optionCode, const char* text) {
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
Outcome checkCombinations(const CommandLine& line) {
    if (line.accent && line.pattern) {
        return usageError("--accent and --pattern cannot be used together: the pattern says "
                          "where the accents go.");
    }
    if (line.append && line.toStandardOutput()) {
        return usageError("--append cannot be used with '-o -' (standard output).");
    }
    if (line.append && line.midi) {
        return usageError("--midi cannot be used with --append: the audio already in the file "
                          "has no tempo map to continue.");
    }
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
    }
    return std::nullopt;
}

}  // namespace

Stop usageError(const std::string& sentence) {
    return Stop{2, "clicktrack: " + sentence + "\nTry 'clicktrack --help'.", true};
}

const char* helpText(Command command) {
    static const std::string program = programHelp();
    static const std::string render = commandHelp(
        "Usage: clicktrack render [OPTIONS]\nWrite a click track to a wave file.\n",
        "      --map FILE       render a tempo map instead of one tempo\n", kRenderOptions,
        "  -q, --quiet          no summary line\n");
    static const std::string play = commandHelp(
        "Usage: clicktrack play [OPTIONS]\nPlay a click track on an ALSA device.\n",
        "      --map FILE       play a tempo map instead of one tempo\n", kPlayOptions,
        "  -q, --quiet          no progress display\n");
    if (command == Command::render) return render.c_str();
    return command == Command::play ? play.c_str() : program.c_str();
}

const char* versionText() { return "clicktrack " CLICKTRACK_VERSION; }

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    CommandLine line;
    if (args.empty()) return line;
    size_t first = 0;
    if (args[0] == "render" || args[0] == "play") {
        line.command = args[0] == "render" ? Command::render : Command::play;
        first = 1;
    }

    // getopt_long reorders the array it is given: hand it copies.
    std::vector<std::string> words{"clicktrack"};
    words.insert(words.end(), args.begin() + static_cast<long>(first), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<option> longOptions;
    for (const OptionInfo& o : kOptions) longOptions.push_back({o.name, o.hasArg, nullptr, o.val});
    longOptions.push_back({nullptr, 0, nullptr, 0});

    const int argc = static_cast<int>(words.size());
    optind = 0;  // start afresh, as glibc does for 0
    opterr = 0;  // the messages are ours
    for (;;) {
        const int val = getopt_long(argc, argv.data(), kShortOptions, longOptions.data(), nullptr);
        if (val == -1) break;
        if (val == ':') return usageError("option " + quoted(longName(optopt)) + " needs a value.");
        if (val == '?') return badOption(optopt, argv[optind - 1]);
        if (val == 'h') return Stop{0, helpText(line.command), false};
        const Scope scope = findOption(val)->scope;
        if (line.command == Command::menu && val != kVersion) {
            return usageError(longName(val) +
                              " goes after a command: 'clicktrack render' or 'clicktrack play'.");
        }
        if (val == kVersion) {
            if (line.command != Command::menu) return usageError("unknown option '--version'.");
            return Stop{0, versionText(), false};
        }
        if (scope == Scope::render || scope == Scope::play) {
            const Command owner = scope == Scope::render ? Command::render : Command::play;
            if (owner != line.command) {
                return usageError(longName(val) + " is an option of 'clicktrack " +
                                  commandName(owner) + "', not of 'clicktrack " +
                                  commandName(line.command) + "'.");
            }
        }
        if (Outcome stop = takeOption(val, optarg ? optarg : "", line)) return *stop;
    }
    if (optind < argc) {
        const std::string extra = argv[optind];
        if (line.command == Command::menu && extra != "render" && extra != "play") {
            return usageError("unknown command " + quoted(extra) +
                              "; the commands are render and play.");
        }
        return usageError("unexpected argument " + quoted(extra) + ".");
    }
    if (Outcome stop = checkCombinations(line)) return *stop;
    return line;
}
