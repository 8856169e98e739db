// Markers in a wave file, in the two chunks that recorders read them from,
// both placed before the data chunk so that audio can still be added after
// it:
//
//   "cue "  4-byte count, then for each point 24 bytes: id, position,
//           "data" (the chunk it points into), chunk start 0, block start 0,
//           sample offset (position and offset are the frame it marks)
//   "LIST"  "adtl", then for each point a "labl" sub-chunk: the point's id
//           and its name, zero-terminated, with a pad byte after an odd size
//
// Integers are 32-bit unsigned, least significant byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/track_mark.hpp"

// The chunks that lie between "WAVE" and the data chunk of an existing file
// (`chunks`, `size` bytes, whole chunks with their pad bytes), with `marks`
// added: to the file's cue list and label list when it has them (the new
// ids follow the highest one there), otherwise in new ones after the other
// chunks. Every mark is moved on by `offset` frames. The other chunks stay
// as they were. Nothing when the file's cue list cannot be read or the
// marks cannot be numbered or placed.
std::optional<std::vector<uint8_t>> chunksWithMarkers(const uint8_t* chunks, size_t size,
                                                      const std::vector<TrackMark>& marks,
                                                      uint64_t offset);

// Bytes of the marker chunks of `marks` in a new file.
uint64_t markerChunkBytes(const std::vector<TrackMark>& marks);
