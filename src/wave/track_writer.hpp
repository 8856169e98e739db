// Writing the samples of a track to an open file: each beat starts with the
// whole click, the rest is silence, on the beat grid.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// Why writing stopped: a failed write (its errno) or a caught signal.
struct WriteStop {
    int error = 0;
    int signal = 0;
};
using WriteResult = std::optional<WriteStop>;

// Writes one track of at least `count` samples at `tempo` at the
// descriptor's current offset, and adds the bytes written to `written`.
// Checks for a stop signal between writes.
WriteResult writeTrackSamples(int fd, uint32_t rate, uint32_t bits, float tempo, int32_t count,
                              const std::vector<uint8_t>& click, int32_t clickLength,
                              uint64_t& written);

// Writes all of `size` bytes at the descriptor's current offset.
WriteResult writeAll(int fd, const void* data, size_t size);
