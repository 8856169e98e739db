#include "playback/player.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/interrupt.hpp"
#include "playback/live_link.hpp"

namespace {

// Fills periods with the clicks the walk lays, cut where the next starts or
// summed as `overlap` says, hands each full period to the device, and tells
// of each beat as a period reaches it. Hands over at most `limit` frames,
// the last period perhaps short; stops the walk once they are handed over.
class DeviceFeed : public TrackOutput {
public:
    DeviceFeed(PcmDevice& device, std::vector<uint8_t>& period, int64_t limit,
               const PlayClicks& clicks, ClickOverlap overlap, const EventListener& onEvent,
               PlayTally* tally)
        : device_(device),
          period_(period),
          periodFrames_(device.periodFrames()),
          limit_(limit),
          onNewSection_(tally && tally->onNewSection ? &tally->onNewSection : nullptr),
          tally_(tally),
          clicks_(clicks),
          overlap_(overlap),
          mix_(clicks.voices, clicks.frameBytes, overlap, clicks.layout),
          onEvent_(onEvent) {}

    // Event frames of the next walk count from `offset`: a track played
    // again, its backing from the start of the round.
    void startAt(int64_t offset) {
        offset_ = offset;
        mix_.restartBacking(offset);
    }
    // Whether a walk's end plays on to the limit (the menu's whole periods)
    // or stops the filling where its beats end.
    void padToLimit(bool pad) { pad_ = pad; }
    // Asked before each beat is laid whether a new plan takes over there.
    void liveFrom(LiveLink* link) { link_ = link; }

    bool take(const TrackEvent& event) override {
        if (stopsBeforeCurrent()) return false;
        BeatEvent next = event.beat;
        next.frame += offset_;
        if (!fillUpTo(next.frame)) return false;
        if (told_ && next.kind != ClickKind::Subdivision) {
            if (onNewSection_ && next.section != current_.section) (*onNewSection_)(next.section);
            onEvent_(next);
        }
        // A cut click sounds whole up to the next event, where the mix ends it;
        // a summed one as far as the walk lets it.
        const int64_t frames =
            overlap_ == ClickOverlap::Sum ? event.frames : std::numeric_limits<int64_t>::max() / 4;
        mix_.take(LaidClick{next.frame, frames, next.kind, next.voice});
        current_ = next;
        hasCurrent_ = true;
        told_ = true;
        asked_ = false;
        return true;
    }

    // The rest of the last click, then silence: up to the limit, or to
    // where the beats end.
    bool finish(const TrackEnd& end) override {
        if (stopsBeforeCurrent()) return false;
        ends_ = offset_ + end.beats;
        if (overlap_ == ClickOverlap::Sum) mix_.cutAt(ends_);
        return fillUpTo(pad_ ? limit_ : std::min(ends_, limit_));
    }

    // Hands over what is filled but not yet handed over.
    bool flush() {
        if (at_ > handed_) return handOver(at_ - handed_);
        return !result_ && !signal_;
    }

    // The first event of a walk is already told of (the caller told of the
    // start): it is only taken.
    void firstToldAlready() { told_ = false; }

    int64_t ends() const { return ends_; }
    bool full() const { return at_ >= limit_; }
    const Outcome& result() const { return result_; }
    // A stop signal ended the play: the device dropped what waited.
    int signal() const { return signal_; }
    // A key ended the play.
    bool quit() const { return quit_; }

private:
    // The beat taken last, none of its click laid yet, is asked about once.
    bool stopsBeforeCurrent() {
        if (!link_ || asked_ || !hasCurrent_ || current_.kind == ClickKind::Subdivision) return false;
        asked_ = true;
        if (!link_->stopBefore(current_)) return false;
        // The new plan lays this beat again: none of its click sounds from here.
        mix_.takeBack(current_.frame);
        return true;
    }

    // Fills up to frame `frame`; false, once all up to the limit is handed
    // over, for a frame beyond it. A full period waits to be handed over
    // until a frame of the next is filled, so that a beat on its first frame
    // (the limit's too) is told of first.
    bool fillUpTo(int64_t frame) {
        const size_t fb = mix_.frameBytes();
        const int64_t to = std::min(frame, limit_);
        while (at_ < to) {
            if (at_ - handed_ == periodFrames_ && !handOver(periodFrames_)) return false;
            const int64_t periodEnd = handed_ + periodFrames_;
            const int64_t runEnd = std::min(to, periodEnd);
            // Arithmetic only, nothing allocated: the mix holds all it needs.
            mix_.lay(at_, runEnd - at_, period_.data() + static_cast<size_t>(at_ - handed_) * fb);
            at_ = runEnd;
        }
        if (frame > limit_) {
            flush();
            return false;
        }
        return true;
    }

    bool handOver(int64_t count) {
        if (const int signal = interruptSignal()) {
            signal_ = signal;
            return false;
        }
        if (link_ && link_->quitting()) {
            quit_ = true;
            return false;
        }
        result_ = device_.writePeriod(period_.data(), count);
        if (result_) return false;
        if (tally_) tally_->framesPlayed += count;
        handed_ += count;
        return true;
    }

