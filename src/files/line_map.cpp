#include "files/line_map.hpp"

#include <algorithm>

#include "core/user_text.hpp"
#include "files/tokens.hpp"

namespace {

// A field as a message shows it: quoted, on one line, at most 40 bytes
// (cut at the start of a character).
std::string shown(std::string_view text) {
    return shownText(text, kShowQuoted | kShowControlsAsQuestion | kShowCutAtCharacter, 40);
}

std::string refusal(size_t line, const std::string& expected, std::string_view text) {
    return "line " + std::to_string(line) + ": " + expected + ", not " + shown(text) + ".";
}

bool allOf(std::string_view field, std::string_view characters) {
    return !field.empty() && field.find_first_not_of(characters) == std::string_view::npos;
}

// A whole number of decimal digits, nothing else, within [low, high].
std::optional<int64_t> wholeNumber(std::string_view field, int64_t low, int64_t high) {
    const std::optional<long long> value = readWholeNumber(field, NumberForm::Digits);
    if (!value || *value < low || *value > high) return std::nullopt;
    return *value;
}

// Digits with at most one decimal point: no sign, exponent, hex, inf or nan.
std::optional<double> decimal(std::string_view field) {
    return readDouble(field, NumberForm::Digits);
}

std::optional<double> tempo(std::string_view field) {
    const auto value = decimal(field);
    if (!value || !(*value > 0.0 && *value <= kMaxLineMapTempo)) return std::nullopt;
    return value;
}

constexpr const char* kTempo =
    "a tempo above 0 and at most 10000 (a number, A-B, or one tempo for each beat)";

// Reads the tempo field into `s`; the reason when it cannot.
std::optional<std::string> readTempos(std::string_view field, size_t line, LineMapSection& s) {
    if (field.find(',') != std::string_view::npos) {
        size_t start = 0;
        while (true) {
            const size_t comma = std::min(field.find(',', start), field.size());
            const auto value = tempo(field.substr(start, comma - start));
            if (!value) return refusal(line, kTempo, field);
            s.tempos.push_back(*value);
            if (comma == field.size()) break;
            start = comma + 1;
        }
        const int64_t beats = s.measures * s.beats;  // at most 2^31 x 64
        if (static_cast<int64_t>(s.tempos.size()) == beats) return std::nullopt;
        return "line " + std::to_string(line) + ": " + std::to_string(beats) +
               " tempos, one for each beat of " + std::to_string(s.measures) + " x " +
               std::to_string(s.beats) + ", not the " + std::to_string(s.tempos.size()) +
               " of " + shown(field) + ".";
    }
    const size_t dash = field.find('-');
    s.ramp = dash != std::string_view::npos;
    const auto first = tempo(field.substr(0, dash));
    const auto last = s.ramp ? tempo(field.substr(dash + 1)) : first;
    if (!first || !last) return refusal(line, kTempo, field);
    s.tempos.push_back(*first);
    if (s.ramp) s.tempos.push_back(*last);
    return std::nullopt;
}

bool isPractice(std::string_view field) {
    return field.substr(0, 8) == "trainer=" || field.substr(0, 5) == "mute=";
}

// Reads a trainer= or mute= field into `s`; the reason when it cannot.
std::optional<std::string> readPractice(std::string_view field, size_t line, LineMapSection& s) {
    if (field.substr(0, 8) == "trainer=") {
        if (s.trainer) return refusal(line, "one trainer= field", field);
        s.trainer = readTrainer(field.substr(8));
        if (!s.trainer) return refusal(line, std::string("trainer=") + kTrainerForm, field);
        return std::nullopt;
    }
    if (s.mute) return refusal(line, "one mute= field", field);
    s.mute = readMuteCycle(field.substr(5));
    if (!s.mute) return refusal(line, std::string("mute=") + kMuteForm, field);
    return std::nullopt;
}

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// Reads the text of line `line` into `s`; the reason when it is not a
// section. The label is all before the first colon, less the blanks around it.
std::optional<std::string> readSection(std::string_view text, size_t line, LineMapSection& s) {
    size_t colon = text.find(':');
    // A trainer's limit is no label: "8 100 trainer=+2/4:140".
    const size_t blank = colon == std::string_view::npos ? 0 : text.find_last_of(" \t", colon);
    if (isPractice(text.substr(blank == std::string_view::npos ? 0 : blank + 1))) {
        colon = std::string_view::npos;
    }
    if (colon != std::string_view::npos) {
        const std::string_view written = trimmed(text.substr(0, colon + 1));
        const std::string_view label = trimmed(text.substr(0, colon));
        if (label.empty()) return refusal(line, "a label before the ':'", written);
        // A label goes into the files a recorder reads: no control bytes, no zero byte.
        if (std::any_of(label.begin(), label.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
            })) {
            return refusal(line, "a label without control characters", written);
        }
        s.label = std::string(label);
        text.remove_prefix(colon + 1);
    }
    Tokens fields(text);
    auto field = fields.next(" \t");
    const std::string_view measures = field.value_or("");
    const auto count = wholeNumber(measures, 1, kMaxLineMapMeasures);
    if (!count) return refusal(line, "a number of measures from 1 to 2147483647", measures);
    s.measures = *count;

