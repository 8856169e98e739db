#include "console/startup.hpp"

#include "core/timing.hpp"
#include "core/value_rules.hpp"
#include "console/input.hpp"
#include "files/settings_file.hpp"

namespace {

void writeSummary(FILE* out, const Settings& s) {
    const char* rule = "-------------------------\n";
    std::fputs(rule, out);
    std::fprintf(out, "rate: %i\tbits: %i\tdevice: %s\n", static_cast<int>(s.rate), s.bits,
                 s.device.c_str());
    std::fprintf(out, "meter: %i\tmeas: %i\tatime: %.1f\n", s.meter, s.meas, s.atime);
    std::fprintf(out, "Hz: %.2f\tsave: %s\ttmap: %s\n", s.hz, s.save.c_str(), s.map.c_str());
    std::fputs(rule, out);
}

void loadSettingsFile(Session& s, std::string text, const char* path) {
    for (const std::string& line : loadSettingsText(std::move(text), s.settings, path)) {
        std::fprintf(s.io.out, "%s\n", line.c_str());
    }
    std::fputs("Settings Loaded\n", s.io.out);
    writeSummary(s.io.out, s.settings);
    s.trackSeconds = startupTrackSeconds(s.settings);
}

// Asks for the sample rate until one is usable. Answers 1 to 4 pick the
// usual rates; any other number is the rate itself; 0 ends the program.
Ending askRate(Session& s) {
    for (;;) {
        std::fputs("\nEnter sample rate or\n"
                   "0 = exit, 1 = 44100,  2 = 48000,  3 = 88200,  4 = 96000\n",
                   s.io.out);
        long long answer = 0;
        const ReadResult r = readInteger(s.io.in, answer);
        if (r == ReadResult::End) return quitProgram();
        if (r == ReadResult::NoNumber) return std::nullopt;  // the rate stays 44100
        switch (answer) {
            case 0: return quitProgram();
            case 1: s.settings.rate = 44100; return std::nullopt;
            case 2: s.settings.rate = 48000; return std::nullopt;
            case 3: s.settings.rate = 88200; return std::nullopt;
            case 4: s.settings.rate = 96000; return std::nullopt;
            default: break;
        }
        const Settings& st = s.settings;
        const Rule rule = checkRateFor(answer, st.tempo, st.hz, st.atime);
        if (!rule) {
            s.settings.rate = static_cast<uint32_t>(answer);
            return std::nullopt;
        }
        std::fprintf(s.io.out, "%s.\n", rule->detail.c_str());
    }
}

Ending askBits(Session& s) {
    std::fputs("\nChoose Bit Depth (1 = 16 bits, 2 = 24 bits)\n", s.io.out);
    long long answer = 0;
    const ReadResult r = readInteger(s.io.in, answer);
    if (r == ReadResult::End) return quitProgram();
    s.settings.bits = r == ReadResult::Ok && answer == 1 ? 16 : 24;
    return std::nullopt;
}

}  // namespace

Ending startUp(Session& s, const char* settingsPath) {
    s.settings = Settings{};
    SettingsFileText file = readSettingsFile(settingsPath);
    // A settings file that cannot be used is as good as none, once the user knows.
    if (file.problem) std::fprintf(s.io.out, "%s\n", file.problem->detail.c_str());
    if (file.text) {
        loadSettingsFile(s, std::move(*file.text), settingsPath);
    } else {
        if (Ending r = askRate(s)) return r;
        if (Ending r = askBits(s)) return r;
        s.trackSeconds = startupTrackSeconds(s.settings);
    }
    initClickState(s.click, s.settings.bits);
    std::fputs("ready\n", s.io.out);
    return std::nullopt;
}
