#include "files/tempo_map.hpp"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/value_rules.hpp"
#include "console/settings.hpp"
#include "files/regular_file.hpp"
#include "files/tokens.hpp"

namespace {

long long toInteger(std::string_view field) {
    return std::strtoll(std::string(field).c_str(), nullptr, 10);
}

float toDecimal(std::string_view field) {
    return static_cast<float>(std::strtod(std::string(field).c_str(), nullptr));
}

constexpr const char* kCutShort = "cut short by the end of the file";

// Beats in the section, or -1 when there are more than 2147483647.
int64_t sectionBeats(const TempoMapEntry& e) {
    if (e.beats < 0 || e.measures < 0) return -1;
    if (e.beats != 0 && e.measures > 2147483647LL / e.beats) return -1;
    return e.beats * e.measures;
}

bool sectionFits(const TempoMapEntry& e, uint32_t rate) {
    int32_t frames = 0;
    return sectionWriteFrames(e, rate, frames) && sectionPlayFrames(e, rate, frames);
}

}  // namespace

std::string entryLine(size_t number, const std::string& problem) {
    return "Tempo map entry " + std::to_string(number) + ": " + problem + ".";
}

bool sectionWriteFrames(const TempoMapEntry& e, uint32_t rate, int32_t& frames) {
    const int64_t beats = sectionBeats(e);
    if (beats < 0) return false;
    const float seconds = sectionSeconds(e.beats, e.measures, e.tempo);
    const float samples = static_cast<float>(rate) * seconds;
    if (!(samples < 2147483648.0f)) return false;
    frames = static_cast<int32_t>(samples);
    return true;
}

int32_t sectionBeatLength(const TempoMapEntry& e, uint32_t rate) {
    return static_cast<int32_t>((static_cast<double>(rate) * 60.0) / static_cast<double>(e.tempo));
}

bool sectionPlayFrames(const TempoMapEntry& e, uint32_t rate, int32_t& total) {
    const int64_t beats = sectionBeats(e);
    if (beats < 0) return false;
    const uint64_t product = uint64_t{rate} * static_cast<uint64_t>(beats);
    const double samples = static_cast<double>(product) * (60.0 / static_cast<double>(e.tempo));
    if (!(samples < 2147483648.0)) return false;
    total = static_cast<int32_t>(samples);
    return true;
}

TempoMapText parseTempoMap(std::string_view text) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    TempoMapText map;
    Tokens tokens(text);
    std::optional<std::string_view> token = tokens.next("\t\n");
    while (token) {
        if (*token != "tmap") {
            token = tokens.next("\t\n");
            continue;
        }
        const auto tempo = tokens.next("\t");
        const auto beats = tokens.next("\t");
        const auto measures = tokens.next("\n");
        if (!tempo || !beats || !measures) {
            map.cutShort = true;
            break;
        }
        ++map.entryCount;
        if (map.entries.size() <= kMaxTempoMapEntries) {
            map.entries.push_back({toDecimal(*tempo), toInteger(*beats), toInteger(*measures)});
        }
        // The measures field may itself start the next entry.
        token = *measures == "tmap" ? measures : tokens.next("\t\n");
    }
    return map;
}

std::vector<std::string> checkTempoMap(const TempoMapText& map, uint32_t rate) {
    std::vector<std::string> problems;
    if (map.cutShort) {
        problems.push_back(entryLine(map.entryCount + 1, kCutShort));
    }
    if (map.entryCount > kMaxTempoMapEntries) {
        problems.push_back("The tempo map has " + std::to_string(map.entryCount) +
                           " entries; at most " + std::to_string(kMaxTempoMapEntries) +
                           " are allowed.");
        return problems;
    }
    for (size_t i = 0; i < map.entries.size(); ++i) {
        const TempoMapEntry& e = map.entries[i];
        std::string rule = checkTempo(e.tempo, rate);
        if (rule.empty()) rule = checkBeatsPerMeasure(e.beats);
        if (rule.empty()) rule = checkMeasures(e.measures);
        if (rule.empty() && !sectionFits(e, rate)) {
            rule = "the section is too long (over 2147483647 samples)";
        }
        if (!rule.empty()) problems.push_back(entryLine(i + 1, rule));
    }
    return problems;
}

namespace {

// Reads the whole map file into `text`; returns a line saying why it could not.
std::string readMapFile(const std::string& path, std::string& text) {
    RegularFileText file = readRegularFile(path, kMaxTempoMapFileBytes + 1);
    switch (file.status) {
        case RegularFileText::kCannotOpen:
            return "Can't open tempo map file '" + path + "': " + std::strerror(file.error) + ".";
        case RegularFileText::kNotRegular:
            return "Tempo map file '" + path + "' is not a regular file.";
        case RegularFileText::kCannotRead:
            return "Can't read tempo map file '" + path + "': " + std::strerror(file.error) + ".";
        case RegularFileText::kRead:
            break;
    }
    if (file.text.size() > kMaxTempoMapFileBytes) {
        return "Tempo map file '" + path + "' is larger than 1 MiB.";
    }
    text = std::move(file.text);
    return "";
}

}  // namespace

Outcome READ_TMAP(const std::string& path, uint32_t rate, FILE* out,
                  std::vector<TempoMapEntry>& entries) {
    entries.clear();
    std::string text;
    const std::string readError = readMapFile(path, text);
    if (!readError.empty()) {
        std::fprintf(out, "%s\n", readError.c_str());
        return std::nullopt;
    }
    std::fputs("Parsing tmap file..\n", out);
    TempoMapText map = parseTempoMap(text);
    if (map.entryCount == 0) {
        // A lone entry cut short by the end of the file is no entry either.
        if (map.cutShort) std::fprintf(out, "%s\n", entryLine(1, kCutShort).c_str());
        return programError("Could not find tempo entries in map file.");
    }
    std::fprintf(out, "Found %i map entries.\n", static_cast<int>(map.entryCount));
    const std::vector<std::string> problems = checkTempoMap(map, rate);
    if (!problems.empty()) {
        reportUnusedTempoMap(out, problems);
        return std::nullopt;
    }
    entries = std::move(map.entries);
    return std::nullopt;
}

void reportUnusedTempoMap(FILE* out, const std::vector<std::string>& problems) {
    for (const std::string& line : problems) std::fprintf(out, "%s\n", line.c_str());
    std::fputs("The tempo map was not used.\n", out);
}
