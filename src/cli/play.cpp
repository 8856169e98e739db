#include "cli/play.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "cli/track_plan.hpp"
#include "click/click.hpp"
#include "core/interrupt.hpp"
#include "core/timing.hpp"
#include "playback/player.hpp"

namespace {

// The sections to play: the map's, or one of the job's tempo. With
// --seconds, one tempo plays that long, as the menu's audition does, and a
// map stops that far in (or at its end).
std::vector<PlayedSection> sectionsToPlay(const CommandLine& line, const Job& job) {
    const Settings& s = job.settings;
    // --seconds was checked: its frames fit.
    const int64_t limit = line.seconds ? trackFrames(s.rate, *line.seconds).value_or(0) : 0;
    if (job.map.empty()) {
        const int32_t total = line.seconds ? static_cast<int32_t>(limit)
                                           : trackFrames(s.rate, job.trackSeconds).value_or(0);
        return {{beatSamples(s.rate, s.tempo), total, s.meter}};
    }
    std::vector<PlayedSection> sections = playedSections(s.rate, job.map);
    if (line.seconds) {
        int64_t left = limit;
        for (PlayedSection& section : sections) {
            section.total = static_cast<int32_t>(std::min<int64_t>(section.total, left));
            left -= section.total;
        }
        while (sections.size() > 1 && sections.back().total == 0) sections.pop_back();
    }
    return sections;
}

// Where the player is, as the listener hears it.
class Progress {
public:
    Progress(FILE* out, bool quiet, const Job& job, int64_t wrapAfter)
        : out_(quiet ? nullptr : out),
          inPlace_(out && ::isatty(::fileno(out)) == 1),
          job_(job),
          wrapAfter_(wrapAfter) {}

    ~Progress() {
        if (out_ && inPlace_ && shown_) std::fputc('\n', out_);
    }

    // A play of the device begins: the map's section it plays, and the
    // measures of count-in at its start. With `countedOn`, its measures are
    // numbered on from the count-in's; otherwise the track's start at 1.
    void startPlay(size_t section, int64_t countIn, bool countedOn) {
        section_ = section;
        countIn_ = countIn;
        countedOn_ = countedOn;
        measuresStarted_ = 0;
    }

    void beat(int64_t measure, int64_t beat) {
        if (beat == 1) ++measuresStarted_;
        if (!out_) return;
        const bool countingIn = measuresStarted_ <= countIn_;
        if (countingIn) measure = measuresStarted_;
        else if (countedOn_) measure -= countIn_;
        // A loop of one tempo runs on as one beat: its measures count round.
        if (wrapAfter_ > 0) measure = (measure - 1) % wrapAfter_ + 1;
        const char* what = countingIn ? "count-in" : "measure";
        if (inPlace_) {
            std::fprintf(out_, "\r%s %lld  beat %lld%s%s   ", what, static_cast<long long>(measure),
                         static_cast<long long>(beat), tempo().c_str(), sectionText().c_str());
            shown_ = true;
        } else if (beat == 1) {
            std::fprintf(out_, "%s %lld%s%s\n", what, static_cast<long long>(measure),
                         tempo().c_str(), sectionText().c_str());
        }
        std::fflush(out_);
    }

private:
    // The tempo in force, after its separator; none for a map of the line
    // format, whose tempo may change from beat to beat.
    std::string tempo() const {
        if (!job_.lineMap.empty()) return "";
        const float t = job_.map.empty() ? job_.settings.tempo : job_.map[section_].tempo;
        char text[40];
        std::snprintf(text, sizeof text, inPlace_ ? "  %.6g bpm" : ", %.6g bpm",
                      static_cast<double>(t));
        return text;
    }

    std::string sectionText() const {
        if (job_.map.empty()) return "";
        return (inPlace_ ? "  section " : ", section ") + std::to_string(section_ + 1);
    }

