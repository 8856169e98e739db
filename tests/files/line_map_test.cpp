// Tempo maps in the line format: the sections read from good lines, the
// message for the first line that cannot be read, and telling the two map
// formats apart.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "files/line_map.hpp"

namespace {

const char* const kExample =
    "intro:    8 120           # 8 measures of 4/4 at 120\n"
    "verse:    12 120 X.x.     # only beats 1 and 3\n"
    "          4 120-140 X.x.  # speeding up to 140\n"
    "bridge:   8 3/4 140 0.5   # 3/4, half volume\n"
    "outro:    2 140-80        # slowing down over the last 2 measures\n";

void expectSections(const std::string& text, const std::vector<LineMapSection>& expected) {
    SCOPED_TRACE(::testing::PrintToString(text));
    const LineMap map = parseLineMap(text);
    EXPECT_EQ(map.error, std::nullopt);
    ASSERT_EQ(map.sections.size(), expected.size());
    const auto fields = [](const LineMapSection& s) {
        return std::tie(s.label, s.measures, s.beats, s.noteValue, s.tempos, s.ramp, s.pattern,
                        s.volume, s.line, s.dotted);
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fields(map.sections[i]), fields(expected[i])) << "section " << i + 1;
    }
}

TEST(LineMap, ReadsEveryFieldOfGoodLines) {
    expectSections(kExample, {{"intro", 8, 4, 4, {120}, false, "", 1.0, 1},
                              {"verse", 12, 4, 4, {120}, false, "X.x.", 1.0, 2},
                              {"", 4, 4, 4, {120, 140}, true, "X.x.", 1.0, 3},
                              {"bridge", 8, 3, 4, {140}, false, "", 0.5, 4},
                              {"outro", 2, 4, 4, {140, 80}, true, "", 1.0, 5}});
    const std::pair<const char*, LineMapSection> rows[] = {
        {"\n# only a comment\n\t \n1 92.5", {"", 1, 4, 4, {92.5}, false, "", 1.0, 4}},
        {"a:\t2\t6/8\t60\tX..x..\t1.0\r\n", {"a", 2, 6, 8, {60}, false, "X..x..", 1.0, 1}},
        {"Verse 1: 8 96", {"Verse 1", 8, 4, 4, {96}, false, "", 1.0, 1}},
        {" \t Last  chorus \t:2 3/4 90#: no label", {"Last  chorus", 2, 3, 4, {90}, false, "", 1.0, 1}},
        {"1 2/2 100,110 .x 0.25#c", {"", 1, 2, 2, {100, 110}, false, ".x", 0.25, 1}},
        {"010 64/64 10000 1", {"", 10, 64, 64, {10000}, false, "", 1.0, 1}},
        {"2147483647 1/1 .5-1. x", {"", 2147483647, 1, 1, {0.5, 1}, true, "x", 1.0, 1}},
        // A tempo that names its note: that note is the beat, the tempos
        // count quarters.
        {"2 6/8 q.=52 Xx", {"", 2, 2, 4, {78}, false, "Xx", 1.0, 1, true}},
        {"1 4/4 e=240-200", {"", 1, 8, 8, {120, 100}, true, "", 1.0, 1}},
        {"1 h=60,30", {"", 1, 2, 2, {120, 60}, false, "", 1.0, 1}},
        {"1 12/8 e.=100", {"", 1, 8, 8, {75}, false, "", 1.0, 1, true}},
    };
    for (const auto& [text, section] : rows) expectSections(text, {section});
    // trainer= and mute= anywhere after the tempo; the trainer steps in
    // the note the tempo counts.
    for (const char* text : {"1 6/8 q.=60 trainer=+2.5/4:70 Xx 0.5 mute=3/1",
                             "1 6/8 q.=60 mute=3/1 Xx trainer=+2.5/4:70 0.5"}) {
        const LineMap map = parseLineMap(text);
        ASSERT_EQ(map.error, std::nullopt) << text;
        const LineMapSection& s = map.sections.at(0);
        EXPECT_EQ(std::tie(s.pattern, s.volume, s.countedQuarters), std::make_tuple("Xx", 0.5, 1.5)) << text;
        EXPECT_EQ(std::tie(s.trainer->step, s.trainer->bars, s.trainer->limit),
                  std::make_tuple(2.5, 4, std::optional<double>(70.0))) << text;
        EXPECT_EQ(std::tie(s.mute->on, s.mute->off), std::make_tuple(3, 1)) << text;
    }
}

