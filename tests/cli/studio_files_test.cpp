// What a render hands to a recorder besides the audio: cue points with
// their labels in the wave file (also after an append), and a label track.
// Readers written elsewhere (libsndfile's sndfile-info, sox's soxi) must
// read the marked file as they read the plain one.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/audio_support.hpp"
#include "support/background_run.hpp"
#include "wave/cue_chunks.hpp"

namespace {

const std::string kExampleMap =
    "intro:    8 120           # 8 measures of 4/4 at 120\n"
    "          4 120-140 X.x.  # speeding up to 140\n"
    "bridge:   8 3/4 140 0.5   # 3/4, half volume\n";

struct Chunk {
    std::string id;
    size_t payload;  // offset of the payload
    uint32_t size;
};

// The chunks of a RIFF/WAVE file, in order, checking that they fill it.
std::vector<Chunk> walk(const Bytes& file) {
    std::vector<Chunk> chunks;
    EXPECT_EQ(textAt(file, 0), "RIFF");
    EXPECT_EQ(u32At(file, 4), file.size() - 8);
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = u32At(file, at + 4);
        chunks.push_back({textAt(file, at), at + 8, size});
        at += 8 + size + (size & 1u);
    }
    EXPECT_EQ(at, file.size());
    return chunks;
}

const Chunk& find(const std::vector<Chunk>& chunks, const std::string& id) {
    for (const Chunk& c : chunks) {
        if (c.id == id) return c;
    }
    static const Chunk none{"", 0, 0};
    ADD_FAILURE() << "no '" << id << "' chunk";
    return none;
}

// The cue points (position by id) and their labels (name by id) of a file.
struct Cues {
    std::map<uint32_t, uint32_t> positions;
    std::map<uint32_t, std::string> names;
};

Cues cuesOf(const Bytes& file) {
    const std::vector<Chunk> chunks = walk(file);
    Cues cues;
    const Chunk& cue = find(chunks, "cue ");
    const uint32_t count = u32At(file, cue.payload);
    EXPECT_EQ(cue.size, 4 + 24 * count);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t p = cue.payload + 4 + 24 * i;
        EXPECT_EQ(textAt(file, p + 8), "data");
        EXPECT_EQ(u32At(file, p + 12), 0u);  // chunk start
        EXPECT_EQ(u32At(file, p + 16), 0u);  // block start
        EXPECT_EQ(u32At(file, p + 20), u32At(file, p + 4));  // sample offset = position
        cues.positions[u32At(file, p)] = u32At(file, p + 4);
    }
    const Chunk& list = find(chunks, "LIST");
    EXPECT_EQ(textAt(file, list.payload), "adtl");
    for (size_t at = list.payload + 4; at < list.payload + list.size;) {
        const uint32_t size = u32At(file, at + 4);
        EXPECT_EQ(textAt(file, at), "labl");
        EXPECT_EQ(file[at + 8 + size - 1], 0) << "a name ends with a zero byte";
        cues.names[u32At(file, at + 8)] = reinterpret_cast<const char*>(&file[at + 12]);
        at += 8 + size + (size & 1u);
    }
    // Both lie before the audio, so that audio can still be added after it.
    EXPECT_EQ(chunks.back().id, "data");
    return cues;
}

Bytes audioOf(const Bytes& file) {
    const std::vector<Chunk> chunks = walk(file);
    const Chunk& data = find(chunks, "data");
    return Bytes(file.begin() + static_cast<long>(data.payload),
                 file.begin() + static_cast<long>(data.payload + data.size));
}

// Seconds from the start to each section of the example map after a
// count-in of one measure at 120, as the beats fall: a change of tempo
// takes 240 k / (L x 4) seconds for k quarter beats, L the logarithmic
// mean of the two tempos.
std::vector<double> exampleStarts() {
    const double mean = (120.0 - 140.0) / (std::log(120.0) - std::log(140.0));
    const double countIn = 2.0, intro = 16.0, ramp = 240.0 * 16 / (mean * 4.0);
    return {0.0, countIn, countIn + intro, countIn + intro + ramp,
            countIn + intro + ramp + 240.0 * 24 / (140.0 * 4.0)};
}

