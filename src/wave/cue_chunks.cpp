#include "wave/cue_chunks.hpp"

#include <cstring>
#include <string>

#include "wave/header.hpp"
#include "wave/riff_chunks.hpp"

namespace {

constexpr size_t kCuePointBytes = 24;

void putId(std::vector<uint8_t>& out, const char* id) { out.insert(out.end(), id, id + 4); }

void putU32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    putU32le(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

void putChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& payload) {
    putId(out, id);
    putU32(out, static_cast<uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() % 2 == 1) out.push_back(0);
}

// What the file holds already, and where the new marks go.
struct CueState {
    std::vector<uint8_t> points;  // the old cue points, 24 bytes each
    std::vector<uint8_t> labels;  // the old label list's sub-chunks, after "adtl"
    uint32_t nextId = 1;
    bool hasCue = false;
    bool hasLabels = false;
};

std::vector<uint8_t> cueChunk(const CueState& state, const std::vector<TrackMark>& marks,
                              uint64_t offset) {
    std::vector<uint8_t> payload;
    putU32(payload, static_cast<uint32_t>(state.points.size() / kCuePointBytes + marks.size()));
    payload.insert(payload.end(), state.points.begin(), state.points.end());
    uint32_t id = state.nextId;
    for (const TrackMark& mark : marks) {
        const uint32_t at = static_cast<uint32_t>(static_cast<uint64_t>(mark.frame) + offset);
        putU32(payload, id++);
        putU32(payload, at);
        putId(payload, "data");
        putU32(payload, 0);
        putU32(payload, 0);
        putU32(payload, at);
    }
    std::vector<uint8_t> out;
    putChunk(out, "cue ", payload);
    return out;
}

std::vector<uint8_t> labelChunk(const CueState& state, const std::vector<TrackMark>& marks) {
    std::vector<uint8_t> payload;
    putId(payload, "adtl");
    payload.insert(payload.end(), state.labels.begin(), state.labels.end());
    uint32_t id = state.nextId;
    for (const TrackMark& mark : marks) {
        std::vector<uint8_t> label;
        putU32(label, id++);
        label.insert(label.end(), mark.name.begin(), mark.name.end());
        label.push_back(0);
        putChunk(payload, "labl", label);
    }
    std::vector<uint8_t> out;
    putChunk(out, "LIST", payload);
    return out;
}

bool isLabelList(const RiffChunk& c) {
    return c.is("LIST") && c.held >= 4 && std::memcmp(c.payload, "adtl", 4) == 0;
}

// New ids follow the highest one in use: a label may name a cue point the
// file does not have, and a new point must not take that name.
bool takeId(uint64_t id, CueState& state) {
    if (id + 1 <= state.nextId) return true;
    if (id == UINT32_MAX) return false;
    state.nextId = static_cast<uint32_t>(id + 1);
    return true;
}

// The ids the label list's sub-chunks (labels, notes, texts) name; the walk
// stops at a sub-chunk that runs past the list.
bool takeLabelIds(CueState& state) {
    RiffChunks walk(state.labels.data(), state.labels.size());
    RiffChunk c;
    while (walk.next(c)) {
        if (c.held >= 4 && !takeId(getU32le(c.payload), state)) return false;
    }
    return true;
}

// Reads the first cue list and label list among `chunks`; false when the
// chunks or the cue list do not hold together.
bool readCueState(const uint8_t* chunks, size_t size, CueState& state) {
    RiffChunks walk(chunks, size);
    RiffChunk c;
    while (walk.next(c)) {
        if (!c.whole) return false;
        const uint8_t* payload = c.payload;
        if (c.is("cue ") && !state.hasCue) {
            if (c.size < 4) return false;
            const uint64_t count = getU32le(payload);
            if (4 + count * kCuePointBytes > c.size) return false;
            state.hasCue = true;
            state.points.assign(payload + 4, payload + 4 + count * kCuePointBytes);
            for (uint64_t i = 0; i < count; ++i) {
                if (!takeId(getU32le(payload + 4 + i * kCuePointBytes), state)) return false;
            }
        } else if (isLabelList(c) && !state.hasLabels) {
            state.hasLabels = true;
            state.labels.assign(payload + 4, payload + c.size);
            if (c.size % 2 == 1) state.labels.push_back(0);  // the last sub-chunk's pad byte
            if (!takeLabelIds(state)) return false;
        }
    }
    return walk.offset() == size;
}

}  // namespace

std::optional<std::vector<uint8_t>> chunksWithMarkers(const uint8_t* chunks, size_t size,
                                                      const std::vector<TrackMark>& marks,
                                                      uint64_t offset) {
    CueState state;
    if (!readCueState(chunks, size, state)) return std::nullopt;
    if (uint64_t{state.nextId} + marks.size() > UINT32_MAX) return std::nullopt;
    for (const TrackMark& mark : marks) {
        if (mark.frame < 0 || static_cast<uint64_t>(mark.frame) + offset > UINT32_MAX) {
            return std::nullopt;
        }
    }
    std::vector<uint8_t> out;
    bool cueDone = false, labelsDone = false;
    // readCueState found every chunk whole.
    RiffChunks walk(chunks, size);
    RiffChunk c;
    while (walk.next(c)) {
        if (c.is("cue ") && !cueDone) {
            const std::vector<uint8_t> cue = cueChunk(state, marks, offset);
            out.insert(out.end(), cue.begin(), cue.end());
            cueDone = true;
        } else if (isLabelList(c) && !labelsDone) {
            const std::vector<uint8_t> list = labelChunk(state, marks);
            out.insert(out.end(), list.begin(), list.end());
            labelsDone = true;
        } else {
            out.insert(out.end(), c.id, c.id + static_cast<size_t>(c.end - c.offset));
        }
    }
    if (!cueDone) {
        const std::vector<uint8_t> cue = cueChunk(state, marks, offset);
        out.insert(out.end(), cue.begin(), cue.end());
    }
    if (!labelsDone) {
        const std::vector<uint8_t> list = labelChunk(state, marks);
        out.insert(out.end(), list.begin(), list.end());
    }
    return out;
}

uint64_t markerChunkBytes(const std::vector<TrackMark>& marks) {
    if (marks.empty()) return 0;
    const std::optional<std::vector<uint8_t>> chunks = chunksWithMarkers(nullptr, 0, marks, 0);
    return chunks ? chunks->size() : 0;
}
