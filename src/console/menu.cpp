#include "console/menu.hpp"

#include <array>
#include <string>

#include "console/commands.hpp"
#include "console/input.hpp"
#include "core/timing.hpp"
#include "core/value_rules.hpp"
#include "files/settings_file.hpp"

namespace {

// A command word holds at most 7 characters; longer words are never commands.
constexpr size_t kCommandMaxChars = 7;

constexpr std::array<const char*, 15> kCommands = {
    "t", "b", "f", "s", "x", "al", "m", "n", "o", "h", "a", "rtm", "ptm", "w", "+"};

bool isCommand(const std::string& word) {
    for (const char* command : kCommands) {
        if (word == command) return true;
    }
    return false;
}

void refuse(FILE* out, const std::string& rule, const char* keepingFormat, double current) {
    std::fprintf(out, "%s; keeping ", rule.c_str());
    std::fprintf(out, keepingFormat, current);
    std::fputs(".\n", out);
}

// Reads a decimal number for a setting. End of input ends the program; a
// refused value is reported and the setting keeps its value.
Ending askDecimal(Session& s, const char* prompt, float& field,
                   Rule (*check)(float, uint32_t), const char* keepingFormat) {
    std::fprintf(s.io.out, "%s\n", prompt);
    float value = 0.0f;
    const ReadResult r = readDecimal(s.io.in, value);
    if (r == ReadResult::End) return quitProgram();
    if (r == ReadResult::NoNumber) return std::nullopt;
    if (const Rule rule = check(value, s.settings.rate)) {
        refuse(s.io.out, rule->detail, keepingFormat, field);
    } else {
        field = value;
    }
    return std::nullopt;
}

Ending askCount(Session& s, const char* prompt, int32_t& field,
                 Rule (*check)(long long)) {
    std::fprintf(s.io.out, "%s\n", prompt);
    long long value = 0;
    const ReadResult r = readInteger(s.io.in, value);
    if (r == ReadResult::End) return quitProgram();
    if (r == ReadResult::NoNumber) return std::nullopt;
    if (const Rule rule = check(value)) {
        refuse(s.io.out, rule->detail, "%.0f", field);
    } else {
        field = static_cast<int32_t>(value);
    }
    return std::nullopt;
}

Ending askName(Session& s, const char* prompt, std::string& field, size_t maxChars,
                const char* what) {
    std::fprintf(s.io.out, "%s\n", prompt);
    std::string word;
    bool tooLong = false;
    if (readWord(s.io.in, word, tooLong, maxChars) == ReadResult::End) return quitProgram();
    if (tooLong) {
        std::fprintf(s.io.out, "%s must be at most %zu characters; keeping '%s'.\n", what,
                     maxChars, field.c_str());
        return std::nullopt;
    }
    field = word;
    return std::nullopt;
}

void writeHelp(FILE* out) {
    std::fputs(
        "\n"
        "How to Create a Remote Tempo Map File:\n\n"
        "1. Make a plain text file called tmap.txt.\n\n"
        "2. Start a line with the command 'tmap' for a new tempo or meter.\n\n"
        "3. Then enter tempo, beats per measure, and measures.\n\n"
        "   Use a <tab> after tmap as well as between values.\n\n"
        "   Example:\n\n"
        "   tmap\t120\t4\t48\n"
        "   tmap\t160\t3\t16\n\n"
        "4. Save the file in same directory as this program.\n"
        "\n"
        "Enter 'c' to continue.\n",
        out);
}

// Shows the tempo map help and waits for "c"; other words are ignored.
Ending showHelp(Session& s) {
    writeHelp(s.io.out);
    std::string word;
    bool tooLong = false;
    for (;;) {
        if (readWord(s.io.in, word, tooLong, kCommandMaxChars) == ReadResult::End) {
            return quitProgram();
        }
        if (!tooLong && word == "c") return std::nullopt;
    }
}

// The setting handlers. Returns a Stop when the command ends the program.
Ending runSettingHandler(const std::string& word, Session& s) {
    Settings& st = s.settings;
    Ending r;
    if (word == "t") {
        r = askDecimal(s, "Enter tempo in beats per minute", st.tempo, checkTempo, "%.1f");
        s.trackSeconds = recomputedTrackSeconds(st);
    } else if (word == "b") {
        r = askCount(s, "Enter beats per measure", st.meter, checkBeatsPerMeasure);
        s.trackSeconds = recomputedTrackSeconds(st);
    } else if (word == "f") {
        r = askDecimal(s, "\nEnter lowest frequency of click in Hz", st.hz, checkFrequency,
                       "%.1f");
    } else if (word == "s") {
        // A failed save is told, and the menu carries on.
        const Ending saved = saveSettings(st, kSettingsFileName);
        std::fprintf(s.io.out, "%s\n", saved ? saved->message.c_str() : "Saved Settings");
    } else if (word == "x") {
        r = quitProgram();
    } else if (word == "al") {
        r = askDecimal(s, "\nEnter audition length in seconds", st.atime, checkAuditionLength,
                       "%.1f");
    } else if (word == "m") {
        r = askCount(s, "\nEnter number of measures", st.meas, checkMeasures);
        s.trackSeconds = recomputedTrackSeconds(st);
    } else if (word == "n") {
        r = askName(s, "Enter new output file name.", st.save, kSaveMaxChars,
                    "The output file name");
    } else if (word == "o") {
        r = askName(s, "Enter new playback device name.", st.device, kDeviceMaxChars,
                    "The device name");
    } else if (word == "h") {
        r = showHelp(s);
    }
    return r;
}

}  // namespace

