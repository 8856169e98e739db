// Fuzzes the settings reader: whatever the settings file holds, each value
// it sets is one the program can work with at the rate in force, each refused
// value is told in one line, and what `s` then writes reads back the same.
//
// A value the file does not set keeps what it had, even when it does not suit
// the file's rate (60 Hz at a rate of 100, 10 s of audition at a rate of
// 400000000): only values read are judged, and such settings are saved as
// they are but refused when read again.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/value_rules.hpp"
#include "files/settings_file.hpp"
#include "fuzz_check.hpp"

namespace {

void requireUsable(const Settings& s, const Settings& before) {
    FUZZ_REQUIRE(!checkRate(s.rate));
    FUZZ_REQUIRE(!checkBits(s.bits));
    FUZZ_REQUIRE(s.tempo == before.tempo || !checkTempo(s.tempo, s.rate));
    FUZZ_REQUIRE(s.hz == before.hz || !checkFrequency(s.hz, s.rate));
    FUZZ_REQUIRE(s.atime == before.atime || !checkAuditionLength(s.atime, s.rate));
    FUZZ_REQUIRE(!checkBeatsPerMeasure(s.meter));
    FUZZ_REQUIRE(!checkMeasures(s.meas));
    FUZZ_REQUIRE(!checkName(s.device, kDeviceMaxChars, "device"));
    FUZZ_REQUIRE(!checkName(s.save, kSaveMaxChars, "save"));
    FUZZ_REQUIRE(!checkName(s.map, kMapMaxChars, "map"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Settings settings;
    const std::vector<std::string> notes = parseSettingsText(text, settings, "dodiradoz.txt");
    for (const std::string& note : notes) {
        FUZZ_REQUIRE(note.find_first_of("\r\n") == std::string::npos);
    }
    requireUsable(settings, Settings{});

    const std::string written = settingsText(settings);
    FUZZ_REQUIRE(written.size() <= kSettingsReadLimit);
    Settings back;
    const std::vector<std::string> backNotes = parseSettingsText(written, back, "dodiradoz.txt");
    // Every number is written so that it reads back as the same value: when
    // all of them suit the rate, nothing is refused and nothing changes.
    const bool allSuitTheRate = !checkTempo(settings.tempo, settings.rate) &&
                                !checkFrequency(settings.hz, settings.rate) &&
                                !checkAuditionLength(settings.atime, settings.rate);
    FUZZ_REQUIRE(!allSuitTheRate || backNotes.empty());
    requireUsable(back, Settings{});
    if (allSuitTheRate) {
        FUZZ_REQUIRE(back.tempo == settings.tempo);
        FUZZ_REQUIRE(back.hz == settings.hz);
        FUZZ_REQUIRE(back.atime == settings.atime);
    }
    FUZZ_REQUIRE(back.rate == settings.rate);
    FUZZ_REQUIRE(back.bits == settings.bits);
    FUZZ_REQUIRE(back.meter == settings.meter);
    FUZZ_REQUIRE(back.meas == settings.meas);
    FUZZ_REQUIRE(back.device == settings.device);
    FUZZ_REQUIRE(back.save == settings.save);
    FUZZ_REQUIRE(back.map == settings.map);
    if (backNotes.empty()) FUZZ_REQUIRE(settingsText(back) == written);
    return 0;
}
