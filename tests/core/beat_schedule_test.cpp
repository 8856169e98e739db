// The beat schedule: where each beat of a list of sections starts, and its
// place in the measure, under both rounding rules.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/timing.hpp"

namespace {

// frame, beat, measure, section of every beat, and the end of the track.
using Beats = std::vector<std::tuple<int64_t, int64_t, int64_t, size_t>>;

std::pair<Beats, int64_t> scheduleOf(std::vector<ScheduledSection> sections) {
    BeatSchedule schedule(std::move(sections));
    Beats beats;
    BeatEvent e;
    while (schedule.next(e) && beats.size() < 100) beats.emplace_back(e.frame, e.beat, e.measure, e.section);
    return {beats, schedule.end()};
}

ScheduledSection whole(int64_t beatLength, int64_t beatsPerMeasure, int64_t frames) {
    ScheduledSection s;
    s.rounding = BeatRounding::WholeBeats;
    s.beatLength = beatLength;
    s.beatsPerMeasure = beatsPerMeasure;
    s.frames = frames;
    return s;
}

TEST(BeatSchedule, FileSectionsFollowOneAnotherAndCountTheirOwnMeasures) {
    // 10 frames a second at 120 and 60 bpm: beats 5 and 10 frames apart.
    // The first section's last click (3 frames from 10) runs past its 12
    // frames, so the second section starts at 13.
    ScheduledSection first = fileSection(10, 120.0f, 12, 3);
    first.beatsPerMeasure = 2;
    ScheduledSection second = fileSection(10, 60.0f, 20, 3);
    second.beatsPerMeasure = 3;
    const auto [beats, end] = scheduleOf({first, second});
    EXPECT_EQ(beats, (Beats{{0, 1, 1, 0}, {5, 2, 1, 0}, {10, 1, 2, 0}, {13, 1, 1, 1}, {23, 2, 1, 1}}));
    EXPECT_EQ(end, 33);
}

TEST(BeatSchedule, WholeBeatsRunUpToAndIncludingTheLastFrame) {
    EXPECT_EQ(scheduleOf({whole(4, 2, 8)}).first,
              (Beats{{0, 1, 1, 0}, {4, 2, 1, 0}, {8, 1, 2, 0}}));
    // No measure ever ends at 0 beats a measure; a beat below a frame has no beats.
    EXPECT_EQ(scheduleOf({whole(4, 0, 9)}).first,
              (Beats{{0, 1, 1, 0}, {4, 2, 1, 0}, {8, 3, 1, 0}}));
    EXPECT_TRUE(scheduleOf({whole(0, 4, 100)}).first.empty());
}

}  // namespace

namespace {

// Every event of a schedule: frame and kind.
std::vector<std::pair<int64_t, ClickKind>> eventsOf(std::vector<ScheduledSection> sections) {
    BeatSchedule schedule(std::move(sections));
    std::vector<std::pair<int64_t, ClickKind>> events;
    BeatEvent e;
    while (schedule.next(e)) events.emplace_back(e.frame, e.kind);
    return events;
}

TEST(BeatSchedule, SubdivisionsNeverMoveABeatFarIntoALongTrack) {
    // Past 2^27 frames the single-precision grid runs a few frames ahead of
    // the exact times: at 8000 bpm and 22050 Hz the last of 16 subdivisions
    // once reached the next beat and pushed it back.
    for (const int32_t ways : {2, 3, 16}) {
        ScheduledSection plain = fileSection(22050, 8000.0f, 140000000, 0);
        ScheduledSection split = plain;
        split.subdivide = ways;
        std::vector<int64_t> beats;
        for (const auto& [frame, kind] : eventsOf({plain})) beats.push_back(frame);
        size_t beat = 0, subdivisions = 0;
        int64_t last = -1;
        for (const auto& [frame, kind] : eventsOf({split})) {
            ASSERT_GT(frame, last) << "clicks in order, none on another";
            last = frame;
            if (kind == ClickKind::Subdivision) {
                ++subdivisions;
                continue;
            }
            ASSERT_LT(beat, beats.size());
            ASSERT_EQ(frame, beats[beat]) << "beat " << beat << " at " << ways;
            ++beat;
        }
        EXPECT_EQ(beat, beats.size());
        EXPECT_EQ(subdivisions, beats.size() * static_cast<size_t>(ways - 1));
    }
}

}  // namespace
