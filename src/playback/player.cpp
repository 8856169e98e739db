#include "playback/player.hpp"

#include <algorithm>
#include <vector>

namespace {

// Where the player stands in the running beat; carried from period to period.
struct BeatPosition {
    int64_t pos = 0;      // frame within the beat
    int64_t beat = 1;     // beat within the measure
    int64_t measure = 1;  // number of the current measure
};

void announce(FILE* out, int64_t measure) {
    std::fprintf(out, "\tMeasure  %lld\n", static_cast<long long>(measure));
    std::fflush(out);
}

// Fills one period with the running beat, announcing measures as they begin.
void fillPeriod(const Beat& beat, int32_t beatsPerMeasure, BeatPosition& at,
                std::vector<uint8_t>& period, int64_t frames, FILE* out) {
    if (beat.length < 1) {
        std::fill(period.begin(), period.end(), 0);
        return;
    }
    int64_t filled = 0;
    while (filled < frames) {
        const int64_t run = std::min(frames - filled, beat.length - at.pos);
        copyBeatFrames(beat, at.pos, run, period.data() + filled * beat.frameBytes);
        filled += run;
        at.pos += run;
        if (at.pos == beat.length) {
            if (at.beat == beatsPerMeasure) {
                ++at.measure;
                announce(out, at.measure);
                at.beat = 1;
            } else {
                ++at.beat;
            }
            at.pos = 0;
        }
    }
}

}  // namespace

Outcome playBeat(PcmDevice& device, const Beat& beat, int32_t total, int32_t beatsPerMeasure,
                 int32_t firstMeasure, FILE* out) {
    announce(out, firstMeasure);
    const int64_t p = device.periodFrames();
    const int64_t toPlay = int64_t{total} - p;
    Outcome result;
    if (p > 0 && toPlay > 0) {
        std::vector<uint8_t> period(static_cast<size_t>(p) * static_cast<size_t>(beat.frameBytes));
        BeatPosition at;
        at.measure = firstMeasure;
        int64_t written = 0;
        do {
            fillPeriod(beat, beatsPerMeasure, at, period, p, out);
            result = device.writePeriod(period.data(), p);
            written += p;
        } while (!result && written < toPlay);
    }
    device.drainAndClose();
    return result;
}

Outcome PLAY(const Beat& beat, int32_t total, const std::string& device, uint32_t rate,
             int32_t beatsPerMeasure, int32_t firstMeasure, int32_t bits, FILE* out) {
    // The device's frames must be the beat's frames, or the writes would read past them.
    if (beat.frameBytes != (bits == 16 ? 2 : 3)) {
        return programError("Only 16- and 24-bit samples can be played.");
    }
    std::unique_ptr<PcmDevice> pcm;
    if (Outcome r = openAlsaPcm(device, rate, bits, pcm)) return r;
    return playBeat(*pcm, beat, total, beatsPerMeasure, firstMeasure, out);
}
