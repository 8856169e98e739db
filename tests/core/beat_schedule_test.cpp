// The beat schedule: where each beat of a list of sections starts, and its
// place in the measure, under both rounding rules.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/click_laying.hpp"
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

TEST(BeatSchedule, SwingDelaysTheSecondOfEachPairAndLeavesALoneThirdInPlace) {
    const struct {
        int32_t j, ways;
        double swing, point;
    } table[] = {
        {1, 2, 0.5, 0.5}, {1, 2, 2.0 / 3, 2.0 / 3}, {1, 2, 0.75, 0.75},
        {1, 4, 0.75, 0.375}, {2, 4, 0.75, 0.5}, {3, 4, 0.75, 0.875},
        // A dotted beat's three eighths: the second swings within the first
        // two, the third stays on its eighth.
        {1, 3, 0.5, 1.0 / 3}, {1, 3, 2.0 / 3, 4.0 / 9}, {1, 3, 0.75, 0.5}, {2, 3, 0.75, 2.0 / 3},
    };
    for (const auto& row : table) {
        EXPECT_DOUBLE_EQ(subdivisionPoint(row.j, row.ways, row.swing), row.point)
            << row.j << " of " << row.ways << " at " << row.swing;
    }
}

// Clicks that overlap, laid by the mix: 24-bit (or 16-bit) samples of a few
// frames, so that every sum can be read off by hand.
std::vector<uint8_t> encoded(const std::vector<int32_t>& samples, int32_t bytesPerSample) {
    std::vector<uint8_t> bytes;
    for (int32_t v : samples) {
        for (int32_t b = 0; b < bytesPerSample; ++b) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * b)));
    }
    return bytes;
}

std::vector<int32_t> decoded(const std::vector<uint8_t>& bytes, int32_t bytesPerSample) {
    std::vector<int32_t> samples;
    for (size_t i = 0; i < bytes.size(); i += static_cast<size_t>(bytesPerSample)) {
        uint32_t v = 0;
        for (int32_t b = 0; b < bytesPerSample; ++b) v |= uint32_t{bytes[i + static_cast<size_t>(b)]} << (8 * b);
        const int shift = 32 - 8 * bytesPerSample;
        samples.push_back(static_cast<int32_t>(v << shift) >> shift);
    }
    return samples;
}

