#include "midi/smf_writer.hpp"

#include <unistd.h>

#include <cerrno>

#include "core/interrupt.hpp"

namespace {

constexpr int64_t kLongestDelta = 0x0FFFFFFF;   // what four bytes of variable length hold
constexpr uint64_t kLongestTrack = 0xFFFFFFFF;  // bytes a chunk's 32-bit length can state
constexpr size_t kBufferBytes = 64 * 1024;

}  // namespace

// A character is at most four bytes, so at most three continuation bytes
// (10xxxxxx) are given back; text that is no UTF-8 there is cut where it is.
size_t midiTextLength(const std::string& s) {
    if (s.size() <= kLongestMidiText) return s.size();
    const auto continues = [&](size_t i) { return (static_cast<uint8_t>(s[i]) & 0xC0) == 0x80; };
    for (size_t cut = kLongestMidiText; cut + 3 >= kLongestMidiText; --cut) {
        if (!continues(cut)) return cut;
    }
    return kLongestMidiText;
}

SmfWriter::SmfWriter(int fd) : fd_(fd), buffer_(kBufferBytes) {}

void SmfWriter::fileHeader(uint16_t format, uint16_t tracks, uint16_t division) {
    put({'M', 'T', 'h', 'd'});
    put32(6);
    put({static_cast<uint8_t>(format >> 8), static_cast<uint8_t>(format),
         static_cast<uint8_t>(tracks >> 8), static_cast<uint8_t>(tracks),
         static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)});
}

void SmfWriter::beginTrack() {
    lengthAt_ = written_ + used_ + 4;
    put({'M', 'T', 'r', 'k'});
    put32(0);
    trackBytes_ = 0;
    lastTick_ = 0;
}

void SmfWriter::endTrack() {
    at(lastTick_);
    put({0xFF, 0x2F, 0x00});
    flush();
    if (failed()) return;
    const auto size = static_cast<uint32_t>(trackBytes_);
    const uint8_t length[4] = {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                               static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
    size_t done = 0;
    while (done < sizeof length) {
        const ssize_t n = ::pwrite(fd_, length + done, sizeof length - done,
                                   static_cast<off_t>(lengthAt_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(midiError(n < 0 ? errno : EIO));
        done += static_cast<size_t>(n);
    }
}

void SmfWriter::at(int64_t tick) {
    int64_t delta = tick - lastTick_;
    while (delta > kLongestDelta) {
        quantity(static_cast<uint32_t>(kLongestDelta));
        text(0x01, std::string());
        delta -= kLongestDelta;
    }
    quantity(static_cast<uint32_t>(delta));
    lastTick_ = tick;
}

void SmfWriter::channelEvent(uint8_t status, uint8_t key, uint8_t velocity) {
    put({status, key, velocity});
}

void SmfWriter::text(uint8_t type, const std::string& s) {
    const size_t size = midiTextLength(s);
    put({0xFF, type});
    quantity(static_cast<uint32_t>(size));
    for (size_t i = 0; i < size && !failed(); ++i) put(static_cast<uint8_t>(s[i]));
}

void SmfWriter::setTempo(uint32_t micros) {
    put({0xFF, 0x51, 0x03, static_cast<uint8_t>(micros >> 16), static_cast<uint8_t>(micros >> 8),
         static_cast<uint8_t>(micros)});
}

// 24 MIDI clocks a metronome click, 8 thirty-seconds a quarter: the usual.
void SmfWriter::timeSignature(uint8_t numerator, uint8_t noteShift) {
    put({0xFF, 0x58, 0x04, numerator, noteShift, 24, 8});
}

void SmfWriter::checkSignal() {
    if (const int signal = interruptSignal()) fail(interruption(signal));
}

void SmfWriter::put(uint8_t byte) {
    if (used_ == buffer_.size()) flush();
    if (failed()) return;
    buffer_[used_++] = byte;
    if (++trackBytes_ > kLongestTrack) fail(midiError(EFBIG));
}

void SmfWriter::put(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) put(b);
}

void SmfWriter::put32(uint32_t value) {
    put({static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
         static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

void SmfWriter::quantity(uint32_t value) {
    int shift = 21;
    while (shift > 0 && (value >> shift) == 0) shift -= 7;
    for (; shift > 0; shift -= 7) put(static_cast<uint8_t>(0x80 | ((value >> shift) & 0x7F)));
    put(static_cast<uint8_t>(value & 0x7F));
}

// Hands the buffer to the file, carrying on after a short write. A stop
// signal is looked for before each write.
void SmfWriter::flush() {
    size_t done = 0;
    while (done < used_ && !failed()) {
        if (const int signal = interruptSignal()) return fail(interruption(signal));
        const ssize_t n = ::write(fd_, buffer_.data() + done, used_ - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(midiError(n < 0 ? errno : EIO));
        done += static_cast<size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
    used_ = 0;
}