TEST(LineMap, RefusesTheFirstBadLineWithWhatWasExpected) {
    const std::string tempo =
        "a tempo above 0 and at most 10000 (a number, A-B, or one tempo for each beat)";
    const std::string meter =
        "a meter beats/note of 1 to 64 beats and a note of 1, 2, 4, 8, 16, 32 or 64";
    const std::string measures = "a number of measures from 1 to 2147483647";
    const std::pair<std::string, std::string> rows[] = {
        {"# nothing\n\n", "no sections found."},
        {"1 120\n\n3 fast\n4 x", "line 3: " + tempo + ", not 'fast'."},
        {": 1 120", "line 1: a label before the ':', not ':'."},
        {" \t : 1 120", "line 1: a label before the ':', not ':'."},
        {"a:b: 1 120", "line 1: " + measures + ", not 'b:'."},
        {"Verse\t1: 1 120", "line 1: a label without control characters, not 'Verse?1:'."},
        {"intro:", "line 1: " + measures + ", not ''."},
        {"1 3/4", "line 1: " + tempo + ", not ''."},
        {"2 3/4 1,2,3,4,5",
         "line 1: 6 tempos, one for each beat of 2 x 3, not the 5 of '1,2,3,4,5'."},
        {"1 2/4 60,60,60", "line 1: 2 tempos, one for each beat of 1 x 2, not the 3 of '60,60,60'."},
        {"1 120\nver\x01se: 1 120", "line 2: a label without control characters, not 'ver?se:'."},
        {"1 120 X.x", "line 1: a pattern of 4 beats (X accent, x normal, o soft, . silent), not 'X.x'."},
        {"1 120 loud", "line 1: a pattern of X, x, o and . or a volume, not 'loud'."},
        {"1 120 X... X...", "line 1: a volume, not 'X...'."},
        {"1 120 1.5", "line 1: volume must be above 0 and at most 1.0, not '1.5'."},
        {"1 120 0", "line 1: volume must be above 0 and at most 1.0, not '0'."},
        {"1 120 0.5 X...", "line 1: the end of the line or a # comment, not 'X...'."},
        {"1 120\r\r\n", "line 1: " + tempo + ", not '120?'."},
        {"1 7/8 q.=52", "line 1: a note the measure holds a whole number of (up to 64) times, not 'q.=52'."},
        {"1 q=", "line 1: " + tempo + ", not ''."},
        {"1 120 trainer=+0/4", "line 1: trainer=" + std::string(kTrainerForm) + ", not 'trainer=+0/4'."},
        {"1 120 X... mute=1", "line 1: mute=" + std::string(kMuteForm) + ", not 'mute=1'."},
        {"1 120 mute=1/1 0.5 mute=2/1", "line 1: one mute= field, not 'mute=2/1'."},
        {"1 120 trainer=+1/1 trainer=+1/1", "line 1: one trainer= field, not 'trainer=+1/1'."},
        {"1 120 0.5 trainer=+1/1 X...", "line 1: the end of the line or a # comment, not 'X...'."},
        {"1 " + std::string(50, '9'),
         "line 1: " + tempo + ", not '" + std::string(40, '9') + "...'."},
    };
    std::vector<std::pair<std::string, std::string>> table(std::begin(rows), std::end(rows));
    const auto refused = [&](const std::string& line, const std::string& expected,
                             const std::string& field) {
        table.push_back({line, "line 1: " + expected + ", not '" + field + "'."});
    };
    for (const char* field : {"0", "2147483648", "+1", "1.5"}) {
        refused(std::string(field) + " 120", measures, field);
    }
    for (const char* field : {"0/4", "65/4", "3/6", "3/", "/4", "3/0.5"}) {
        refused(std::string("1 ") + field + " 1", meter, field);
    }
    for (const char* field : {"0", "10000.5", "1e2", "0x10", "inf", "nan", "1..2", "120-", "-120",
                              "80-90-100", "80,,90,100", "120,"}) {
        refused(std::string("1 ") + field, tempo, field);
    }
    for (const auto& [text, message] : table) {
        const LineMap map = parseLineMap(text);
        EXPECT_EQ(map.error, message) << ::testing::PrintToString(text);
        EXPECT_TRUE(map.sections.empty());
    }
}

TEST(LineMap, AtMost4096Sections) {
    std::string text;
    for (int i = 0; i < 4096; ++i) text += "1 120\n";
    EXPECT_EQ(parseLineMap(text).sections.size(), 4096u);
    EXPECT_EQ(parseLineMap(text + "\n2 90 # more\n").error,
              "line 4098: at most 4096 sections, not '2 90'.");
}

TEST(LineMap, TellsTheTwoFormatsApart) {
    EXPECT_TRUE(isLineMap(kExample));
    EXPECT_TRUE(isLineMap("tmap 120\t4\t48\n# tmap:\n1 120 # tmapx\r\n"));
    EXPECT_TRUE(isLineMap(std::string("1 120\n\0tmap\t120\t4\t48\n", 22)));
    EXPECT_FALSE(isLineMap("tmap\t120\t4\t48\ntmap\t160\t3\t16\n"));
    EXPECT_FALSE(isLineMap("intro: 8 120\ntmap\n"));
}

}  // namespace
