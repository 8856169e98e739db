#include "playback/click_plan.hpp"

#include <algorithm>
#include <cmath>

#include "core/click_laying.hpp"

namespace {

// The slot of a kind among a voice's four sounds.
uint32_t slotOf(ClickKind kind) {
    switch (kind) {
        case ClickKind::Accent: return 1;
        case ClickKind::Subdivision: return 2;
        case ClickKind::Soft: return 3;
        case ClickKind::Normal:
        case ClickKind::Silent: break;
    }
    return 0;
}

constexpr ClickKind kSlotKinds[] = {ClickKind::Normal, ClickKind::Accent, ClickKind::Subdivision,
                                    ClickKind::Soft};

// The click's encoded frames as floats: the very bytes the device and the
// wave file get, each sample divided by full scale's power of two (exact).
std::vector<float> floatsOf(const ClickVoice& voice, ClickKind kind, int32_t frameBytes) {
    const ClickBytes& click = clickOf(voice, kind);
    const size_t fb = static_cast<size_t>(frameBytes);
    const int64_t frames = static_cast<int64_t>(click.size / fb);
    std::vector<uint8_t> made;
    const uint8_t* bytes = click.data;
    if (voice.madeAsLaid() && frames > 0) {
        made.resize(static_cast<size_t>(frames) * fb);
        encodeVoiceFrames(voice, kind, 0, frames, made.data(), frameBytes);
        bytes = made.data();
    }
    const float scale = frameBytes == 2 ? 1.0f / 32768.0f : 1.0f / 8388608.0f;
    std::vector<float> samples(static_cast<size_t>(frames));
    for (size_t i = 0; i < samples.size(); ++i) {
        const uint8_t* b = bytes + i * fb;
        const int32_t s = frameBytes == 2
                              ? static_cast<int16_t>(b[0] | b[1] << 8)
                              : static_cast<int32_t>(uint32_t{b[0]} << 8 | uint32_t{b[1]} << 16 |
                                                     uint32_t{b[2]} << 24) >> 8;
        samples[i] = static_cast<float>(s) * scale;
    }
    return samples;
}

// Collects the clicks that sound; refuses to hold more than the plan's limit.
class Collector : public TrackOutput {
public:
    Collector(PlannedRound& round, size_t room) : round_(round), room_(room) {}
    bool take(const TrackEvent& e) override {
        // A silent beat silences whatever sounds.
        if (e.beat.kind == ClickKind::Silent) cutAt(e.beat.frame);
        if (e.frames <= 0) return true;
        if (round_.clicks.size() >= room_) {
            tooMany = true;
            return false;
        }
        round_.clicks.push_back(PlannedClick{e.beat.frame, static_cast<int32_t>(e.frames),
                                             static_cast<uint32_t>(e.beat.voice * 4) +
                                                 slotOf(e.beat.kind)});
        round_.longestClick = std::max(round_.longestClick, e.frames);
        return true;
    }
    bool finish(const TrackEnd& end) override {
        // The end cuts every click that would sound past it.
        cutAt(end.beats);
        round_.length = end.beats;
        return true;
    }
    bool tooMany = false;

private:
    void cutAt(int64_t frame) {
        for (size_t i = round_.clicks.size(); i > 0; --i) {
            PlannedClick& c = round_.clicks[i - 1];
            if (c.frame + round_.longestClick <= frame) break;  // none before it reaches `frame`
            if (c.frame + c.frames > frame) c.frames = static_cast<int32_t>(std::max<int64_t>(frame - c.frame, 0));
        }
    }

