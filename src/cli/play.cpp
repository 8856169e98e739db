#include "cli/play.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "cli/keys.hpp"
#include "cli/stage_display.hpp"
#include "cli/channels.hpp"
#include "click/click_set.hpp"
#include "core/interrupt.hpp"
#include "playback/player.hpp"
#include "track/planner.hpp"

namespace {

// How often the display is redrawn at most.
constexpr std::chrono::milliseconds kRedraw{200};

// m:ss.s (h:mm:ss.s past an hour) of `seconds`.
void formatTime(char* text, size_t size, double seconds) {
    const int64_t tenths = std::llround(std::max(seconds, 0.0) * 10.0);
    const int64_t s = tenths / 10;
    if (s >= 3600) {
        std::snprintf(text, size, "%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%" PRId64, s / 3600,
                      s / 60 % 60, s % 60, tenths % 10);
    } else {
        std::snprintf(text, size, "%" PRId64 ":%02" PRId64 ".%" PRId64, s / 60, s % 60, tenths % 10);
    }
}

// Where the player is, as the listener hears it: one line on a terminal,
// rewritten in place a few times a second by a thread of its own. The
// player only stores the beat it reaches (no lock, no allocation, no
// output), so the display never delays the sound.
class Progress {
public:
    Progress(FILE* err, bool shown, const Song& song, std::vector<ScheduledSection> sections,
             uint32_t rate, std::optional<int64_t> total, bool loop,
             const LiveStatus* live = nullptr, bool big = false, std::string title = "")
        : err_(err),
          sections_(std::move(sections)),
          names_(sectionNames(song)),
          rate_(rate),
          total_(total),
          loop_(loop),
          live_(live),
          bigWanted_(big),
          title_(std::move(title)) {
        // Bars are counted in the song from its first bar after the count-in.
        int64_t bars = 0;
        for (const SongSection& s : song.sections) {
            // A part of a section counts its measures on from the part before.
            firstBar_.push_back(bars - s.earlierBars);
            barsIn_.push_back(s.measures);
            countIn_.push_back(s.countIn);
            if (!s.countIn) bars += s.measures;
        }
        // And in the whole section's bars.
        for (size_t i = song.sections.size(); i-- > 0;) {
            const bool split = i + 1 < song.sections.size() && song.sections[i + 1].earlierBars > 0;
            barsIn_[i] = split ? barsIn_[i + 1] : song.sections[i].earlierBars + song.sections[i].measures;
        }
        for (const ScheduledSection& s : sections_) trackSeconds_ += exactSectionSeconds(s);
        if (shown && !sections_.empty()) thread_ = std::thread([this] { run(); });
    }

    ~Progress() { stop(); }

    // Called by the player as it fills a period: stores, and nothing else.
    void beat(const BeatEvent& e) {
        frame_.store(e.frame, std::memory_order_relaxed);
        const uint64_t packed = (static_cast<uint64_t>(e.section) & 0xFFFF) << 48 |
                                (static_cast<uint64_t>(e.measure) & 0xFFFFFFFF) << 16 |
                                (static_cast<uint64_t>(e.beat) & 0xFFFF);
        accent_.store(e.kind == ClickKind::Accent || e.beat == 1, std::memory_order_relaxed);
        where_.store(packed, std::memory_order_release);
    }

    // Draws the last place once more and ends the line.
    void stop() {
        if (!thread_.joinable()) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        uint64_t drawn = ~uint64_t{0};
        int64_t drawnFrame = -1;
        unsigned changes = 0;
        bool helpShown = false;
        if (bigWanted_) big_ = std::make_unique<BigDisplay>(err_);
        for (;;) {
            // Keys want a quicker answer than the time and the bar do.
            const bool last = wake_.wait_for(lock, live_ ? kRedraw / 4 : kRedraw, [this] { return done_; });
            const uint64_t where = where_.load(std::memory_order_acquire);
            // A round played again comes back to the same bar and beat at another time.
            const int64_t frame = frame_.load(std::memory_order_relaxed);
            const unsigned now = live_ ? live_->changes.load() : 0;
            if ((where != drawn || frame != drawnFrame || now != changes) && where != kNothingYet) {
                // On the status line's terminal, the keys are listed once above it.
                const bool help = live_ && live_->help.load();
                if (help && !helpShown && !big_) std::fprintf(err_, "\r\033[K%s\n", keyHelp());
                helpShown = help;
                draw(where);
                drawn = where;
                drawnFrame = frame;
                changes = now;
            }
            if (last) break;
        }
        if (big_) {
            // The stage's screen goes; the last status stays on the terminal.
            big_.reset();
            if (drawn != ~uint64_t{0}) std::fprintf(err_, "\r%s\033[K", status_.c_str());
        }
        if (drawn != ~uint64_t{0}) {
            std::fputc('\n', err_);
            std::fflush(err_);
        }
    }

