// How work below the front ends ends when it does not simply carry on: one
// kind of failure for the whole engine. It tells what failed, the file and
// the system's error when there are any, and a sentence for a person; it
// never chooses an exit status or a stream, which each front end decides.
#pragma once

#include <optional>
#include <string>
#include <utility>

struct Failure {
    enum class Kind {
        Refused,      // a value, a file or a request the program does not work with
        File,         // reading or writing a file failed
        Device,       // the sound device failed
        Interrupted,  // a stop signal ended the work
    };
    Kind kind = Kind::Refused;
    std::string detail;  // what to tell, without its line break; may be empty
    std::string path;    // the file it concerns, when there is one
    int error = 0;       // errno, or the sound library's code
    int signal = 0;      // Interrupted: the signal
};

// nullopt: the work finished and the program carries on.
using Outcome = std::optional<Failure>;

inline Failure refusal(std::string detail) {
    return Failure{Failure::Kind::Refused, std::move(detail), {}, 0, 0};
}

inline Failure fileFailure(std::string path, int error, std::string detail = {}) {
    return Failure{Failure::Kind::File, std::move(detail), std::move(path), error, 0};
}

inline Failure deviceFailure(std::string detail, int error = 0) {
    return Failure{Failure::Kind::Device, std::move(detail), {}, error, 0};
}

inline Failure interruption(int signal, std::string detail = {}) {
    return Failure{Failure::Kind::Interrupted, std::move(detail), {}, 0, signal};
}
