#include "console/commands.hpp"

#include <functional>
#include <optional>
#include <vector>

#include "click/click_set.hpp"
#include "core/timing.hpp"
#include "files/tempo_map.hpp"
#include "playback/player.hpp"
#include "track/map_reading.hpp"
#include "track/planner.hpp"
#include "track/practice.hpp"
#include "wave/header.hpp"
#include "wave/wave_file.hpp"

namespace {

// The track `w` and `+` write and `a` plays: the current tempo and meter on
// the menu's grid, its length the one the menu keeps.
Song menuSong(const Session& s, float seconds) {
    SongSection only;
    only.measures = s.settings.meas;
    only.beatsPerMeasure = s.settings.meter;
    only.tempos = {s.settings.tempo};
    only.menuSeconds = seconds;
    Song song;
    song.rounding = Rounding::MenuGrid;
    song.sections.push_back(only);
    return song;
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

// The menu's one click for every beat.
std::vector<ClickVoice> menuVoices(const Session& s) {
    const ClickBytes click = bytesOf(s.click.clickBytes);
    return {ClickVoice{click, click, click, click}};
}

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
Ending writeNew(Session& s) {
    const Settings& st = s.settings;
    const Song song = menuSong(s, s.trackSeconds);
    if (sectionPastFrameLimit(song, st.rate)) return tooLarge(s, "written");
    const std::vector<ScheduledSection> track = planFile(song, st.rate, s.click.clickLength);
    if (!fitsWaveSize(kHeaderBytes + paddedBytes(trackBytes(s, track)))) {
        return tooLarge(s, "written");
    }
    WaveFile file(st.save, st.rate, bitsOf(st));
    if (Ending r = file.create(static_cast<int32_t>(track.front().frames))) return r;
    if (Ending r = file.writeTrack(BeatSchedule(track), s.click.clickBytes)) return r;
    // The last click may run past the planned length: the header states it all.
    return file.commit();
}

// `+`: one more track at the end of the existing file's audio.
Ending appendTrack(Session& s) {
    const Settings& st = s.settings;
    WaveFile file(st.save, st.rate, bitsOf(st));
    if (Ending r = file.openForAppend()) return r;
    const Song song = menuSong(s, s.trackSeconds);
    if (sectionPastFrameLimit(song, st.rate)) return tooLarge(s, "added");
    const std::vector<ScheduledSection> track = planFile(song, st.rate, s.click.clickLength);
    if (!fitsWaveSize(file.lengthAfter(trackBytes(s, track)))) return tooLarge(s, "added");
    if (Ending r = file.writeTrack(BeatSchedule(track), s.click.clickBytes)) return r;
    return file.commit();
}

// Plays each of `plays` on the device opened afresh, telling `onSection` of
// each section first (a play of several sections tells of the later ones
// as they begin).
Ending playOnDevice(const Session& s, const std::vector<DevicePlay>& plays,
                     const std::vector<ClickVoice>& voices,
                     const std::function<void(size_t)>& onSection) {
    const PlayClicks clicks{voices, s.click.bytesPerSample, FrameLayout{}};
    for (size_t i = 0; i < plays.size(); ++i) {
        onSection(i);
        PlayTally tally;
        tally.onNewSection = onSection;
        if (Ending r = playScheduleOnDevice(targetOf(s.settings), plays[i].sections, clicks,
                                             plays[i].total, measureAnnouncer(s.io.out), &tally)) {
            return r;
        }
    }
    return std::nullopt;
}

// `a`: the beat at the current tempo for the audition length.
Ending audition(Session& s) {
    const Settings& st = s.settings;
    // The audition length is checked against the rate when it is set; this
    // keeps the conversion safe whatever the path that set it.
    if (!trackFrames(st.rate, st.atime)) {
        return programError("The audition is too long for this sample rate.");
    }
    const Song song = menuSong(s, s.trackSeconds);
    return playOnDevice(s, planDevice(song, st.rate, st.atime), menuVoices(s),
                        [](size_t) {});
}

// Says why the map cannot be used, then that it was not.
void reportUnusedTempoMap(FILE* out, const std::vector<std::string>& problems) {
    for (const std::string& line : problems) std::fprintf(out, "%s\n", line.c_str());
    std::fputs("The tempo map was not used.\n", out);
}

// Reads the map for `rtm` and `ptm`, in either format, and says what it
// found. A map without entries ends the program; a map that cannot be used
// leaves the song without sections.
Ending loadTempoMap(Session& s, Song& song) {
    FILE* out = s.io.out;
    MapReading map = readMapSong(s.settings.map, s.settings.rate, Unreadable::MenuReading);
    if (map.unreadable) {
        std::fprintf(out, "%s\n", map.unreadable->detail.c_str());
        return std::nullopt;
    }
    std::fputs("Parsing tmap file..\n", out);
    if (map.entryCount == 0) {
        for (const std::string& line : map.problems) std::fprintf(out, "%s\n", line.c_str());
        return programError("Could not find tempo entries in map file.");
    }
    std::fprintf(out, "Found %i map entries.\n", static_cast<int>(map.entryCount));
    if (!map.problems.empty()) reportUnusedTempoMap(out, map.problems);
    // A line's own trainer and muted bars, laid as the command line lays them.
    if (const std::optional<PracticeProblem> p = layPractice(map.song, s.settings.rate)) {
        const SongSection& k = map.song.sections[p->section];
        reportUnusedTempoMap(out, {s.settings.map + ": " + k.origin + ": trainer=" + k.trainer->text +
                                   ": " + p->detail + "."});
        return std::nullopt;
    }
    song = std::move(map.song);
    return std::nullopt;
}

// A map of accents, patterns and levels sounds them (the accent a fifth
// above the click); the menu's own map lays its one click at every beat.
std::optional<ClickSet> shapedClicksOf(const Settings& st, const Song& song) {
    if (!song.shapedClicks) return std::nullopt;
    return makeClickSet(st.bits, st.hz, st.rate, st.hz * kAccentRatio, quieterLevels(song));
}

// `rtm`: every section of the tempo map, in order, into one new file.
Ending renderTempoMap(Session& s) {
    Settings& st = s.settings;
    Song song;
    if (Ending r = loadTempoMap(s, song)) return r;
    if (song.sections.empty()) return std::nullopt;
    const std::optional<ClickSet> shaped = shapedClicksOf(st, song);
    const int64_t clickLength = s.click.clickLength;
    const std::vector<ScheduledSection> sections = planFile(song, st.rate, clickLength);
    const TrackClicks clicks =
        shaped ? TrackClicks{shaped->voices(), ClickOverlap::Cut, FrameLayout{}} : menuClicks(s.click.clickBytes);
    if (const std::optional<size_t> past = firstSectionPastSizeLimit(
            sections, static_cast<uint32_t>(s.click.bytesPerSample), kHeaderBytes)) {
        reportUnusedTempoMap(s.io.out,
                             {entryLine(*past + 1, "'" + st.save + "' would reach 4 GiB or more")});
        return std::nullopt;
    }
    if (song.rounding == Rounding::MenuGrid) {
        // The menu then shows the last section's tempo, and `w` and `+` use its length.
        const SongSection& last = song.sections.back();
        st.tempo = static_cast<float>(last.tempos.front());
        s.trackSeconds = sectionSeconds(last.beatsPerMeasure, last.measures, st.tempo);
    }
    WaveFile file(st.save, st.rate, bitsOf(st));
    if (Ending r = file.create(0)) return r;
    if (Ending r = file.writeTrack(BeatSchedule(sections), clicks)) return r;
    return file.commit();
}

// `ptm`: the sections one after another, each counting its measures from 1.
Ending playTempoMap(Session& s) {
    const Settings& st = s.settings;
    Song song;
    if (Ending r = loadTempoMap(s, song)) return r;
    if (song.sections.empty()) return std::nullopt;
    const std::optional<ClickSet> shaped = shapedClicksOf(st, song);
    // A part of a line that its trainer split is no section of its own.
    std::vector<int> numbers;
    int number = 0;
    for (const SongSection& k : song.sections) numbers.push_back(k.earlierBars > 0 ? 0 : ++number);
    const auto announceSection = [&s, &numbers](size_t i) {
        if (numbers[i] == 0) return;
        std::fprintf(s.io.out, "\nPlaying section  %i \n\n", numbers[i]);
    };
    return playOnDevice(s, planDevice(song, st.rate, std::nullopt),
                        shaped ? shaped->voices() : menuVoices(s), announceSection);
}

}  // namespace

Ending runAction(const std::string& word, Session& s) {
    if (word == "a") return audition(s);
    if (word == "rtm") return renderTempoMap(s);
    if (word == "ptm") return playTempoMap(s);
    if (word == "w") return writeNew(s);
    if (word == "+") return appendTrack(s);
    return std::nullopt;
}
