// Everything the program keeps for one run. main owns the one Session and
// passes it to the parts that need it.
#pragma once

#include <cstdio>

#include "click/click.hpp"
#include "core/settings.hpp"

// The three standard streams, passed explicitly so that every path can be
// driven from a test.
struct Console {
    FILE* in = stdin;
    FILE* out = stdout;
    FILE* err = stderr;
};

struct Session {
    Console io;
    Settings settings;
    float trackSeconds = 96.0f;  // length of the track `w` and `+` write
    ClickState click;
};

// Name of the settings file in the working directory.
constexpr const char* kSettingsFileName = "dodiradoz.txt";
