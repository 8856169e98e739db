#include "cli/studio_play.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli/channels.hpp"
#include "click/click_set.hpp"
#include "core/interrupt.hpp"
#include "playback/click_plan.hpp"
#include "playback/jack_client.hpp"
#include "track/planner.hpp"

namespace {

// Set in the environment, it has the callback's time measured and told at
// the end: for benchmarks, not for musicians.
constexpr const char* kTimingVariable = "CLICKTRACK_JACK_TIMING";

// The stream free play plays, as `clicktrack play` lays it out for ALSA.
DeviceStream streamOf(const CommandLine& line, const Song& song, uint32_t rate) {
    DeviceStream stream;
    stream.track = planFile(song, rate, 0);
    if (line.loop) {
        Song again = song;
        if (!again.sections.empty() && again.sections.front().countIn) {
            again.sections.front().measures = 0;
        }
        stream.again = planFile(again, rate, 0);
    }
    if (line.seconds && !line.transport) {
        stream.frames = std::llround(static_cast<double>(*line.seconds) * rate);
    }
    return stream;
}

}  // namespace

Result playOnJack(const CommandLine& line, const Job& prepared, FILE* /*out*/, FILE* err) {
    std::unique_ptr<JackClient> client;
    if (Outcome r = openJackClient(*line.jack, client)) return commandLineFailure(*r);
    const uint32_t rate = client->rate();
    if (line.rate && *line.rate != rate) {
        const std::string server = std::to_string(rate);
        return usageError("-r " + std::to_string(*line.rate) + " is not the JACK server's rate, " +
                          server + " Hz: leave -r out, or give -r " + server + ".");
    }
    // The clicks are made at the server's rate.
    std::optional<Job> atRate;
    if (prepared.settings.rate != rate) {
        CommandLine again = line;
        again.rate = rate;
        std::variant<Job, Exit> job = prepareJob(again);
        if (Exit* stop = std::get_if<Exit>(&job)) return *stop;
        atRate = std::move(std::get<Job>(job));
    }
    const Job& job = atRate ? *atRate : prepared;
    const Song& song = job.song;
    if (silentSong(song) || (line.seconds && !(*line.seconds * static_cast<double>(rate) >= 0.5))) {
        std::fputs("clicktrack: nothing to play: the track is empty.\n", err);
        return std::nullopt;
    }
    const ClickSet clickSet = clickSetFor(line, job);
    if (clickSet.frequencyTooLow) {
        std::fputs("clicktrack: The frequency chosen is too low for this tempo! The click is "
                   "silent.\n", err);
    }
    const DeviceStream stream = streamOf(line, song, rate);
    ClickPlan clicks;
    if (Outcome r = planClicks(stream, {clickSet.voices(), clickSet.normal.bytesPerSample, {}}, clicks)) {
        return commandLineFailure(*r);
    }
    std::vector<bool> countIn;
    for (const SongSection& s : song.sections) countIn.push_back(s.countIn);
    BeatPlan beats;
    if (Outcome r = planBeats(stream.track, countIn, beats)) return commandLineFailure(*r);

    JackPlay how;
    how.mode = !line.transport              ? TransportMode::Free
               : *line.transport == "lead" ? TransportMode::Lead
                                           : TransportMode::Follow;
    how.connect = line.connect;
    // The backing starts with the first bar after the count-in.
    int64_t backingStart = 0;
    if (job.backing) {
        const TrackExtent extent = measureTrack(stream.track, {}, ClickOverlap::Sum);
        backingStart = firstBarFrame(song, extent.sectionStarts, extent.end);
    }
    how.layout = frameLayout(line, job, backingStart);
    how.unconnected = line.connectNone;
    if (line.seconds && line.transport) how.frames = std::llround(static_cast<double>(*line.seconds) * rate);
    const char* timing = std::getenv(kTimingVariable);
    how.timed = timing && *timing && std::string(timing) != "0";
    JackReport report;
    Outcome played;
    {
        const InterruptGuard guard;
        played = client->play(clicks, beats, how, report);
    }
    if (report.xruns > 0 || !line.quiet) {
        std::fprintf(err, "clicktrack: JACK: %" PRId64 " xrun%s.\n", report.xruns,
                     report.xruns == 1 ? "" : "s");
    }
    if (how.timed) {
        std::fprintf(err, "clicktrack: process callback: %" PRId64 " periods, median %.2f us, "
                     "worst %.2f us.\n", report.periods, report.medianMicros, report.worstMicros);
    }
    if (played) return commandLineFailure(*played);
    return std::nullopt;
}
