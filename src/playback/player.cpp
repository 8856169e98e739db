#include "playback/player.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "core/beat_schedule.hpp"
#include "core/interrupt.hpp"

namespace {

// Fills periods with the looped beat as the schedule lays it out, and tells
// of each measure whose first frame a period reaches.
class BeatFiller {
public:
    BeatFiller(const Beat& beat, int64_t frames, int32_t beatsPerMeasure, int32_t firstMeasure,
               const BeatListener& onBeat)
        : beat_(beat),
          schedule_({wholeBeats(beat, frames, beatsPerMeasure)}),
          measureOffset_(int64_t{firstMeasure} - 1),
          onBeat_(onBeat) {
        hasCurrent_ = schedule_.next(current_);
        hasNext_ = hasCurrent_ && schedule_.next(next_);
    }

    void fill(uint8_t* period, int64_t frames) {
        const size_t fb = static_cast<size_t>(beat_.frameBytes);
        const int64_t end = at_ + frames;
        while (at_ < end) {
            const int64_t runEnd = hasNext_ ? std::min(end, next_.frame) : end;
            uint8_t* dest = period + static_cast<size_t>(frames - (end - at_)) * fb;
            if (hasCurrent_) {
                copyBeatFrames(beat_, at_ - current_.frame, runEnd - at_, dest);
            } else {
                std::fill(dest, dest + static_cast<size_t>(runEnd - at_) * fb, 0);
            }
            at_ = runEnd;
            if (hasNext_ && at_ == next_.frame) {
                onBeat_(next_.measure + measureOffset_, next_.beat);
                current_ = next_;
                hasNext_ = schedule_.next(next_);
            }
        }
    }

private:
    // Beats of whole frames, up to and including the last frame played.
    static ScheduledSection wholeBeats(const Beat& beat, int64_t frames, int32_t beatsPerMeasure) {
        ScheduledSection s;
        s.rounding = BeatRounding::WholeBeats;
        s.beatLength = beat.length;
        s.beatsPerMeasure = beatsPerMeasure;
        s.frames = frames;
        return s;
    }

    const Beat& beat_;
    BeatSchedule schedule_;
    int64_t measureOffset_;
    const BeatListener& onBeat_;
    BeatEvent current_, next_;
    bool hasCurrent_ = false, hasNext_ = false;
    int64_t at_ = 0;  // frames filled so far
};

}  // namespace

Outcome playBeat(PcmDevice& device, const Beat& beat, std::optional<int64_t> total,
                 int32_t beatsPerMeasure, int32_t firstMeasure, const BeatListener& onBeat) {
    onBeat(firstMeasure, 1);
    const int64_t p = device.periodFrames();
    // Without a total the beat runs on until it is stopped: longer than anyone listens.
    const int64_t toPlay = total ? *total - p : std::numeric_limits<int64_t>::max() / 4;
    Outcome result;
    if (p > 0 && toPlay > 0) {
        const int64_t periods = (toPlay + p - 1) / p;
        std::vector<uint8_t> period(static_cast<size_t>(p) * static_cast<size_t>(beat.frameBytes));
        BeatFiller filler(beat, periods * p, beatsPerMeasure, firstMeasure, onBeat);
        for (int64_t i = 0; i < periods && !result; ++i) {
            if (const int signal = interruptSignal()) {
                device.dropAndClose();
                return Stop{kSignalStatusBase + signal, "", false};
            }
            filler.fill(period.data(), p);
            result = device.writePeriod(period.data(), p);
        }
    }
    device.drainAndClose();
    return result;
}

Outcome playOnDevice(const PlaybackTarget& target, const Beat& beat, std::optional<int64_t> total,
                     int32_t beatsPerMeasure, const BeatListener& onBeat) {
    // The device's frames must be the beat's frames, or the writes would read past them.
    if (beat.frameBytes != (target.bits == 16 ? 2 : 3)) {
        return programError("Only 16- and 24-bit samples can be played.");
    }
    std::unique_ptr<PcmDevice> pcm;
    if (Outcome r = openAlsaPcm(target.device, target.rate, target.bits, pcm)) return r;
    return playBeat(*pcm, beat, total, beatsPerMeasure, 1, onBeat);
}

Outcome playSections(const PlaybackTarget& target, const std::vector<uint8_t>& click,
                     int32_t frameBytes, const std::vector<PlayedSection>& sections,
                     const std::function<void(size_t)>& onSection,
                     const BeatListener& onBeat) {
    for (size_t i = 0; i < sections.size(); ++i) {
        const PlayedSection& section = sections[i];
        const Beat beat = makeBeat(click, frameBytes, section.beatLength);
        onSection(i);
        if (Outcome r = playOnDevice(target, beat, section.total, section.beatsPerMeasure,
                                     onBeat)) {
            return r;
        }
    }
    return std::nullopt;
}
