#include "common/value_rules.hpp"

#include <cmath>
#include <cstdio>

namespace {

constexpr float kTwoTo31 = 2147483648.0f;

std::string format(const char* fmt, double a, double b = 0.0) {
    char line[256];
    std::snprintf(line, sizeof line, fmt, a, b);
    return line;
}

float beatSamplesF(uint32_t rate, float tempo) {
    return static_cast<float>(rate) / (tempo / 60.0f);
}

}  // namespace

std::string checkRate(long long rate) {
    if (rate >= 1 && rate <= 2147483647LL) return "";
    return "Sample rate must be a whole number from 1 to 2147483647";
}

std::string checkBits(long long bits) {
    if (bits == 16 || bits == 24) return "";
    return "Bit depth must be 16 or 24";
}

std::string checkTempo(float tempo, uint32_t rate) {
    const double maxBpm = 60.0 * rate;
    const std::string rule =
        format("Tempo must be above 0 and at most %.0f bpm (one beat per sample)", maxBpm);
    if (!std::isfinite(tempo) || !(tempo > 0.0f)) return rule;
    const float beat = beatSamplesF(rate, tempo);
    // The tempo map plays a beat of (rate x 60) / tempo samples in double precision.
    const double mapBeat = static_cast<double>(rate) * 60.0 / static_cast<double>(tempo);
    if (!(beat >= 1.0f) || !(mapBeat >= 1.0)) return rule;
    if (!(beat < kTwoTo31) || !(mapBeat < 2147483648.0)) {
        return "Tempo must be high enough that one beat lasts at most 2147483647 samples";
    }
    return "";
}

std::string checkFrequency(float hz, uint32_t rate) {
    const std::string rule =
        format("Frequency must be above 0 and at most %.0f Hz (half the sample rate)",
               std::floor(rate * 0.5));
    if (!std::isfinite(hz) || !(hz > 0.0f)) return rule;
    if (std::trunc(static_cast<double>(hz)) > rate * 0.5) return rule;
    return "";
}

std::string checkBeatsPerMeasure(long long meter) {
    if (meter >= 0 && meter <= 2147483647LL) return "";
    return "Beats per measure must be a whole number from 0 to 2147483647";
}

std::string checkMeasures(long long meas) {
    if (meas >= 0 && meas <= 2147483647LL) return "";
    return "Number of measures must be a whole number from 0 to 2147483647";
}

std::string checkAuditionLength(float atime, uint32_t rate) {
    const std::string rule = format(
        "Audition length must be from 0 to %.1f seconds at this sample rate",
        std::floor(2147483647.0 / rate * 10.0) / 10.0);
    if (!std::isfinite(atime) || !(atime >= 0.0f)) return rule;
    if (!(static_cast<float>(rate) * atime < kTwoTo31)) return rule;
    return "";
}

std::string checkName(const std::string& name, size_t maxChars, const char* what) {
    if (!name.empty() && name.size() <= maxChars) return "";
    return std::string(what) + " must be 1 to " + std::to_string(maxChars) + " characters long";
}

int32_t beatSamples(uint32_t rate, float tempo) {
    return static_cast<int32_t>(beatSamplesF(rate, tempo));
}
