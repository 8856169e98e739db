#include "files/settings_file.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#include "core/user_text.hpp"
#include "core/value_rules.hpp"
#include "files/tokens.hpp"
#include "io/kept_file.hpp"
#include "io/regular_file.hpp"

namespace {

enum class Key { Rate, Device, Bits, Tempo, Hz, Atime, Save, Meter, Meas, Map, Count };

constexpr size_t index(Key key) { return static_cast<size_t>(key); }

// Keys in the order they are compared.
constexpr std::array<std::string_view, index(Key::Count)> kKeys = {
    "rate", "device", "bits", "tempo", "Hz", "atime", "save", "meter", "meas", "map"};

std::optional<Key> keyOf(std::string_view token) {
    for (size_t i = 0; i < kKeys.size(); ++i) {
        if (token == kKeys[i]) return static_cast<Key>(i);
    }
    return std::nullopt;
}

// The last value found for each key.
using RawValues = std::array<std::optional<std::string>, index(Key::Count)>;

// Splits the text into tokens at blanks, tabs and line breaks. A key's value
// is the rest of its line after the one separator that ended the key, or the
// next line that is not empty; reading goes on after the value.
RawValues scanKeys(std::string_view text) {
    RawValues raw;
    Tokens tokens(text);
    while (const std::optional<std::string_view> token = tokens.next(" \t\n")) {
        const std::optional<Key> key = keyOf(*token);
        if (!key) continue;
        const std::optional<std::string_view> value = tokens.next("\n");
        if (!value) break;  // a key with no value: ignored
        raw[index(*key)] = std::string(*value);
    }
    return raw;
}

// A value without a single digit ("four", "x") reads as a number that every
// check refuses, so that it is reported instead of taken as 0.
long long toInteger(const std::string& value) {
    const std::optional<long long> v = readWholeNumber(value, NumberForm::Prefix);
    return v ? *v : std::numeric_limits<long long>::min();
}

float toDecimal(const std::string& value) {
    const std::optional<double> v = readDouble(value, NumberForm::Prefix);
    return v ? static_cast<float>(*v) : std::numeric_limits<float>::quiet_NaN();
}

// A decimal as the settings file holds it: in the `usual` form (two decimals
// or one) when that reads back as the same value, otherwise in the fewest
// significant digits that do, so that what is saved comes back unchanged.
std::string decimalText(float value, const char* usual) {
    char text[64];
    std::snprintf(text, sizeof text, usual, static_cast<double>(value));
    for (int digits = 1; digits <= 9 && toDecimal(text) != value; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    }
    return text;
}

// The value as it is shown in a message: quoted, no line-end characters, not too long.
std::string shown(const std::string& value) {
    return shownText(value, kShowQuoted | kShowWithoutCr, 40);
}

class Loader {
public:
    Loader(Settings& settings, const std::string& fileName) : s_(settings), file_(fileName) {}

    std::vector<std::string> load(const RawValues& raw) {
        std::vector<std::string> timingNotes = loadRateAndTiming(raw);
        if (raw[index(Key::Bits)]) {
            const long long v = toInteger(*raw[index(Key::Bits)]);
            if (accept(Key::Bits, *raw[index(Key::Bits)], checkBits(v), std::to_string(s_.bits))) {
                s_.bits = static_cast<int32_t>(v);
            }
        }
        notes_.insert(notes_.end(), timingNotes.begin(), timingNotes.end());
        loadCount(raw, Key::Meter, s_.meter, checkBeatsPerMeasure);
        loadCount(raw, Key::Meas, s_.meas, checkMeasures);
        loadName(raw, Key::Device, s_.device, kDeviceMaxChars, "The device name");
        loadName(raw, Key::Save, s_.save, kSaveMaxChars, "The output file name");
        loadName(raw, Key::Map, s_.map, kMapMaxChars, "The tempo map file name");
        return std::move(notes_);
    }

private:
    // The limits of tempo, frequency and audition length depend on the rate,
    // and a rate is taken only when the values that end up in force, read
    // from the file or kept, work at it; whatever order the keys come in.
    // Returns the lines about tempo, frequency and audition length.
    std::vector<std::string> loadRateAndTiming(const RawValues& raw) {
        if (raw[index(Key::Rate)]) {
            const long long v = toInteger(*raw[index(Key::Rate)]);
            const Rule inRange = checkRate(v);
            if (!inRange) {
                Settings trial = s_;
                trial.rate = static_cast<uint32_t>(v);
                Loader trialLoader(trial, file_);
                trialLoader.loadTiming(raw);
                const Rule rule = checkRateFor(v, trial.tempo, trial.hz, trial.atime);
                if (!rule) {
                    s_ = trial;
                    return std::move(trialLoader.notes_);
                }
                accept(Key::Rate, *raw[index(Key::Rate)], rule, std::to_string(s_.rate));
            } else {
                accept(Key::Rate, *raw[index(Key::Rate)], inRange, std::to_string(s_.rate));
            }
        }
        Loader timing(s_, file_);
        timing.loadTiming(raw);
        return std::move(timing.notes_);
    }

