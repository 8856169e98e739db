// The planner: a song in, the frame and kind of every click and where each
// section starts out, under both rounding rules; and what the device plays.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.hpp"
#include "track/map_reading.hpp"
#include "track/planner.hpp"
#include "track/practice.hpp"

namespace {

SongSection section(int64_t measures, int64_t beats, std::vector<double> tempos, bool ramp = false) {
    SongSection s;
    s.measures = measures;
    s.beatsPerMeasure = beats;
    s.tempos = std::move(tempos);
    s.ramp = ramp;
    return s;
}

// "frame:kind" for every click, kinds as a pattern writes them (s for a subdivision).
std::string clicksOf(const Song& song, uint32_t rate, std::vector<int64_t>* starts = nullptr) {
    BeatSchedule schedule(planFile(song, rate, 0));
    std::string text;
    BeatEvent e;
    while (schedule.next(e)) {
        const char kind = e.kind == ClickKind::Accent ? 'X' : e.kind == ClickKind::Silent ? '.'
                          : e.kind == ClickKind::Subdivision ? 's' : 'x';
        text += std::to_string(e.frame) + ":" + kind + " ";
    }
    if (starts) *starts = schedule.sectionStarts();
    return text + "end " + std::to_string(schedule.end());
}

TEST(Planner, LaysEveryClickOfASongUnderBothRules) {
    // 10 frames a second: a beat at 60 quarter notes a minute is 10 frames.
    Song grid;
    grid.rounding = Rounding::MenuGrid;
    grid.sections = {section(1, 3, {60.0})};
    grid.sections[0].menuSeconds = 3.0f;
    grid.sections[0].pattern = "X.x";
    grid.subdivide = 2;
    SongSection count = grid.sections[0];  // a count-in of the grid, its first beat accented
    count.countIn = true;
    count.pattern.clear();
    count.accentFirst = true;
    grid.sections.insert(grid.sections.begin(), count);
    std::vector<int64_t> starts;
    EXPECT_EQ(clicksOf(grid, 10, &starts),
              "0:X 5:s 10:x 15:s 20:x 25:s 30:X 35:s 40:. 50:x 55:s end 60");
    EXPECT_EQ(starts, (std::vector<int64_t>{0, 30}));

    // Exact: eighths at 120, then a change from 60 to 120 over 2 beats (the
    // time to beat k is 240 k / (L d), L the logarithmic mean of 60 and the
    // tempo at k), then a tempo for each beat.
    Song exact;
    exact.sections = {section(1, 2, {120.0}), section(1, 2, {60.0, 120.0}, true),
                      section(1, 2, {30.0, 60.0})};
    exact.sections[0].noteValue = 8;
    exact.sections[1].accentFirst = true;
    const double rampBeat = 60.0 / ((60.0 - 90.0) / (std::log(60.0) - std::log(90.0)));
    const double rampEnd = 120.0 / ((60.0 - 120.0) / (std::log(60.0) - std::log(120.0)));
    const int64_t b1 = 5 + std::llround(rampBeat * 10), b2 = 5 + std::llround(rampEnd * 10);
    EXPECT_EQ(clicksOf(exact, 10, &starts),
              "0:x 3:x 5:X " + std::to_string(b1) + ":x " + std::to_string(b2) + ":x " +
                  std::to_string(b2 + 20) + ":x end " + std::to_string(b2 + 30));
    EXPECT_EQ(starts, (std::vector<int64_t>{0, 5, b2}));
    EXPECT_DOUBLE_EQ(exactSeconds(exact), 0.5 + rampEnd + 3.0);
    EXPECT_EQ(sectionNames(grid), (std::vector<std::string>{"Count-in", "Section 1"}));
}

TEST(Planner, PlansTheDeviceAsEachRuleWants) {
    Song map;
    map.rounding = Rounding::MenuGrid;
    map.fromMap = true;
    map.sections = {section(2, 4, {120.0}), section(1, 3, {60.0})};
    // Each section alone, with the double-precision beat; the audition
    // length cuts the map short and drops the sections it never reaches.
    const std::vector<DevicePlay> whole = planDevice(map, 44100, std::nullopt);
    ASSERT_EQ(whole.size(), 2u);
    EXPECT_EQ(whole[1].sections.front().beatLength, 44100);
    EXPECT_EQ(*whole[0].total, 176400);
    EXPECT_EQ(*whole[1].total, 132300);
    const std::vector<DevicePlay> cut = planDevice(map, 44100, 3.0f);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(*cut[0].total, 132300);
    // One tempo: the length the menu keeps.
    Song one = map;
    one.fromMap = false;
    one.sections.resize(1);
    one.sections[0].menuSeconds = 4.0f;
    EXPECT_EQ(*planDevice(one, 44100, std::nullopt)[0].total, 176400);
    // Exact: the whole song in one play, up to its end.
    Song exact;
    exact.sections = {section(1, 4, {120.0}), section(1, 2, {60.0})};
    EXPECT_EQ(*planDevice(exact, 48000, std::nullopt)[0].total, 192000);
    EXPECT_FALSE(silentSong(exact));
    exact.sections = {section(0, 4, {120.0})};
    addCountIn(exact, 2, std::nullopt);
    EXPECT_TRUE(silentSong(exact));
}

TEST(Planner, SubdivisionsNeverReachTheNextBeatHoweverShortTheBeat) {
    // 16 clicks a beat in beats of 3 frames: the extra clicks that would
    // round onto a beat are left out, and every click has a frame of its own.
    Song song;
    song.sections = {section(1, 4, {200.0})};
    song.subdivide = 16;
    EXPECT_EQ(clicksOf(song, 10),
              "0:x 1:s 2:s 3:x 4:s 5:s 6:x 7:s 8:s 9:x 10:s 11:s end 12");
}

TEST(Planner, ACountInIsTheFirstSectionsMeterAtItsFirstTempoAndFullLevel) {
    Song song;
    song.sections = {section(1, 2, {60.0, 120.0}, true)};
    song.sections[0].noteValue = 8;
    song.sections[0].level = 0.5;
    addCountIn(song, 1, std::nullopt);
    const std::vector<ScheduledSection> planned = planFile(song, 10, 0);
    ASSERT_EQ(planned.size(), 2u);
    EXPECT_EQ(planned[0].tempos, std::vector<double>{60.0});
    EXPECT_FALSE(planned[0].ramp);
    EXPECT_EQ(planned[0].beatCount, 2);
    EXPECT_EQ(planned[0].noteValue, 8.0);
    EXPECT_EQ(planned[0].voice, 0u);
    EXPECT_EQ(planned[1].voice, 1u);
    // Two eighths at 60 (1 s), then 60 to 120 over two eighths (60 / L s):
    // the device plays the count-in too.
    const double ramp = 60.0 / ((60.0 - 120.0) / (std::log(60.0) - std::log(120.0)));
    EXPECT_EQ(*planDevice(song, 10, std::nullopt)[0].total, std::llround((1.0 + ramp) * 10));

    // Its clicks: the first section's pattern, or a pattern of its own; its
    // first beat accented when the pattern has no accent.
    const struct {
        std::string sectionPattern;
        bool accentFirst;
        std::optional<std::string> own;
        std::string pattern;  // the count-in's
        bool countInAccentFirst;
    } table[] = {{"", false, std::nullopt, "", true},
                 {"", true, std::nullopt, "", true},
                 {"xx.x", false, std::nullopt, "Xx.x", false},
                 {"XxXxXxx", false, std::nullopt, "XxXxXxx", false},
                 {"..x.", false, std::nullopt, "X.x.", false},
                 {"XxXx", false, std::string("x..."), "x...", false}};
    for (const auto& row : table) {
        Song shaped;
        shaped.sections = {section(2, static_cast<int64_t>(std::max<size_t>(row.sectionPattern.size(), 4)), {120.0})};
        shaped.sections[0].pattern = row.sectionPattern;
        shaped.sections[0].accentFirst = row.accentFirst;
        addCountIn(shaped, 1, row.own);
        SCOPED_TRACE(row.sectionPattern + " " + row.own.value_or("-"));
        EXPECT_EQ(shaped.sections[0].pattern, row.pattern);
        EXPECT_EQ(shaped.sections[0].accentFirst, row.countInAccentFirst);
        EXPECT_EQ(shaped.sections[1].pattern, row.sectionPattern);
    }
}

TEST(Planner, ReadsBothMapFormatsIntoOneSong) {
    const TempDir dir;
    struct Row {
        std::string text;
        Unreadable firstLine;
        uint32_t rate;
        size_t sections;
        Rounding rounding;
        std::string problem;
    };
    for (const Row& row : {
             Row{"tmap\t120\t4\t2\ntmap\t90\t3\t1\n", Unreadable::LineError, 44100, 2,
                 Rounding::MenuGrid, ""},
             Row{"intro: 2 3/8 120-140 X.x 0.5\n", Unreadable::LineError, 44100, 1, Rounding::Exact, ""},
             Row{"some notes\n", Unreadable::LineError, 44100, 0, Rounding::Exact,
                 "m.txt: line 1: a number of measures from 1 to 2147483647, not 'some'."},
             Row{"some notes\n", Unreadable::MenuReading, 44100, 0, Rounding::Exact, ""},
             Row{"2 120\nsome notes\n", Unreadable::MenuReading, 44100, 0, Rounding::Exact,
                 "m.txt: line 2: a number of measures from 1 to 2147483647, not 'some'."},
             // A sixty-fourth at 10000 lasts 0.375 samples at 1000 a second.
             Row{"1 120\n1 1/64 10000\n", Unreadable::LineError, 1000, 0, Rounding::Exact,
                 "m.txt: line 2: a beat would be shorter than one sample at this rate."},
             Row{"1073741824 1/4 120\n", Unreadable::LineError, 8, 0, Rounding::Exact,
                 "m.txt: the map is too long: its frames do not fit 31 bits."}}) {
        writeFile(dir.file("m.txt"), row.text);
        const MapReading map = readMapSong(dir.file("m.txt"), row.rate, row.firstLine);
        ASSERT_EQ(map.song.sections.size(), row.sections) << row.text;
        if (row.sections > 0) {
            EXPECT_EQ(map.song.rounding, row.rounding);
        }
        const std::string problem = map.problems.empty() ? "" : map.problems.front();
        EXPECT_EQ(problem.empty() ? "" : problem.substr(problem.rfind('/') + 1), row.problem);
    }
    // In a map with labels a line without one continues the section before
    // it: named after it, with no marker of its own.
    writeFile(dir.file("m.txt"), "1 120\n1 120\nVerse 1: 1 120\n1 3/4 90\n");
    Song song = readMapSong(dir.file("m.txt"), 1000).song;
    addCountIn(song, 1, std::nullopt);
    EXPECT_EQ(sectionNames(song), (std::vector<std::string>{"Count-in", "Section 1", "Section 1",
                                                            "Verse 1", "Verse 1"}));
    EXPECT_EQ(markerNames(song),
              (std::vector<std::string>{"Count-in", "Section 1", "", "Verse 1", ""}));
}

// Each section as "measures x tempos" (A-B for a change, A,B,... for a
// tempo for each beat), "~on/off@phase" after it when bars are muted.
std::string partsOf(const Song& song) {
    std::string text;
    for (const SongSection& s : song.sections) {
        char tempo[32];
        text += (text.empty() ? "" : " ") + std::to_string(s.measures) + "x";
        for (size_t i = 0; i < s.tempos.size(); ++i) {
            std::snprintf(tempo, sizeof tempo, "%s%g", i == 0 ? "" : s.ramp ? "-" : ",", s.tempos[i]);
            text += tempo;
        }
        if (s.mute) {
            text += "~" + std::to_string(s.mute->on) + "/" + std::to_string(s.mute->off) + "@" +
                    std::to_string(s.mutePhase);
        }
    }
    return text;
}

Trainer trainer(const std::string& text) { return readTrainer(text).value(); }

// The song's trainer moves every section by the same amount from its own
// first bar on, a map line's own takes its place; a change of tempo keeps
// its line, shifted; each part after the first continues its section.
TEST(Planner, TheTrainerSplitsSectionsWhereItStepsTheTempo) {
    const TempDir dir;
    writeFile(dir.file("m.txt"), "a: 3 100\nb: 2 50 trainer=+1/1 mute=1/1\nc: 2 6/8 q.=52\n");
    Song map = readMapSong(dir.file("m.txt"), 1000).song;
    addCountIn(map, 1, std::nullopt);
    map.trainer = trainer("+10/2");
    map.mute = readMuteCycle("2/1");
    ASSERT_EQ(layPractice(map, 1000), std::nullopt);
    // c counts dotted quarters: q.=72 and q.=82 are 108 and 123 quarters.
    EXPECT_EQ(partsOf(map), "1x100 2x100~2/1@0 1x110~2/1@2 1x50~1/1@0 1x51~1/1@1 1x108~2/1@2 1x123~2/1@0");
    EXPECT_EQ(markerNames(map), (std::vector<std::string>{"Count-in", "a", "", "b", "", "c", ""}));
    EXPECT_EQ(sectionNames(map)[2], "a");

    const struct {
        SongSection section;
        std::string trainer;
        std::string parts;
    } table[] = {
        {section(5, 2, {100}), "+10/2:125", "2x100 2x110 1x120"},
        {section(5, 2, {100}), "+10/2:115", "2x100 2x110 1x115"},
        {section(3, 2, {100}), "+10/2:100", "3x100"},
        {section(4, 1, {60, 100}, true), "+5/2", "2x60-80 2x85-105"},
        {section(2, 2, {60, 70, 80, 90}), "-10/1", "1x60,70 1x70,80"},
        {section(3, 4, {120}), "-0.5/1:119.2", "1x120 1x119.5 1x119.2"},
    };
    for (const auto& row : table) {
        Song song;
        song.sections = {row.section};
        song.trainer = trainer(row.trainer);
        ASSERT_EQ(layPractice(song, 1000), std::nullopt) << row.trainer;
        EXPECT_EQ(partsOf(song), row.parts) << row.trainer;
    }
}

// A muted measure's beats are silent and have no subdivisions; the
// display's count goes on through them.
TEST(Planner, MutedMeasuresAreSilentBeatByBeat) {
    Song song;
    song.sections = {section(3, 2, {60.0})};
    song.subdivide = 2;
    song.mute = readMuteCycle("1/1");
    ASSERT_EQ(layPractice(song, 10), std::nullopt);
    EXPECT_EQ(clicksOf(song, 10), "0:x 5:s 10:x 15:s 20:. 30:. 40:x 45:s 50:x 55:s end 60");
}

// A trainer that would take a beat where the rate cannot lay it, or whose
// limit lies behind it, leaves the song as it was.
TEST(Planner, ATrainerOutOfRangeLeavesTheSongAsItWas) {
    const struct {
        int64_t measures;
        std::string trainer;
        std::string detail;
    } table[] = {
        {3, "+10/1:90", "its limit 90 lies below the tempo it starts from, 100: a rising tempo stops at a ceiling"},
        {3, "-10/1:110", "its limit 110 lies above the tempo it starts from, 100: a falling tempo stops at a floor"},
        {3, "-50/1", "it would take the tempo to 0 at bar 3: a tempo stays above 0"},
        // At 10 frames a second a beat of a quarter is at most 600 a minute.
        {3, "+300/1", "it would take the tempo to 700 at bar 3: a beat would be shorter than one sample at this rate"},
        {20000, "+0.001/1", "it would step the tempo more than 10000 times"},
        {20000, "+0.001/2:120", ""},
    };
    for (const auto& row : table) {
        Song song;
        song.sections = {section(row.measures, 4, {100.0})};
        song.trainer = trainer(row.trainer);
        const std::optional<PracticeProblem> problem = layPractice(song, 10);
        EXPECT_EQ(problem ? problem->detail : "", row.detail);
        if (problem) {
            EXPECT_EQ(partsOf(song), std::to_string(row.measures) + "x100");
        }
    }
}

}  // namespace

