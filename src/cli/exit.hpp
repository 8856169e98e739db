// How a command ends: its exit status and what it says last.
#pragma once

#include <optional>
#include <string>

// Work stopped by a signal ends with 128 + the signal's number.
constexpr int kSignalExit = 128;

struct Exit {
    int status = 2;          // exit status of the process
    std::string message;     // line to print (without its line break); empty for none
    bool onStderr = false;
};

// nullopt: the command carries on.
using Result = std::optional<Exit>;