    void loadTiming(const RawValues& raw) {
        loadDecimal(raw, Key::Tempo, s_.tempo, checkTempo, "%.2f");
        loadDecimal(raw, Key::Hz, s_.hz, checkFrequency, "%.2f");
        loadDecimal(raw, Key::Atime, s_.atime, checkAuditionLength, "%.1f");
    }

    bool accept(Key key, const std::string& raw, const Rule& rule, const std::string& kept) {
        if (!rule) return true;
        notes_.push_back(file_ + ": " + std::string(kKeys[index(key)]) + " " + shown(raw) +
                         " refused: " + rule->detail + "; using " + kept + ".");
        return false;
    }

    void loadDecimal(const RawValues& raw, Key key, float& field,
                     Rule (*check)(float, uint32_t), const char* keptFormat) {
        if (!raw[index(key)]) return;
        const float v = toDecimal(*raw[index(key)]);
        if (accept(key, *raw[index(key)], check(v, s_.rate), decimalText(field, keptFormat))) field = v;
    }

    void loadCount(const RawValues& raw, Key key, int32_t& field, Rule (*check)(long long)) {
        if (!raw[index(key)]) return;
        const long long v = toInteger(*raw[index(key)]);
        if (accept(key, *raw[index(key)], check(v), std::to_string(field))) field = static_cast<int32_t>(v);
    }

    void loadName(const RawValues& raw, Key key, std::string& field, size_t maxChars,
                  const char* what) {
        if (!raw[index(key)]) return;
        std::string v = *raw[index(key)];
        // A file edited with CRLF line ends (or converted to them twice) must
        // still name the right files, and read back the same once saved again.
        while (!v.empty() && v.back() == '\r') v.pop_back();
        if (accept(key, *raw[index(key)], checkName(v, maxChars, what), "'" + field + "'")) field = v;
    }

    Settings& s_;
    std::string file_;
    std::vector<std::string> notes_;
};

}  // namespace

std::vector<std::string> parseSettingsText(std::string_view text, Settings& settings,
                                           const std::string& fileName) {
    // The text ends at a zero byte, as C text does.
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    return Loader(settings, fileName).load(scanKeys(text));
}

SettingsFileText readSettingsFile(const std::string& path) {
    RegularFileText file = readRegularFile(path, kSettingsReadLimit + 1);
    SettingsFileText result;
    switch (file.status) {
        case RegularFileText::Status::Read:
            result.text = std::move(file.text);
            break;
        case RegularFileText::Status::NotRegular:
            result.problem = fileFailure(path, file.error, path + " is not a regular file; it is not used.");
            break;
        case RegularFileText::Status::CannotOpen:
            if (file.error == ENOENT) break;  // no settings saved yet
            [[fallthrough]];
        case RegularFileText::Status::CannotRead:
            result.problem = fileFailure(
                path, file.error, "Can't read " + path + ": " + std::strerror(file.error) + "; it is not used.");
            break;
    }
    return result;
}

std::vector<std::string> loadSettingsText(std::string text, Settings& settings,
                                          const std::string& fileName) {
    std::vector<std::string> notes;
    if (text.size() > kSettingsReadLimit) {
        // Only whole lines within the limit count, so that no value is cut short.
        text.resize(kSettingsReadLimit);
        const size_t lastBreak = text.rfind('\n');
        text.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
        notes.push_back(fileName + " is longer than " + std::to_string(kSettingsReadLimit) +
                        " bytes; only the lines within its first " +
                        std::to_string(kSettingsReadLimit) + " bytes are read.");
    }
    std::vector<std::string> more = parseSettingsText(text, settings, fileName);
    notes.insert(notes.end(), more.begin(), more.end());
    return notes;
}

std::string settingsText(const Settings& s) {
    std::string text;
    char line[256];
    const auto add = [&](const char* format, auto value) {
        std::snprintf(line, sizeof line, format, value);
        text += line;
    };
    add("rate\t%i\n", static_cast<int>(s.rate));
    add("device\t%s\n", s.device.c_str());
    add("bits\t%i\n", s.bits);
    add("tempo\t%s\n", decimalText(s.tempo, "%.2f").c_str());
    add("Hz\t%s\n", decimalText(s.hz, "%.2f").c_str());
    add("atime\t%s\n", decimalText(s.atime, "%.1f").c_str());
    add("meter\t%i\n", s.meter);
    add("meas\t%i\n", s.meas);
    add("save\t%s\n", s.save.c_str());
    add("map\t%s\n", s.map.c_str());
    return text;
}

Outcome saveSettings(const Settings& settings, const std::string& path) {
    KeptFile file(path);
    const std::string text = settingsText(settings);
    const FileResult opened = file.create();
    int error = opened ? 0 : writeAll(file.fd(), text.data(), text.size());
    if (!opened && error == 0) error = file.commit();
    if (!opened && error == 0) return std::nullopt;
    const std::string problem = opened ? problemText(*opened) : std::strerror(error);
    return fileFailure(path, opened ? opened->error : error,
                       "Could not save settings: " + problem + "; '" + path + "' is unchanged.");
}