    void draw(uint64_t where) {
        const size_t section = std::min<size_t>(where >> 48, sections_.size() - 1);
        const int64_t measure = static_cast<int64_t>(where >> 16 & 0xFFFFFFFF);
        const int64_t beat = static_cast<int64_t>(where & 0xFFFF);
        const ScheduledSection& s = sections_[section];
        const int64_t perMeasure = s.beatsPerMeasure;
        // A dotted beat's tempo as the map wrote it: q.=52, not 78 quarters; the keys' change on top.
        const double factor = live_ ? live_->factor.load() : 1.0;
        const CountedTempo tempo = countedTempo(
            factor * tempoAtBeat(s, (measure - s.firstMeasure) * std::max<int64_t>(perMeasure, 1) + beat - 1),
            CountedNote{static_cast<int>(std::lround(s.dotted ? s.noteValue * 1.5 : s.noteValue)), s.dotted});
        const double now = static_cast<double>(frame_.load(std::memory_order_relaxed)) / rate_;
        char place[96];
        if (countIn_[section]) {
            std::snprintf(place, sizeof place, "bar %" PRId64 "/%" PRId64, measure, barsIn_[section]);
        } else {
            std::snprintf(place, sizeof place, "bar %" PRId64 " (%" PRId64 "/%" PRId64 ")",
                          firstBar_[section] + measure, measure, barsIn_[section]);
        }
        char elapsed[32], left[32] = "";
        formatTime(elapsed, sizeof elapsed, now);
        if (total_ || (!loop_ && !(live_ && live_->moved.load()))) {
            const double end = total_ ? static_cast<double>(*total_) / rate_ : trackSeconds_;
            char rest[24];
            formatTime(rest, sizeof rest, end - now);
            std::snprintf(left, sizeof left, ", %s left", rest);
        }
        char line[512];
        std::snprintf(line, sizeof line, "%s%s  %s  beat %" PRId64 "/%" PRId64 "  %s%.5g bpm  %s%s%s",
                      title_.c_str(), names_[section].c_str(), place, beat, perMeasure,
                      tempo.prefix.c_str(), tempo.tempo, elapsed, left, live_ ? liveState().c_str() : "");
        status_ = line;
        if (big_) {
            const bool accent = accent_.load(std::memory_order_relaxed) && !live_->paused.load();
            big_->draw(countIn_[section] ? measure : firstBar_[section] + measure, beat, accent,
                       status_, live_->help.load() ? keyHelp() : nullptr);
            return;
        }
        std::fprintf(err_, "\r%s\033[K", status_.c_str());
        std::fflush(err_);
    }

    // What the keys changed, said after the time.
    std::string liveState() const {
        std::string state;
        if (live_->paused.load()) state += "  paused";
        if (live_->muted.load()) state += "  muted";
        if (const double tapped = live_->tapped.load(); tapped > 0.0) {
            char text[32];
            std::snprintf(text, sizeof text, "  tap %.5g bpm", std::round(tapped * 10.0) / 10.0);
            state += text;
        }
        return state;
    }

    static constexpr uint64_t kNothingYet = ~uint64_t{0} - 1;

