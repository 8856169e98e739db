#include "track/planner.hpp"

#include <algorithm>
#include <cmath>

std::vector<const SongSection*> songSections(const Song& song) {
    std::vector<const SongSection*> proper;
    for (const SongSection& s : song.sections) {
        if (!s.countIn) proper.push_back(&s);
    }
    return proper;
}

void addCountIn(Song& song, int64_t measures, const std::optional<std::string>& pattern) {
    if (measures <= 0 || song.sections.empty()) return;
    SongSection count = song.sections.front();
    count.label.clear();
    count.continues = false;
    count.countIn = true;
    count.measures = measures;
    count.tempos = {count.tempos.front()};
    count.ramp = false;
    count.level = 1.0;
    count.menuSeconds.reset();
    // Counted in at the song's own tempo, every bar heard.
    count.trainer.reset();
    count.mute.reset();
    if (pattern) {
        count.pattern = *pattern;
        count.accentFirst = false;
    } else if (count.pattern.empty()) {
        count.accentFirst = true;
    } else if (count.pattern.find('X') == std::string::npos) {
        // A count-in says where the measure starts.
        count.pattern[0] = 'X';
    }
    song.sections.insert(song.sections.begin(), count);
}

std::vector<double> quieterLevels(const Song& song) {
    std::vector<double> levels;
    for (const SongSection& s : song.sections) {
        if (s.level < 1.0 && voiceOf(levels, s.level) == 0) levels.push_back(s.level);
    }
    return levels;
}

size_t voiceOf(const std::vector<double>& levels, double level) {
    for (size_t i = 0; i < levels.size(); ++i) {
        if (levels[i] == level) return i + 1;
    }
    return 0;
}

namespace {

float menuTempo(const SongSection& s) { return static_cast<float>(s.tempos.front()); }

// Frames of a menu-grid section as the menu counts them.
std::optional<int32_t> menuFrames(const SongSection& s, uint32_t rate) {
    if (s.menuSeconds) return trackFrames(rate, *s.menuSeconds);
    return sectionWriteFrames(rate, menuTempo(s), s.beatsPerMeasure, s.measures);
}

// The clicks every section's beats carry, whatever the rounding.
ScheduledSection withClicks(ScheduledSection e, const SongSection& s, const Song& song,
                            const std::vector<double>& levels) {
    e.beatsPerMeasure = s.beatsPerMeasure;
    e.pattern = s.pattern;
    e.accentFirst = s.accentFirst;
    // A dotted beat splits into its three notes.
    e.subdivide = s.dotted && song.subdivide > 1 ? 3 : song.subdivide;
    e.swing = song.swing;
    e.voice = voiceOf(levels, s.level);
    if (s.mute) e.mute = MuteCycle{s.mute->on, s.mute->off, {}};  // the text stays behind
    e.mutePhase = s.mutePhase;
    e.firstMeasure = s.earlierBars + 1;
    return e;
}

ScheduledSection exactSection(const SongSection& s, uint32_t rate) {
    ScheduledSection e;
    e.rounding = BeatRounding::Exact;
    e.rate = rate;
    e.beatCount = s.measures * s.beatsPerMeasure;
    e.tempos = s.tempos;
    e.ramp = s.ramp;
    // A dotted beat lasts as 2/3 of a note of twice the value.
    e.noteValue = static_cast<double>(s.noteValue) / (s.dotted ? 1.5 : 1.0);
    e.dotted = s.dotted;
    return e;
}

}  // namespace

std::vector<ScheduledSection> planFile(const Song& song, uint32_t rate, int64_t clickLength) {
    const std::vector<double> levels = quieterLevels(song);
    std::vector<ScheduledSection> sections;
    for (const SongSection& s : song.sections) {
        const ScheduledSection e =
            song.rounding == Rounding::Exact
                ? exactSection(s, rate)
                : fileSection(rate, menuTempo(s), menuFrames(s, rate).value_or(0), clickLength);
        sections.push_back(withClicks(e, s, song, levels));
    }
    return sections;
}

namespace {

int64_t beatsOf(const SongSection& s) {
    return s.beatsPerMeasure > 0 && s.measures > 0 ? s.measures * s.beatsPerMeasure : 0;
}

// The place itself, or the first beat after it that a section holds.
SongPlace settled(const Song& song, SongPlace place) {
    while (place.section < song.sections.size() &&
           place.beat >= beatsOf(song.sections[place.section])) {
        place = SongPlace{place.section + 1, 0};
    }
    return place;
}

}  // namespace

