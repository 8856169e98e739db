// The clicks of a track: the normal one, the accent, the subdivision and the
// soft beat's, at full level and at each quieter level a track's sections
// ask for.
//
// The classic click's accent is the same synthesis at its own lowest
// frequency, its subdivision and soft click the normal one at their levels;
// a designed sound has a version of its own for the accent and the
// subdivision (see sounds.hpp), its soft click the normal one at its level.
// Each click is the sound's samples on the 24-bit scale times the volume and
// its own level, truncated and held within full scale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/click_laying.hpp"
#include "click/click.hpp"
#include "click/sounds.hpp"

// The accent's lowest frequency when none is given: a fifth above the normal click's.
constexpr float kAccentRatio = 1.5f;

// The levels of the clicks when none is given, as gains: the subdivision a
// quarter of the volume (-12.04 dB), the soft beat -10 dB.
constexpr double kSubdivisionGain = 0.25;
constexpr double kSoftDecibels = -10.0;

// A sound of the user's own (a sample), on the 24-bit scale at the track's
// rate: the normal click, the accent and the subdivision, each the normal
// one when empty.
struct SoundSamples {
    std::vector<int32_t> normal;
    std::vector<int32_t> accent;
    std::vector<int32_t> subdivision;
};

// Which sound, and the levels laid over it, as gains. `accent` is relative
// to the volume; none: the sound's own (see BuiltInSound). `subdivision`
// and `soft` are relative to the volume too.
struct ClickChoice {
    std::string sound = kClassicSound;
    double volume = 1.0;
    std::optional<double> accent;
    double subdivision = kSubdivisionGain;
    double soft = gainOfDecibels(kSoftDecibels);
    // The user's own sound instead of the named one, its accent at the
    // volume unless `accent` says otherwise; held elsewhere.
    const SoundSamples* samples = nullptr;
};

struct ClickSet {
    ClickState normal;
    ClickState accent;
    std::vector<int32_t> subdivisionSamples;
    std::vector<uint8_t> subdivision;
    std::vector<int32_t> softSamples;
    std::vector<uint8_t> soft;
    bool frequencyTooLow = false;  // one of the clicks is silent: no whole period fits
    // The quieter levels: voice i + 1 sounds at levels[i], its clicks made
    // from the samples above as they are laid.
    std::vector<double> levels;

    // Voice 0 at full level, then one for each quieter level.
    std::vector<ClickVoice> voices() const;
};

// The normal click at `hz` (the classic click's lowest frequency); with
// `accentHz`, the accent click at that frequency, the subdivision, the soft
// click and the quieter `levels` too. A designed sound ignores both
// frequencies and always has every click, and so does the user's own.
ClickSet makeClickSet(int32_t bits, float hz, uint32_t rate, std::optional<float> accentHz,
                      std::vector<double> levels, const ClickChoice& choice = {});
