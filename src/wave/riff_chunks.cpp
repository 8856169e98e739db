#include "wave/riff_chunks.hpp"

#include <algorithm>

#include "wave/header.hpp"

bool RiffChunks::next(RiffChunk& chunk) {
    constexpr uint64_t kHeader = 8;
    if (at_ > size_ || size_ - at_ < kHeader) return false;
    const size_t start = static_cast<size_t>(at_);
    chunk.offset = at_;
    chunk.id = bytes_ + start;
    chunk.size = getU32le(bytes_ + start + 4);
    chunk.payload = bytes_ + start + kHeader;
    chunk.held = static_cast<size_t>(std::min<uint64_t>(chunk.size, size_ - start - kHeader));
    chunk.end = at_ + kHeader + chunk.size + (chunk.size & 1u);
    chunk.whole = chunk.end <= size_;
    at_ = chunk.end;
    return true;
}
