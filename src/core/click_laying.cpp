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
                  ClickOverlap overlap, const std::vector<TrackOutput*>& outputs) {
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
            // A silent beat ends the click before it; so does any click when clicks are cut.
            if (overlap == ClickOverlap::Cut || silent) {
                last.frames = std::min(last.frames, std::max<int64_t>(event.frame - last.beat.frame, 0));
            }
            if (!hand(last)) return -1;
        }
        const ClickLengths none;
        const ClickLengths& voice =
            lengths.empty() ? none : lengths.at(event.voice < lengths.size() ? event.voice : 0);
        last = TrackEvent{event, silent ? 0 : lengthOf(voice, event.kind)};
        waiting = overlap != ClickOverlap::Whole;
        if (!waiting && !hand(last)) return -1;
    }
    if (waiting) {
        // Cut clicks end with the track: the last one where its beats end.
        last.frames = std::min(last.frames, std::max<int64_t>(schedule.end() - last.beat.frame, 0));
        if (!hand(last)) return -1;
    }
    // Summed clicks before the last may run past the beats: the end cuts them too.
    end = overlap == ClickOverlap::Sum ? schedule.end() : std::max(end, schedule.end());
    for (TrackOutput* output : outputs) {
        if (!output->finish(TrackEnd{schedule.end(), end})) return -1;
    }
    return end;
}

TrackExtent measureTrack(const std::vector<ScheduledSection>& sections,
                         const std::vector<ClickLengths>& lengths, ClickOverlap overlap) {
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
    extent.end = walkTrack(schedule, lengths, overlap, {&counter});
    extent.sectionStarts = schedule.sectionStarts();
    return extent;
}

namespace {

constexpr int64_t kMixBlock = 1024;  // frames summed at a time

int32_t decodeLittle(const uint8_t* bytes, int32_t bytesPerSample) {
    if (bytesPerSample == 2) {
        return static_cast<int16_t>(static_cast<uint16_t>(bytes[0] | bytes[1] << 8));
    }
    const uint32_t v = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16;
    return static_cast<int32_t>(v << 8) >> 8;
}

void encodeLittle(int64_t sample, uint8_t* bytes, int32_t bytesPerSample) {
    const int64_t top = bytesPerSample == 2 ? 32767 : kFullScale24;
    const auto v = static_cast<uint32_t>(static_cast<int32_t>(std::clamp(sample, -top - 1, top)));
    bytes[0] = static_cast<uint8_t>(v & 0xFF);
    bytes[1] = static_cast<uint8_t>(v >> 8 & 0xFF);
    if (bytesPerSample == 3) bytes[2] = static_cast<uint8_t>(v >> 16 & 0xFF);
}

}  // namespace

ClickMix::ClickMix(const std::vector<ClickVoice>& voices, int32_t bytesPerSample,
                   ClickOverlap overlap, const FrameLayout& layout)
    : voices_(voices),
      bytesPerSample_(bytesPerSample),
      overlap_(overlap),
      sum_(static_cast<size_t>(kMixBlock)),
      scratch_(static_cast<size_t>(kMixBlock) * static_cast<size_t>(bytesPerSample)),
      layout_(layout) {
    sounding_.reserve(kMostSounding);
    layout_.channels = std::clamp(layout_.channels, 1, kMostChannels);
    if (!layout_.plain()) mono_.resize(scratch_.size());
}

void ClickMix::take(const LaidClick& click) {
    if (overlap_ != ClickOverlap::Sum || click.kind == ClickKind::Silent) cutAt(click.frame);
    // What is over by now makes room; the vector keeps its memory.
    sounding_.erase(std::remove_if(sounding_.begin(), sounding_.end(),
                                   [&](const LaidClick& c) { return c.frame + c.frames <= click.frame; }),
                    sounding_.end());
    if (click.kind == ClickKind::Silent || click.voice >= voices_.size()) return;
    const ClickBytes& bytes = clickOf(voices_[click.voice], click.kind);
    LaidClick laid = click;
    laid.frames = std::min(laid.frames, static_cast<int64_t>(bytes.size / static_cast<size_t>(bytesPerSample_)));
    if (laid.frames <= 0) return;
    if (sounding_.size() == kMostSounding) sounding_.erase(sounding_.begin());
    sounding_.push_back(laid);
}

void ClickMix::takeBack(int64_t frame) {
    if (!sounding_.empty() && sounding_.back().frame == frame) sounding_.pop_back();
}

void ClickMix::cutAt(int64_t frame) {
    for (LaidClick& c : sounding_) {
        if (c.frame + c.frames > frame) c.frames = std::max<int64_t>(frame - c.frame, 0);
    }
}

