#include "playback/player.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/interrupt.hpp"

namespace {

// Fills periods with the clicks as the schedule lays them out, each cut
// where the next click starts, and tells of each beat as a period reaches it.
class BeatFiller {
public:
    BeatFiller(std::vector<ScheduledSection> sections, const PlayClicks& clicks,
               int32_t firstMeasure, const BeatListener& onBeat,
               const std::function<void(size_t)>* onNewSection)
        : onNewSection_(onNewSection && *onNewSection ? onNewSection : nullptr),
          clicks_(clicks),
          schedule_(std::move(sections)),
          measureOffset_(int64_t{firstMeasure} - 1),
          onBeat_(onBeat) {
        hasCurrent_ = schedule_.next(current_);
        hasNext_ = hasCurrent_ && schedule_.next(next_);
    }

    void fill(uint8_t* period, int64_t frames) {
        const size_t fb = static_cast<size_t>(clicks_.frameBytes);
        const int64_t end = at_ + frames;
        while (at_ < end) {
            const int64_t runEnd = hasNext_ ? std::min(end, next_.frame) : end;
            uint8_t* dest = period + static_cast<size_t>(frames - (end - at_)) * fb;
            copyClick(at_, runEnd - at_, dest);
            at_ = runEnd;
            if (hasNext_ && at_ == next_.frame) {
                if (next_.kind != ClickKind::Subdivision) {
                    if (onNewSection_ && next_.section != current_.section) {
                        (*onNewSection_)(next_.section);
                    }
                    onBeat_(next_.measure + measureOffset_, next_.beat);
                }
                // A silent beat silences the click before it.
                current_ = next_;
                hasNext_ = schedule_.next(next_);
            }
        }
    }

private:
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

    const std::function<void(size_t)>* onNewSection_;
    const PlayClicks& clicks_;
    BeatSchedule schedule_;
    int64_t measureOffset_;
    const BeatListener& onBeat_;
    BeatEvent current_, next_;
    bool hasCurrent_ = false, hasNext_ = false;
    int64_t at_ = 0;  // frames filled so far
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
    Outcome result;
    if (p > 0 && toPlay > 0) {
        const int64_t periods = (toPlay + p - 1) / p;
        // Whole beats run up to and including the last frame played.
        for (ScheduledSection& s : sections) {
            if (s.rounding == BeatRounding::WholeBeats && s.frames < 0) s.frames = periods * p;
        }
        std::vector<uint8_t> period(static_cast<size_t>(p) * static_cast<size_t>(clicks.frameBytes));
        BeatFiller filler(std::move(sections), clicks, firstMeasure, onBeat,
                          tally ? &tally->onNewSection : nullptr);
        for (int64_t i = 0; i < periods && !result; ++i) {
            if (const int signal = interruptSignal()) {
                device.dropAndClose();
                return Stop{kSignalStatusBase + signal, "", false};
            }
            filler.fill(period.data(), p);
            result = device.writePeriod(period.data(), p);
            if (tally && !result) tally->framesPlayed += p;
        }
    }
    device.drainAndClose();
    return result;
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
        return programError("Only 16- and 24-bit samples can be played.");
    }
    std::unique_ptr<PcmDevice> pcm;
    if (Outcome r = openAlsaPcm(target.device, target.rate, target.bits, pcm)) return r;
    return playSchedule(*pcm, std::move(sections), clicks, total, 1, onBeat, tally);
}
