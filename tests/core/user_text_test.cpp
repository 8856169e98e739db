// Numbers read from the user's text in each form, and that text as messages
// show it back.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <optional>
#include <string>

#include "core/user_text.hpp"

namespace {

constexpr NumberForm P = NumberForm::Prefix;
constexpr NumberForm S = NumberForm::Strict;
constexpr NumberForm D = NumberForm::Digits;
constexpr std::nullopt_t no = std::nullopt;
const double inf = HUGE_VAL;

bool same(std::optional<double> a, std::optional<double> b) {
    return a == b || (a && b && std::isnan(*a) && std::isnan(*b));
}

TEST(UserText, EachFormReadsWholeNumbersAndDecimals) {
    struct Row {
        std::string text;
        NumberForm form;
        std::optional<long long> whole;
        std::optional<double> decimal;
    };
    const Row rows[] = {
        {"42", P, 42, 42.0}, {"42", S, 42, 42.0}, {"042", D, 42, 42.0},
        {" 5", P, 5, 5.0}, {" 5", S, no, no}, {" 5", D, no, no},
        {"5 ", P, 5, 5.0}, {"5 ", S, no, no}, {"5 ", D, no, no},
        {"-7", P, -7, -7.0}, {"+7", S, 7, 7.0}, {"-7", S, -7, -7.0}, {"+7", D, no, no},
        {"0x1F", P, 0, 31.0}, {"0x1F", S, no, no}, {"0x1F", D, no, no},
        {"1e3", P, 1, 1000.0}, {"1e3", S, no, 1000.0}, {"1e3", D, no, no},
        {"1.2.3", P, 1, 1.2}, {"1.2.3", S, no, no}, {"1.2.3", D, no, no},
        {".5", S, no, 0.5}, {"5.", D, no, 5.0}, {".", D, no, no},
        {"", P, no, no}, {"", S, no, no}, {"", D, no, no},
        {"-", P, no, no}, {"-", S, no, no}, {"+-5", S, no, no},
        {"inf", P, no, inf}, {"inf", S, no, no}, {"nan", P, no, NAN}, {"nan", S, no, no},
        {"9223372036854775807", D, LLONG_MAX, 9223372036854775807.0},
        {"9223372036854775808", P, LLONG_MAX, 9223372036854775808.0},
        {"9223372036854775808", S, no, 9223372036854775808.0},
        {"9223372036854775808", D, no, 9223372036854775808.0},
        {"-9223372036854775809", P, LLONG_MIN, -9223372036854775809.0},
        {"1e999", P, 1, inf}, {"1e999", S, no, inf}, {"1e-999", S, no, 0.0},
        {std::string("7\0" "8", 3), P, 7, 7.0}, {std::string("7\0" "8", 3), S, no, no},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::PrintToString(r.text) + " form " + std::to_string(int(r.form)));
        EXPECT_EQ(readWholeNumber(r.text, r.form), r.whole);
        EXPECT_TRUE(same(readDouble(r.text, r.form), r.decimal));
        const std::optional<float> f = readFloat(r.text, r.form);
        EXPECT_EQ(f.has_value(), r.decimal.has_value());
    }
}

TEST(UserText, FloatsAreReadStraightToFloatPrecision) {
    // Just above halfway between 1 and the next float: as a double it is
    // exactly halfway, and narrowing that rounds down to 1.
    const char* text = "1.0000000596046447753906251";
    EXPECT_EQ(readFloat(text, S), std::nextafter(1.0f, 2.0f));
    EXPECT_EQ(static_cast<float>(*readDouble(text, S)), 1.0f);
}

TEST(UserText, LeadingFloatHandsBackTheRest) {
    EXPECT_EQ(readLeadingFloat("120-140")->value, 120.0f);
    EXPECT_EQ(readLeadingFloat("120-140")->rest, "-140");
    EXPECT_EQ(readLeadingFloat("1e-5-2")->rest, "-2");
    EXPECT_EQ(readLeadingFloat("2.5")->rest, "");
    for (const char* none : {"", "-", "e5", " 5", "5 ", "inf", "0x1"}) {
        EXPECT_FALSE(readLeadingFloat(none)) << none;
    }
}

TEST(UserText, ShowsTextAsEachMessageNeeds) {
    const std::string a39(39, 'a');
    const std::string a40(40, 'a');
    const unsigned field = kShowQuoted | kShowControlsAsQuestion | kShowCutAtCharacter;
    struct Row {
        std::string text;
        unsigned flags;
        size_t maxBytes;
        std::string shown;
    };
    const Row rows[] = {
        {"my file.wav", kShowQuoted, kShowAll, "'my file.wav'"},
        {"", kShowQuoted, kShowAll, "''"},
        {"a\tb\x7f\n\xc3\xa9", kShowQuoted | kShowControlsAsQuestion, kShowAll, "'a?b??\xc3\xa9'"},
        {"a\tb\x7f", 0, kShowAll, "a\tb\x7f"},
        // A two-byte character across the cut: kept whole or left out.
        {a39 + "\xc3\xa9z", 0, 40, a39 + "\xc3..."},
        {a39 + "\xc3\xa9z", field, 40, "'" + a39 + "...'"},
        {a39 + "\xc3\xa9", field, 41, "'" + a39 + "\xc3\xa9'"},
        {"\r" + a40 + "\r", field, 40, "'?" + a39 + "...'"},
        // Carriage returns are left out before counting.
        {"4\r\n" + a40 + "\r", kShowQuoted | kShowWithoutCr, 40, "'4\n" + a40.substr(2) + "...'"},
        {a40 + "\r", kShowQuoted | kShowWithoutCr, 40, "'" + a40 + "'"},
        {a40 + "b", kShowWithoutCr, 40, a40 + "..."},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(shownText(r.text, r.flags, r.maxBytes), r.shown) << ::testing::PrintToString(r.text);
    }
}

}  // namespace
