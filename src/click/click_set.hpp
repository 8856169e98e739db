// The clicks of a track: the normal one, the accent (the same synthesis at
// its own lowest frequency) and the subdivision (the normal one at a quarter
// of its level, each sample divided by 4 and truncated), at full level and
// at each quieter level a track's sections ask for.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/click_laying.hpp"
#include "click/click.hpp"

// The accent's lowest frequency when none is given: a fifth above the normal click's.
constexpr float kAccentRatio = 1.5f;

struct ClickSet {
    ClickState normal;
    ClickState accent;
    std::vector<uint8_t> subdivision;
    bool frequencyTooLow = false;  // one of the clicks is silent: no whole period fits
    // The quieter levels: voice i + 1 sounds at levels[i], its clicks made
    // from the samples above as they are laid.
    std::vector<double> levels;

    // Voice 0 at full level, then one for each quieter level.
    std::vector<ClickVoice> voices() const;
};

// The normal click at `hz`; with `accentHz`, the accent click at that
// frequency, the subdivision and the quieter `levels` too.
ClickSet makeClickSet(int32_t bits, float hz, uint32_t rate, std::optional<float> accentHz,
                      std::vector<double> levels);
