#include "cli/render.hpp"

#include <sys/stat.h>

#include <cinttypes>

#include "cli/track_plan.hpp"
#include "click/click.hpp"
#include "core/timing.hpp"
#include "wave/header.hpp"
#include "wave/wave_file.hpp"

namespace {

std::string tempoText(float tempo) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(tempo));
    return text;
}

// m:ss.mmm of `frames` at `rate`.
std::string durationText(int64_t frames, uint32_t rate) {
    const int64_t millis = frames * 1000 / rate;
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ".%03" PRId64, millis / 60000,
                  millis / 1000 % 60, millis % 1000);
    return text;
}

// What the track holds, for the summary line.
std::string contentText(const CommandLine& line, const Job& job) {
    const Settings& s = job.settings;
    if (!job.lineMap.empty()) {
        int64_t measures = 0;
        for (const LineMapSection& k : job.lineMap) measures += k.measures;
        return std::to_string(job.lineMap.size()) +
               (job.lineMap.size() == 1 ? " section, " : " sections, ") + std::to_string(measures) +
               " measures";
    }
    if (job.map.empty()) {
        const std::string tempo = line.tempoRamp
                                      ? tempoText(*line.tempoFrom) + "-" + tempoText(*line.tempoTo)
                                      : tempoText(s.tempo);
        return std::to_string(s.meas) + " measures of " + std::to_string(s.meter) + " at " +
               tempo + " bpm";
    }
    int64_t measures = 0;
    for (const TempoMapEntry& e : job.map) measures += e.measures;
    return std::to_string(job.map.size()) + (job.map.size() == 1 ? " section, " : " sections, ") +
           std::to_string(measures) + " measures";
}

void writeSummary(FILE* out, const std::string& name, const CommandLine& line, const Job& job,
                  int64_t frames, uint64_t fileBytes, bool appended) {
    const Settings& s = job.settings;
    std::fprintf(out, "%s: %s%s, %s, %u Hz %d-bit, %s%" PRIu64 " bytes\n", name.c_str(),
                 appended ? "added " : "", contentText(line, job).c_str(),
                 durationText(frames, s.rate).c_str(), s.rate, s.bits,
                 appended ? "now " : "", fileBytes);
    std::fflush(out);
}

Stop tooLarge(const std::string& name, const char* outcome) {
    return Stop{1, "clicktrack: the track would make '" + name + "' 4 GiB or larger; nothing was " +
                       outcome + ".", true};
}

uint64_t sizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

}  // namespace

Outcome renderTrack(const CommandLine& line, const Job& job, int audioOut, FILE* summaryOut) {
    const Settings& s = job.settings;
    const uint32_t bits = static_cast<uint32_t>(s.bits);
    const ClickSet clicks = makeClickSet(line, job);
    if (clicks.frequencyTooLow) {
        std::fputs("clicktrack: The frequency chosen is too low for this tempo! The click is "
                   "silent.\n", stderr);
    }
    const std::string name = line.toStandardOutput() ? "standard output" : s.save;
    const char* outcome = line.append ? "added" : "written";
    // A track whose frames are no 32-bit count is refused, as the menu refuses it.
    if (job.map.empty() && job.lineMap.empty() && !line.tempoRamp &&
        !trackFrames(s.rate, job.trackSeconds)) {
        return tooLarge(name, outcome);
    }
    if (job.exactSeconds) {
        // Known up front: a track far too large is refused before it is laid out.
        const double frames = *job.exactSeconds * s.rate;
        if (!fitsWaveSize(kHeaderBytes + paddedBytes(static_cast<uint64_t>(frames) *
                                                     bytesPerSample(bits)))) {
            return tooLarge(name, outcome);
        }
    }
    const std::vector<ScheduledSection> sections = plannedSections(line, job, clicks);
    const TrackClicks laid{clicks.voices(), line.shapesTheClicks() || !job.lineMap.empty()};
    BeatSchedule planning(sections);
    const int64_t frames = layClicks(planning, clickLengths(laid, bytesPerSample(bits)),
                                     laid.cutAtNextClick, [](const LaidClick&) { return true; });
    const uint64_t audioBytes = static_cast<uint64_t>(frames) * bytesPerSample(bits);
    if (!fitsWaveSize(kHeaderBytes + paddedBytes(audioBytes))) return tooLarge(name, outcome);

    WaveFile file(name, s.rate, bits);
    if (line.toStandardOutput()) {
        if (Outcome r = file.openStream(audioOut, audioBytes)) return commandLineFailure(*r);
    } else if (line.append) {
        if (Outcome r = file.openForAppend()) return commandLineFailure(*r);
        if (!fitsWaveSize(file.lengthAfter(audioBytes))) return tooLarge(name, outcome);
    } else {
        const int32_t planned = job.map.empty() && job.lineMap.empty() && sections.size() == 1
                                    ? static_cast<int32_t>(sections[0].frames)
                                    : 0;
        if (Outcome r = file.create(planned)) return commandLineFailure(*r);
    }
    if (Outcome r = file.writeTrack(BeatSchedule(sections), laid)) {
        return commandLineFailure(*r);
    }
    if (Outcome r = file.commit()) return commandLineFailure(*r);
    if (!line.quiet) {
        const uint64_t bytes = line.toStandardOutput() ? kHeaderBytes + paddedBytes(audioBytes)
                                                       : sizeOf(s.save);
        writeSummary(summaryOut, name, line, job, frames, bytes, line.append);
    }
    return std::nullopt;
}
