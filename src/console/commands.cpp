#include "console/commands.hpp"

#include <vector>

#include "core/value_rules.hpp"
#include "files/tempo_map.hpp"
#include "playback/player.hpp"
#include "core/timing.hpp"
#include "wave/header.hpp"
#include "wave/wave_file.hpp"

namespace {

// The track of the current tempo and length, as sections for the writer.
std::vector<ScheduledSection> trackAt(const Session& s, float tempo, int32_t frames) {
    return {fileSection(s.settings.rate, tempo, frames, s.click.clickLength)};
}

uint64_t trackBytes(const Session& s, const std::vector<ScheduledSection>& sections) {
    return static_cast<uint64_t>(trackLength(sections)) *
           static_cast<uint64_t>(s.click.bytesPerSample);
}

Stop tooLarge(const Session& s, const char* outcome) {
    return programError("The track would make '" + s.settings.save +
                        "' 4 GiB or larger; nothing was " + outcome + ".");
}

uint32_t bitsOf(const Settings& st) { return static_cast<uint32_t>(st.bits); }

PlaybackTarget targetOf(const Settings& st) { return PlaybackTarget{st.device, st.rate, st.bits}; }

// Writes "\tMeasure  N" as each measure begins; flushed at once, so that a
// pipe shows it in time.
BeatListener measureAnnouncer(FILE* out) {
    return [out](int64_t measure, int64_t beat) {
        if (beat != 1) return;
        std::fprintf(out, "\tMeasure  %lld\n", static_cast<long long>(measure));
        std::fflush(out);
    };
}

// `w`: a new file holding one track of the current length.
Outcome writeNew(Session& s) {
    const Settings& st = s.settings;
    const std::optional<int32_t> frames = trackFrames(st.rate, s.trackSeconds);
    if (!frames) return tooLarge(s, "written");
    const std::vector<ScheduledSection> track = trackAt(s, st.tempo, *frames);
    if (!fitsWaveSize(kHeaderBytes + paddedBytes(trackBytes(s, track)))) {
        return tooLarge(s, "written");
    }
    WaveFile file(st.save, st.rate, bitsOf(st));
    if (Outcome r = file.create(*frames)) return r;
    if (Outcome r = file.writeTrack(BeatSchedule(track), s.click.clickBytes)) return r;
    // The last click may run past the planned length: the header states it all.
    return file.commit();
}

// `+`: one more track at the end of the existing file's audio.
Outcome appendTrack(Session& s) {
    const Settings& st = s.settings;
    WaveFile file(st.save, st.rate, bitsOf(st));
    if (Outcome r = file.openForAppend()) return r;
    const std::optional<int32_t> frames = trackFrames(st.rate, s.trackSeconds);
    if (!frames) return tooLarge(s, "added");
    const std::vector<ScheduledSection> track = trackAt(s, st.tempo, *frames);
    if (!fitsWaveSize(file.lengthAfter(trackBytes(s, track)))) return tooLarge(s, "added");
    if (Outcome r = file.writeTrack(BeatSchedule(track), s.click.clickBytes)) return r;
    return file.commit();
}

// `a`: the beat at the current tempo for the audition length.
Outcome audition(Session& s) {
    const Settings& st = s.settings;
    const int32_t beatLength = beatSamples(st.rate, st.tempo);
    // The audition length is checked against the rate when it is set; this
    // keeps the conversion safe whatever the path that set it.
    const std::optional<int32_t> total = trackFrames(st.rate, st.atime);
    if (!total) return programError("The audition is too long for this sample rate.");
    const Beat beat = makeBeat(s.click.clickBytes, s.click.bytesPerSample, beatLength);
    return playOnDevice(targetOf(st), beat, *total, st.meter, measureAnnouncer(s.io.out));
}

// Says why the map cannot be used, then that it was not.
void reportUnusedTempoMap(FILE* out, const std::vector<std::string>& problems) {
    for (const std::string& line : problems) std::fprintf(out, "%s\n", line.c_str());
    std::fputs("The tempo map was not used.\n", out);
}

// Reads the map for `rtm` and `ptm` and says what it found. A map without
// entries ends the program; a map that cannot be used leaves `entries` empty.
Outcome loadTempoMap(Session& s, std::vector<TempoMapEntry>& entries) {
    FILE* out = s.io.out;
    TempoMapFile map = readTempoMap(s.settings.map, s.settings.rate);
    if (map.unreadable) {
        std::fprintf(out, "%s\n", map.unreadable->c_str());
        return std::nullopt;
    }
    std::fputs("Parsing tmap file..\n", out);
    if (map.entryCount == 0) {
        for (const std::string& line : map.problems) std::fprintf(out, "%s\n", line.c_str());
        return programError("Could not find tempo entries in map file.");
    }
    std::fprintf(out, "Found %i map entries.\n", static_cast<int>(map.entryCount));
    if (!map.problems.empty()) reportUnusedTempoMap(out, map.problems);
    entries = std::move(map.entries);
    return std::nullopt;
}

// `rtm`: every section of the tempo map, in order, into one new file.
Outcome renderTempoMap(Session& s) {
    Settings& st = s.settings;
    std::vector<TempoMapEntry> map;
    if (Outcome r = loadTempoMap(s, map)) return r;
    if (map.empty()) return std::nullopt;
    const std::vector<ScheduledSection> sections =
        writtenSections(st.rate, map, s.click.clickLength);
    if (const std::optional<size_t> past = firstSectionPastSizeLimit(
            sections, static_cast<uint32_t>(s.click.bytesPerSample), kHeaderBytes)) {
        reportUnusedTempoMap(s.io.out,
                             {entryLine(*past + 1, "'" + st.save + "' would reach 4 GiB or more")});
        return std::nullopt;
    }
    // The menu then shows the last section's tempo, and `w` and `+` use its length.
    st.tempo = map.back().tempo;
    s.trackSeconds = sectionSeconds(map.back().beats, map.back().measures, map.back().tempo);
    WaveFile file(st.save, st.rate, bitsOf(st));
    if (Outcome r = file.create(0)) return r;
    if (Outcome r = file.writeTrack(BeatSchedule(sections), s.click.clickBytes)) return r;
    return file.commit();
}

// `ptm`: the sections one after another, each counting its measures from 1.
Outcome playTempoMap(Session& s) {
    const Settings& st = s.settings;
    std::vector<TempoMapEntry> map;
    if (Outcome r = loadTempoMap(s, map)) return r;
    const auto announceSection = [&s](size_t i) {
        std::fprintf(s.io.out, "\nPlaying section  %i \n\n", static_cast<int>(i + 1));
    };
    return playSections(targetOf(st), s.click.clickBytes, s.click.bytesPerSample,
                        playedSections(st.rate, map), announceSection, measureAnnouncer(s.io.out));
}

}  // namespace

Outcome runAction(const std::string& word, Session& s) {
    if (word == "a") return audition(s);
    if (word == "rtm") return renderTempoMap(s);
    if (word == "ptm") return playTempoMap(s);
    if (word == "w") return writeNew(s);
    if (word == "+") return appendTrack(s);
    return std::nullopt;
}
