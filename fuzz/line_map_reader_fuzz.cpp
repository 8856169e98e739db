// Fuzzes the reader of tempo maps in the line format: it never reads past
// the text; a map it accepts holds only sections within the format's
// bounds; a map it refuses holds no section and says why in one line.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "files/line_map.hpp"
#include "fuzz_check.hpp"

namespace {

bool tempoFits(double tempo) { return tempo > 0.0 && tempo <= kMaxLineMapTempo; }

void checkSection(const LineMapSection& s, size_t previousLine) {
    FUZZ_REQUIRE(s.line > previousLine);
    // A label: no control byte, colon or comment, no blank at either end.
    FUZZ_REQUIRE(std::none_of(s.label.begin(), s.label.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == ':' || c == '#';
    }));
    FUZZ_REQUIRE(s.label.empty() || (s.label.front() != ' ' && s.label.back() != ' '));
    FUZZ_REQUIRE(s.measures >= 1 && s.measures <= kMaxLineMapMeasures);
    FUZZ_REQUIRE(s.beats >= 1 && s.beats <= kMaxLineMapBeats);
    FUZZ_REQUIRE(s.noteValue >= 1 && s.noteValue <= kMaxLineMapNoteValue);
    FUZZ_REQUIRE((s.noteValue & (s.noteValue - 1)) == 0);
    if (s.ramp) {
        FUZZ_REQUIRE(s.tempos.size() == 2);
    } else {
        FUZZ_REQUIRE(s.tempos.size() == 1 ||
                     static_cast<int64_t>(s.tempos.size()) == s.measures * s.beats);
    }
    for (const double tempo : s.tempos) FUZZ_REQUIRE(tempoFits(tempo));
    FUZZ_REQUIRE(s.pattern.empty() || static_cast<int64_t>(s.pattern.size()) == s.beats);
    FUZZ_REQUIRE(s.pattern.find_first_not_of("Xx.") == std::string::npos);
    FUZZ_REQUIRE(s.volume > 0.0 && s.volume <= 1.0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const LineMap map = parseLineMap(text);
    isLineMap(text);
    if (map.error) {
        const std::string& error = *map.error;
        FUZZ_REQUIRE(map.sections.empty());
        FUZZ_REQUIRE(error.rfind("line ", 0) == 0 || error == "no sections found.");
        FUZZ_REQUIRE(error.find_first_of("\r\n") == std::string::npos);
        return 0;
    }
    FUZZ_REQUIRE(!map.sections.empty() && map.sections.size() <= kMaxLineMapSections);
    size_t previousLine = 0;
    for (const LineMapSection& section : map.sections) {
        checkSection(section, previousLine);
        previousLine = section.line;
    }
    return 0;
}
