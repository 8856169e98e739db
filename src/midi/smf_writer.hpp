// The bytes of a Standard MIDI File, streamed to a file through one buffer:
// the header chunk, track chunks whose lengths are written in when each
// track ends, delta times as variable-length quantities, channel events and
// the few meta events this program writes.
//
// Numbers in the chunks are big-endian. A variable-length quantity holds
// seven bits a byte, most significant first, the top bit set on every byte
// but the last; four bytes at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "midi/midi_file.hpp"

inline Failure midiError(int error) { return fileFailure({}, error); }

// Text events hold at most this many bytes, which every reader takes.
constexpr size_t kLongestMidiText = 255;

// How much of `s` a text event keeps: all of it up to kLongestMidiText bytes,
// else the longest start that ends on a UTF-8 character boundary.
size_t midiTextLength(const std::string& s);

// The first failure sticks: later writes do nothing, and the callers look
// at failed() to stop.
class SmfWriter {
public:
    explicit SmfWriter(int fd);

    bool failed() const { return stop_.has_value(); }
    const Outcome& stop() const { return stop_; }
    void fail(const Failure& why) {
        if (!stop_) stop_ = why;
    }

    // MThd: the format, the number of tracks and the ticks a quarter note.
    void fileHeader(uint16_t format, uint16_t tracks, uint16_t division);

    // MTrk with a length written in by endTrack; delta times start at tick 0.
    void beginTrack();
    // End of Track at the last event's tick; writes out the track and then its length.
    void endTrack();

    // The delta time of an event at `tick`; events come in tick order. A gap
    // longer than a delta can state is bridged by empty text events.
    void at(int64_t tick);
    int64_t lastTick() const { return lastTick_; }

    // The events, each after its at().
    void channelEvent(uint8_t status, uint8_t key, uint8_t velocity);
    void text(uint8_t type, const std::string& s);  // 01 text, 03 track name, 06 marker
    void setTempo(uint32_t microsPerQuarter);      // the low three bytes
    void timeSignature(uint8_t numerator, uint8_t noteShift);

    // For loops that may go on for long without writing.
    void checkSignal();

private:
    void put(uint8_t byte);
    void put(std::initializer_list<uint8_t> bytes);
    void put32(uint32_t value);
    void quantity(uint32_t value);
    void flush();

    int fd_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    uint64_t written_ = 0;     // bytes in the file
    uint64_t lengthAt_ = 0;    // where the current track's length goes
    uint64_t trackBytes_ = 0;  // bytes of the current track after its length
    int64_t lastTick_ = 0;
    Outcome stop_;
};