void writeClickStage(FILE* out, const ClickReport& report) {
    if (report.frequencyTooLow) std::fputs("The frequency chosen is too low for this tempo!\n", out);
    std::fputc('\n', out);
}

void writeMenu(FILE* out, const Settings& s) {
    std::fputs("\nGlobal settings:\n", out);
    std::fprintf(out, "\tEnter 't' to adjust tempo (%.1f bpm).\n", s.tempo);
    std::fprintf(out, "\tEnter 'f' to set the lowest click frequency (%.1f Hz).\n", s.hz);
    std::fprintf(out, "\tEnter 'b' to set beats per measure (%i)\n", s.meter);
    std::fputs("\tEnter 'h' for tempo map file help\n"
               "\tEnter 's' to save current settings to 'dodiradoz.txt'\n"
               "\tEnter 'x' to exit.\n",
               out);
    std::fputs("\nAudition settings:\n\tEnter 'a' to audition click.\n", out);
    std::fprintf(out, "\tEnter 'al' to set the audition length (%.1f sec).\n", s.atime);
    std::fprintf(out, "\tEnter 'o' to change output device from '%s'.\n", s.device.c_str());
    std::fputs("\tEnter 'ptm' to play tempo map file.\n", out);
    std::fputs("\nOutput file settings:\n", out);
    std::fprintf(out, "\tEnter 'm' to set number of measures to write (%i).\n", s.meas);
    std::fprintf(out, "\tEnter 'n' to change the output file name from '%s'.\n", s.save.c_str());
    std::fprintf(out, "\tEnter 'w' to write from beginning of '%s'.\n", s.save.c_str());
    std::fprintf(out, "\tEnter '+' to add new click to end of '%s'.\n", s.save.c_str());
    std::fputs("\tEnter 'rtm' to read tempo map file and write click track file.\n", out);
}

Stop runMenu(Session& s) {
    for (;;) {
        writeMenu(s.io.out, s.settings);
        std::string word;
        bool tooLong = false;
        if (readWord(s.io.in, word, tooLong, kCommandMaxChars) == ReadResult::End) {
            return quitProgram();
        }
        if (tooLong || !isCommand(word)) continue;
        if (Ending stop = runSettingHandler(word, s)) return *stop;
        // The click stays for the next pass, which makes it again only when
        // the values it is made from have changed.
        writeClickStage(s.io.out, makeClick(s.click, s.settings.hz, s.settings.rate));
        if (Ending stop = runAction(word, s)) return *stop;
    }
}
