#include "click/click.hpp"

#include <algorithm>
#include <cmath>

#include "click/encode.hpp"

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

// Period of the lowest frequency in whole samples, or -1 when it is far
// longer than any rate (then no whole period fits in a second).
int64_t lowestPeriod(float hz, uint32_t rate) {
    const float p = static_cast<float>(rate) / hz;
    if (!(p < 4294967296.0f)) return -1;
    return static_cast<int64_t>(p);
}

// Whole periods of the lowest frequency, from kStartCycles down, that fit
// below the rate; 0 when none does.
int32_t cyclesThatFit(float hz, uint32_t rate) {
    const int64_t p = lowestPeriod(hz, rate);
    if (p < 0) return 0;
    for (int32_t n = kStartCycles; n >= 1; --n) {
        if (p * n < int64_t{rate}) return n;
    }
    return 0;
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

int64_t clickLengthFor(float hz, uint32_t rate) {
    const int32_t cycles = cyclesThatFit(hz, rate);
    return cycles == 0 ? 0 : lowestPeriod(hz, rate) * cycles;
}

void LIMIT_CLICK(ClickState& state, float hz, uint32_t rate, FILE* out) {
    state.harmonicCount = partialsThatFit(hz, rate);
    state.cycleCount = cyclesThatFit(hz, rate);
    state.clickLength = static_cast<int32_t>(clickLengthFor(hz, rate));
    if (state.cycleCount == 0) {
        std::fputs("The frequency chosen is too low for this tempo!\n", out);
    }
}

void GEN_CLICK(int32_t* samples, int32_t lowestHz, int32_t cycles, int32_t harmonics,
               uint32_t rate, int32_t length, FILE* out) {
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
    std::fputc('\n', out);
}

void MAKE_CLICK(ClickState& state, float hz, uint32_t rate, FILE* out) {
    LIMIT_CLICK(state, hz, rate, out);
    // The synthesis uses the whole-number part of the frequency.
    const int32_t lowestHz = hz >= 1.0f && hz < 2147483648.0f ? static_cast<int32_t>(hz) : 0;
    const ClickRecipe recipe{lowestHz, state.cycleCount, state.harmonicCount, state.clickLength,
                             rate};
    if (state.madeFrom == recipe) {
        std::fputc('\n', out);  // the line the synthesis would have written
        return;
    }
    // The old click goes first, so that two never take memory at once.
    releaseClick(state);
    const size_t length = static_cast<size_t>(state.clickLength);
    state.clickSamples.assign(length, 0);
    state.clickBytes.assign(length * static_cast<size_t>(state.bytesPerSample), 0);
    GEN_CLICK(state.clickSamples.data(), lowestHz, state.cycleCount, state.harmonicCount, rate,
              state.clickLength, out);
    if (state.bytesPerSample == 3) {
        NUM24_TO_CHAR(state.clickSamples.data(), state.clickBytes.data(), state.clickLength);
    } else {
        NUM24_TO_CHAR16(state.clickSamples.data(), state.clickBytes.data(), state.clickLength);
    }
    state.madeFrom = recipe;
}

void releaseClick(ClickState& state) {
    state.clickSamples.clear();
    state.clickSamples.shrink_to_fit();
    state.clickBytes.clear();
    state.clickBytes.shrink_to_fit();
    state.madeFrom.reset();
}
