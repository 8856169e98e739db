// The click: a sum of sine partials on whole multiples of the lowest
// frequency, each lasting a few of its own periods under a halving envelope.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/timing.hpp"


// What a click is made from; two clicks made from the same are the same.
struct ClickRecipe {
    int32_t lowestHz = 0;
    int32_t cycles = 0;
    int32_t harmonics = 0;
    int32_t length = 0;
    uint32_t rate = 0;
    bool operator==(const ClickRecipe& o) const {
        return lowestHz == o.lowestHz && cycles == o.cycles && harmonics == o.harmonics &&
               length == o.length && rate == o.rate;
    }
};

struct ClickState {
    int32_t harmonicCount = kStartHarmonics;
    int32_t cycleCount = kStartCycles;
    int32_t clickLength = 0;                 // samples
    int32_t bytesPerSample = 3;
    std::vector<uint8_t> silenceSample;      // one encoded sample of silence
    std::vector<int32_t> clickSamples;       // the click on a 24-bit scale
    std::vector<uint8_t> clickBytes;         // the encoded click
    std::optional<ClickRecipe> madeFrom;     // what the two buffers hold, if anything
};

// Fixes the per-run values from the bit depth: bytes per sample and silence.
void initClickState(ClickState& state, int32_t bits);

// What a click stage has to tell besides the click: the frequency is so low
// that no whole period fits in one second, and the click is silent.
struct ClickReport {
    bool frequencyTooLow = false;
};

// Sets harmonicCount, cycleCount and clickLength for the frequency and rate,
// starting each time from the full click.
ClickReport limitClick(ClickState& state, float hz, uint32_t rate);

// Fills samples[0, length) with the click.
void synthesizeClick(int32_t* samples, int32_t lowestHz, int32_t cycles, int32_t harmonics,
                     uint32_t rate, int32_t length);

// The click stage: limits, synthesis and encoding. The click of an earlier
// stage is kept when it was made from the same values.
ClickReport makeClick(ClickState& state, float hz, uint32_t rate);

// Releases the click buffers; the next stage makes the click afresh.
void releaseClick(ClickState& state);
