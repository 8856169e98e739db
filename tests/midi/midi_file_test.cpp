// The MIDI file of a track, read back byte by byte: the events of a small
// map, every beat of a table of maps against its click, every note of
// changes of tempo against its click, long markers, and the refusals; and
// the writer of the file's bytes on its own.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/timing.hpp"
#include "midi/midi_file.hpp"
#include "midi/smf_writer.hpp"
#include "track/planner.hpp"
#include "track/practice.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
using Event = std::pair<int64_t, Bytes>;  // tick from the track's start, the bytes after the delta
const Bytes kEnd{0xFF, 0x2F, 0x00};

struct Midi {
    Bytes header;  // the 6 bytes of MThd
    std::vector<std::vector<Event>> tracks;
};

// Every track must end with End of Track exactly at its stated length.
Midi parseMidi(const Bytes& b) {
    size_t at = 0;
    const auto big32 = [&](size_t i) {
        return uint32_t{b.at(i)} << 24 | uint32_t{b.at(i + 1)} << 16 | uint32_t{b.at(i + 2)} << 8 | b.at(i + 3);
    };
    const auto quantity = [&] {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t c = b.at(at++);
            v = v << 7 | (c & 0x7F);
            if (!(c & 0x80)) return v;
        }
        throw std::runtime_error("a quantity of five bytes");
    };
    const auto chunk = [&](const char* id) { return b.size() >= at + 8 && std::equal(id, id + 4, &b[at]); };
    if (!chunk("MThd") || big32(4) != 6) throw std::runtime_error("no MThd");
    Midi midi{Bytes(b.begin() + 8, b.begin() + 14), {}};
    for (at = 14; at < b.size();) {
        if (!chunk("MTrk")) throw std::runtime_error("no MTrk");
        const size_t end = at + 8 + big32(at + 4);
        std::vector<Event>& track = midi.tracks.emplace_back();
        int64_t tick = 0;
        for (at += 8; at < end;) {
            if (!track.empty() && track.back().second == kEnd) throw std::runtime_error("after the end");
            tick += quantity();
            const size_t start = at;
            if (b.at(at) == 0xFF) {
                at += 2;
                at += quantity();
            } else {
                at += 3;
            }
            if (at > end) throw std::runtime_error("an event past its track");
            track.emplace_back(tick, Bytes(b.begin() + long(start), b.begin() + long(at)));
        }
        if (track.empty() || track.back().second != kEnd || at != end) throw std::runtime_error("no end");
    }
    return midi;
}