namespace {

// Every beat the schedule gives: section, measure, beat, kind, and frame.
std::vector<std::vector<int64_t>> beatsOf(std::vector<ScheduledSection> sections) {
    BeatSchedule schedule(std::move(sections));
    std::vector<std::vector<int64_t>> beats;
    BeatEvent e;
    while (schedule.next(e)) {
        beats.push_back({static_cast<int64_t>(e.section), e.measure, e.beat,
                         static_cast<int64_t>(e.kind), e.frame});
    }
    return beats;
}

// A song planned from one of its beats on is the whole song's plan from
// there, its frames counted from that beat: through a count-in, a change of
// tempo, a tempo for each beat and a pattern; at twice the tempo, every
// beat comes in half the time.
TEST(Planner, PlansFromAnyBeatAsTheWholeSongDoesFromThere) {
    Song song;
    song.sections = {section(2, 3, {90, 150}, true), section(1, 4, {100, 110, 120, 130}),
                     section(2, 2, {60})};
    song.sections[2].pattern = "X.";
    song.subdivide = 2;
    addCountIn(song, 1, std::nullopt);
    const auto whole = beatsOf(planFile(song, 44100, 0));
    // A place, and the beat it comes to (past a section's beats: the next one's first).
    for (const auto& [place, section, beat] : std::vector<std::tuple<SongPlace, int64_t, int64_t>>{
             {{0, 0}, 0, 0}, {{1, 4}, 1, 4}, {{1, 6}, 2, 0}, {{2, 1}, 2, 1}, {{3, 3}, 3, 3}}) {
        auto from = beatsOf(planFrom(song, 44100, place, 1.0));
        size_t first = 0;
        const int64_t perBar = song.sections[static_cast<size_t>(section)].beatsPerMeasure;
        while (first < whole.size() &&
               !(whole[first][0] == section && (whole[first][1] - 1) * perBar + whole[first][2] - 1 == beat)) {
            ++first;
        }
        ASSERT_EQ(from.size(), whole.size() - first) << place.section;
        for (size_t i = 0; i < from.size(); ++i) {
            std::vector<int64_t> expected = whole[first + i];
            expected[4] -= whole[first][4];
            EXPECT_NEAR(from[i][4], expected[4], 1) << i;
            from[i][4] = expected[4];
            EXPECT_EQ(from[i], expected) << place.section << " " << i;
        }
    }
    // Past a section's beats is the next one's first beat; at twice the tempo, half the time.
    EXPECT_EQ(placeAfter(song, SongPlace{1, 5}, false).section, 2u);
    EXPECT_EQ(placeAfter(song, SongPlace{1, 1}, true).beat, 3);
    const auto twice = beatsOf(planFrom(song, 44100, SongPlace{3, 0}, 2.0));
    EXPECT_EQ(twice.back()[4], 3 * 44100 / 2);

    // A part the trainer split off counts its measures on, and its muted
    // bars stay muted, from whichever of its beats the plan starts.
    Song trained;
    trained.sections = {section(6, 2, {100})};
    trained.trainer = readTrainer("+10/2");
    trained.mute = readMuteCycle("1/1");
    ASSERT_FALSE(layPractice(trained, 44100));
    ASSERT_EQ(trained.sections.size(), 3u);
    const auto all = beatsOf(planFile(trained, 44100, 0));
    for (int64_t beat = 0; beat < 4; ++beat) {
        auto from = beatsOf(planFrom(trained, 44100, SongPlace{1, beat}, 1.0));
        const size_t first = 4 + static_cast<size_t>(beat);
        ASSERT_EQ(from.size(), all.size() - first);
        for (size_t i = 0; i < from.size(); ++i) {
            std::vector<int64_t> expected = all[first + i];
            expected[4] -= all[first][4];
            EXPECT_NEAR(from[i][4], expected[4], 1) << i;
            from[i][4] = expected[4];
            EXPECT_EQ(from[i], expected) << beat << " " << i;
        }
    }
}

}  // namespace