class StudioFiles : public CommandLineFolder {
protected:
    std::string reader(const std::string& command) {
        const std::string out = file("reader.out");
        EXPECT_EQ(std::system((command + " >'" + out + "' 2>&1").c_str()), 0) << command;
        return readFile(out);
    }
};

// The ticks and texts of the Markers in a MIDI file's conductor, a track of
// meta events only.
std::vector<std::pair<int64_t, std::string>> midiMarkers(const Bytes& file) {
    std::vector<std::pair<int64_t, std::string>> markers;
    EXPECT_EQ(textAt(file, 14), "MTrk");
    const size_t end = 22 + (size_t{file.at(18)} << 24 | size_t{file.at(19)} << 16 |
                             size_t{file.at(20)} << 8 | file.at(21));
    size_t at = 22;
    const auto number = [&] {
        size_t value = 0;
        for (uint8_t b = 0x80; b & 0x80; value = value << 7 | (b & 0x7f)) b = file.at(at++);
        return value;
    };
    for (int64_t tick = 0; at < end;) {
        tick += static_cast<int64_t>(number());
        EXPECT_EQ(file.at(at), 0xFF) << at;
        const uint8_t type = file.at(at + 1);
        at += 2;
        const size_t size = number();
        if (type == 0x06) markers.emplace_back(tick, std::string(&file.at(at), &file.at(at) + size));
        at += size;
    }
    return markers;
}

// The line without a label continues "intro": no marker of its own in any output.
TEST_F(StudioFiles, MarkersNameEverySectionWhereItStartsAndLeaveTheAudioAsItWas) {
    writeFile(file("song.txt"), kExampleMap);
    const std::vector<std::string> render = {"render", "--map", "song.txt", "--count-in", "1", "-q"};
    std::vector<std::string> marked = render;
    marked.insert(marked.end(), {"--markers", "-o", "marked.wav", "--labels", "song-labels.txt",
                                 "--midi", "song.mid"});
    ASSERT_EQ(clicktrack(marked).status, 0);
    std::vector<std::string> plain = render;
    plain.insert(plain.end(), {"-o", "plain.wav"});
    ASSERT_EQ(clicktrack(plain).status, 0);

    const Bytes bytes = readBytes(file("marked.wav"));
    const std::vector<double> all = exampleStarts();
    const std::vector<double> starts = {all[0], all[1], all[3]};
    const Cues cues = cuesOf(bytes);
    const std::vector<std::string> names = {"Count-in", "intro", "bridge"};
    ASSERT_EQ(cues.positions.size(), names.size());
    for (uint32_t id = 1; id <= names.size(); ++id) {
        EXPECT_EQ(cues.names.at(id), names[id - 1]);
        EXPECT_EQ(cues.positions.at(id), std::llround(starts[id - 1] * 44100));
    }
    EXPECT_TRUE(audioOf(bytes) == audioOf(readBytes(file("plain.wav"))));

    // The label track: from each section's first sample to the next one's.
    const size_t frames = audioOf(bytes).size() / 3;
    std::string expected;
    for (size_t i = 0; i < names.size(); ++i) {
        const double end = i + 1 < names.size() ? std::llround(starts[i + 1] * 44100) / 44100.0
                                                 : static_cast<double>(frames) / 44100.0;
        char line[128];
        std::snprintf(line, sizeof line, "%.6f\t%.6f\t%s\n",
                      std::llround(starts[i] * 44100) / 44100.0, end, names[i].c_str());
        expected += line;
    }
    EXPECT_EQ(readFile(file("song-labels.txt")), expected);
    // The MIDI markers: 960 ticks a quarter, 4 + 32 + 16 quarters before the bridge.
    EXPECT_EQ(midiMarkers(readBytes(file("song.mid"))),
              (std::vector<std::pair<int64_t, std::string>>{
                  {0, "Count-in"}, {3840, "intro"}, {52 * 960, "bridge"}}));
}