// What `write` puts in a file through an SmfWriter.
template <typename Write>
Bytes smfBytes(Write write) {
    const int fd = memfd_create("smf", 0);
    if (fd < 0) throw std::runtime_error("memfd_create failed");
    SmfWriter out(fd);
    write(out);
    Bytes bytes(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
    if (out.failed() || pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        bytes.clear();
    }
    close(fd);
    return bytes;
}

// With `clicks`, the file is written in the walk that lays clicks of those
// frames, cut where the next starts, as a wave file beside it would.
std::pair<Outcome, Bytes> writeToMemory(const std::vector<ScheduledSection>& sections,
                                                        const std::vector<std::string>& names = {},
                                                        std::optional<int64_t> clicks = {}) {
    const int fd = memfd_create("midi", 0);
    if (fd < 0) throw std::runtime_error("memfd_create failed");
    Outcome stop;
    if (clicks) {
        const std::vector<ClickLengths> lengths{{*clicks, *clicks, *clicks}};
        MidiFileOutput output(fd, ::testing::TempDir(), sections, names,
                              measureTrack(sections, lengths, ClickOverlap::Cut).beats);
        BeatSchedule schedule(sections);
        walkTrack(schedule, lengths, ClickOverlap::Cut, {&output});
        stop = output.stop();
    } else {
        stop = writeMidiFile(fd, ::testing::TempDir(), sections, names);
    }
    Bytes bytes(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
    if (pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) bytes.clear();
    close(fd);
    return {stop, bytes};
}

ScheduledSection exact(std::vector<double> tempos, int64_t beats, int64_t perMeasure = 4,
                       double noteValue = 4.0, uint32_t rate = 48000) {
    ScheduledSection s;
    s.rounding = BeatRounding::Exact;
    s.rate = rate;
    s.tempos = std::move(tempos);
    s.beatCount = beats;
    s.beatsPerMeasure = perMeasure;
    s.noteValue = noteValue;
    return s;
}

Bytes tempoEvent(uint32_t u) { return {0xFF, 0x51, 3, uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)}; }
Bytes meterEvent(uint8_t n, uint8_t shift) { return {0xFF, 0x58, 4, n, shift, 24, 8}; }
Bytes textEvent(uint8_t type, const std::string& s) {  // up to 16383 bytes
    Bytes e{0xFF, type};
    if (s.size() > 127) e.push_back(uint8_t(0x80 | s.size() >> 7));
    e.push_back(uint8_t(s.size() & 0x7F));
    for (char c : s) e.push_back(uint8_t(c));
    return e;
}

double micros(int64_t frame, uint32_t rate) { return double(frame) * 1e6 / rate; }

TEST(MidiFile, TwoSectionsWithAChangeOfTempoByteByByte) {
    // 2 measures of 4/4 at 120, a beat split in two; 4 measures and 2 beats
    // of 3/8 at 140 quarters a minute, a beat split in three, pattern Xx.
    ScheduledSection intro = exact({120}, 8);
    intro.subdivide = 2;
    intro.pattern = "Xxxx";
    ScheduledSection verse = exact({140}, 14, 3, 8.0);
    verse.subdivide = 3;
    verse.pattern = "Xx.";
    const auto [stop, bytes] = writeToMemory({intro, verse}, {"intro", "verse"});
    ASSERT_FALSE(stop);
    const Midi midi = parseMidi(bytes);
    EXPECT_EQ(midi.header, (Bytes{0, 1, 0, 2, 0x03, 0xC0}));  // format 1, 2 tracks, 960 a quarter
    ASSERT_EQ(midi.tracks.size(), 2u);

    // The verse's beats fall k x 30 / 140 s after its start at 4 s, its
    // clicks within half a sample of that. 428571 us a quarter, the whole
    // number nearest 428571.43, drifts 0.21 us a beat: its 14 beats stay
    // within half a sample of 48 kHz of their exact times, so within a sample
    // of their clicks, and the verse needs no correction.
    for (int64_t k = 1; k <= 14; ++k) {
        const double midiTime = 4e6 + k * 428571 / 2.0;
        EXPECT_LE(std::fabs(midiTime - (4e6 + k * 30e6 / 140)), 1e6 / 96000) << k;
        EXPECT_LE(std::fabs(midiTime - micros(192000 + std::llround(k * 48000.0 * 30 / 140), 48000)),
                  1e6 / 48000) << k;
    }
    EXPECT_EQ(midi.tracks[0], (std::vector<Event>{
                                  {0, tempoEvent(500000)},
                                  {0, meterEvent(4, 2)},
                                  {0, textEvent(0x06, "intro")},
                                  {7680, tempoEvent(428571)},
                                  {7680, meterEvent(3, 3)},
                                  {7680, textEvent(0x06, "verse")},
                                  {7680 + 12 * 480, meterEvent(2, 3)},  // the last, short measure
                                  {7680 + 12 * 480, kEnd}}));

    std::vector<Event> notes{{0, textEvent(0x03, "Click")}};
    const auto note = [&](int64_t on, int64_t off, uint8_t key, uint8_t velocity) {
        notes.push_back({on, Bytes{0x99, key, velocity}});
        notes.push_back({off, Bytes{0x89, key, 0x40}});
    };
    for (int64_t k = 0; k < 8; ++k) {
        note(960 * k, 960 * k + 240, k % 4 == 0 ? 76 : 77, 100);
        note(960 * k + 480, 960 * k + 720, 77, 60);
    }
    for (int64_t k = 0; k < 14; ++k) {
        const int64_t t = 7680 + 480 * k;
        if (k % 3 == 2) continue;
        note(t, t + 160, k % 3 == 0 ? 76 : 77, 100);
        note(t + 160, t + 320, 77, 60);
        // Cut short by the next beat's note; before a silent beat a full sixteenth.
        note(t + 320, k % 3 == 0 ? t + 480 : t + 560, 77, 60);
    }
    notes.push_back({notes.back().first, kEnd});
    EXPECT_EQ(midi.tracks[1], notes);
}

// The tempo map follows a trainer: a Set Tempo where the tempo steps and
// nowhere else; muted bars keep their place in the map but have no notes.
TEST(MidiFile, TheTempoMapFollowsTheTrainerAndMutedBarsHaveNoNotes) {
    Song song;
    SongSection only;
    only.measures = 8;
    only.tempos = {100.0};
    song.sections = {only};
    song.trainer = readTrainer("+25/2:150");
    song.mute = readMuteCycle("3/1");
    ASSERT_EQ(layPractice(song, 48000), std::nullopt);
    const auto [stop, bytes] = writeToMemory(planFile(song, 48000, 0), markerNames(song));
    ASSERT_FALSE(stop);
    const Midi midi = parseMidi(bytes);
    ASSERT_EQ(midi.tracks.size(), 2u);
    // 100, 125 and 150 bpm are whole microseconds a quarter: no corrections.
    EXPECT_EQ(midi.tracks[0], (std::vector<Event>{{0, tempoEvent(600000)},
                                                  {0, meterEvent(4, 2)},
                                                  {0, textEvent(0x06, "Section 1")},
                                                  {7680, tempoEvent(480000)},
                                                  {15360, tempoEvent(400000)},
                                                  {15360, kEnd}}));
    std::vector<int64_t> ticks, expected;
    for (const Event& e : midi.tracks[1]) {
        if (e.second[0] == 0x99) ticks.push_back(e.first);
    }
    for (int64_t k = 0; k < 32; ++k) {
        if (k / 4 % 4 != 3) expected.push_back(960 * k);  // bars 4 and 8 muted
    }
    EXPECT_EQ(ticks, expected);
}

// The largest distance in microseconds of a beat's MIDI time, from the
// conductor's tempos, to its click; and the number of Set Tempo events.
std::pair<double, size_t> driftOf(const std::vector<ScheduledSection>& sections) {
    const Midi midi = parseMidi(writeToMemory(sections).second);
    std::vector<std::pair<int64_t, int64_t>> tempos;  // tick, us a quarter
    for (const auto& [tick, e] : midi.tracks.at(0)) {
        if (e[1] == 0x51) tempos.emplace_back(tick, e[3] << 16 | e[4] << 8 | e[5]);
    }
    BeatSchedule schedule(sections);
    BeatEvent e;
    int64_t tick = 0, time = 0;  // time in us / 960
    size_t t = 0;
    double largest = 0.0;
    while (schedule.next(e)) {
        if (e.kind == ClickKind::Subdivision) continue;
        if (t < tempos.size() && tempos[t].first == tick) ++t;
        if (t == 0) throw std::runtime_error("a beat before any tempo");
        largest = std::max(largest, std::fabs(time / 960.0 - micros(e.frame, sections[e.section].rate)));
        const int64_t ticks = std::llround(3840 / sections[e.section].noteValue);
        time += ticks * tempos[t - 1].second;
        tick += ticks;
    }
    if (t != tempos.size()) throw std::runtime_error("a tempo event off the beats");
    return {largest, tempos.size()};
}

TEST(MidiFile, EveryBeatWithinOneSampleOfItsClick) {
    std::vector<double> list;
    for (int k = 0; k < 24; ++k) list.push_back(80.0 + 9.7 * k);
    ScheduledSection rampUp = exact({90, 150}, 128);
    rampUp.ramp = true;
    ScheduledSection rampIn6 = exact({133.7, 61.3}, 36, 6, 8.0);
    rampIn6.ramp = true;
    // A steady tempo in whole microseconds gets one Set Tempo; one that
    // whole microseconds do not state, a correction each time the drift
    // reaches half a sample (the clicks lie up to half a sample from their
    // exact times): at most one for every 20 steady beats. A change of tempo
    // gets one a beat. The menu's grid, a sample off here and there, keeps
    // within a sample of its clicks with one for every three beats.
    const struct {
        const char* name;
        std::vector<ScheduledSection> sections;
        size_t mostTempoEvents;
    } table[] = {
        {"120", {exact({120}, 4000)}, 1},
        {"96 at 44100", {exact({96}, 4000, 4, 4.0, 44100)}, 1},
        {"140", {exact({140}, 4000)}, 4000 / 20},
        {"133.7", {exact({133.7}, 4000)}, 4000 / 20},
        {"133.7 at 44100 in sixteenths", {exact({133.7}, 4000, 4, 16.0, 44100)}, 4000 / 20},
        {"ramp 90-150", {rampUp}, 128},
        {"a tempo for each beat", {exact(list, 24, 4, 4.0), exact({97.1}, 40, 5, 8.0)}, 24 + 40 / 20 + 1},
        // The menu's grid: frames rounded on a float grid, the sections cut
        // at their length, the second part-way through its 17th beat.
        {"file grid at 44100",
         {fileSection(44100, 140.0f, 44100 * 60, 100), fileSection(44100, 97.3f, 44100 * 10 + 12345, 100),
          fileSection(44100, 133.7f, 44100 * 30, 100)},
         224 / 3},
        {"count-in, then changes of meter and tempo",
         {exact({133.7}, 12, 6, 8.0), exact({133.7}, 96, 6, 8.0), rampIn6, exact({61.3}, 50, 3, 4.0),
          exact({200}, 7, 7, 16.0)},
         36 + 165 / 20 + 3},
    };
    for (const auto& row : table) {
        const auto [largest, tempoEvents] = driftOf(row.sections);
        EXPECT_LE(largest, 1e6 / row.sections.front().rate) << row.name;
        EXPECT_LE(tempoEvents, row.mostTempoEvents) << row.name;
        RecordProperty(row.name, std::to_string(largest) + " us, " + std::to_string(tempoEvents) + " tempos");
    }
}

// Bar lines fall on every section's first beat even after a meter a Time
// Signature cannot state; subdivisions of a beat that a long click pushed
// back sit where their clicks sound.
TEST(MidiFile, BarLinesAndSubdivisionsFollowTheAudio) {
    const Midi wide = parseMidi(writeToMemory({exact({120}, 4), exact({120}, 257, 257),
                                               exact({120}, 4)}, {"a", "b", "c"}).second);
    std::vector<Event> meters;
    for (const Event& e : wide.tracks[0]) {
        if (e.second[1] == 0x58) meters.push_back(e);
    }
    EXPECT_EQ(meters, (std::vector<Event>{{0, meterEvent(4, 2)}, {3840, meterEvent(1, 2)},
                                          {3840 + 257 * 960, meterEvent(4, 2)}}));

    // 960 frames a beat at 48 kHz, a click of 2400 frames: beats 2400 apart,
    // their subdivisions 320 and 640 frames after them, so 128 and 256 ticks;
    // the last beat runs to the end of the track, where its click ends.
    ScheduledSection pushed = fileSection(48000, 3000.0f, 9600, 2400);
    pushed.subdivide = 3;
    const Midi notes = parseMidi(writeToMemory({pushed}, {"a"}).second);
    std::vector<int64_t> ticks;
    for (const Event& e : notes.tracks[1]) {
        if (e.second[0] == 0x99) ticks.push_back(e.first);
    }
    EXPECT_EQ(ticks, (std::vector<int64_t>{0, 128, 256, 960, 1088, 1216, 1920, 2048, 2176, 2880,
                                           3008, 3136}));

    // Each beat of a pattern as its click sounds: accent, normal, soft, none.
    ScheduledSection shaped = exact({120}, 4);
    shaped.pattern = "Xxo.";
    std::vector<Bytes> struck;
    const Midi beats = parseMidi(writeToMemory({shaped}, {"a"}).second);
    for (const Event& e : beats.tracks[1]) {
        if (e.second[0] == 0x99) struck.push_back(e.second);
    }
    EXPECT_EQ(struck, (std::vector<Bytes>{{0x99, 76, 100}, {0x99, 77, 100}, {0x99, 77, 80}}));
}

// Microseconds of every note's start, from the conductor's tempos.
std::vector<double> noteMicros(const Midi& midi) {
    std::vector<std::pair<int64_t, int64_t>> tempos;  // tick, us a quarter
    for (const auto& [tick, e] : midi.tracks.at(0)) {
        if (e[1] == 0x51) tempos.emplace_back(tick, e[3] << 16 | e[4] << 8 | e[5]);
    }
    std::vector<double> times;
    for (const auto& [tick, e] : midi.tracks.at(1)) {
        if (e[0] != 0x99) continue;
        int64_t time = 0;  // us / 960
        for (size_t i = 0; i < tempos.size() && tempos[i].first < tick; ++i) {
            const int64_t to = i + 1 < tempos.size() ? std::min(tick, tempos[i + 1].first) : tick;
            time += (to - tempos[i].first) * tempos[i].second;
        }
        times.push_back(time / 960.0);
    }
    return times;
}

// A note for every click, beats and subdivisions, each within one sample of
// it, the last beat of a change of tempo included.
TEST(MidiFile, EverySubdivisionOfAChangeOfTempoWithinOneSampleOfItsClick) {
    const struct {
        std::vector<double> tempos;
        int64_t beats;
        double noteValue;
        uint32_t rate;
    } table[] = {{{120, 60}, 4, 4.0, 44100}, {{60, 180}, 8, 4.0, 48000},
                 {{10000, 1}, 16, 4.0, 44100}, {{300, 20}, 6, 8.0, 48000}};
    for (const auto& row : table) {
        for (int32_t ways : {2, 3, 4, 16}) {
            ScheduledSection ramp = exact(row.tempos, row.beats, 4, row.noteValue, row.rate);
            ramp.ramp = true;
            ramp.subdivide = ways;
            SCOPED_TRACE(testing::Message() << row.tempos[0] << "-" << row.tempos[1] << " in " << ways);
            const std::vector<double> notes = noteMicros(parseMidi(writeToMemory({ramp}).second));
            BeatSchedule schedule({ramp});
            std::vector<int64_t> clicks;
            for (BeatEvent e; schedule.next(e);) clicks.push_back(e.frame);
            EXPECT_EQ(notes.size(), clicks.size());
            // Clicks that ring past the last beat do not stretch it.
            EXPECT_EQ(writeToMemory({ramp}, {}, 100000).second, writeToMemory({ramp}).second);
            for (size_t i = 0; i < std::min(clicks.size(), notes.size()); ++i) {
                EXPECT_LE(std::fabs(notes[i] - micros(clicks[i], row.rate)), 1e6 / row.rate) << i;
            }
        }
    }
}

// A marker holds at most 255 bytes, never part of a character.
TEST(MidiFile, TextEventsHoldAtMost255BytesCutBetweenCharacters) {
    const auto times = [](const std::string& s, size_t n) {
        std::string r;
        while (n-- > 0) r += s;
        return r;
    };
    const std::string e = "\xC3\xA9", euro = "\xE2\x82\xAC", note = "\xF0\x9F\x8E\xB5";
    const struct {
        std::string name, marker;
    } table[] = {
        {std::string(255, 'A'), std::string(255, 'A')},
        {"verse-" + std::string(1 << 20, 'A'), "verse-" + std::string(249, 'A')},
        {times(e, 200), times(e, 127)},                     // 254 bytes
        {"v" + times(euro, 100), "v" + times(euro, 84)},    // 253
        {"vv" + times(euro, 100), "vv" + times(euro, 84)},  // 254
        {"v" + times(note, 100), "v" + times(note, 63)},    // 253
    };
    for (const auto& row : table) {
        const Midi midi = parseMidi(writeToMemory({exact({120}, 1)}, {row.name}).second);
        const auto marker = std::find_if(midi.tracks[0].begin(), midi.tracks[0].end(),
                                         [](const Event& ev) { return ev.second[1] == 0x06; });
        ASSERT_NE(marker, midi.tracks[0].end());
        EXPECT_EQ(marker->second, textEvent(0x06, row.marker)) << row.marker.size();
    }
}

TEST(MidiFile, AGapLongerThanADeltaIsBridgedByAnEmptyText) {
    // 300000 silent quarters: 288000000 ticks to the next section's marker and note.
    ScheduledSection quiet = exact({120}, 300000);
    quiet.pattern = ".";
    ScheduledSection loud = exact({120}, 1);
    const Midi midi = parseMidi(writeToMemory({quiet, loud}, {"quiet", "loud"}).second);
    ASSERT_EQ(midi.tracks.size(), 2u);
    for (const std::vector<Event>& track : midi.tracks) {
        const auto bridge = std::find(track.begin(), track.end(), Event{0x0FFFFFFF, {0xFF, 0x01, 0x00}});
        ASSERT_NE(bridge, track.end());
        EXPECT_EQ(bridge[1].first, 288000000);
    }
}

TEST(MidiFile, RefusesABeatTooLongAndReportsAFailedWrite) {
    // 3 quarters a minute: 20 s a quarter, beyond the 16.7 s three bytes hold.
    const auto [slow, written] =
        writeToMemory({exact({120}, 4), exact({3}, 2), exact({120}, 4)}, {"a", "b", "c"});
    ASSERT_TRUE(slow);
    EXPECT_TRUE(written.empty());  // refused before the first byte
    EXPECT_EQ(slow->kind, Failure::Kind::Refused);
    EXPECT_EQ(slow->detail, "a beat of 'b' is too long for a MIDI tempo (at most 16.777215 seconds "
                            "a quarter note)");

    const int fd = open(CLICKTRACK_TEST_DATA "/checksums.txt", O_RDONLY);
    ASSERT_GE(fd, 0);
    const Outcome failed = writeMidiFile(fd, ::testing::TempDir(), {exact({120}, 4)}, {"a"});
    close(fd);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->kind, Failure::Kind::File);
    EXPECT_EQ(failed->error, EBADF);
    // The notes wait in a spool beside the file: no folder, no file.
    const int memory = memfd_create("midi", 0);
    const Outcome noSpool = writeMidiFile(memory, "/nonexistent-folder", {exact({120}, 4)}, {"a"});
    close(memory);
    ASSERT_TRUE(noSpool);
    EXPECT_EQ(noSpool->error, ENOENT);
}

