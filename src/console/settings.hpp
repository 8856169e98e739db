// The user's settings, owned by main for the whole run.
#pragma once

#include <cstdint>
#include <string>

struct Settings {
    uint32_t rate = 44100;            // samples per second
    std::string device = "default";   // ALSA PCM device name, at most 15 characters
    int32_t bits = 24;                // 16 or 24
    float tempo = 120.0f;             // beats per minute
    float Hz = 60.0f;                 // lowest click frequency
    float atime = 10.0f;              // audition length in seconds
    int32_t meter = 4;                // beats per measure
    int32_t meas = 48;                // measures written by `w` and `+`
    std::string save = "click.wav";   // output wave file, at most 63 characters
    std::string map = "tmap.txt";     // tempo map file, at most 127 characters
};

// Longest text each name field holds (its buffer less the terminator).
constexpr size_t kDeviceMaxChars = 15;
constexpr size_t kSaveMaxChars = 63;
constexpr size_t kMapMaxChars = 127;

// Track length at start-up: meter x meas / (tempo / 60), all in single precision.
float startupTrackSeconds(const Settings& s);

// Track length after `t`, `b` or `m`: the product as float times the double
// quotient 60 / tempo, stored as float. Differs from the start-up value in the
// last bits for some tempos.
float recomputedTrackSeconds(const Settings& s);

// Length in seconds of a section of `beats` x `measures` beats at `tempo`,
// computed the same way as recomputedTrackSeconds.
float sectionSeconds(int64_t beats, int64_t measures, float tempo);