    FILE* out_;
    bool inPlace_;
    const Job& job_;
    int64_t wrapAfter_;  // measures after which the count starts again; 0: never
    size_t section_ = 0;
    int64_t countIn_ = 0;
    bool countedOn_ = false;
    int64_t measuresStarted_ = 0;
    bool shown_ = false;
};

// One opening of the device: the sections it plays and for how long.
struct DevicePlay {
    std::vector<ScheduledSection> sections;
    std::optional<int64_t> total;  // none: until stopped
    size_t mapSection = 0;         // the map's section it plays, for the progress
    int64_t countIn = 0;           // measures of count-in at its start
    bool countedOn = false;        // its measures are numbered on from the count-in's
};

// A run of whole-frame beats of `beatLength`, to the end of the play.
ScheduledSection deviceBeats(const CommandLine& line, int64_t beatLength,
                             int64_t beatsPerMeasure) {
    ScheduledSection s;
    s.rounding = BeatRounding::WholeBeats;
    s.beatLength = beatLength;
    s.beatsPerMeasure = beatsPerMeasure;
    s.frames = -1;
    setMeasurePattern(s, line);
    s.subdivide = line.subdivide.value_or(1);
    return s;
}

// The plays that accents, subdivisions, a count-in or a change of tempo
// ask for. One tempo keeps the menu's whole-frame beats, the count-in
// running straight on into the track; a change of tempo lays its beats at
// their exact times; a map opens the device for each section, as `ptm` does.
std::vector<DevicePlay> shapedPlays(const CommandLine& line, const Job& job,
                                    const std::vector<PlayedSection>& sections,
                                    const ClickSet& clicks) {
    const Settings& s = job.settings;
    const int64_t countIn = line.countIn.value_or(0);
    std::vector<DevicePlay> plays;
    if (!job.lineMap.empty() || line.tempoRamp) {
        // Exact times from the start of the track: the device stays open throughout.
        std::vector<ScheduledSection> exact = plannedSections(line, job, clicks);
        // The track ends where its last section's next beat would start; a
        // loop plays it again and again.
        std::optional<int64_t> total = std::llround(job.exactSeconds.value_or(0.0) * s.rate);
        if (line.seconds) total = trackFrames(s.rate, *line.seconds);
        plays.push_back({exact, total, 0, countIn, false});
        return plays;
    }
    if (!job.map.empty()) {
        for (size_t i = 0; i < sections.size(); ++i) {
            DevicePlay play{{deviceBeats(line, sections[i].beatLength, job.map[i].beats)},
                            sections[i].total, i};
            if (i == 0 && countIn > 0 && !line.seconds) {
                play.total = *play.total + countIn * job.map[i].beats * sections[i].beatLength;
            }
            if (i == 0) play.countIn = countIn;
            play.countedOn = true;
            plays.push_back(play);
        }
        return plays;
    }
    const PlayedSection& only = sections.front();
    DevicePlay play{{deviceBeats(line, only.beatLength, s.meter)}, only.total, 0, countIn, true};
    if (line.loop && !line.seconds) play.total = std::nullopt;
    else if (!line.seconds) play.total = *play.total + countIn * s.meter * only.beatLength;
    plays.push_back(play);
    return plays;
}

// Whether the track holds nothing to play: no measures, no beats, or no
// time (--seconds 0). A count-in before nothing is not played either.
bool emptyTrack(const CommandLine& line, const Job& job,
                const std::vector<PlayedSection>& sections) {
    const Settings& s = job.settings;
    if (line.seconds && !(*line.seconds * static_cast<float>(s.rate) >= 1.0f)) return true;
    if (!job.lineMap.empty()) return false;
    if (job.map.empty()) return int64_t{s.meter} * s.meas == 0;
    int64_t frames = 0;
    for (const PlayedSection& section : sections) frames += section.total;
    return frames == 0;
}

}  // namespace

Outcome playTrack(const CommandLine& line, const Job& job, FILE* out, FILE* err) {
    const Settings& s = job.settings;
    const std::vector<PlayedSection> sections = sectionsToPlay(line, job);
    if (emptyTrack(line, job, sections)) {
        std::fputs("clicktrack: nothing to play: the track is empty.\n", err);
        return std::nullopt;
    }
    const ClickSet clickSet = makeClickSet(line, job);
    if (clickSet.frequencyTooLow) {
        std::fputs("clicktrack: The frequency chosen is too low for this tempo! The click is "
                   "silent.\n", err);
    }
    const ClickState& click = clickSet.normal;
    if (job.map.empty() && job.lineMap.empty() && !line.seconds && !line.tempoRamp &&
        !trackFrames(s.rate, job.trackSeconds)) {
        return Stop{1, "clicktrack: the track is too long to play: its frames do not fit 31 bits "
                       "at this rate; nothing was played.", true};
    }
    const InterruptGuard guard;
    const bool endlessBeat = line.loop && job.map.empty() && job.lineMap.empty() && !line.seconds;
    Progress progress(out, line.quiet, job, endlessBeat ? s.meas : 0);
    const PlaybackTarget target{s.device, s.rate, s.bits};
    const auto onSection = [&progress](size_t i) { progress.startPlay(i, 0, false); };
    const BeatListener onBeat = [&progress](int64_t measure, int64_t beat) {
        progress.beat(measure, beat);
    };
    // Frames handed to the device in a round: a round of none would loop
    // without end, reopening the device.
    PlayTally tally;
    tally.announceOnlyWhenHeard = true;
    if (line.shapesTheClicks() || !job.lineMap.empty()) {
        const PlayClicks clicks{clickSet.voices(), click.bytesPerSample};
        const std::vector<DevicePlay> plays = shapedPlays(line, job, sections, clickSet);
        do {
            tally.framesPlayed = 0;
            for (const DevicePlay& play : plays) {
                progress.startPlay(play.mapSection, play.countIn, play.countedOn);
                if (Outcome r = playScheduleOnDevice(target, play.sections, clicks, play.total,
                                                     onBeat, &tally)) {
                    return commandLineFailure(*r);
                }
            }
        } while (line.loop && tally.framesPlayed > 0 && !interruptSignal());
    } else if (endlessBeat) {
        // One tempo loops as one endless beat, so that nothing falls between rounds.
        const PlayedSection& only = sections.front();
        const Beat beat = makeBeat(click.clickBytes, click.bytesPerSample, only.beatLength);
        if (Outcome r = playOnDevice(target, beat, std::nullopt, only.beatsPerMeasure, onBeat,
                                     &tally)) {
            return commandLineFailure(*r);
        }
    } else {
        do {
            tally.framesPlayed = 0;
            if (Outcome r = playSections(target, click.clickBytes, click.bytesPerSample,
                                         sections, onSection, onBeat, &tally)) {
                return commandLineFailure(*r);
            }
        } while (line.loop && tally.framesPlayed > 0 && !interruptSignal());
    }
    if (const int signal = interruptSignal()) return Stop{kSignalStatusBase + signal, "", true};
    if (tally.framesPlayed == 0) {
        // The device plays whole periods after the first: a track that ends
        // within one is not heard.
        std::fputs("clicktrack: nothing to play: the track is no longer than one period of the "
                   "sound device.\n", err);
    }
    return std::nullopt;
}