TEST(SmfWriter, DeltaTimesTakeOneToFourBytesMostSignificantFirst) {
    const struct {
        int64_t tick;
        Bytes delta;
    } table[] = {
        {0, {0x00}},
        {0x7F, {0x7F}},
        {0x80, {0x81, 0x00}},
        {0x3FFF, {0xFF, 0x7F}},
        {0x4000, {0x81, 0x80, 0x00}},
        {0x1FFFFF, {0xFF, 0xFF, 0x7F}},
        {0x200000, {0x81, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& row : table) {
        const Bytes bytes = smfBytes([&](SmfWriter& out) {
            out.beginTrack();
            out.at(row.tick);
            out.channelEvent(0x99, 76, 100);
            out.endTrack();
        });
        Bytes expected{'M', 'T', 'r', 'k', 0, 0, 0, uint8_t(row.delta.size() + 7)};
        expected.insert(expected.end(), row.delta.begin(), row.delta.end());
        expected.insert(expected.end(), {0x99, 76, 100, 0x00, 0xFF, 0x2F, 0x00});
        EXPECT_EQ(bytes, expected) << row.tick;
    }
}

TEST(SmfWriter, TrackLengthsAreWrittenInPastTheBuffer) {
    // 40000 notes of 4 bytes: the first track is flushed before it ends,
    // and the second track's length goes after it.
    const Bytes bytes = smfBytes([](SmfWriter& out) {
        out.fileHeader(1, 2, 960);
        out.beginTrack();
        for (int64_t tick = 0; tick < 40000; ++tick) {
            out.at(tick);
            out.channelEvent(0x99, 77, 60);
        }
        out.endTrack();
        out.beginTrack();
        out.at(5);
        out.setTempo(500000);
        out.at(5);
        out.timeSignature(3, 3);
        out.endTrack();
    });
    const Midi midi = parseMidi(bytes);
    EXPECT_EQ(midi.header, (Bytes{0, 1, 0, 2, 0x03, 0xC0}));
    ASSERT_EQ(midi.tracks.size(), 2u);
    EXPECT_EQ(midi.tracks[0].size(), 40001u);
    EXPECT_EQ(midi.tracks[1], (std::vector<Event>{{5, tempoEvent(500000)}, {5, meterEvent(3, 3)}, {5, kEnd}}));
}

}  // namespace