// A label is all before the colon; a line without one continues the section
// before it; "Section N" only in a map without labels.
TEST_F(StudioFiles, LabelsNameSectionsAsTheMapWritesThem) {
    const std::pair<std::string, std::string> rows[] = {
        {"1 120\n1 120\n", "0\t2\tSection 1\n2\t4\tSection 2\n"},
        {" Verse 1 : 1 120\n  1 3/4 90\nLast chorus: 1 2/4 120\n",
         "0\t4\tVerse 1\n4\t5\tLast chorus\n"},
        {"1 120\nv: 1 120\n1 120\n  2 120\nv: 1 120\n", "0\t2\tSection 1\n2\t10\tv\n10\t12\tv\n"},
    };
    for (const auto& [map, labels] : rows) {
        writeFile(file("map.txt"), map);
        const RunResult r = clicktrack({"render", "-q", "-r", "1000", "--sound", "classic", "--map",
                                        "map.txt", "--labels", "labels.txt", "--markers"});
        ASSERT_EQ(r.status, 0) << r.err;
        // Whole seconds, written without their decimals.
        std::string text = readFile(file("labels.txt"));
        for (size_t at; (at = text.find(".000000")) != std::string::npos;) text.erase(at, 7);
        EXPECT_EQ(text, labels) << map;
        EXPECT_EQ(cuesOf(readBytes(file("click.wav"))).positions.size(),
                  static_cast<size_t>(std::count(labels.begin(), labels.end(), '\n')));
    }
}

TEST_F(StudioFiles, AddedMarkersJoinTheCueListAfterTheAudioAlreadyThere) {
    writeFile(file("two.txt"), "a: 1 120\n1 3/4 90\n");
    ASSERT_EQ(clicktrack({"render", "--map", "two.txt", "--markers", "-o", "song.wav", "-q"}).status, 0);
    const Bytes first = readBytes(file("song.wav"));
    const size_t firstFrames = audioOf(first).size() / 3;
    const RunResult added = clicktrack({"render", "-t", "100", "-m", "1", "--markers", "--append",
                                        "-o", "song.wav", "--labels", "added.txt", "-q"});
    ASSERT_EQ(added.status, 0) << added.err;
    const Bytes second = readBytes(file("song.wav"));
    const Cues cues = cuesOf(second);
    EXPECT_EQ(cues.positions, (std::map<uint32_t, uint32_t>{{1, 0}, {2, firstFrames}}));
    EXPECT_EQ(cues.names, (std::map<uint32_t, std::string>{{1, "a"}, {2, "Section 1"}}));
    const Bytes audio = audioOf(second);
    EXPECT_TRUE(Bytes(audio.begin(), audio.begin() + static_cast<long>(firstFrames * 3)) ==
                audioOf(first));
    char line[64];
    std::snprintf(line, sizeof line, "%.6f\t%.6f\tSection 1\n", firstFrames / 44100.0,
                  audio.size() / 3 / 44100.0);
    EXPECT_EQ(readFile(file("added.txt")), line);

    // An append without markers keeps them where they are; a file without a
    // cue list gets one.
    ASSERT_EQ(clicktrack({"render", "-m", "1", "--append", "-o", "song.wav", "-q"}).status, 0);
    EXPECT_EQ(cuesOf(readBytes(file("song.wav"))).positions, cues.positions);
    ASSERT_EQ(clicktrack({"render", "-m", "1", "-o", "plain.wav", "-q"}).status, 0);
    ASSERT_EQ(clicktrack({"render", "-m", "1", "--markers", "-a", "-o", "plain.wav", "-q"}).status, 0);
    EXPECT_EQ(cuesOf(readBytes(file("plain.wav"))).positions,
              (std::map<uint32_t, uint32_t>{{1, 88200}}));
}

