#include "files/tempo_map.hpp"

#include <cerrno>
#include <cstring>
#include <optional>

#include "core/timing.hpp"
#include "core/user_text.hpp"
#include "core/value_rules.hpp"
#include "io/regular_file.hpp"
#include "files/tokens.hpp"

namespace {

// A field reads as C reads the number at its start, 0 when none does.
long long toInteger(std::string_view field) {
    return readWholeNumber(field, NumberForm::Prefix).value_or(0);
}

float toDecimal(std::string_view field) {
    return static_cast<float>(readDouble(field, NumberForm::Prefix).value_or(0.0));
}

constexpr const char* kCutShort = "cut short by the end of the file";

bool sectionFits(const TempoMapEntry& e, uint32_t rate) {
    return sectionWriteFrames(rate, e.tempo, e.beats, e.measures) &&
           sectionPlayFrames(rate, e.tempo, e.beats, e.measures);
}

}  // namespace

std::string entryLine(size_t number, const std::string& problem) {
    return "Tempo map entry " + std::to_string(number) + ": " + problem + ".";
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
        Rule rule = checkTempo(e.tempo, rate);
        if (!rule) rule = checkBeatsPerMeasure(e.beats);
        if (!rule) rule = checkMeasures(e.measures);
        if (!rule && !sectionFits(e, rate)) {
            rule = refusal("the section is too long (over 2147483647 samples)");
        }
        if (rule) problems.push_back(entryLine(i + 1, rule->detail));
    }
    return problems;
}

MapFileText readMapText(const std::string& path) {
    RegularFileText file = readRegularFile(path, kMaxTempoMapFileBytes + 1);
    switch (file.status) {
        case RegularFileText::Status::CannotOpen:
            return {"", fileFailure(path, file.error, "Can't open tempo map file '" + path + "': " +
                                                          std::strerror(file.error) + ".")};
        case RegularFileText::Status::NotRegular:
            return {"", fileFailure(path, file.error,
                                    "Tempo map file '" + path + "' is not a regular file.")};
        case RegularFileText::Status::CannotRead:
            return {"", fileFailure(path, file.error, "Can't read tempo map file '" + path + "': " +
                                                          std::strerror(file.error) + ".")};
        case RegularFileText::Status::Read:
            break;
    }
    if (file.text.size() > kMaxTempoMapFileBytes) {
        return {"", fileFailure(path, EFBIG, "Tempo map file '" + path + "' is larger than 1 MiB.")};
    }
    return {std::move(file.text), std::nullopt};
}

TempoMapFile readTempoMap(const std::string& path, uint32_t rate) {
    const MapFileText file = readMapText(path);
    if (file.problem) {
        TempoMapFile result;
        result.unreadable = file.problem;
        return result;
    }
    return tempoMapFromText(file.text, rate);
}

TempoMapFile tempoMapFromText(std::string_view text, uint32_t rate) {
    TempoMapFile result;
    TempoMapText map = parseTempoMap(text);
    result.entryCount = map.entryCount;
    if (map.entryCount == 0) {
        // A lone entry cut short by the end of the file is no entry either.
        if (map.cutShort) result.problems.push_back(entryLine(1, kCutShort));
        return result;
    }
    result.problems = checkTempoMap(map, rate);
    if (result.problems.empty()) result.entries = std::move(map.entries);
    return result;
}
