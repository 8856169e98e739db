// Numbers read from the user's text in each form, and that text as messages
// show it back.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "core/user_text.hpp"

namespace {

constexpr NumberForm P = NumberForm::Prefix, S = NumberForm::Strict, D = NumberForm::Digits;
constexpr std::nullopt_t no = std::nullopt;

TEST(UserText, EachFormReadsWholeNumbersAndDecimals) {
    const std::string big = "9223372036854775808", zero("7\0" "8", 3);
    const struct {
        std::string text;
        NumberForm form;
        std::optional<long long> whole;
        std::optional<double> decimal;
    } rows[] = {
        {"42", P, 42, 42.0}, {"+42", S, 42, 42.0}, {"-7", S, -7, -7.0}, {"042", D, 42, 42.0},
        {" 5", P, 5, 5.0}, {" 5", S, no, no}, {"5 ", P, 5, 5.0}, {"5 ", S, no, no},
        {"+7", D, no, no}, {"-9223372036854775809", P, LLONG_MIN, -0x1p63},
        {"0x1F", P, 0, 31.0}, {"0x1F", S, no, no}, {"0x1F", D, no, no},
        {"1e3", P, 1, 1000.0}, {"1e3", S, no, 1000.0}, {"1e3", D, no, no},
        {"1.2.3", P, 1, 1.2}, {"1.2.3", S, no, no}, {"1.2.3", D, no, no},
        {".5", S, no, 0.5}, {"5.", D, no, 5.0}, {".", D, no, no}, {"+-5", S, no, no},
        {"", P, no, no}, {"", S, no, no}, {"", D, no, no}, {"-", P, no, no}, {"-", S, no, no},
        {"inf", P, no, HUGE_VAL}, {"inf", S, no, no}, {"nan", S, no, no},
        {big, P, LLONG_MAX, 0x1p63}, {big, S, no, 0x1p63}, {big, D, no, 0x1p63},
        {"9223372036854775807", D, LLONG_MAX, 0x1p63},
        {"1e999", P, 1, HUGE_VAL}, {"1e999", S, no, HUGE_VAL}, {"1e-999", S, no, 0.0},
        {zero, P, 7, 7.0}, {zero, S, no, no},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::PrintToString(r.text) + " in form " + std::to_string(int(r.form)));
        EXPECT_EQ(readWholeNumber(r.text, r.form), r.whole);
        EXPECT_EQ(readDouble(r.text, r.form), r.decimal);
        EXPECT_EQ(readFloat(r.text, r.form).has_value(), r.decimal.has_value());
    }
    EXPECT_TRUE(std::isnan(readDouble("nan", P).value_or(0.0)));
    // Just above halfway between 1 and the next float: as a double it is
    // exactly halfway, and narrowing that rounds to 1.
    const char* half = "1.0000000596046447753906251";
    EXPECT_EQ(readFloat(half, S), std::nextafter(1.0f, 2.0f));
    EXPECT_EQ(static_cast<float>(*readDouble(half, S)), 1.0f);
}

TEST(UserText, LeadingFloatHandsBackTheRest) {
    EXPECT_EQ(readLeadingFloat("120-140")->value, 120.0f);
    EXPECT_EQ(readLeadingFloat("1e-5-2")->rest, "-2");
    EXPECT_EQ(readLeadingFloat("2.5")->rest, "");
    for (const char* none : {"", "-", "e5", " 5", "5 ", "inf", "0x1"}) {
        EXPECT_FALSE(readLeadingFloat(none)) << none;
    }
}

TEST(UserText, ShowsTextAsEachMessageNeeds) {
    const std::string a39(39, 'a'), a40(40, 'a'), e = "\xc3\xa9";  // a two-byte character
    const unsigned field = kShowQuoted | kShowControlsAsQuestion | kShowCutAtCharacter;
    const unsigned setting = kShowQuoted | kShowWithoutCr;
    const struct {
        std::string text;
        unsigned flags;
        size_t maxBytes;
        std::string shown;
    } rows[] = {
        {"my file.wav", kShowQuoted, kShowAll, "'my file.wav'"}, {"", kShowQuoted, kShowAll, "''"},
        {"a\tb\x7f\n" + e, kShowQuoted | kShowControlsAsQuestion, kShowAll, "'a?b??" + e + "'"},
        {"a\tb\x7f\r", 0, kShowAll, "a\tb\x7f\r"},
        // A character across the cut is cut through, or left out whole.
        {a39 + e + "z", 0, 40, a39 + "\xc3..."}, {a39 + e + "z", field, 40, "'" + a39 + "...'"},
        {a39 + e, field, 41, "'" + a39 + e + "'"}, {"\r" + a40, field, 40, "'?" + a39 + "...'"},
        // Carriage returns are left out before counting.
        {"4\r\n" + a40, setting, 40, "'4\n" + a40.substr(2) + "...'"},
        {a40 + "\r", setting, 40, "'" + a40 + "'"}, {a40 + "b", kShowWithoutCr, 40, a40 + "..."},
    };
    for (const auto& r : rows) {
        const std::string shown = shownText(r.text, r.flags, r.maxBytes);
        EXPECT_EQ(shown, r.shown) << ::testing::PrintToString(r.text);
    }
}

}  // namespace

TEST(UserText, AFloatReadsAsTheDecimalWrittenForIt) {
    for (const auto& [value, decimal] : std::vector<std::pair<float, double>>{
             {97.3f, 97.3}, {120.0f, 120.0}, {0.1f, 0.1}, {133.7f, 133.7}, {16777217.0f, 16777216.0}}) {
        EXPECT_EQ(decimalOf(value), decimal) << value;
        EXPECT_EQ(static_cast<float>(decimalOf(value)), value);
    }
}
