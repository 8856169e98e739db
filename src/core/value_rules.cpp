#include "core/value_rules.hpp"

#include <cmath>
#include <cstdio>

#include "core/timing.hpp"

namespace {

// Rates, counts and lengths are signed 32-bit numbers in the arithmetic and
// in the files: none may pass 2^31 - 1.
constexpr uint32_t kHighestRate = static_cast<uint32_t>(kMaxFrameCount);
constexpr long long kHighestCount = kMaxFrameCount;

Failure format(const char* fmt, double a, double b = 0.0) {
    char line[256];
    std::snprintf(line, sizeof line, fmt, a, b);
    return refusal(line);
}

float beatSamplesF(uint32_t rate, float tempo) {
    return static_cast<float>(rate) / (tempo / 60.0f);
}

// The tempo map plays a beat of (rate x 60) / tempo samples in double precision.
double mapBeatSamples(uint32_t rate, float tempo) {
    return static_cast<double>(rate) * 60.0 / static_cast<double>(tempo);
}

// Whether a beat at `tempo` lasts at least one sample (both ways of counting).
bool beatAtLeastOneSample(float tempo, uint32_t rate) {
    return beatSamplesF(rate, tempo) >= 1.0f && mapBeatSamples(rate, tempo) >= 1.0;
}

// Whether a beat at `tempo` lasts less than 2^31 samples (both ways of counting).
bool beatFitsCounters(float tempo, uint32_t rate) {
    return beatSamplesF(rate, tempo) < kFrameCountLimit &&
           mapBeatSamples(rate, tempo) < kFrameCountLimitDouble;
}

bool frequencyFits(float hz, uint32_t rate) {
    return std::trunc(static_cast<double>(hz)) <= rate * 0.5;
}

// Whether the click made at `hz` keeps within its memory budget.
bool clickFits(float hz, uint32_t rate) { return clickLengthFor(hz, rate) <= kMaxClickSamples; }

bool auditionFits(float atime, uint32_t rate) {
    return static_cast<float>(rate) * atime < kFrameCountLimit;
}

// The longest audition length whose frame count still fits.
double longestAudition(uint32_t rate) {
    float longest = static_cast<float>(kFrameCountLimitDouble / rate);
    while (!auditionFits(longest, rate)) longest = std::nextafter(longest, 0.0f);
    while (auditionFits(std::nextafter(longest, kFrameCountLimit), rate)) {
        longest = std::nextafter(longest, kFrameCountLimit);
    }
    return longest;
}

// The lowest whole number (a rate, or a frequency) from which `works` holds,
// for a condition that, once it holds, holds for every higher number too;
// 0 when it never holds.
template <typename Works>
uint32_t lowestWorking(Works works) {
    uint32_t low = 1, high = kHighestRate;
    if (!works(high)) return 0;
    while (low < high) {
        const uint32_t mid = low + (high - low) / 2;
        if (works(mid)) high = mid; else low = mid + 1;
    }
    return low;
}

}  // namespace

Rule checkRate(long long rate) {
    if (rate >= 1 && rate <= kHighestRate) return std::nullopt;
    return refusal("Sample rate must be a whole number from 1 to 2147483647");
}

bool rateSuits(uint32_t rate, float tempo, float hz, float atime) {
    return !checkTempo(tempo, rate) && !checkFrequency(hz, rate) &&
           !checkAuditionLength(atime, rate);
}

Rule checkRateFor(long long rate, float tempo, float hz, float atime) {
    if (!checkRate(rate) && rateSuits(static_cast<uint32_t>(rate), tempo, hz, atime)) {
        return std::nullopt;
    }
    const uint32_t lowest = lowestWorking([&](uint32_t r) {
        return beatAtLeastOneSample(tempo, r) && frequencyFits(hz, r);
    });
    const uint32_t firstTooHigh = lowestWorking([&](uint32_t r) {
        return !(beatFitsCounters(tempo, r) && auditionFits(atime, r) && clickFits(hz, r));
    });
    const uint32_t highest = firstTooHigh == 0 ? kHighestRate : firstTooHigh - 1;
    return format("Sample rate must be a whole number from %.0f to %.0f for the tempo, "
                  "frequency and audition length in force",
                  lowest, highest);
}

Rule checkBits(long long bits) {
    if (bits == 16 || bits == 24) return std::nullopt;
    return refusal("Bit depth must be 16 or 24");
}

Rule checkTempo(float tempo, uint32_t rate) {
    if (!std::isfinite(tempo) || !(tempo > 0.0f) || !beatAtLeastOneSample(tempo, rate)) {
        return format("Tempo must be above 0 and at most %.0f bpm (one beat per sample)",
                      60.0 * rate);
    }
    if (!beatFitsCounters(tempo, rate)) {
        return refusal("Tempo must be high enough that one beat lasts at most 2147483647 samples");
    }
    return std::nullopt;
}

Rule checkFrequency(float hz, uint32_t rate) {
    if (!(std::isfinite(hz) && hz > 0.0f && frequencyFits(hz, rate))) {
        // Only the whole part of the frequency counts against half the rate.
        return format("Frequency must be above 0 and below %.0f Hz (half the sample rate)",
                      std::floor(rate * 0.5) + 1.0);
    }
    if (clickFits(hz, rate)) return std::nullopt;
    // From 4 Hz up the click is three periods long and shortens as the
    // frequency rises; below, its length jumps as whole periods stop fitting.
    const uint32_t lowest = lowestWorking(
        [&](uint32_t n) { return n >= 4 && clickFits(static_cast<float>(n), rate); });
    return format("Frequency must be at least %.0f Hz at this sample rate (the click must fit "
                  "%.0f MiB)",
                  lowest, static_cast<double>(kClickBudgetBytes >> 20));
}

Rule checkBeatsPerMeasure(long long meter) {
    if (meter >= 0 && meter <= kHighestCount) return std::nullopt;
    return refusal("Beats per measure must be a whole number from 0 to 2147483647");
}

Rule checkMeasures(long long meas) {
    if (meas >= 0 && meas <= kHighestCount) return std::nullopt;
    return refusal("Number of measures must be a whole number from 0 to 2147483647");
}

Rule checkAuditionLength(float atime, uint32_t rate) {
    if (std::isfinite(atime) && atime >= 0.0f && auditionFits(atime, rate)) return std::nullopt;
    return format("Audition length must be from 0 to %.2f seconds at this sample rate",
                  std::floor(longestAudition(rate) * 100.0) / 100.0);
}

Rule checkName(const std::string& name, size_t maxChars, const char* what) {
    if (!name.empty() && name.size() <= maxChars) return std::nullopt;
    return refusal(std::string(what) + " must be 1 to " + std::to_string(maxChars) + " characters long");
}
