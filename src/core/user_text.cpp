#include "core/user_text.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kDecimalCharacters = "0123456789.eE+-";

bool allOf(std::string_view text, std::string_view characters) {
    return !text.empty() && text.find_first_not_of(characters) == std::string_view::npos;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// What C makes of the start of a text: the value, how many bytes it took and
// whether it lay out of range; none when no number starts there.
template <typename T>
struct Scan {
    T value;
    size_t length;
    bool outOfRange;
};

template <typename T, typename Read>
std::optional<Scan<T>> scan(std::string_view text, Read read) {
    const std::string field(text);  // C reads up to a terminating zero
    char* end = nullptr;
    errno = 0;
    const T value = read(field.c_str(), &end);
    if (end == field.c_str()) return std::nullopt;
    return Scan<T>{value, static_cast<size_t>(end - field.c_str()), errno == ERANGE};
}

// `shaped`: whether the text has the characters the form allows. Outside the
// Prefix form the number must take the whole text, and a whole number must
// be in range.
template <typename T, typename Read>
std::optional<T> readNumber(std::string_view text, NumberForm form, bool shaped, Read read) {
    if (!shaped) return std::nullopt;
    const std::optional<Scan<T>> s = scan<T>(text, read);
    if (!s) return std::nullopt;
    if (form != NumberForm::Prefix) {
        constexpr bool whole = std::numeric_limits<T>::is_integer;
        if (s->length != text.size() || (whole && s->outOfRange)) return std::nullopt;
    }
    return s->value;
}

bool wholeNumberShaped(std::string_view text, NumberForm form) {
    switch (form) {
        case NumberForm::Prefix: return true;
        case NumberForm::Strict: {
            const bool sign = !text.empty() && (text[0] == '+' || text[0] == '-');
            return text.size() > (sign ? 1u : 0u) && isDigit(text[sign ? 1 : 0]);
        }
        case NumberForm::Digits: return allOf(text, kDigits);
    }
    return false;
}

bool decimalShaped(std::string_view text, NumberForm form) {
    switch (form) {
        case NumberForm::Prefix: return true;
        case NumberForm::Strict: return allOf(text, kDecimalCharacters);
        // A second point, or none but points, is no number that takes the whole text.
        case NumberForm::Digits: return allOf(text, "0123456789.");
    }
    return false;
}

long long cWhole(const char* s, char** end) { return std::strtoll(s, end, 10); }
double cDouble(const char* s, char** end) { return std::strtod(s, end); }
float cFloat(const char* s, char** end) { return std::strtof(s, end); }

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool continuesCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::optional<long long> readWholeNumber(std::string_view text, NumberForm form) {
    return readNumber<long long>(text, form, wholeNumberShaped(text, form), cWhole);
}

std::optional<double> readDouble(std::string_view text, NumberForm form) {
    return readNumber<double>(text, form, decimalShaped(text, form), cDouble);
}

std::optional<float> readFloat(std::string_view text, NumberForm form) {
    return readNumber<float>(text, form, decimalShaped(text, form), cFloat);
}

std::optional<LeadingFloat> readLeadingFloat(std::string_view text) {
    if (!allOf(text, kDecimalCharacters)) return std::nullopt;
    const std::optional<Scan<float>> s = scan<float>(text, cFloat);
    if (!s) return std::nullopt;
    return LeadingFloat{s->value, text.substr(s->length)};
}

std::string shownText(std::string_view text, unsigned flags, size_t maxBytes) {
    std::string withoutCr;
    if (flags & kShowWithoutCr) {
        std::copy_if(text.begin(), text.end(), std::back_inserter(withoutCr),
                     [](char c) { return c != '\r'; });
        text = withoutCr;
    }
    size_t size = std::min(text.size(), maxBytes);
    if ((flags & kShowCutAtCharacter) && size < text.size()) {
        while (size > 0 && continuesCharacter(text[size])) --size;
    }
    std::string out = (flags & kShowQuoted) ? "'" : "";
    for (const char c : text.substr(0, size)) {
        out += (flags & kShowControlsAsQuestion) && isControl(c) ? '?' : c;
    }
    if (size < text.size()) out += "...";
    if (flags & kShowQuoted) out += '\'';
    return out;
}

double decimalOf(float value) {
    if (!std::isfinite(value)) return static_cast<double>(value);
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) return std::strtod(text, nullptr);
    }
    return static_cast<double>(value);
}

namespace {

const struct {
    char letter;
    int noteValue;
} kNotes[] = {{'w', 1}, {'h', 2}, {'q', 4}, {'e', 8}, {'s', 16}};

}  // namespace

std::optional<CountedNote> takeCountedNote(std::string_view& text) {
    if (text.size() < 2) return std::nullopt;
    for (const auto& n : kNotes) {
        if (text[0] != n.letter) continue;
        const bool dotted = text[1] == '.';
        const size_t equals = dotted ? 2 : 1;
        if (text.size() <= equals || text[equals] != '=') return std::nullopt;
        text.remove_prefix(equals + 1);
        return CountedNote{n.noteValue, dotted};
    }
    return std::nullopt;
}

std::string noteName(const CountedNote& note) {
    for (const auto& n : kNotes) {
        if (n.noteValue == note.noteValue) return std::string(1, n.letter) + (note.dotted ? "." : "");
    }
    return "";
}

CountedTempo countedTempo(double quartersPerMinute, const CountedNote& beat) {
    const std::string name = noteName(beat);
    if (!beat.dotted || name.empty()) return {"", quartersPerMinute};
    return {name + "=", quartersPerMinute / beat.quarters()};
}