std::vector<ScheduledSection> planFrom(const Song& song, uint32_t rate, SongPlace place,
                                       double tempoFactor) {
    Song scaled = song;
    for (SongSection& s : scaled.sections) {
        for (double& t : s.tempos) t *= tempoFactor;
    }
    place = settled(song, place);
    std::vector<ScheduledSection> sections = planFile(scaled, rate, 0);
    for (size_t i = 0; i < sections.size() && i <= place.section; ++i) {
        ScheduledSection& e = sections[i];
        const int64_t k = i < place.section ? e.beatCount : place.beat;
        if (k <= 0) continue;
        // The beats left keep the tempo they had: a change goes on from the
        // tempo at beat k, a list loses the tempos of the beats before.
        if (e.tempos.size() == 2 && e.ramp) {
            e.tempos[0] = tempoAtBeat(e, k);
        } else if (e.tempos.size() > 1) {
            e.tempos.erase(e.tempos.begin(),
                           e.tempos.begin() + std::min<int64_t>(k, static_cast<int64_t>(e.tempos.size()) - 1));
        }
        e.beatCount -= k;
        e.firstBeat = k;
    }
    return sections;
}

SongPlace placeAfter(const Song& song, SongPlace place, bool nextBar) {
    place = settled(song, place);
    if (place.section >= song.sections.size()) return place;
    const int64_t perBar = song.sections[place.section].beatsPerMeasure;
    place.beat = nextBar ? (place.beat / perBar + 1) * perBar : place.beat + 1;
    return settled(song, place);
}

std::optional<size_t> sectionPastFrameLimit(const Song& song, uint32_t rate) {
    if (song.rounding != Rounding::MenuGrid) return std::nullopt;
    for (size_t i = 0; i < song.sections.size(); ++i) {
        if (!menuFrames(song.sections[i], rate)) return i;
    }
    return std::nullopt;
}

double exactSeconds(const Song& song) {
    double seconds = 0.0;
    for (const SongSection& s : song.sections) seconds += exactSectionSeconds(exactSection(s, 1));
    return seconds;
}

std::vector<std::string> sectionNames(const Song& song) {
    std::vector<std::string> names;
    size_t number = 0;
    for (const SongSection& s : song.sections) {
        if (s.countIn) {
            names.emplace_back("Count-in");
        } else if (s.continues && !names.empty()) {
            names.push_back(names.back());
        } else {
            ++number;
            names.push_back(!s.label.empty() ? s.label : "Section " + std::to_string(number));
        }
    }
    return names;
}

std::vector<std::string> markerNames(const Song& song) {
    std::vector<std::string> names = sectionNames(song);
    for (size_t i = 0; i < names.size(); ++i) {
        if (song.sections[i].continues) names[i].clear();
    }
    return names;
}

std::vector<TrackMark> sectionMarks(const std::vector<std::string>& names,
                                    const std::vector<int64_t>& starts) {
    std::vector<TrackMark> marks;
    for (size_t i = 0; i < names.size() && i < starts.size(); ++i) {
        if (!names[i].empty()) marks.push_back(TrackMark{names[i], starts[i]});
    }
    return marks;
}

bool silentSong(const Song& song) {
    for (const SongSection* s : songSections(song)) {
        if (s->measures > 0 && s->beatsPerMeasure > 0) return false;
    }
    return true;
}

namespace {

// A run of whole-frame beats of `beatLength`, to the end of the play.
ScheduledSection deviceBeats(int64_t beatLength) {
    ScheduledSection e;
    e.rounding = BeatRounding::WholeBeats;
    e.beatLength = beatLength;
    e.frames = -1;
    return e;
}

}  // namespace

std::vector<DevicePlay> planDevice(const Song& song, uint32_t rate, std::optional<float> seconds) {
    std::vector<DevicePlay> plays;
    // The audition length was checked: its frames fit.
    std::optional<int64_t> limit;
    if (seconds) limit = trackFrames(rate, *seconds).value_or(0);
    if (song.rounding == Rounding::Exact) {
        // Exact times from the start of the track: the device stays open
        // throughout, and the track ends where its last section's next beat
        // would start.
        const int64_t total = limit ? *limit : std::llround(exactSeconds(song) * rate);
        plays.push_back({planFile(song, rate, 0), total});
        return plays;
    }
    const std::vector<double> levels = quieterLevels(song);
    if (!song.fromMap) {
        // One tempo: the menu's beat.
        const SongSection& only = song.sections.front();
        const int32_t beatLength = beatSamples(rate, menuTempo(only));
        plays.push_back({{withClicks(deviceBeats(beatLength), only, song, levels)},
                         limit ? *limit : menuFrames(only, rate).value_or(0)});
        return plays;
    }
    // A map: each section on the device opened afresh, as the menu plays it.
    int64_t left = limit.value_or(0);
    for (const SongSection& s : song.sections) {
        const int32_t beatLength = sectionBeatLength(rate, menuTempo(s));
        int64_t total =
            sectionPlayFrames(rate, menuTempo(s), s.beatsPerMeasure, s.measures).value_or(0);
        if (limit) {
            total = std::min(total, left);
            left -= total;
        }
        plays.push_back({{withClicks(deviceBeats(beatLength), s, song, levels)}, total});
    }
    // Cut short by the audition length, the sections it never reaches are not opened.
    while (limit && plays.size() > 1 && plays.back().total == 0) plays.pop_back();
    return plays;
}