ClickMix::Piece ClickMix::pieceAt(int64_t at, int64_t limit) const {
    Piece piece;
    int64_t to = limit;
    for (const LaidClick& c : sounding_) {
        const int64_t end = c.frame + c.frames;
        if (c.frame <= at && at < end) {
            ++piece.sounding;
            piece.only = &c;
            to = std::min(to, end);
        } else if (c.frame > at) {
            to = std::min(to, c.frame);
        }
    }
    if (piece.sounding != 1) piece.only = nullptr;
    piece.frames = std::max<int64_t>(to - at, 0);
    return piece;
}

void ClickMix::lay(int64_t at, int64_t count, uint8_t* bytes) {
    if (layout_.plain()) {
        layClicks(at, count, bytes);
        return;
    }
    // The clicks a block at a time, then each frame made of them and the backing.
    while (count > 0) {
        const int64_t frames = std::min(count, kMixBlock);
        layClicks(at, frames, mono_.data());
        spread(at, frames, mono_.data(), bytes);
        bytes += static_cast<size_t>(frames) * frameBytes();
        at += frames;
        count -= frames;
    }
}

void ClickMix::spread(int64_t at, int64_t count, const uint8_t* clicks, uint8_t* bytes) const {
    const auto bps = static_cast<size_t>(bytesPerSample_);
    const auto channels = static_cast<size_t>(layout_.channels);
    const BackingTrack* backing = layout_.backing;
    const int64_t backingFrames = backing ? backing->frames() : 0;
    // The backing is on the 24-bit scale; 16-bit frames take it as encode16 does.
    const int shift = bytesPerSample_ == 2 ? 8 : 0;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t click = decodeLittle(clicks + static_cast<size_t>(i) * bps, bytesPerSample_);
        const int64_t b = at + i - layout_.backingStart;
        const int32_t* under = backing && b >= 0 && b < backingFrames
                                   ? backing->samples.data() + b * backing->channels
                                   : nullptr;
        uint8_t* frame = bytes + static_cast<size_t>(i) * channels * bps;
        for (size_t c = 0; c < channels; ++c) {
            int64_t sample = (layout_.clickChannels >> c & 1u) ? click : 0;
            if (under && c < backing->source.size() && backing->source[c] >= 0 &&
                backing->source[c] < backing->channels) {
                sample += under[backing->source[c]] >> shift;
            }
            encodeLittle(sample, frame + c * bps, bytesPerSample_);
        }
    }
}

void ClickMix::layClicks(int64_t at, int64_t count, uint8_t* bytes) {
    const int64_t end = at + count;
    while (at < end) {
        const int64_t frames = std::min(pieceAt(at, end).frames, kMixBlock);
        layPiece(at, frames, bytes);
        bytes += static_cast<size_t>(frames) * static_cast<size_t>(bytesPerSample_);
        at += frames;
    }
}

void ClickMix::layPiece(int64_t at, int64_t count, uint8_t* bytes) {
    const auto bps = static_cast<size_t>(bytesPerSample_);
    const auto size = static_cast<size_t>(count) * bps;
    // The bytes of `c` from frame `at` on, made into the scratch block when
    // its voice makes them as they are laid.
    const auto bytesOfClick = [&](const LaidClick& c, uint8_t* into) -> const uint8_t* {
        const ClickVoice& voice = voices_[c.voice];
        const int64_t offset = at - c.frame;
        if (voice.madeAsLaid()) {
            encodeVoiceFrames(voice, c.kind, offset, count, into, bytesPerSample_);
            return into;
        }
        return clickOf(voice, c.kind).data + static_cast<size_t>(offset) * bps;
    };
    const Piece piece = pieceAt(at, at + count);
    if (piece.sounding == 0) {
        std::fill_n(bytes, size, uint8_t{0});
        return;
    }
    if (piece.only) {
        const uint8_t* from = bytesOfClick(*piece.only, bytes);
        if (from != bytes) std::copy_n(from, size, bytes);
        return;
    }
    std::fill_n(sum_.begin(), count, int64_t{0});
    for (const LaidClick& c : sounding_) {
        if (!(c.frame <= at && at < c.frame + c.frames)) continue;
        const uint8_t* from = bytesOfClick(c, scratch_.data());
        for (int64_t i = 0; i < count; ++i) {
            sum_[static_cast<size_t>(i)] += decodeLittle(from + static_cast<size_t>(i) * bps, bytesPerSample_);
        }
    }
    for (int64_t i = 0; i < count; ++i) {
        encodeLittle(sum_[static_cast<size_t>(i)], bytes + static_cast<size_t>(i) * bps, bytesPerSample_);
    }
}
