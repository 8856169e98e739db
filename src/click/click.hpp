// The click: a sum of sine partials on whole multiples of the lowest
// frequency, each lasting a few of its own periods under a halving envelope.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

constexpr int32_t kStartHarmonics = 8;   // partials in a full click
constexpr int32_t kStartCycles = 3;      // periods of the lowest partial

// The longest click the program makes: 32 MiB of 24-bit samples. With its
// 32-bit samples beside it, a click takes at most 75 MiB, and making it
// takes well under a second.
constexpr int64_t kClickBudgetBytes = int64_t{32} << 20;
constexpr int64_t kMaxClickSamples = kClickBudgetBytes / 3;

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

// Samples in the click LIMIT_CLICK sets up for `hz` and `rate`; 0 when no
// whole period fits in one second. Always below the rate.
int64_t clickLengthFor(float hz, uint32_t rate);

// Sets harmonicCount, cycleCount and clickLength for the frequency and rate,
// starting each time from the full click. Writes the "too low" line to `out`
// when no whole period fits in one second.
void LIMIT_CLICK(ClickState& state, float hz, uint32_t rate, FILE* out);

// Fills samples[0, length) with the click; writes one line break to `out`.
void GEN_CLICK(int32_t* samples, int32_t lowestHz, int32_t cycles, int32_t harmonics,
               uint32_t rate, int32_t length, FILE* out);

// The click stage of a menu pass: limits, synthesis and encoding. The click
// of an earlier stage is kept when it was made from the same values; what
// the stage writes to `out` is the same either way.
void MAKE_CLICK(ClickState& state, float hz, uint32_t rate, FILE* out);

// Releases the click buffers; the next stage makes the click afresh.
void releaseClick(ClickState& state);