    PcmDevice& device_;
    std::vector<uint8_t>& period_;
    int64_t periodFrames_;
    int64_t limit_;
    const std::function<void(size_t)>* onNewSection_;
    PlayTally* tally_;
    const PlayClicks& clicks_;
    ClickOverlap overlap_;
    ClickMix mix_;
    const EventListener& onEvent_;
    BeatEvent current_;
    bool hasCurrent_ = false;
    bool told_ = true;
    bool pad_ = true;
    int64_t offset_ = 0;
    int64_t ends_ = 0;
    int64_t at_ = 0;      // frames filled so far
    int64_t handed_ = 0;  // frames handed to the device
    Outcome result_;
    int signal_ = 0;
    LiveLink* link_ = nullptr;
    bool asked_ = false;
    bool quit_ = false;
};

// Frames of each click of every voice.
std::vector<ClickLengths> clickLengthsOf(const PlayClicks& clicks) {
    const auto frames = [&](const ClickBytes& c) {
        return static_cast<int64_t>(c.size / static_cast<size_t>(clicks.frameBytes));
    };
    std::vector<ClickLengths> lengths;
    for (const ClickVoice& v : clicks.voices) {
        lengths.push_back({frames(v.normal), frames(v.accent), frames(v.subdivision), frames(v.soft)});
    }
    return lengths;
}

size_t frameBytesOf(const PlayClicks& clicks) {
    return static_cast<size_t>(clicks.frameBytes) * static_cast<size_t>(std::max(clicks.layout.channels, 1));
}

// How a play ended, the device closed.
Outcome ended(PcmDevice& device, const DeviceFeed& feed) {
    if (feed.signal()) {
        device.dropAndClose();
        return interruption(feed.signal());
    }
    if (feed.quit()) {
        device.dropAndClose();
        return std::nullopt;
    }
    device.drainAndClose();
    return feed.result();
}

// Beats of whole frames, up to and including the last frame played.
ScheduledSection wholeBeats(const Beat& beat, int64_t frames, int32_t beatsPerMeasure) {
    ScheduledSection s;
    s.rounding = BeatRounding::WholeBeats;
    s.beatLength = beat.length;
    s.beatsPerMeasure = beatsPerMeasure;
    s.frames = frames;
    return s;
}

}  // namespace

Outcome playSchedule(PcmDevice& device, std::vector<ScheduledSection> sections,
                     const PlayClicks& clicks, std::optional<int64_t> total,
                     int32_t firstMeasure, const BeatListener& onBeat, PlayTally* tally) {
    const int64_t p = device.periodFrames();
    // Without a total the beat runs on until it is stopped: longer than anyone listens.
    const int64_t toPlay = total ? *total - p : std::numeric_limits<int64_t>::max() / 4;
    onBeat(firstMeasure, 1);
    if (!(p > 0 && toPlay > 0)) {
        device.drainAndClose();
        return std::nullopt;
    }
    const int64_t periods = (toPlay + p - 1) / p;
    // Whole beats run up to and including the last frame played.
    for (ScheduledSection& s : sections) {
        if (s.rounding == BeatRounding::WholeBeats && s.frames < 0) s.frames = periods * p;
    }
    std::vector<uint8_t> period(static_cast<size_t>(p) * frameBytesOf(clicks));
    const int64_t offset = int64_t{firstMeasure} - 1;
    const EventListener onEvent = [&onBeat, offset](const BeatEvent& e) {
        onBeat(e.measure + offset, e.beat);
    };
    DeviceFeed feed(device, period, periods * p, clicks, ClickOverlap::Cut, onEvent, tally);
    feed.firstToldAlready();
    const std::vector<TrackOutput*> outputs{&feed};
    BeatSchedule schedule(std::move(sections));
    // Every click is cut where the next starts; the device plays them all.
    walkTrack(schedule, {}, ClickOverlap::Cut, outputs);
    if (!feed.result() && !feed.signal()) feed.flush();
    return ended(device, feed);
}

Outcome playStream(PcmDevice& device, const DeviceStream& stream, const PlayClicks& clicks,
                   const EventListener& onEvent, PlayTally* tally) {
    const int64_t p = device.periodFrames();
    const int64_t limit = stream.frames.value_or(std::numeric_limits<int64_t>::max());
    if (p <= 0 || limit <= 0) {
        device.drainAndClose();
        return std::nullopt;
    }
    std::vector<uint8_t> period(static_cast<size_t>(p) * frameBytesOf(clicks));
    DeviceFeed feed(device, period, limit, clicks, ClickOverlap::Sum, onEvent, tally);
    feed.padToLimit(false);
    const std::vector<TrackOutput*> outputs{&feed};
    BeatSchedule first(stream.track);
    walkTrack(first, clickLengthsOf(clicks), ClickOverlap::Sum, outputs);
    // Round after round, each starting where the last one's beats end.
    while (!stream.again.empty() && !feed.full() && !feed.result() && !feed.signal()) {
        const int64_t from = feed.ends();
        feed.startAt(from);
        BeatSchedule again(stream.again);
        walkTrack(again, clickLengthsOf(clicks), ClickOverlap::Sum, outputs);
        if (feed.ends() == from) break;  // a round of no frames would never end
    }
    if (!feed.result() && !feed.signal()) feed.flush();
    return ended(device, feed);
}

