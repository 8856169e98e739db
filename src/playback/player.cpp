#include "playback/player.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/interrupt.hpp"

namespace {

// Fills periods with the clicks the walk lays, each cut where the next
// starts, hands each full period to the device, and tells of each beat as a
// period reaches it. Stops the walk once the last period is handed over.
class DeviceFeed : public TrackOutput {
public:
    DeviceFeed(PcmDevice& device, std::vector<uint8_t>& period, int64_t periods,
               const PlayClicks& clicks, int32_t firstMeasure, const BeatListener& onBeat,
               PlayTally* tally)
        : device_(device),
          period_(period),
          periodFrames_(device.periodFrames()),
          periodsLeft_(periods),
          onNewSection_(tally && tally->onNewSection ? &tally->onNewSection : nullptr),
          tally_(tally),
          clicks_(clicks),
          measureOffset_(int64_t{firstMeasure} - 1),
          onBeat_(onBeat) {}

    bool take(const TrackEvent& event) override {
        if (!fillUpTo(event.beat.frame)) return false;
        const BeatEvent& next = event.beat;
        if (hasCurrent_ && next.kind != ClickKind::Subdivision) {
            if (onNewSection_ && next.section != current_.section) (*onNewSection_)(next.section);
            onBeat_(next.measure + measureOffset_, next.beat);
        }
        // A silent beat silences the click before it.
        current_ = next;
        hasCurrent_ = true;
        return true;
    }

    // Plays on to the end of the last period: the rest of the last click, then silence.
    bool finish(const TrackEnd&) override { return fillUpTo(std::numeric_limits<int64_t>::max()); }

    const Outcome& result() const { return result_; }
    // A stop signal ended the play: the device dropped what waited.
    int signal() const { return signal_; }

private:
    // Fills up to frame `frame`; false once the last period is handed over.
    // A full period waits to be handed over until a frame of the next is
    // filled, so that a beat on its first frame is told of first.
    bool fillUpTo(int64_t frame) {
        const size_t fb = static_cast<size_t>(clicks_.frameBytes);
        while (at_ < frame) {
            if (at_ % periodFrames_ == 0 && at_ > 0 && !handOver()) return false;
            const int64_t periodEnd = (at_ / periodFrames_ + 1) * periodFrames_;
            const int64_t runEnd = std::min(frame, periodEnd);
            copyClick(at_, runEnd - at_, period_.data() + static_cast<size_t>(at_ % periodFrames_) * fb);
            at_ = runEnd;
        }
        return true;
    }

    bool handOver() {
        if (const int signal = interruptSignal()) {
            signal_ = signal;
            return false;
        }
        result_ = device_.writePeriod(period_.data(), periodFrames_);
        if (result_) return false;
        if (tally_) tally_->framesPlayed += periodFrames_;
        return --periodsLeft_ > 0;
    }

    // `count` frames from `at` of the current click, then silence.
    void copyClick(int64_t at, int64_t count, uint8_t* dest) const {
        const size_t fb = static_cast<size_t>(clicks_.frameBytes);
        static const ClickBytes none;
        static const ClickVoice silent;
        const ClickVoice& voice = hasCurrent_ ? clicks_.voices.at(current_.voice) : silent;
        const ClickBytes& click = hasCurrent_ ? clickOf(voice, current_.kind) : none;
        const int64_t clickFrames = static_cast<int64_t>(click.size / fb);
        const int64_t offset = at - current_.frame;
        const int64_t fromClick = std::max<int64_t>(0, std::min(clickFrames - offset, count));
        if (fromClick > 0 && voice.madeAsLaid()) {
            // A quieter voice is made as it plays: arithmetic only, nothing allocated.
            encodeVoiceFrames(voice, current_.kind, offset, fromClick, dest, clicks_.frameBytes);
        } else if (fromClick > 0) {
            std::memcpy(dest, click.data + static_cast<size_t>(offset) * fb,
                        static_cast<size_t>(fromClick) * fb);
        }
        std::memset(dest + static_cast<size_t>(fromClick) * fb, 0,
                    static_cast<size_t>(count - fromClick) * fb);
    }

    PcmDevice& device_;
    std::vector<uint8_t>& period_;
    int64_t periodFrames_;
    int64_t periodsLeft_;
    const std::function<void(size_t)>* onNewSection_;
    PlayTally* tally_;
    const PlayClicks& clicks_;
    int64_t measureOffset_;
    const BeatListener& onBeat_;
    BeatEvent current_;
    bool hasCurrent_ = false;
    int64_t at_ = 0;  // frames filled so far
    Outcome result_;
    int signal_ = 0;
};

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
    if (!(tally && tally->announceOnlyWhenHeard && !(p > 0 && toPlay > 0))) {
        onBeat(firstMeasure, 1);
    }
    if (p > 0 && toPlay > 0) {
        const int64_t periods = (toPlay + p - 1) / p;
        // Whole beats run up to and including the last frame played.
        for (ScheduledSection& s : sections) {
            if (s.rounding == BeatRounding::WholeBeats && s.frames < 0) s.frames = periods * p;
        }
        std::vector<uint8_t> period(static_cast<size_t>(p) * static_cast<size_t>(clicks.frameBytes));
        DeviceFeed feed(device, period, periods, clicks, firstMeasure, onBeat, tally);
        const std::vector<TrackOutput*> outputs{&feed};
        BeatSchedule schedule(std::move(sections));
        // Every click is cut where the next starts; the device plays them all.
        walkTrack(schedule, {}, true, outputs);
        if (feed.signal()) {
            device.dropAndClose();
            return interruption(feed.signal());
        }
        if (feed.result()) {
            device.drainAndClose();
            return feed.result();
        }
    }
    device.drainAndClose();
    return std::nullopt;
}

Outcome playBeat(PcmDevice& device, const Beat& beat, std::optional<int64_t> total,
                 int32_t beatsPerMeasure, int32_t firstMeasure, const BeatListener& onBeat,
                 PlayTally* tally) {
    // The beat holds the click's first frames, as far as the beat lasts.
    const ClickBytes click{beat.click, static_cast<size_t>(beat.clickFrames) *
                                           static_cast<size_t>(beat.frameBytes)};
    const PlayClicks clicks{{ClickVoice{click, click, click}}, beat.frameBytes};
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