    PlannedRound& round_;
    size_t room_;
};

Failure tooManyClicks() {
    return refusal("the track has more than " + std::to_string(kMostPlannedClicks) +
                   " clicks, more than JACK playback plans ahead; play a shorter part of it.");
}

// Adds the round's frames [from, from + count) to `out`.
void renderRound(const PlannedRound& round, const ClickPlan& plan, int64_t from, int64_t count,
                 float* out, RenderCursor& cursor) {
    const std::vector<PlannedClick>& clicks = round.clicks;
    if (cursor.round != &round || cursor.next != from) {
        // A jump: the first click that can still sound at `from`.
        const int64_t earliest = from - round.longestClick;
        cursor.index = static_cast<size_t>(
            std::lower_bound(clicks.begin(), clicks.end(), earliest,
                             [](const PlannedClick& c, int64_t f) { return c.frame < f; }) -
            clicks.begin());
        cursor.round = &round;
    }
    const int64_t to = from + count;
    for (size_t i = cursor.index; i < clicks.size() && clicks[i].frame < to; ++i) {
        const PlannedClick& c = clicks[i];
        const int64_t start = std::max(c.frame, from);
        const int64_t stop = std::min(c.frame + c.frames, to);
        if (start >= stop) continue;
        const std::vector<float>& sound = plan.sounds[c.sound];
        const int64_t have = static_cast<int64_t>(sound.size());
        const int64_t last = std::min(stop, c.frame + have);
        for (int64_t f = start; f < last; ++f) {
            out[f - from] += sound[static_cast<size_t>(f - c.frame)];
        }
    }
    // Clicks that ended before the next range are done with.
    while (cursor.index < clicks.size() && clicks[cursor.index].frame + round.longestClick <= to) {
        ++cursor.index;
    }
    cursor.next = to;
}

}  // namespace

Outcome planClicks(const DeviceStream& stream, const PlayClicks& clicks, ClickPlan& plan) {
    plan = ClickPlan{};
    plan.top = clicks.frameBytes == 2 ? 32767.0f / 32768.0f : 8388607.0f / 8388608.0f;
    for (const ClickVoice& voice : clicks.voices) {
        for (const ClickKind kind : kSlotKinds) {
            plan.sounds.push_back(floatsOf(voice, kind, clicks.frameBytes));
        }
    }
    // Each click sounds whole, summed with those it overlaps, up to a silent
    // beat or the end.
    std::vector<ClickLengths> lengths;
    for (size_t v = 0; v < clicks.voices.size(); ++v) {
        const auto frames = [&](uint32_t slot) {
            return static_cast<int64_t>(plan.sounds[v * 4 + slot].size());
        };
        lengths.push_back(ClickLengths{frames(0), frames(1), frames(2), frames(3)});
    }
    Collector first(plan.track, kMostPlannedClicks);
    BeatSchedule track(stream.track);
    walkTrack(track, lengths, ClickOverlap::Sum, {&first});
    if (first.tooMany) return tooManyClicks();
    if (!stream.again.empty()) {
        Collector again(plan.again, kMostPlannedClicks - plan.track.clicks.size());
        BeatSchedule rounds(stream.again);
        walkTrack(rounds, lengths, ClickOverlap::Sum, {&again});
        if (again.tooMany) return tooManyClicks();
    }
    // A round of no frames would never end: the track then plays once.
    if (plan.again.length <= 0) plan.again = PlannedRound{};
    const bool loops = plan.again.length > 0;
    plan.endless = loops && !stream.frames;
    plan.end = loops ? stream.frames.value_or(0)
                     : std::min(plan.track.length, stream.frames.value_or(plan.track.length));
    // Whatever each click kind lays, its samples must cover it: the clicks
    // were measured from the same bytes.
    for (const PlannedRound* r : {&plan.track, &plan.again}) {
        for (const PlannedClick& c : r->clicks) {
            if (c.sound >= plan.sounds.size()) return refusal("a click names a voice it does not have.");
        }
    }
    return std::nullopt;
}

namespace {

// Adds the clicks of [from, from + count) to `out`, unheld.
void layClicks(const ClickPlan& plan, int64_t from, int64_t count, float* out, RenderCursor& cursor) {
    int64_t to = from + count;
    if (!plan.endless) to = std::min(to, plan.end);
    int64_t at = std::max<int64_t>(from, 0);
    while (at < to) {
        const int64_t first = plan.track.length;
        if (at < first) {
            const int64_t n = std::min(to, first) - at;
            renderRound(plan.track, plan, at, n, out + (at - from), cursor);
            at += n;
            continue;
        }
        const int64_t length = plan.again.length;
        if (length <= 0) break;
        const int64_t local = (at - first) % length;
        const int64_t n = std::min(to - at, length - local);
        renderRound(plan.again, plan, local, n, out + (at - from), cursor);
        at += n;
    }
}

}  // namespace

