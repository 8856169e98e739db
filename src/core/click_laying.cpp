#include "core/click_laying.hpp"

#include <algorithm>

#include "core/sample_codec.hpp"

namespace {

int64_t lengthOf(const ClickLengths& lengths, ClickKind kind) {
    switch (kind) {
        case ClickKind::Accent: return lengths.accent;
        case ClickKind::Subdivision: return lengths.subdivision;
        case ClickKind::Soft: return lengths.soft;
        case ClickKind::Normal: return lengths.normal;
        case ClickKind::Silent: break;
    }
    return 0;
}

}  // namespace

const ClickBytes& clickOf(const ClickVoice& voice, ClickKind kind) {
    static const ClickBytes none;
    switch (kind) {
        case ClickKind::Accent: return voice.accent;
        case ClickKind::Subdivision: return voice.subdivision;
        case ClickKind::Soft: return voice.soft;
        case ClickKind::Normal: return voice.normal;
        case ClickKind::Silent: break;
    }
    return none;
}

void encodeVoiceFrames(const ClickVoice& voice, ClickKind kind, int64_t from, int64_t count,
                       uint8_t* bytes, int32_t bytesPerSample) {
    if (count <= 0) return;
    const int32_t* samples = kind == ClickKind::Accent        ? voice.accentSamples
                             : kind == ClickKind::Subdivision ? voice.subdivisionSamples
                             : kind == ClickKind::Soft        ? voice.softSamples
                                                              : voice.normalSamples;
    if (samples == nullptr) return;
    encodeScaled(samples + from, SampleScale{1, voice.level}, bytes, count, bytesPerSample);
}

int64_t walkTrack(BeatSchedule& schedule, const std::vector<ClickLengths>& lengths,
                  bool cutAtNextClick, const std::vector<TrackOutput*>& outputs) {
    int64_t end = 0;
    const auto hand = [&](const TrackEvent& e) {
        for (TrackOutput* output : outputs) {
            if (!output->take(e)) return false;
        }
        end = std::max(end, e.beat.frame + e.frames);
        return true;
    };
    bool waiting = false;  // an event waits to learn where the next one starts
    TrackEvent last;
    BeatEvent event;
    while (schedule.next(event)) {
        const bool silent = event.kind == ClickKind::Silent;
        if (waiting) {
            // A silent beat ends the click before it when clicks are cut.
            last.frames = std::min(last.frames, std::max<int64_t>(event.frame - last.beat.frame, 0));
            if (!hand(last)) return -1;
        }
        const ClickLengths none;
        const ClickLengths& voice =
            lengths.empty() ? none : lengths.at(event.voice < lengths.size() ? event.voice : 0);
        last = TrackEvent{event, silent ? 0 : lengthOf(voice, event.kind)};
        waiting = cutAtNextClick;
        if (!waiting && !hand(last)) return -1;
    }
    if (waiting) {
        // Cut clicks end with the track: the last one where its beats end.
        last.frames = std::min(last.frames, std::max<int64_t>(schedule.end() - last.beat.frame, 0));
        if (!hand(last)) return -1;
    }
    end = std::max(end, schedule.end());
    for (TrackOutput* output : outputs) {
        if (!output->finish(TrackEnd{schedule.end(), end})) return -1;
    }
    return end;
}

TrackExtent measureTrack(const std::vector<ScheduledSection>& sections,
                         const std::vector<ClickLengths>& lengths, bool cutAtNextClick) {
    class Counter : public TrackOutput {
    public:
        explicit Counter(std::vector<int64_t>& beats) : beats_(beats) {}
        bool take(const TrackEvent& e) override {
            if (e.beat.kind == ClickKind::Subdivision) return true;
            if (beats_.size() <= e.beat.section) beats_.resize(e.beat.section + 1, 0);
            ++beats_[e.beat.section];
            return true;
        }
        bool finish(const TrackEnd&) override { return true; }

    private:
        std::vector<int64_t>& beats_;
    };
    TrackExtent extent;
    extent.beats.assign(sections.size(), 0);
    Counter counter(extent.beats);
    BeatSchedule schedule(sections);
    extent.end = walkTrack(schedule, lengths, cutAtNextClick, {&counter});
    extent.sectionStarts = schedule.sectionStarts();
    return extent;
}
