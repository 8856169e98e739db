// The click: a sum of sine partials on whole multiples of the lowest
// frequency, each lasting a few of its own periods under a halving envelope.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

constexpr int32_t kStartHarmonics = 8;   // partials in a full click
constexpr int32_t kStartCycles = 3;      // periods of the lowest partial

struct ClickState {
    int32_t harmonicCount = kStartHarmonics;
    int32_t cycleCount = kStartCycles;
    int32_t clickLength = 0;                 // samples
    int32_t bytesPerSample = 3;
    std::vector<uint8_t> silenceSample;      // one encoded sample of silence
    std::vector<int32_t> clickSamples;       // the click on a 24-bit scale
    std::vector<uint8_t> clickBytes;         // the encoded click
};

// Fixes the per-run values from the bit depth: bytes per sample and silence.
void initClickState(ClickState& state, int32_t bits);

// Sets harmonicCount, cycleCount and clickLength for the frequency and rate,
// starting each time from the full click. Writes the "too low" line to `out`
// when no whole period fits in one second.
void LIMIT_CLICK(ClickState& state, float hz, uint32_t rate, FILE* out);

// Fills samples[0, length) with the click; writes one line break to `out`.
void GEN_CLICK(int32_t* samples, int32_t lowestHz, int32_t cycles, int32_t harmonics,
               uint32_t rate, int32_t length, FILE* out);

// The click stage of a menu pass: limits, synthesis and encoding.
void MAKE_CLICK(ClickState& state, float hz, uint32_t rate, FILE* out);

// Releases the pass's click buffers.
void releaseClick(ClickState& state);
