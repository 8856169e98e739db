#include "cli/show.hpp"

#include <algorithm>
#include <cinttypes>
#include <string>
#include <vector>

#include "core/click_laying.hpp"
#include "track/planner.hpp"
#include "wave/header.hpp"
#include "wave/track_writer.hpp"

namespace {

using Row = std::vector<std::string>;

// m:ss.mmm of `frames` at `rate`, h:mm:ss.mmm from an hour on; the
// milliseconds cut, as the summary of render cuts them.
std::string timeText(int64_t frames, uint32_t rate) {
    const int64_t millis = frames * 1000 / rate;
    const int64_t seconds = millis / 1000;
    const int64_t minutes = seconds / 60;
    char text[64];
    if (minutes < 60) {
        std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ".%03" PRId64, minutes,
                      seconds % 60, millis % 1000);
    } else {
        std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64,
                      minutes / 60, minutes % 60, seconds % 60, millis % 1000);
    }
    return text;
}

std::string tempoNumber(double tempo) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", tempo);
    return text;
}

// "120", "120-90" for a change of tempo, the lowest and the highest
// "90..130" for a tempo for each beat.
// A dotted beat's tempo counts its note: "q.=52".
std::string tempoText(const SongSection& s) {
    if (s.tempos.empty()) return "-";
    const CountedNote beat{static_cast<int>(s.noteValue), s.dotted};
    const std::string note = countedTempo(0.0, beat).prefix;
    const auto number = [&](double t) { return tempoNumber(countedTempo(t, beat).tempo); };
    if (s.ramp) return note + number(s.tempos.front()) + "-" + number(s.tempos.back());
    const auto [low, high] = std::minmax_element(s.tempos.begin(), s.tempos.end());
    if (*low == *high) return note + number(*low);
    return note + number(*low) + ".." + number(*high);
}

// beats/note as written: a bar of two dotted quarters is 6/8.
std::string meterText(const SongSection& s) {
    if (s.dotted) return std::to_string(s.beatsPerMeasure * 3) + "/" + std::to_string(s.noteValue * 2);
    return std::to_string(s.beatsPerMeasure) + "/" + std::to_string(s.noteValue);
}

// "-6", "+3", "0" dB.
std::string decibelText(double db) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.4g dB", db);
    return db == 0.0 ? std::string("0 dB") : std::string(text);
}

// What sounds: the sound's name or the samples, the levels given, and how
// the beats split; a phrase each.
std::vector<std::string> soundFacts(const CommandLine& line, const Song& song) {
    std::vector<std::string> facts;
    if (line.samples.empty()) {
        facts.push_back(song.sound.name);
    } else {
        std::string files = "samples ";
        for (size_t i = 0; i < line.samples.size(); ++i) files += (i ? "," : "") + line.samples[i];
        facts.push_back(files);
    }
    const SongSound& s = song.sound;
    if (s.volume) facts.push_back("volume " + decibelText(*s.volume));
    if (s.accent) facts.push_back("accent " + decibelText(*s.accent));
    if (s.subdivision) facts.push_back("subdivisions " + decibelText(*s.subdivision));
    if (s.soft) facts.push_back("soft beats " + decibelText(*s.soft));
    if (song.subdivide > 1) {
        // A dotted beat splits in its three eighths, whatever the count.
        size_t dotted = 0, all = 0;
        for (const SongSection* section : songSections(song)) {
            ++all;
            if (section->dotted) ++dotted;
        }
        if (dotted > 0 && dotted == all) {
            facts.push_back("3 clicks a beat");
        } else {
            facts.push_back(std::to_string(song.subdivide) + " clicks a beat" +
                            (dotted > 0 ? " (3 a dotted beat)" : ""));
        }
    }
    if (song.swing != 0.5) facts.push_back("swing " + tempoNumber(song.swing * 100.0) + " %");
    return facts;
}

