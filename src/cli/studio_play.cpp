#include "cli/studio_play.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli/channels.hpp"
#include "cli/play.hpp"
#include "click/click_set.hpp"
#include "core/interrupt.hpp"
#include "playback/click_plan.hpp"
#include "playback/jack_client.hpp"
#include "track/planner.hpp"

namespace {

// Set in the environment, it has the callback's time measured and told at
// the end: for benchmarks, not for musicians.
constexpr const char* kTimingVariable = "CLICKTRACK_JACK_TIMING";

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
    if (!somethingToPlay(line, song, rate, err)) return std::nullopt;
    const ClickSet clickSet = playedClicks(line, job, err);
    // Following or leading, --seconds counts the server's time instead.
    const DeviceStream stream = playedStream(line, song, rate, !line.transport);
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
    how.layout = playedLayout(line, job, stream.track);
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
