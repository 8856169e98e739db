#include "console/settings.hpp"

float startupTrackSeconds(const Settings& s) {
    const int64_t beats = int64_t{s.meter} * s.meas;
    return static_cast<float>(beats) / (s.tempo / 60.0f);
}

float sectionSeconds(int64_t beats, int64_t measures, float tempo) {
    const float product = static_cast<float>(beats * measures);
    const double quotient = 60.0 / static_cast<double>(tempo);
    return static_cast<float>(static_cast<double>(product) * quotient);
}

float recomputedTrackSeconds(const Settings& s) {
    return sectionSeconds(s.meter, s.meas, s.tempo);
}