std::string counted(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Characters, not bytes, so that a label in UTF-8 lines up.
size_t widthOf(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// The silent bars of a section that starts at bar `first` of the song:
// "4, 8, 12, ..." (runs as "7-8"), the first three runs; "-" for none.
std::string mutedText(const SongSection& s, int64_t first) {
    if (!s.mute || s.mute->off == 0 || s.countIn) return "-";
    const MuteCycle& cycle = *s.mute;
    std::string text;
    int runs = 0;
    for (int64_t j = 0; j < s.measures;) {
        const int64_t at = (s.mutePhase + j) % cycle.length();
        if (at < cycle.on) {
            j += cycle.on - at;
            continue;
        }
        if (runs++ == 3) return text + ", ...";
        const int64_t end = std::min(s.measures, j + cycle.length() - at);
        text += (text.empty() ? "" : ", ") + std::to_string(first + j);
        if (end - j > 1) text += "-" + std::to_string(first + end - 1);
        j = end;
    }
    return text.empty() ? "-" : text;
}

std::string lined(const std::vector<Row>& rows, bool tsv) {
    const size_t columns = rows.front().size();
    std::vector<size_t> widths(columns);
    for (const Row& row : rows) {
        for (size_t c = 0; c < columns; ++c) widths[c] = std::max(widths[c], widthOf(row[c]));
    }
    std::string text;
    for (const Row& row : rows) {
        for (size_t c = 0; c < columns; ++c) {
            text += row[c];
            if (c + 1 == columns) break;
            if (tsv) text += '\t';
            else text.append(widths[c] - widthOf(row[c]) + 2, ' ');
        }
        text += '\n';
    }
    return text;
}

}  // namespace

Result showTrack(const CommandLine& line, const Job& job, FILE* out, FILE* err) {
    const Song& song = job.song;
    const uint32_t rate = job.settings.rate;
    const ClickSet clicks = clickSetFor(line, job);
    if (clicks.frequencyTooLow) {
        std::fputs("clicktrack: The frequency chosen is too low for this tempo! The click is "
                   "silent.\n", err);
    }
    // Where the sections start, their beats and where the track ends, as
    // render lays them.
    const std::vector<ScheduledSection> sections =
        planFile(song, rate, clicks.normal.clickLength);
    const TrackClicks laid{clicks.voices(), ClickOverlap::Sum, FrameLayout{}};
    const TrackExtent extent = measureTrack(
        sections, clickLengths(laid, bytesPerSample(static_cast<uint32_t>(job.settings.bits))),
        laid.overlap);
    const std::vector<int64_t>& starts = extent.sectionStarts;

    const std::vector<std::string> markers = markerNames(song);
    // Muted bars get a column of their own, when there are any.
    const bool muted = std::any_of(song.sections.begin(), song.sections.end(),
                                   [](const SongSection& s) { return s.mute && s.mute->off > 0; });
    std::vector<Row> rows{{"start", "bar", "meter", "tempo", "pattern", "label", "length"}};
    if (muted) rows.front().insert(rows.front().begin() + 5, "muted");
    int64_t bar = 1, songBeats = 0, countInBars = 0;
    for (size_t i = 0; i < song.sections.size() && i < starts.size(); ++i) {
        const SongSection& s = song.sections[i];
        const int64_t end = i + 1 < starts.size() ? starts[i + 1] : extent.end;
        rows.push_back({timeText(starts[i], rate), s.countIn ? "-" : std::to_string(bar),
                        meterText(s),
                        tempoText(s), s.pattern.empty() ? "-" : s.pattern,
                        markers[i].empty() ? "-" : markers[i], timeText(end - starts[i], rate)});
        if (muted) rows.back().insert(rows.back().begin() + 5, mutedText(s, bar));
        // The measures its beats start; a measure that never ends is one.
        const int64_t beats = i < extent.beats.size() ? extent.beats[i] : 0;
        const int64_t bars = s.beatsPerMeasure > 0
                                 ? (beats + s.beatsPerMeasure - 1) / s.beatsPerMeasure
                                 : std::min<int64_t>(beats, 1);
        if (s.countIn) {
            countInBars += bars;
        } else {
            bar += bars;
            songBeats += beats;
        }
    }
    std::string text = lined(rows, line.tsv);
    if (line.tsv) {
        text += "total\t" + timeText(extent.end, rate) + "\t" + std::to_string(bar - 1) + "\t" +
                std::to_string(songBeats) + "\n";
        text += "sound";
        for (const std::string& fact : soundFacts(line, song)) text += "\t" + fact;
        text += "\n";
    } else {
        text += "total " + timeText(extent.end, rate) + ", " + counted(bar - 1, "bar", "bars") +
                ", " + counted(songBeats, "beat", "beats");
        if (countInBars > 0) text += " after a count-in of " + counted(countInBars, "bar", "bars");
        text += "\nsound";
        const std::vector<std::string> facts = soundFacts(line, song);
        for (size_t i = 0; i < facts.size(); ++i) text += (i ? ", " : " ") + facts[i];
        text += "\n";
    }
    std::fputs(text.c_str(), out);
    return std::nullopt;
}
