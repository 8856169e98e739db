#include "core/click_laying.hpp"

#include <algorithm>

#include "core/sample_codec.hpp"

namespace {

int64_t lengthOf(const ClickLengths& lengths, ClickKind kind) {
    switch (kind) {
        case ClickKind::Accent: return lengths.accent;
        case ClickKind::Subdivision: return lengths.subdivision;
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
        case ClickKind::Normal: return voice.normal;
        case ClickKind::Silent: break;
    }
    return none;
}

void encodeVoiceFrames(const ClickVoice& voice, ClickKind kind, int64_t from, int64_t count,
                       uint8_t* bytes, int32_t bytesPerSample) {
    if (count <= 0) return;
    const int32_t* samples = kind == ClickKind::Accent ? voice.accentSamples : voice.normalSamples;
    const SampleScale scale{kind == ClickKind::Subdivision ? kSubdivisionDivisor : 1, voice.level};
    encodeScaled(samples + from, scale, bytes, count, bytesPerSample);
}

int64_t layClicks(BeatSchedule& schedule, const std::vector<ClickLengths>& lengths,
                  bool cutAtNextClick, const std::function<bool(const LaidClick&)>& lay) {
    int64_t end = 0;
    bool waiting = false;  // a click waits to learn where the next one starts
    LaidClick last;
    BeatEvent event;
    while (schedule.next(event)) {
        // A silent beat lays nothing, but ends the click before it when clicks are cut.
        if (event.kind == ClickKind::Silent && !cutAtNextClick) continue;
        if (waiting) {
            last.frames = std::min(last.frames, std::max<int64_t>(event.frame - last.frame, 0));
            if (!lay(last)) return end;
            end = std::max(end, last.frame + last.frames);
        }
        waiting = false;
        if (event.kind == ClickKind::Silent) continue;
        const ClickLengths& voice = lengths.at(event.voice < lengths.size() ? event.voice : 0);
        last = LaidClick{event.frame, lengthOf(voice, event.kind), event.kind, event.voice};
        waiting = cutAtNextClick;
        if (!waiting) {
            if (!lay(last)) return end;
            end = std::max(end, last.frame + last.frames);
        }
    }
    if (waiting) {
        if (!lay(last)) return end;
        end = std::max(end, last.frame + last.frames);
    }
    return std::max(end, schedule.end());
}
