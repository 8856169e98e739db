// Text the user wrote, in files and on the command line: the numbers read
// from it, and the text itself as messages show it back.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

// How much a field must look like a number to be read as one.
enum class NumberForm {
    // As C's strtoll (base 10) and strtod read the start of a text: blanks
    // before the number, a sign, and for decimals hexadecimal, "inf" and
    // "nan" too. What follows the number is ignored, and so is the text from
    // a zero byte on. A whole number out of range is its nearest limit.
    Prefix,
    // The whole field in base 10: a sign, digits, and for decimals a point
    // and an exponent; no blanks, hexadecimal, "inf" or "nan".
    Strict,
    // Decimal digits and nothing else (a decimal may have one point).
    Digits,
};

// A whole number; none when the text holds none in the form, or, in the
// Strict and Digits forms, when it lies beyond long long.
std::optional<long long> readWholeNumber(std::string_view text, NumberForm form);

// A decimal, read at double precision or straight to float precision (which
// can round otherwise than narrowing the double). In every form a value too
// large comes back infinite and one too small 0 or subnormal, for the
// caller's own limits to refuse.
std::optional<double> readDouble(std::string_view text, NumberForm form);
std::optional<float> readFloat(std::string_view text, NumberForm form);

// The note a tempo counts, written before it: w, h, q, e or s (whole, half,
// quarter, eighth, sixteenth), a dot for a dotted note, then '='; "q.=52"
// counts dotted quarters.
struct CountedNote {
    int noteValue = 4;    // the note is a 1/noteValue note
    bool dotted = false;  // and half as long again

    // Quarter notes in one counted note: 0.5 for an eighth, 1.5 for q.
    double quarters() const { return 4.0 / noteValue * (dotted ? 1.5 : 1.0); }
};

// Takes the note from the front of `text` when one is written there; none,
// and `text` as it was, otherwise.
std::optional<CountedNote> takeCountedNote(std::string_view& text);

// A tempo as a dotted beat counts it, for people to read: "q.=" and the
// dotted notes a minute; a tempo of any other beat stays in quarter notes,
// with no prefix, as plain numbers are written.
struct CountedTempo {
    std::string prefix;
    double tempo = 0.0;
};
CountedTempo countedTempo(double quartersPerMinute, const CountedNote& beat);

// The note as a tempo names it: "q", "e", "q." ...
std::string noteName(const CountedNote& note);

// The number a person most likely wrote for a value read at single
// precision: the shortest decimal that reads back as `value`, at double
// precision. A tempo of 97.3 is 97.3, not the float's 97.30000305.
double decimalOf(float value);

// The float at the start of a text made only of the characters of the Strict
// form (digits, signs, points, e and E), and the text after it: for a pair
// such as "120-140".
struct LeadingFloat {
    float value;
    std::string_view rest;
};
std::optional<LeadingFloat> readLeadingFloat(std::string_view text);

// How a message shows text the user gave; the flags combine with |.
enum ShowFlags : unsigned {
    kShowQuoted = 1u << 0,              // inside single quotes
    kShowControlsAsQuestion = 1u << 1,  // control bytes (below 0x20, and 0x7f) as '?'
    kShowWithoutCr = 1u << 2,           // carriage returns left out
    kShowCutAtCharacter = 1u << 3,      // a cut backs up to the start of a UTF-8 character
};
constexpr size_t kShowAll = std::numeric_limits<size_t>::max();

// The text as a message shows it: at most `maxBytes` bytes of it (counted
// after carriage returns are left out), "..." after a text that was cut.
std::string shownText(std::string_view text, unsigned flags, size_t maxBytes = kShowAll);
