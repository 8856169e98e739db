// How an operation ends when it does not simply carry on.
//
// Library code never ends the process: it hands one of these back up to the
// console, which prints the message and turns the status into the exit code.
#pragma once

#include <optional>
#include <string>

struct Stop {
    int status = 2;          // exit status of the process
    std::string message;     // line to print (without its line break); empty for none
    bool onStderr = false;   // sound device failures go to standard error
};

// Work stopped by a signal ends with 128 + the signal's number.
constexpr int kSignalStatusBase = 128;

// nullopt: the operation finished and the program carries on.
using Outcome = std::optional<Stop>;

// The normal ways out (`x`, `0` at start-up, end of input) end with status 2.
inline Stop quitProgram() { return Stop{2, "", false}; }

// The program's own errors: a message on standard output, status 2.
inline Stop programError(std::string message) { return Stop{2, std::move(message), false}; }

// Sound device errors: a message on standard error, status 1.
inline Stop deviceError(std::string message) { return Stop{1, std::move(message), true}; }