Outcome playBeat(PcmDevice& device, const Beat& beat, std::optional<int64_t> total,
                 int32_t beatsPerMeasure, int32_t firstMeasure, const BeatListener& onBeat,
                 PlayTally* tally) {
    // The beat holds the click's first frames, as far as the beat lasts.
    const ClickBytes click{beat.click, static_cast<size_t>(beat.clickFrames) *
                                           static_cast<size_t>(beat.frameBytes)};
    const PlayClicks clicks{{ClickVoice{click, click, click, click}}, beat.frameBytes, FrameLayout{}};
    return playSchedule(device, {wholeBeats(beat, -1, beatsPerMeasure)}, clicks, total,
                        firstMeasure, onBeat, tally);
}

Outcome playScheduleOnDevice(const PlaybackTarget& target, std::vector<ScheduledSection> sections,
                             const PlayClicks& clicks, std::optional<int64_t> total,
                             const BeatListener& onBeat, PlayTally* tally) {
    if (clicks.frameBytes != (target.bits == 16 ? 2 : 3)) {
        return refusal("Only 16- and 24-bit samples can be played.");
    }
    std::unique_ptr<PcmDevice> pcm;
    if (Outcome r = openAlsaPcm(target.device, target.rate, target.bits, pcm)) return r;
    return playSchedule(*pcm, std::move(sections), clicks, total, 1, onBeat, tally);
}

Outcome playStreamOnDevice(const PlaybackTarget& target, const DeviceStream& stream,
                           const PlayClicks& clicks, const EventListener& onEvent,
                           PlayTally* tally) {
    if (clicks.frameBytes != (target.bits == 16 ? 2 : 3)) {
        return refusal("Only 16- and 24-bit samples can be played.");
    }
    std::unique_ptr<PcmDevice> pcm;
    if (Outcome r = openAlsaPcm(target.device, target.rate, target.bits, pcm, clicks.layout.channels)) {
        return r;
    }
    return playStream(*pcm, stream, clicks, onEvent, tally);
}

Outcome playLive(PcmDevice& device, LiveLink& link, const PlayClicks& clicks,
                 std::optional<int64_t> frames, const EventListener& onEvent, PlayTally* tally) {
    const int64_t p = device.periodFrames();
    const int64_t limit = frames.value_or(std::numeric_limits<int64_t>::max());
    LivePlan* plan = link.start();
    if (p <= 0 || limit <= 0 || !plan) {
        device.drainAndClose();
        return std::nullopt;
    }
    std::vector<uint8_t> period(static_cast<size_t>(p) * static_cast<size_t>(clicks.frameBytes));
    // A pause's beats only keep the walk asking: no one hears of them.
    const EventListener told = [&link, &onEvent](const BeatEvent& e) {
        if (!link.paused()) onEvent(e);
    };
    DeviceFeed feed(device, period, limit, clicks, ClickOverlap::Sum, told, tally);
    feed.padToLimit(false);
    feed.liveFrom(&link);
    const std::vector<TrackOutput*> outputs{&feed};
    const std::vector<ClickLengths> lengths = clickLengthsOf(clicks);
    for (;;) {
        const bool whole = walkTrack(plan->schedule, lengths, ClickOverlap::Sum, outputs) >= 0;
        if (feed.full() || feed.result() || feed.signal() || feed.quit()) break;
        if (!whole) {
            // A new plan takes over at the beat the walk stopped before.
            plan = link.switched();
            feed.startAt(link.switchFrame());
            continue;
        }
        // The song again, from where its beats end, or the end.
        const int64_t from = feed.ends();
        plan = link.nextRound();
        if (!plan) break;
        feed.startAt(from);
    }
    if (!feed.result() && !feed.signal() && !feed.quit()) feed.flush();
    return ended(device, feed);
}

Outcome playLiveOnDevice(const PlaybackTarget& target, LiveLink& link, const PlayClicks& clicks,
                         std::optional<int64_t> frames, const EventListener& onEvent,
                         PlayTally* tally) {
    if (clicks.frameBytes != (target.bits == 16 ? 2 : 3)) {
        return refusal("Only 16- and 24-bit samples can be played.");
    }
    std::unique_ptr<PcmDevice> pcm;
    if (Outcome r = openAlsaPcm(target.device, target.rate, target.bits, pcm, clicks.layout.channels, true)) return r;
    return playLive(*pcm, link, clicks, frames, onEvent, tally);
}
