#include "click/click.hpp"

#include <algorithm>
#include <cmath>

#include "core/sample_codec.hpp"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPeakScale = 12582912.0;  // 3 x 2^22

// Partial limit: drop partials while Hz x 2^(N-1), truncated, is above half the rate.
int32_t partialsThatFit(float hz, uint32_t rate) {
    int32_t n = kStartHarmonics;
    const double half = static_cast<double>(rate) * 0.5;
    while (n > 0 && std::trunc(static_cast<double>(hz) * std::pow(2.0, n - 1)) > half) {
        --n;
    }
    return n;
}

}  // namespace

void initClickState(ClickState& state, int32_t bits) {
    state.bytesPerSample = bits == 24 ? 3 : 2;
    state.silenceSample.assign(static_cast<size_t>(state.bytesPerSample), 0);
    state.harmonicCount = kStartHarmonics;
    state.cycleCount = kStartCycles;
    state.clickLength = 0;
    releaseClick(state);
}

ClickReport limitClick(ClickState& state, float hz, uint32_t rate) {
    state.harmonicCount = partialsThatFit(hz, rate);
    state.cycleCount = cyclesThatFit(hz, rate);
    state.clickLength = static_cast<int32_t>(clickLengthFor(hz, rate));
    return ClickReport{state.cycleCount == 0};
}

void synthesizeClick(int32_t* samples, int32_t lowestHz, int32_t cycles, int32_t harmonics,
                     uint32_t rate, int32_t length) {
    for (int32_t i = 0; i < length; ++i) samples[i] = 0;
    if (harmonics >= 1 && cycles >= 1 && lowestHz >= 1) {
        const float rateF = static_cast<float>(rate);
        for (int32_t h = 1; h <= harmonics; ++h) {
            const int64_t f = int64_t{h} * lowestHz;
            const float fF = static_cast<float>(f);
            const float w = static_cast<float>(kTwoPi * static_cast<double>(fF) /
                                               static_cast<double>(rateF));
            const int64_t period = static_cast<int64_t>(rateF / fF);
            int64_t i = 0;
            for (int32_t c = 1; c <= cycles; ++c) {
                const float a = static_cast<float>(std::pow(0.5, h) * kPeakScale *
                                                   std::pow(0.5, c));
                const int64_t end = std::min<int64_t>(int64_t{c} * period, length);
                for (; i < end; ++i) {
                    const float partial = a * sinf(static_cast<float>(i) * w);
                    const float sum = static_cast<float>(samples[i]) + partial;
                    samples[i] = static_cast<int32_t>(sum);
                }
            }
        }
    }
}

ClickReport makeClick(ClickState& state, float hz, uint32_t rate) {
    const ClickReport report = limitClick(state, hz, rate);
    // The synthesis uses the whole-number part of the frequency.
    const int32_t lowestHz = hz >= 1.0f && hz < kFrameCountLimit ? static_cast<int32_t>(hz) : 0;
    const ClickRecipe recipe{lowestHz, state.cycleCount, state.harmonicCount, state.clickLength,
                             rate};
    if (state.madeFrom == recipe) return report;
    // The old click goes first, so that two never take memory at once.
    releaseClick(state);
    const size_t length = static_cast<size_t>(state.clickLength);
    state.clickSamples.assign(length, 0);
    state.clickBytes.assign(length * static_cast<size_t>(state.bytesPerSample), 0);
    synthesizeClick(state.clickSamples.data(), lowestHz, state.cycleCount, state.harmonicCount,
                    rate, state.clickLength);
    if (state.bytesPerSample == 3) {
        encode24(state.clickSamples.data(), state.clickBytes.data(), state.clickLength);
    } else {
        encode16(state.clickSamples.data(), state.clickBytes.data(), state.clickLength);
    }
    state.madeFrom = recipe;
    return report;
}

void releaseClick(ClickState& state) {
    state.clickSamples.clear();
    state.clickSamples.shrink_to_fit();
    state.clickBytes.clear();
    state.clickBytes.shrink_to_fit();
    state.madeFrom.reset();
}