// Chunks a file had before its audio stay, in their order; new cue ids
// follow the highest there.
TEST(CueChunks, MarkersJoinAFilesOwnChunks) {
    std::string old = "JUNK";
    putLE(old, 3, 4);
    old += std::string("abc") + '\0';
    old += "cue ";
    putLE(old, 28, 4);
    for (uint32_t v : {1u, 7u, 5u}) putLE(old, v, 4);
    old += "data";
    putLE(old, 0, 4);
    putLE(old, 0, 4);
    putLE(old, 5, 4);
    const Bytes chunks(old.begin(), old.end());
    const auto merged = chunksWithMarkers(chunks.data(), chunks.size(), {{"x", 2}}, 10);
    ASSERT_TRUE(merged);
    const Bytes& m = *merged;
    EXPECT_TRUE(Bytes(m.begin(), m.begin() + 12) == Bytes(chunks.begin(), chunks.begin() + 12));
    EXPECT_EQ(textAt(m, 12), "cue ");
    EXPECT_EQ(u32At(m, 20), 2u);                       // two points now
    EXPECT_EQ(u32At(m, 48), 8u);                       // the new id
    EXPECT_EQ(u32At(m, 52), 12u);                      // moved on by 10 frames
    EXPECT_EQ(textAt(m, 72), "LIST");                  // a label list of its own, at the end
    EXPECT_EQ(m.size(), 72u + 8 + 4 + 8 + 6);
    // A label list naming id 9 without a cue list: the new point is 10.
    std::string labels = "LIST";
    putLE(labels, 4 + 8 + 6, 4);
    labels += "adtllabl";
    putLE(labels, 6, 4);
    putLE(labels, 9, 4);
    labels += std::string("a") + '\0';
    const Bytes listed(labels.begin(), labels.end());
    const auto numbered = chunksWithMarkers(listed.data(), listed.size(), {{"x", 0}}, 0);
    ASSERT_TRUE(numbered);
    EXPECT_EQ(u32At(*numbered, 34), 10u);             // its label, after the old one
    EXPECT_EQ(textAt(*numbered, 40), "cue ");         // a cue list after it
    EXPECT_EQ(u32At(*numbered, 52), 10u);
    // A count that runs past its chunk cannot be extended.
    Bytes broken = chunks;
    broken[20] = 9;
    EXPECT_FALSE(chunksWithMarkers(broken.data(), broken.size(), {{"x", 2}}, 0));
}

TEST_F(StudioFiles, OtherReadersSeeTheSameAudioWithAndWithoutMarkers) {
    writeFile(file("song.txt"), kExampleMap);
    for (const char* name : {"plain.wav", "marked.wav"}) {
        std::vector<std::string> args = {"render", "--map", "song.txt", "--bits", "16", "-o", name, "-q"};
        if (std::string(name) == "marked.wav") args.push_back("--markers");
        ASSERT_EQ(clicktrack(args).status, 0);
    }
    EXPECT_EQ(reader("soxi -s '" + file("marked.wav") + "'"),
              reader("soxi -s '" + file("plain.wav") + "'"));
    const std::string info = reader("sndfile-info '" + file("marked.wav") + "'");
    EXPECT_EQ(info.find("***"), std::string::npos) << info;  // libsndfile's complaints
    EXPECT_NE(info.find("Count : 2"), std::string::npos) << info;
    EXPECT_NE(info.find("labl : 2 : bridge"), std::string::npos) << info;
    const std::string plain = reader("sndfile-info '" + file("plain.wav") + "'");
    const auto framesLine = [](const std::string& text) {
        const size_t at = text.find("Frames");
        return text.substr(at, text.find('\n', at) - at);
    };
    EXPECT_EQ(framesLine(info), framesLine(plain));
}