TEST(ClickMix, OverlappingClicksAreSummedAndHeldAtFullScale) {
    const int32_t top24 = 8388607, top16 = 32767;
    const struct {
        const char* name;
        ClickOverlap overlap;
        int32_t bytesPerSample;
        std::vector<int32_t> normal, accent;
        std::vector<LaidClick> clicks;  // in order; frames as the walk gives them
        int64_t cutAt;                  // -1: none
        std::vector<int32_t> frames;    // the first frames laid
    } table[] = {
        {"summed", ClickOverlap::Sum, 3, {100, 200, 300, 400}, {-1000, 5, 5, 5},
         {{0, 4, ClickKind::Normal, 0}, {2, 4, ClickKind::Accent, 0}},
         -1, {100, 200, 300 - 1000, 405, 5, 5, 0}},
        {"three at once", ClickOverlap::Sum, 3, {1, 2, 3, 4}, {10, 20, 30, 40},
         {{0, 4, ClickKind::Normal, 0}, {1, 4, ClickKind::Normal, 0}, {2, 4, ClickKind::Accent, 0}},
         -1, {1, 3, 15, 27, 34, 40, 0}},
        {"held at the top", ClickOverlap::Sum, 3, {top24 - 5, top24, 0, -top24}, {10, 10, -top24, -10},
         {{0, 4, ClickKind::Normal, 0}, {1, 4, ClickKind::Accent, 0}},
         -1, {top24 - 5, top24, 10, -top24 - 1, -10, 0}},
        {"16 bits held", ClickOverlap::Sum, 2, {30000, 30000, -30000}, {30000, -30000, -30000},
         {{0, 3, ClickKind::Normal, 0}, {1, 3, ClickKind::Accent, 0}},
         -1, {30000, top16, -top16 - 1, -30000, 0}},
        {"a silent beat silences them all", ClickOverlap::Sum, 3, {1, 2, 3, 4}, {10, 20, 30, 40},
         {{0, 4, ClickKind::Normal, 0}, {1, 4, ClickKind::Accent, 0}, {3, 0, ClickKind::Silent, 0}},
         -1, {1, 12, 23, 0, 0}},
        {"the end cuts them all", ClickOverlap::Sum, 3, {1, 2, 3, 4}, {10, 20, 30, 40},
         {{0, 4, ClickKind::Normal, 0}, {1, 4, ClickKind::Accent, 0}},
         2, {1, 12, 0, 0}},
        {"a walk's own cut", ClickOverlap::Sum, 3, {1, 2, 3, 4}, {10, 20, 30, 40},
         {{0, 2, ClickKind::Normal, 0}, {1, 4, ClickKind::Accent, 0}},
         -1, {1, 12, 20, 30, 40, 0}},
        {"cut where the next starts", ClickOverlap::Cut, 3, {1, 2, 3, 4}, {10, 20, 30, 40},
         {{0, 4, ClickKind::Normal, 0}, {2, 4, ClickKind::Accent, 0}},
         -1, {1, 2, 10, 20, 30, 40, 0}},
        {"a quieter voice made as it sounds", ClickOverlap::Sum, 3, {1000, 1000}, {2000, 2000},
         {{0, 2, ClickKind::Normal, 1}, {1, 2, ClickKind::Accent, 0}},
         -1, {500, 2500, 2000, 0}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const std::vector<uint8_t> normal = encoded(row.normal, row.bytesPerSample);
        const std::vector<uint8_t> accent = encoded(row.accent, row.bytesPerSample);
        std::vector<ClickVoice> voices(2);
        voices[0] = ClickVoice{bytesOf(normal), bytesOf(accent), {}, {}};
        voices[1] = voices[0];
        voices[1].normalSamples = row.normal.data();  // made at half the level as it is laid
        voices[1].accentSamples = row.accent.data();
        voices[1].level = 0.5;
        ClickMix mix(voices, row.bytesPerSample, row.overlap);
        // Laid as an output lays them: every frame before a click, then the click.
        const auto frames = static_cast<int64_t>(row.frames.size());
        std::vector<uint8_t> laid(row.frames.size() * static_cast<size_t>(row.bytesPerSample));
        int64_t at = 0;
        const auto layUpTo = [&](int64_t to) {
            for (; at < std::min(to, frames); ++at) {
                mix.lay(at, 1, laid.data() + static_cast<size_t>(at * row.bytesPerSample));
            }
        };
        for (const LaidClick& click : row.clicks) {
            layUpTo(click.frame);
            mix.take(click);
        }
        if (row.cutAt >= 0) {
            layUpTo(row.cutAt);
            mix.cutAt(row.cutAt);
        }
        layUpTo(frames);
        EXPECT_EQ(decoded(laid, row.bytesPerSample), row.frames);
        // Laid in one go from the start, the same frames.
        if (row.cutAt < 0 && row.clicks.back().frame == 0) {
            std::vector<uint8_t> whole(laid.size());
            mix.lay(0, frames, whole.data());
            EXPECT_EQ(whole, laid);
        }
    }
}

// A frame of several channels: the click on the channels of its mask, the
// backing from its start on its own channels, summed and held at full scale
// where they meet. Frames are read off channel by channel.
TEST(ClickMix, AFrameLayoutSpreadsTheClickAndAddsTheBacking) {
    const int32_t top24 = 8388607;
    const struct {
        const char* name;
        int32_t bytesPerSample;
        int32_t channels;
        uint32_t clickChannels;
        std::vector<int32_t> backing;  // interleaved, `backingChannels` a frame; none when empty
        int32_t backingChannels;
        std::vector<int32_t> source;
        int64_t start;
        int64_t restartAt;             // -1: the backing plays once
        std::vector<int32_t> frames;   // the first frames laid, interleaved
    } table[] = {
        {"the click on 1 and 3", 3, 3, 0b101, {}, 1, {}, 0, -1,
         {100, 0, 100, 200, 0, 200, 0, 0, 0}},
        {"a backing of one channel on both", 3, 2, 0b01, {7, 8}, 1, {0, 0}, 1, -1,
         {100, 0, 207, 7, 8, 8, 0, 0}},
        {"two channels one to one", 3, 3, 0b001, {top24, 5, -3, 6}, 2, {-1, 0, 1}, 2, -1,
         {100, 0, 0, 200, 0, 0, 0, top24, 5, 0, -3, 6, 0, 0, 0}},
        {"summed where they share a channel", 3, 1 + 1, 0b11, {top24, -top24}, 1, {0, -1}, 0, -1,
         {top24, 100, -top24 + 200, 200, 0, 0}},
        {"16 bits take the backing's top bits", 2, 2, 0b10, {256 * 3, -1}, 1, {0, -1}, 0, -1,
         {3, 100, -1, 200, 0, 0}},
        {"a new round restarts the backing", 3, 1 + 1, 0b01, {1, 2, 3}, 1, {-1, 0}, 0, 2,
         {100, 1, 200, 2, 0, 1, 0, 2, 0, 3, 0, 0}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.name);
        const std::vector<int32_t> click = {100, 200};
        const std::vector<uint8_t> bytes = encoded(click, row.bytesPerSample);
        const std::vector<ClickVoice> voices{ClickVoice{bytesOf(bytes), bytesOf(bytes), {}, {}}};
        BackingTrack backing{row.backing, row.backingChannels, row.source};
        FrameLayout layout{row.channels, row.clickChannels, row.backing.empty() ? nullptr : &backing, row.start};
        ClickMix mix(voices, row.bytesPerSample, ClickOverlap::Sum, layout);
        EXPECT_EQ(mix.frameBytes(), static_cast<size_t>(row.bytesPerSample * row.channels));
        mix.take(LaidClick{0, 2, ClickKind::Normal, 0});
        const auto frames = static_cast<int64_t>(row.frames.size()) / row.channels;
        std::vector<uint8_t> laid(row.frames.size() * static_cast<size_t>(row.bytesPerSample));
        // A round starts where the output has laid every frame before it.
        const int64_t split = row.restartAt < 0 ? frames : row.restartAt;
        mix.lay(0, split, laid.data());
        if (split < frames) {
            mix.restartBacking(split);
            mix.lay(split, frames - split, laid.data() + static_cast<size_t>(split) * mix.frameBytes());
        }
        EXPECT_EQ(decoded(laid, row.bytesPerSample), row.frames);
    }
}

}  // namespace