void renderClicks(const ClickPlan& plan, int64_t from, int64_t count, float* out,
                  RenderCursor& cursor) {
    layClicks(plan, from, count, out, cursor);
    // Clicks that overlap are held at full scale, as the files hold them.
    for (int64_t i = 0; i < count; ++i) out[i] = std::clamp(out[i], -1.0f, plan.top);
}

Outcome planBeats(const std::vector<ScheduledSection>& track, const std::vector<bool>& countIn,
                  BeatPlan& plan) {
    plan = BeatPlan{};
    BeatSchedule schedule(track);
    BeatEvent e;
    size_t section = track.size();
    int32_t barsBefore = 0;  // bars of the sections before this one, after the count-in
    int64_t beatsBefore = 0;
    int64_t barStart = 0;
    bool origin = false;
    while (schedule.next(e)) {
        if (e.kind == ClickKind::Subdivision) continue;
        const bool counting = e.section < countIn.size() && countIn[e.section];
        if (counting) continue;
        if (!origin) {
            plan.origin = e.frame;
            origin = true;
        }
        if (e.section != section) {
            if (section < track.size() && !plan.beats.empty()) barsBefore = plan.beats.back().bar;
            section = e.section;
        }
        if (plan.beats.size() >= kMostPlannedClicks) return tooManyClicks();
        const ScheduledSection& s = track[e.section];
        PlannedBeat b;
        b.frame = e.frame - plan.origin;
        b.bar = static_cast<int32_t>(std::min<int64_t>(barsBefore + e.measure, INT32_MAX));
        b.beat = static_cast<int32_t>(std::min<int64_t>(e.beat, INT32_MAX));
        b.beatsPerBar = static_cast<int32_t>(
            s.beatsPerMeasure > 0 ? std::min<int64_t>(s.beatsPerMeasure, INT32_MAX) : INT32_MAX);
        b.beatType = static_cast<float>(s.noteValue);
        const int64_t k = (e.measure - 1) * std::max<int64_t>(s.beatsPerMeasure, 1) + e.beat - 1;
        b.beatsPerMinute = tempoAtBeat(s, k) * s.noteValue / 4.0;
        if (e.beat == 1) barStart = beatsBefore;
        b.barStartBeat = barStart;
        ++beatsBefore;
        plan.beats.push_back(b);
    }
    plan.end = schedule.end() - plan.origin;
    return std::nullopt;
}

BarBeat barBeatAt(const BeatPlan& plan, int64_t frame) {
    BarBeat at;
    if (plan.beats.empty()) return at;
    const std::vector<PlannedBeat>& beats = plan.beats;
    // The last beat at or before the frame.
    auto it = std::upper_bound(beats.begin(), beats.end(), frame,
                               [](int64_t f, const PlannedBeat& b) { return f < b.frame; });
    if (it != beats.begin()) --it;
    const PlannedBeat& b = *it;
    const bool last = it + 1 == beats.end();
    int64_t length = last ? plan.end - b.frame : (it + 1)->frame - b.frame;
    if (last && it != beats.begin()) length = std::max(length, b.frame - (it - 1)->frame);
    length = std::max<int64_t>(length, 1);
    const int64_t into = std::max<int64_t>(frame - b.frame, 0);
    // Past the last beat the bars go on at its length and meter.
    const int64_t more = last ? into / length : 0;
    const int64_t per = b.beatsPerBar;
    const int64_t index = b.beat - 1 + more;  // beats from the bar's first
    const int64_t bars = index / per;
    at.bar = static_cast<int32_t>(std::min<int64_t>(b.bar + bars, INT32_MAX));
    at.beat = static_cast<int32_t>(index % per + 1);
    const int64_t within = into - more * length;
    at.tick = static_cast<int32_t>(std::min<double>(
        std::floor(static_cast<double>(within) * kTicksPerBeat / static_cast<double>(length)),
        kTicksPerBeat - 1));
    at.barStartTick = static_cast<double>(b.barStartBeat + bars * per) * kTicksPerBeat;
    at.beatsPerBar = static_cast<float>(b.beatsPerBar);
    at.beatType = b.beatType;
    at.beatsPerMinute = b.beatsPerMinute;
    return at;
}
