// The built-in sounds besides the classic click: short struck and beeped
// sounds made to be heard over a band, each in a normal, an accent and a
// subdivision version of the same length whatever their pitch.
//
// Every sample comes from additions and multiplications of doubles in an
// order fixed here (oscillators by rotation, envelopes by repeated
// multiplication, noise from a 32-bit xorshift generator), so that the same
// sound at the same rate has the same samples on every machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Which version of a sound: the three differ in pitch or colour, not in
// level; the levels are laid over them.
enum class SoundVersion { Normal, Accent, Subdivision };

struct BuiltInSound {
    const char* name;
    const char* description;   // one line for --list-sounds
    int32_t milliseconds;      // length of every version; 0: the classic click's own
    double accentDecibels;     // the accent's level above the normal's when none is given
};

// The sounds in the order --list-sounds gives them; the classic click first.
const std::vector<BuiltInSound>& builtInSounds();

// The sound of that name, if there is one.
std::optional<BuiltInSound> findSound(const std::string& name);

// The sound the command line uses when none is named.
constexpr const char* kDefaultSound = "woodblock";
constexpr const char* kClassicSound = "classic";

// Peak of every version of a designed sound before the levels: -4 dBFS on
// the 24-bit scale (full scale 8388607).
constexpr int32_t kDesignedPeak = 5292851;

// The samples of a designed sound (not the classic click) on the 24-bit
// scale at `rate`: its length in milliseconds at that rate, rounded down,
// and peaking at kDesignedPeak. Empty for the classic click, an unknown
// name, or a length below one sample.
std::vector<int32_t> designedSound(const std::string& name, SoundVersion version, uint32_t rate);

// The gain of a level in decibels, 10^(dB / 20), by a series of our own
// rather than the C library's, so that every machine gets the same double.
double gainOfDecibels(double decibels);
