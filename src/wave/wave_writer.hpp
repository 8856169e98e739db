// Writing click-track wave files. Each operation opens the file, does its
// work and closes it again; failures come back as a Stop for the console.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/outcome.hpp"

// Creates or truncates `path` and writes the header for `frames` samples.
Outcome MAKE_HEADER(const std::string& path, uint32_t rate, uint32_t bits, int32_t frames);

// Appends one track of at least `count` samples at `tempo` to the existing
// file: each beat starts with the whole click, the rest is silence.
Outcome WRITE_FILE(uint32_t rate, int32_t bits, float tempo, int32_t count,
                   const std::string& path, const std::vector<uint8_t>& click,
                   const std::vector<uint8_t>& silence, int32_t clickLength);

// Brings the RIFF and data size fields into line with the file's length.
Outcome FIX_SIZE(const std::string& path);

// Checks that `path` can take a further track: it exists, is writable, has a
// "data" tag in reach, and is a one-channel PCM wave file at `rate` and `bits`.
// Reports its current size in `bytes`.
Outcome checkAppendTarget(const std::string& path, uint32_t rate, int32_t bits, uint64_t& bytes);

// Offset of the "data" tag: the first even offset from 2 to 15000 holding
// it, or -1 when there is none.
long findDataTag(const uint8_t* bytes, size_t size);
