#include "click/click_set.hpp"

#include "core/sample_codec.hpp"

std::vector<ClickVoice> ClickSet::voices() const {
    ClickVoice full{bytesOf(normal.clickBytes), bytesOf(accent.clickBytes), bytesOf(subdivision)};
    std::vector<ClickVoice> all{full};
    for (const double level : levels) {
        ClickVoice quieter = full;
        quieter.normalSamples = normal.clickSamples.data();
        quieter.accentSamples = accent.clickSamples.data();
        quieter.level = level;
        all.push_back(quieter);
    }
    return all;
}

ClickSet makeClickSet(int32_t bits, float hz, uint32_t rate, std::optional<float> accentHz,
                      std::vector<double> levels) {
    ClickSet set;
    initClickState(set.normal, bits);
    initClickState(set.accent, bits);
    set.frequencyTooLow = makeClick(set.normal, hz, rate).frequencyTooLow;
    if (accentHz) {
        set.frequencyTooLow |= makeClick(set.accent, *accentHz, rate).frequencyTooLow;
        const int32_t bytes = set.normal.bytesPerSample;
        set.subdivision.resize(set.normal.clickSamples.size() * static_cast<size_t>(bytes));
        encodeScaled(set.normal.clickSamples.data(), SampleScale{kSubdivisionDivisor, 1.0},
                     set.subdivision.data(),
                     static_cast<int64_t>(set.normal.clickSamples.size()), bytes);
        set.levels = std::move(levels);
    }
    return set;
}
