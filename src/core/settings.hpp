// The user's settings, owned by main for the whole run.
#pragma once

#include <cstdint>
#include <string>

struct Settings {
    uint32_t rate = 44100;            // samples per second
    std::string device = "default";   // ALSA PCM device name, at most 15 characters
    int32_t bits = 24;                // 16 or 24
    float tempo = 120.0f;             // beats per minute
    float hz = 60.0f;                 // lowest click frequency
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