    FILE* err_;
    std::vector<ScheduledSection> sections_;
    std::vector<std::string> names_;
    std::vector<int64_t> firstBar_, barsIn_;
    std::vector<bool> countIn_;
    double rate_;
    std::optional<int64_t> total_;
    bool loop_;
    double trackSeconds_ = 0.0;  // the track once through
    std::atomic<int64_t> frame_{0};
    std::atomic<uint64_t> where_{kNothingYet};
    std::atomic<bool> accent_{false};
    const LiveStatus* live_;
    bool bigWanted_;
    std::string title_;
    std::unique_ptr<BigDisplay> big_;
    std::string status_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace

Result playTrack(const CommandLine& line, const Job& job, FILE* out, FILE* err) {
    return playTrack(line, job, out, err, "");
}

namespace {

// The song each round of --loop plays: its count-in stays, without
// measures, so that sections keep their numbers.
Song roundAgain(const Song& song) {
    Song again = song;
    if (!again.sections.empty() && again.sections.front().countIn) again.sections.front().measures = 0;
    return again;
}

}  // namespace

bool somethingToPlay(const CommandLine& line, const Song& song, uint32_t rate, FILE* err) {
    if (silentSong(song) || (line.seconds && !(*line.seconds * static_cast<double>(rate) >= 0.5))) {
        std::fputs("clicktrack: nothing to play: the track is empty.\n", err);
        return false;
    }
    return true;
}

ClickSet playedClicks(const CommandLine& line, const Job& job, FILE* err) {
    ClickSet clickSet = clickSetFor(line, job);
    if (clickSet.frequencyTooLow) {
        std::fputs("clicktrack: The frequency chosen is too low for this tempo! The click is "
                   "silent.\n", err);
    }
    return clickSet;
}

DeviceStream playedStream(const CommandLine& line, const Song& song, uint32_t rate, bool timed) {
    DeviceStream stream;
    stream.track = planFile(song, rate, 0);
    if (line.loop) stream.again = planFile(roundAgain(song), rate, 0);
    if (line.seconds && timed) stream.frames = std::llround(static_cast<double>(*line.seconds) * rate);
    return stream;
}

FrameLayout playedLayout(const CommandLine& line, const Job& job,
                         const std::vector<ScheduledSection>& track) {
    // The backing starts with the first bar after the count-in, and again each round.
    int64_t backingStart = 0;
    if (job.backing) {
        const TrackExtent extent = measureTrack(track, {}, ClickOverlap::Sum);
        backingStart = firstBarFrame(job.song, extent.sectionStarts, extent.end);
    }
    return frameLayout(line, job, backingStart);
}

Result playTrack(const CommandLine& line, const Job& job, FILE* /*out*/, FILE* err,
                 const std::string& title) {
    const Settings& s = job.settings;
    const Song& song = job.song;
    if (!somethingToPlay(line, song, s.rate, err)) return std::nullopt;
    const ClickSet clickSet = playedClicks(line, job, err);
    // The very frames render writes, in one stream: --seconds cuts it, and
    // --loop plays the song again, without its count-in, where it ends.
    const DeviceStream stream = playedStream(line, song, s.rate, true);
    std::optional<Song> again;
    if (line.loop) again = roundAgain(song);
    const InterruptGuard guard;
    PlayClicks clicks{clickSet.voices(), clickSet.normal.bytesPerSample,
                      playedLayout(line, job, stream.track)};
    // On a terminal, keys change the play as it goes; a voice of no clicks mutes it.
    std::optional<LiveKeys> keys;
    if (keysAvailable()) {
        clicks.voices.push_back(ClickVoice{});
        keys.emplace(song, again, s.rate, clicks.voices.size() - 1);
    }
    Progress progress(err, !line.quiet && ::isatty(::fileno(err)) == 1, song, stream.track, s.rate,
                      stream.frames, line.loop, keys ? &keys->status() : nullptr, line.big, title);
    const EventListener onEvent = [&progress](const BeatEvent& e) { progress.beat(e); };
    PlayTally tally;
    // The first beat is shown as it starts.
    progress.beat(BeatEvent{});
    const PlaybackTarget target{s.device, s.rate, s.bits};
    const Outcome played = keys ? keys->play(target, clicks, stream.frames, onEvent, &tally)
                                : playStreamOnDevice(target, stream, clicks, onEvent, &tally);
    progress.stop();
    if (played) return commandLineFailure(*played);
    if (const int signal = interruptSignal()) return Exit{kSignalExit + signal, "", true};
    return std::nullopt;
}