    field = fields.next(" \t");
    if (field && field->find('/') != std::string_view::npos) {
        const size_t slash = field->find('/');
        const auto beats = wholeNumber(field->substr(0, slash), 1, kMaxLineMapBeats);
        const auto note = wholeNumber(field->substr(slash + 1), 1, kMaxLineMapNoteValue);
        if (!beats || !note || (*note & (*note - 1)) != 0) {
            return refusal(line,
                           "a meter beats/note of 1 to 64 beats and a note of 1, 2, 4, 8, 16, "
                           "32 or 64",
                           *field);
        }
        s.beats = *beats;
        s.noteValue = *note;
        field = fields.next(" \t");
    }
    if (!field) return refusal(line, kTempo, "");
    std::string_view tempoField = *field;
    const std::optional<CountedNote> counted = takeCountedNote(tempoField);
    if (counted) {
        // The tempo counts its own note, and that note is the beat: a 6/8
        // measure at q.=52 has two beats of three eighths.
        const int64_t top = s.beats * counted->noteValue * 2;
        const int64_t bottom = s.noteValue * (counted->dotted ? 3 : 2);
        if (top % bottom != 0 || top / bottom > kMaxLineMapBeats) {
            return refusal(line, "a note the measure holds a whole number of (up to 64) times",
                           *field);
        }
        s.beats = top / bottom;
        s.noteValue = counted->noteValue;
        s.dotted = counted->dotted;
    }
    if (auto why = readTempos(tempoField, line, s)) return why;
    if (counted) {
        s.countedQuarters = counted->quarters();
        for (double& t : s.tempos) t *= counted->quarters();
    }

    // The pattern and the volume follow in that order, trainer= and mute=
    // anywhere among them.
    std::optional<std::string> why;
    const auto plain = [&]() -> std::optional<std::string_view> {
        while (const auto next = fields.next(" \t")) {
            if (!isPractice(*next)) return next;
            if ((why = readPractice(*next, line, s))) break;
        }
        return std::nullopt;
    };
    field = plain();
    if (why) return why;
    if (field && allOf(*field, "Xxo.")) {
        if (static_cast<int64_t>(field->size()) != s.beats) {
            return refusal(line, "a pattern of " + std::to_string(s.beats) +
                                     " beats (X accent, x normal, o soft, . silent)", *field);
        }
        s.pattern = std::string(*field);
        field = plain();
        if (why) return why;
    }
    if (field) {
        const auto volume = decimal(*field);
        if (!volume) {
            return refusal(line, s.pattern.empty() ? "a pattern of X, x, o and . or a volume"
                                                   : "a volume", *field);
        }
        if (!(*volume > 0.0 && *volume <= 1.0)) {
            return refusal(line, "volume must be above 0 and at most 1.0", *field);
        }
        s.volume = *volume;
        field = plain();
        if (why) return why;
    }
    if (field) return refusal(line, "the end of the line or a # comment", *field);
    return std::nullopt;
}

}  // namespace

bool isLineMap(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        // A "tmap" in a comment (a '#' that starts a word) is no entry of
        // the menu's format.
        const std::string_view line = text.substr(start, end - start);
        size_t comment = line.find('#');
        while (comment != std::string_view::npos && comment > 0 && line[comment - 1] != ' ' &&
               line[comment - 1] != '\t') {
            comment = line.find('#', comment + 1);
        }
        Tokens tokens(line.substr(0, comment));
        while (const auto token = tokens.next("\t")) {
            if (*token == "tmap") return false;
        }
        start = end + 1;
    }
    return true;
}

LineMap parseLineMap(std::string_view text) {
    LineMap map;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        const size_t before = map.sections.size();
        if (before == kMaxLineMapSections) {
            map.error = refusal(number, "at most 4096 sections", line);
        } else {
            LineMapSection section;
            section.line = number;
            map.error = readSection(line, number, section);
            map.sections.push_back(std::move(section));
        }
        if (map.error) {
            map.sectionsRead = before;
            map.sections.clear();
            return map;
        }
    }
    if (map.sections.empty()) map.error = "no sections found.";
    return map;
}
