// Fuzzes the tempo map reader: parsing never reads past the text, the table
// never holds more than it may, and a map that passes the check gives every
// section a beat of at least one sample and lengths that fit a wave file.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/value_rules.hpp"
#include "core/timing.hpp"
#include "files/tempo_map.hpp"
#include "fuzz_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TempoMapText map = parseTempoMap(text);
    FUZZ_REQUIRE(map.entries.size() == std::min(map.entryCount, kMaxTempoMapEntries + 1));

    for (const uint32_t rate : {1u, 8000u, 44100u, 96000u, 2147483647u}) {
        const std::vector<std::string> problems = checkTempoMap(map, rate);
        for (const std::string& line : problems) {
            FUZZ_REQUIRE(!line.empty() && line.find('\n') == std::string::npos);
        }
        if (!problems.empty()) continue;
        FUZZ_REQUIRE(!map.cutShort);
        FUZZ_REQUIRE(map.entryCount <= kMaxTempoMapEntries);
        for (const TempoMapEntry& entry : map.entries) {
            // `ptm` plays each section, `rtm` writes it and leaves its tempo
            // for `a` and `w`.
            FUZZ_REQUIRE(sectionBeatLength(rate, entry.tempo) >= 1);
            FUZZ_REQUIRE(beatSamples(rate, entry.tempo) >= 1);
            const auto frames = sectionWriteFrames(rate, entry.tempo, entry.beats, entry.measures);
            FUZZ_REQUIRE(frames && *frames >= 0);
            const auto total = sectionPlayFrames(rate, entry.tempo, entry.beats, entry.measures);
            FUZZ_REQUIRE(total && *total >= 0);
        }
    }
    return 0;
}
