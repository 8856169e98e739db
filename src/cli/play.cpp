#include "cli/play.hpp"

#include <unistd.h>

#include <algorithm>
#include <string>

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
    const std::optional<int32_t> limit =
        line.seconds ? trackFrames(s.rate, *line.seconds) : std::nullopt;
    if (job.map.empty()) {
        const int32_t total = limit ? *limit : trackFrames(s.rate, job.trackSeconds).value_or(0);
        return {{beatSamples(s.rate, s.tempo), total, s.meter}};
    }
    std::vector<PlayedSection> sections = playedSections(s.rate, job.map);
    if (limit) {
        int64_t left = *limit;
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

    void startSection(size_t index) { section_ = index; }

    void beat(int64_t measure, int64_t beat) {
        if (!out_) return;
        // A loop of one tempo runs on as one beat: its measures count round.
        if (wrapAfter_ > 0) measure = (measure - 1) % wrapAfter_ + 1;
        if (inPlace_) {
            std::fprintf(out_, "\rmeasure %lld  beat %lld  %s bpm%s   ",
                         static_cast<long long>(measure), static_cast<long long>(beat),
                         tempo().c_str(), sectionText().c_str());
            shown_ = true;
        } else if (beat == 1) {
            std::fprintf(out_, "measure %lld, %s bpm%s\n", static_cast<long long>(measure),
                         tempo().c_str(), sectionText().c_str());
        }
        std::fflush(out_);
    }

private:
    std::string tempo() const {
        const float t = job_.map.empty() ? job_.settings.tempo : job_.map[section_].tempo;
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", static_cast<double>(t));
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
    bool shown_ = false;
};

}  // namespace

Outcome playTrack(const CommandLine& line, const Job& job, FILE* out) {
    const Settings& s = job.settings;
    ClickState click;
    initClickState(click, s.bits);
    if (makeClick(click, s.Hz, s.rate).frequencyTooLow) {
        std::fputs("clicktrack: The frequency chosen is too low for this tempo! The click is "
                   "silent.\n", stderr);
    }
    if (job.map.empty() && !line.seconds && !trackFrames(s.rate, job.trackSeconds)) {
        return Stop{1, "clicktrack: the track is too long to play: its frames do not fit 31 bits "
                       "at this rate; nothing was played.", true};
    }
    const InterruptGuard guard;
    const bool endlessBeat = line.loop && job.map.empty() && !line.seconds;
    Progress progress(out, line.quiet, job, endlessBeat ? s.meas : 0);
    const PlaybackTarget target{s.device, s.rate, s.bits};
    const std::vector<PlayedSection> sections = sectionsToPlay(line, job);
    const auto onSection = [&progress](size_t i) { progress.startSection(i); };
    const BeatListener onBeat = [&progress](int64_t measure, int64_t beat) {
        progress.beat(measure, beat);
    };
    if (endlessBeat) {
        // One tempo loops as one endless beat, so that nothing falls between rounds.
        const PlayedSection& only = sections.front();
        const Beat beat = makeBeat(click.clickBytes, click.bytesPerSample, only.beatLength);
        if (Outcome r = playOnDevice(target, beat, std::nullopt, only.beatsPerMeasure, onBeat)) {
            return commandLineFailure(*r);
        }
        return std::nullopt;
    }
    do {
        if (Outcome r = playSections(target, click.clickBytes, click.bytesPerSample, sections,
                                     onSection, onBeat)) {
            return commandLineFailure(*r);
        }
    } while (line.loop && !interruptSignal());
    if (const int signal = interruptSignal()) return Stop{kSignalStatusBase + signal, "", true};
    return std::nullopt;
}
