#include "cli/play.hpp"

#include <unistd.h>

#include <string>

#include "click/click_set.hpp"
#include "core/interrupt.hpp"
#include "core/timing.hpp"
#include "playback/player.hpp"
#include "track/planner.hpp"

namespace {

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
        countIn_ = countIn;
        countedOn_ = countedOn;
        measuresStarted_ = 0;
        describe(section);
    }

    // Called as the player fills a period: it formats into buffers made
    // before the play and allocates nothing.
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
                         static_cast<long long>(beat), tempo_, section_);
            shown_ = true;
        } else if (beat == 1) {
            std::fprintf(out_, "%s %lld%s%s\n", what, static_cast<long long>(measure), tempo_,
                         section_);
        }
        std::fflush(out_);
    }

private:
    // The tempo in force and the map's section, each after its separator.
    // A map of exact times shows neither: its tempo may change from beat to
    // beat, and the device plays it whole.
    void describe(size_t section) {
        tempo_[0] = section_[0] = '\0';
        const Song& song = job_.song;
        if (song.fromMap && song.rounding == Rounding::Exact) return;
        const float t = song.fromMap
                            ? static_cast<float>(songSections(song)[section]->tempos.front())
                            : job_.settings.tempo;
        std::snprintf(tempo_, sizeof tempo_, inPlace_ ? "  %.6g bpm" : ", %.6g bpm",
                      static_cast<double>(t));
        if (song.fromMap) {
            std::snprintf(section_, sizeof section_, inPlace_ ? "  section %zu" : ", section %zu",
                          section + 1);
        }
    }

    FILE* out_;
    bool inPlace_;
    const Job& job_;
    int64_t wrapAfter_;  // measures after which the count starts again; 0: never
    char tempo_[48] = "";
    char section_[48] = "";
    int64_t countIn_ = 0;
    bool countedOn_ = false;
    int64_t measuresStarted_ = 0;
    bool shown_ = false;
};

}  // namespace

Result playTrack(const CommandLine& line, const Job& job, FILE* out, FILE* err) {
    const Settings& s = job.settings;
    const Song& song = job.song;
    if (silentSong(song, line.seconds) ||
        (line.seconds && !(*line.seconds * static_cast<float>(s.rate) >= 1.0f))) {
        std::fputs("clicktrack: nothing to play: the track is empty.\n", err);
        return std::nullopt;
    }
    const ClickSet clickSet = clickSetFor(line, job);
    if (clickSet.frequencyTooLow) {
        std::fputs("clicktrack: The frequency chosen is too low for this tempo! The click is "
                   "silent.\n", err);
    }
    if (!line.seconds && sectionPastFrameLimit(song, s.rate)) {
        return Exit{1, "clicktrack: the track is too long to play: its frames do not fit 31 bits "
                       "at this rate; nothing was played.", true};
    }
    const InterruptGuard guard;
    // One tempo looped without --seconds runs on as one beat, so that
    // nothing falls between rounds; its measures count round.
    const bool endless = line.loop && !song.fromMap && !line.seconds;
    Progress progress(out, line.quiet, job, endless ? s.meas : 0);
    const PlaybackTarget target{s.device, s.rate, s.bits};
    const BeatListener onBeat = [&progress](int64_t measure, int64_t beat) {
        progress.beat(measure, beat);
    };
    const PlayClicks clicks{clickSet.voices(), clickSet.normal.bytesPerSample};
    const std::vector<DevicePlay> plays = planDevice(song, s.rate, line.seconds, line.loop);
    // Frames handed to the device in a round: a round of none would loop
    // without end, reopening the device.
    PlayTally tally;
    tally.announceOnlyWhenHeard = true;
    do {
        tally.framesPlayed = 0;
        for (const DevicePlay& play : plays) {
            progress.startPlay(play.section, play.countIn, play.countedOn);
            if (Outcome r = playScheduleOnDevice(target, play.sections, clicks, play.total, onBeat,
                                                 &tally)) {
                return commandLineFailure(*r);
            }
        }
    } while (line.loop && tally.framesPlayed > 0 && !interruptSignal());
    if (const int signal = interruptSignal()) return Exit{kSignalExit + signal, "", true};
    if (tally.framesPlayed == 0) {
        // The device plays whole periods after the first: a track that ends
        // within one is not heard.
        std::fputs("clicktrack: nothing to play: the track is no longer than one period of the "
                   "sound device.\n", err);
    }
    return std::nullopt;
}