TEST_F(StudioFiles, RefusalsLeaveEveryFileAsItWas) {
    ASSERT_EQ(::mkfifo(file("labels.fifo").c_str(), 0600), 0);
    RunResult r = clicktrack({"render", "--labels", "labels.fifo", "-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "clicktrack: Can't write 'labels.fifo': Not a regular file; nothing was written.\n");
    EXPECT_FALSE(fileExists(file("click.wav")));
    // Two names for one new file.
    r = clicktrack({"render", "-o", "n.wav", "--labels", "./n.wav"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "clicktrack: --output and --labels name the same file './n.wav'.\n"
                     "Try 'clicktrack --help'.\n");
    // A MIDI file that cannot be written: the wave file already there stays.
    writeFile(file("click.wav"), "an older file\n");
    std::filesystem::create_directory(file("song.mid"));
    r = clicktrack({"render", "--midi", "song.mid", "--markers", "-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "clicktrack: Can't write 'song.mid': Is a directory; nothing was written.\n");
    EXPECT_EQ(readFile(file("click.wav")), "an older file\n");
    std::filesystem::remove(file("song.mid"));
    std::filesystem::remove(file("click.wav"));
    // More markers than fit before the audio's reach.
    std::string many;
    for (int i = 0; i < 320; ++i) many += "1 120\n";
    writeFile(file("many.txt"), many);
    r = clicktrack({"render", "--map", "many.txt", "--markers", "-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "clicktrack: 'click.wav' can't hold 320 markers before its audio, which must "
                     "start within its first 15000 bytes; nothing was written.\n");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        left.push_back(entry.path().filename());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"labels.fifo", "many.txt"}));
}

// Upward crossings of zero on `channel` of `channels` in frames [from, to).
int upwardCrossings(const Bytes& audio, size_t channels, size_t channel, size_t from, size_t to) {
    int n = 0;
    for (size_t f = from + 1; f < to; ++f) {
        n += sampleAt(audio, 0, (f - 1) * channels + channel, 3) < 0 &&
             sampleAt(audio, 0, f * channels + channel, 3) >= 0;
    }
    return n;
}

// Four channels: the click on the first, a stereo backing at 22050 Hz on
// the third and fourth from the first bar after the count-in, converted to
// the track's rate. Readers written elsewhere read the extensible header,
// and play sends the device the very frames.
TEST_F(StudioFiles, ChannelsCarryTheClickAndTheBackingEachOnItsOwn) {
    ASSERT_EQ(std::system(("sox -n -r 22050 -c 2 '" + file("backing.flac") +
                           "' synth 1 sine 300 sine 500 vol 0.5").c_str()), 0);
    const std::vector<std::string> track = {"-t", "120", "-m", "2", "--count-in", "1",
                                            "--sound", "classic", "-q"};
    std::vector<std::string> options = track;
    options.insert(options.end(), {"--channels", "4", "--click-to", "1", "--backing", "backing.flac:3-4"});
    std::vector<std::string> args = {"render", "-o", "four.wav", "--markers"};
    args.insert(args.end(), options.begin(), options.end());
    RunResult r = clicktrack(args);
    ASSERT_EQ(r.status, 0) << r.err;
    args = {"render", "-o", "mono.wav"};
    args.insert(args.end(), track.begin(), track.end());
    ASSERT_EQ(clicktrack(args).status, 0);

    const Bytes four = readBytes(file("four.wav"));
    // The format chunk, field by field, and the frames the fact chunk states.
    const std::vector<std::pair<size_t, uint32_t>> fields = {
        {16, 40}, {24, 44100}, {28, 44100 * 12}, {40, 0xF}, {44, 1}, {48, 0x00100000},
        {52, 0xAA000080}, {56, 0x719B3800}, {64, 4}, {68, 264600}};
    for (const auto& [at, value] : fields) EXPECT_EQ(u32At(four, at), value) << at;
    const std::vector<std::pair<size_t, uint16_t>> shorts = {
        {20, 0xFFFE}, {22, 4}, {32, 12}, {34, 24}, {36, 22}, {38, 24}};
    for (const auto& [at, value] : shorts) EXPECT_EQ(u16At(four, at), value) << at;
    EXPECT_EQ(textAt(four, 60), "fact");
    EXPECT_EQ(cuesOf(four).positions, (std::map<uint32_t, uint32_t>{{1, 0}, {2, 88200}}));

    // Channel 1 is the mono track; 2 is silent; 3 and 4 hold their tones
    // for the backing's second, converted to 44100 frames, and nothing else.
    const Bytes audio = audioOf(four);
    const Bytes mono = audioOf(readBytes(file("mono.wav")));
    ASSERT_EQ(audio.size(), 264600u * 12);
    ASSERT_EQ(mono.size(), 264600u * 3);
    const size_t start = 88200, end = start + 44100;
    size_t wrongClick = 0, sounding = 0, stray = 0;
    int32_t peak = 0;
    for (size_t f = 0; f < 264600; ++f) {
        wrongClick += sampleAt(audio, 0, f * 4, 3) != sampleAt(mono, 0, f, 3);
        stray += sampleAt(audio, 0, f * 4 + 1, 3) != 0;
        for (size_t c : {size_t{2}, size_t{3}}) {
            const int32_t v = sampleAt(audio, 0, f * 4 + c, 3);
            if (f < start || f >= end) stray += v != 0;
            sounding += v != 0;
            peak = std::max(peak, v);
        }
    }
    EXPECT_EQ(wrongClick, 0u);
    EXPECT_EQ(stray, 0u);
    EXPECT_GT(sounding, 2 * 43000u);  // all but the frames at the crossings of zero
    EXPECT_NE(sampleAt(audio, 0, (end - 1) * 4 + 3, 3), 0);
    EXPECT_NEAR(upwardCrossings(audio, 4, 2, start, end), 300, 1);
    EXPECT_NEAR(upwardCrossings(audio, 4, 3, start, end), 500, 1);
    EXPECT_NEAR(peak, 4194304, 4194304 * 0.06);

    EXPECT_EQ(reader("soxi -c '" + file("four.wav") + "'"), "4\n");
    EXPECT_EQ(reader("soxi -r '" + file("four.wav") + "'"), "44100\n");
    EXPECT_EQ(reader("soxi -b '" + file("four.wav") + "'"), "24\n");
    EXPECT_EQ(reader("soxi -s '" + file("four.wav") + "'"), "264600\n");
    const std::string info = reader("sndfile-info '" + file("four.wav") + "'");
    EXPECT_EQ(info.find("***"), std::string::npos) << info;
    EXPECT_NE(info.find("WAVE_FORMAT_EXTENSIBLE"), std::string::npos) << info;
    EXPECT_NE(info.find("Channels    : 4"), std::string::npos) << info;
    EXPECT_NE(info.find("Frames      : 264600"), std::string::npos) << info;

    writeCaptureAsoundrc(dir.path(), file("cap.raw"));
    args = {"play", "-d", "cap"};
    args.insert(args.end(), options.begin(), options.end());
    r = clicktrack(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sameStream(readCapture(file("cap.raw"), audio.size()), audio, 12));
}

// Played round after round, the backing starts again with each round,
// cut where the next round starts.
TEST_F(StudioFiles, ALoopedTrackRestartsItsBackingEachRound) {
    ASSERT_EQ(std::system(("sox -n -r 44100 -c 1 '" + file("long.wav") +
                           "' synth 1.5 sine 220 vol 0.5").c_str()), 0);
    const std::vector<std::string> layout = {"-t", "240", "-m", "1", "--channels", "2", "--click-to",
                                             "1", "--backing", "long.wav:2", "-q"};
    const auto rendered = [&](const std::vector<std::string>& more) {
        std::vector<std::string> args = {"render", "-o", "round.wav"};
        args.insert(args.end(), layout.begin(), layout.end());
        args.insert(args.end(), more.begin(), more.end());
        EXPECT_EQ(clicktrack(args).status, 0);
        return audioOf(readBytes(file("round.wav")));
    };
    Bytes expected = rendered({"--count-in", "1"});
    const Bytes round = rendered({});
    ASSERT_EQ(round.size(), 44100u * 6);
    expected.insert(expected.end(), round.begin(), round.end());
    writeCaptureAsoundrc(dir.path(), file("cap.raw"));
    std::vector<std::string> args = {"play", "-d", "cap", "--count-in", "1", "--loop", "--seconds", "3"};
    args.insert(args.end(), layout.begin(), layout.end());
    const RunResult r = clicktrack(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sameStream(readCapture(file("cap.raw"), expected.size()), expected, 6));
}

TEST_F(StudioFiles, ChannelOptionsThatCannotBeMetAreRefusedAndNothingIsWritten) {
    writeFile(file("click.wav"), "an older file\n");
    writeFile(file("text.wav"), "not a sound\n");
    ASSERT_EQ(std::system(("sox -n -r 44100 '" + file("empty.wav") + "' trim 0 0").c_str()), 0);
    ASSERT_EQ(std::system(("sox -n -r 8000 '" + file("tone.wav") + "' synth 0.1 sine 440").c_str()), 0);
    ASSERT_EQ(std::system(("sox -n -r 8000 '" + file("long.wav") + "' synth 90 sine 440").c_str()), 0);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } table[] = {
        {{"--channels", "0"}, 2, "--channels must be a whole number of channels from 1 to 32, not '0'."},
        {{"--channels", "33"}, 2, "--channels must be a whole number of channels from 1 to 32, not '33'."},
        {{"--channels", "2", "--click-to", "2-1"}, 2, "--click-to must be channels from 1 to 32, as 1 or 1,3-4, not '2-1'."},
        {{"--channels", "2", "--click-to", "1,"}, 2, "--click-to must be channels from 1 to 32, as 1 or 1,3-4, not '1,'."},
        {{"--click-to", "2"}, 2, "--click-to names channel 2, but a track has one channel unless --channels says more."},
        {{"--channels", "2", "--click-to", "1-3"}, 2, "--click-to names channel 3, but --channels 2 gives 2 channels."},
        {{"--channels", "3", "--backing", "tone.wav:2,4"}, 2, "--backing names channel 4, but --channels 3 gives 3 channels."},
        {{"--backing", ":1"}, 2, "--backing must be FILE or FILE:LIST, a file name first, not ':1'."},
        {{"--channels", "2", "--append"}, 2, "--append adds to a file of one channel: it cannot be used with --channels 2."},
        {{"--backing", "tone.wav", "-a"}, 2, "--append adds to a file of one channel: it cannot be used with --backing."},
        {{"--backing", "none.wav"}, 1, "the backing 'none.wav' cannot be read: No such file or directory; nothing was written or played."},
        {{"--backing", "text.wav"}, 1, "the backing 'text.wav' cannot be read: "},
        {{"--backing", "empty.wav:1"}, 1, "the backing 'empty.wav' holds no sound; nothing was written or played."},
        // 90 s at 8000 Hz: refused from its header, before it is read.
        {{"--backing", "long.wav", "-r", "768000"}, 1,
         "the backing 'long.wav' lasts longer than the 87 s a backing of 1 channel may last at "
         "768000 Hz (256 MiB in memory); nothing was written or played."},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.message);
        std::vector<std::string> args = {"render", "-q"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const RunResult r = clicktrack(args);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.err.find("clicktrack: " + row.message), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), row.status == 2 ? 2 : 1) << r.err;
        EXPECT_EQ(readFile(file("click.wav")), "an older file\n");
    }
    EXPECT_EQ(namesIn(dir.path()), "click.wav empty.wav long.wav text.wav tone.wav");
}

}  // namespace
