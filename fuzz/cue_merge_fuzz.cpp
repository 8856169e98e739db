// Fuzzes adding markers to the chunks a wave file holds before its audio:
// whatever those chunks are, the markers are either refused or added so
// that the result is whole chunks again, every other chunk kept as it was
// and in its order, the cue list holding the old points and the new ones.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "wave/cue_chunks.hpp"
#include "wave/header.hpp"

namespace {

struct Chunk {
    std::string id;
    std::vector<uint8_t> bytes;  // header, payload and pad byte
};

// The whole chunks of `data`; false when they do not fill it.
bool chunksOf(const uint8_t* data, size_t size, std::vector<Chunk>& chunks) {
    size_t at = 0;
    while (at + 8 <= size) {
        const uint32_t length = getU32le(data + at + 4);
        const uint64_t end = at + 8 + uint64_t{length} + (length & 1u);
        if (end > size) return false;
        chunks.push_back({std::string(reinterpret_cast<const char*>(data + at), 4),
                          std::vector<uint8_t>(data + at, data + end)});
        at = static_cast<size_t>(end);
    }
    return at == size;
}

bool isMarkerChunk(const Chunk& c) {
    return c.id == "cue " ||
           (c.id == "LIST" && c.bytes.size() >= 12 && std::memcmp(c.bytes.data() + 8, "adtl", 4) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<TrackMark> marks = {{"Count-in", 0}, {"verse", 88200}};
    const auto merged = chunksWithMarkers(data, size, marks, 1000);
    std::vector<Chunk> before;
    const bool whole = chunksOf(data, size, before);
    if (!merged) return 0;
    FUZZ_REQUIRE(whole);
    std::vector<Chunk> after;
    FUZZ_REQUIRE(chunksOf(merged->data(), merged->size(), after));
    std::vector<Chunk> keptBefore, keptAfter;
    for (const Chunk& c : before) {
        if (!isMarkerChunk(c)) keptBefore.push_back(c);
    }
    const Chunk* cue = nullptr;
    for (const Chunk& c : after) {
        if (!isMarkerChunk(c)) keptAfter.push_back(c);
        else if (c.id == "cue " && !cue) cue = &c;
    }
    FUZZ_REQUIRE(keptBefore.size() == keptAfter.size());
    for (size_t i = 0; i < keptBefore.size(); ++i) {
        FUZZ_REQUIRE(keptBefore[i].bytes == keptAfter[i].bytes);
    }
    // The cue list ends with the new points, moved on by the offset.
    FUZZ_REQUIRE(cue != nullptr);
    const uint32_t count = getU32le(cue->bytes.data() + 8);
    FUZZ_REQUIRE(count >= marks.size() && getU32le(cue->bytes.data() + 4) == 4 + 24 * count);
    const uint8_t* last = cue->bytes.data() + 12 + 24 * (count - 1);
    FUZZ_REQUIRE(getU32le(last + 4) == 89200 && getU32le(last + 20) == 89200);
    FUZZ_REQUIRE(std::memcmp(last + 8, "data", 4) == 0);
    return 0;
}
