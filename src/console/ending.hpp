// How the menu program ends, and how it shows what failed below it.
#pragma once

#include <optional>
#include <string>

#include "core/outcome.hpp"

// Work stopped by a signal ends with 128 + the signal's number.
constexpr int kSignalStatusBase = 128;

struct Stop {
    int status = 2;          // exit status of the process
    std::string message;     // line to print (without its line break); empty for none
    bool onStderr = false;   // sound device failures go to standard error

    Stop(int status, std::string message, bool onStderr)
        : status(status), message(std::move(message)), onStderr(onStderr) {}

    // The menu's way with every failure below it: a sound device's on
    // standard error with status 1, a signal's with 128 + its number, any
    // other on standard output with status 2.
    Stop(const Failure& failure)  // NOLINT: every failure ends the menu this way
        : status(failure.kind == Failure::Kind::Device        ? 1
                 : failure.kind == Failure::Kind::Interrupted ? kSignalStatusBase + failure.signal
                                                              : 2),
          message(failure.detail),
          onStderr(failure.kind == Failure::Kind::Device) {}
};

// nullopt: the menu carries on.
using Ending = std::optional<Stop>;

// The normal ways out (`x`, `0` at start-up, end of input) end with status 2.
inline Stop quitProgram() { return Stop{2, "", false}; }

// The menu's own errors: a message on standard output, status 2.
inline Stop programError(std::string message) { return Stop{2, std::move(message), false}; }
