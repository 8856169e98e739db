// The chunks of a RIFF byte range, one after another: a 4-byte id, a 4-byte
// size (least significant byte first), the payload, and one pad byte after a
// payload of odd length.
//
// Only bytes inside the range are ever read. A chunk is given whenever its
// header lies in the range, even when its payload runs past the end (`held`
// says how much of it is there); the walk ends at the first header that does
// not fit. Offsets are 64-bit, so that a size near 4 GiB cannot wrap them
// round on a 32-bit system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct RiffChunk {
    uint64_t offset = 0;              // of its id, from the range's start
    const uint8_t* id = nullptr;      // its 4 bytes, the start of the chunk
    uint32_t size = 0;                // the payload's size as stated
    const uint8_t* payload = nullptr;
    size_t held = 0;                  // payload bytes inside the range, at most `size`
    uint64_t end = 0;                 // offset of the next chunk, after the pad byte
    bool whole = false;               // payload and pad byte both inside the range

    bool is(const char* name) const { return std::memcmp(id, name, 4) == 0; }
};

class RiffChunks {
public:
    RiffChunks(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    // The next chunk; false when fewer than 8 bytes are left for its header.
    bool next(RiffChunk& chunk);

    // Where the next chunk starts: once next() is false, the range's size
    // when its chunks fill it exactly.
    uint64_t offset() const { return at_; }

private:
    const uint8_t* bytes_;
    size_t size_;
    uint64_t at_ = 0;
};
