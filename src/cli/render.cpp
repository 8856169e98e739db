#include "cli/render.hpp"

#include <sys/stat.h>

#include <cinttypes>
#include <variant>

#include "audio/sound_file.hpp"
#include "cli/channels.hpp"
#include "cli/companion_file.hpp"
#include "io/file_paths.hpp"
#include "click/click_set.hpp"
#include "core/interrupt.hpp"
#include "core/timing.hpp"
#include "core/user_text.hpp"
#include "files/label_track.hpp"
#include "track/planner.hpp"
#include "wave/cue_chunks.hpp"
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
    if (job.song.fromMap) {
        // A line that continues the section before is no section of its own.
        size_t sections = 0;
        int64_t measures = 0;
        for (const SongSection* k : songSections(job.song)) {
            sections += !k->continues;
            measures += k->measures;
        }
        return std::to_string(sections) + (sections == 1 ? " section, " : " sections, ") +
               std::to_string(measures) + " measures";
    }
    // A tempo that names its note says so, as it was written: q.=52.
    const std::string note = line.tempoNote ? noteName(*line.tempoNote) + "=" : "";
    const std::string tempo = line.tempoRamp
                                  ? note + tempoText(*line.tempoFrom) + "-" + tempoText(*line.tempoTo)
                                  : note + tempoText(s.tempo);
    return std::to_string(s.meas) + " measures of " + std::to_string(s.meter) + " at " + tempo +
           " bpm";
}

void writeSummary(FILE* out, const std::string& name, const CommandLine& line, const Job& job,
                  int64_t frames, uint64_t fileBytes, bool appended) {
    const Settings& s = job.settings;
    const int32_t channels = channelCount(line);
    const std::string layout = channels > 1 ? ", " + std::to_string(channels) + " channels" : "";
    std::fprintf(out, "%s: %s%s, %s, %u Hz %d-bit%s, %s%" PRIu64 " bytes\n", name.c_str(),
                 appended ? "added " : "", contentText(line, job).c_str(),
                 durationText(frames, s.rate).c_str(), s.rate, s.bits, layout.c_str(),
                 appended ? "now " : "", fileBytes);
    std::fflush(out);
}

Exit tooLarge(const std::string& name, const char* outcome) {
    return Exit{1, "clicktrack: the track would make '" + name + "' 4 GiB or larger; nothing was " +
                       outcome + ".", true};
}

uint64_t sizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

// Two outputs that name one file would write over each other, and an
// output that names an input (the map, the settings file) would destroy it.
// Names are compared as files: links followed, standard output included.
Result checkOutputsDiffer(const CommandLine& line, const std::string& wave, int audioOut) {
    std::vector<std::pair<const char*, std::string>> outputs;
    if (line.midi) outputs.emplace_back("--midi", *line.midi);
    if (line.labels) outputs.emplace_back("--labels", *line.labels);
    std::vector<std::pair<const char*, std::string>> inputs;
    if (line.map) inputs.emplace_back("--map", *line.map);
    if (line.settings) inputs.emplace_back("--settings", *line.settings);
    if (line.toStandardOutput()) {
        for (const auto* files : {&outputs, &inputs}) {
            for (const auto& [option, name] : *files) {
                if (isOpenFile(audioOut, name)) {
                    return usageError(std::string(option) +
                                      " names the file standard output goes to, '" + name + "'.");
                }
            }
        }
    }
    // The output file may come from the settings file's own `save`.
    if (!line.toStandardOutput()) {
        outputs.insert(outputs.begin(), {line.output ? "--output" : "the output file", wave});
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (sameOutput(outputs[i].second, outputs[j].second)) {
                return usageError(std::string(outputs[i].first) + " and " + outputs[j].first +
                                  " name the same file '" + outputs[j].second + "'.");
            }
        }
        for (const auto& [option, name] : inputs) {
            if (sameOutput(outputs[i].second, name)) {
                return usageError(std::string(outputs[i].first) + " names the file " + option +
                                  " reads, '" + name + "'.");
            }
        }
    }
    return std::nullopt;
}

// The output file's format: --format, else its name's extension; standard
// output carries WAV. Only a WAV file is added to or takes cue points.
std::variant<AudioFormat, Exit> outputFormat(const CommandLine& line, const std::string& name) {
    if (line.toStandardOutput()) return AudioFormat::Wav;
    const std::optional<AudioFormat> format = line.format ? line.format : formatOfFileName(name);
    const std::string shown = shownText(name, kShowQuoted | kShowControlsAsQuestion);
    if (!format) {
        return usageError("the output file " + shown + " has an extension clicktrack does not "
                          "write: name a .wav, .flac, .ogg or .aiff file, or give --format.");
    }
    if (*format != AudioFormat::Wav && (line.append || line.markers)) {
        return usageError(std::string(line.append ? "--append" : "--markers") +
                          " works on WAV files only, and " + shown + " is to be " +
                          formatName(*format) + ".");
    }
    return *format;
}

// Puts the companions in place once the track's file `wave` is: each even
// when another could not be, so that only the one the message names is left
// as it was.
Result commitCompanions(std::optional<CompanionFile>& midi, std::optional<CompanionFile>& labels,
                        const std::string& wave) {
    Result failed;
    for (std::optional<CompanionFile>* companion : {&midi, &labels}) {
        if (*companion) {
            Result r = (*companion)->commit(wave);
            if (r && !failed) failed = r;
        }
    }
    return failed;
}

// Everything that can fail but putting them in place.
Result finishCompanions(std::optional<CompanionFile>& midi, std::optional<CompanionFile>& labels) {
    for (std::optional<CompanionFile>* companion : {&midi, &labels}) {
        if (*companion) {
            if (Result r = (*companion)->finish()) return r;
        }
    }
    return std::nullopt;
}

}  // namespace

Result renderTrack(const CommandLine& line, const Job& job, int audioOut, FILE* summaryOut,
                    FILE* err) {
    const Settings& s = job.settings;
    const Song& song = job.song;
    const uint32_t bits = static_cast<uint32_t>(s.bits);
    const auto channels = static_cast<uint32_t>(channelCount(line));
    const uint64_t frameBytes = uint64_t{bytesPerSample(bits)} * channels;
    const ClickSet clicks = clickSetFor(line, job);
    if (clicks.frequencyTooLow) {
        std::fputs("clicktrack: The frequency chosen is too low for this tempo! The click is "
                   "silent.\n", err);
    }
    const std::string name = line.toStandardOutput() ? "standard output" : s.save;
    const char* outcome = line.append ? "added" : "written";
    if (Result r = checkOutputsDiffer(line, s.save, audioOut)) return r;
    const std::variant<AudioFormat, Exit> chosen = outputFormat(line, s.save);
    if (const Exit* refused = std::get_if<Exit>(&chosen)) return *refused;
    const AudioFormat format = std::get<AudioFormat>(chosen);
    // FLAC and Ogg hold their sizes in more than 32 bits.
    const bool sized = limitedToFourGiB(format);
    if (sized) {
        // Known up front: a track far too large is refused before it is laid out.
        const double frames = exactSeconds(song) * s.rate;
        if (!fitsWaveSize(headerSize(channels) + paddedBytes(static_cast<uint64_t>(frames) * frameBytes))) {
            return tooLarge(name, outcome);
        }
    }
    const std::vector<ScheduledSection> sections =
        planFile(song, s.rate, clicks.normal.clickLength);
    // A section that continues the one before has no marker of its own.
    const std::vector<std::string> markers = markerNames(song);
    // Exact beats may come closer than a click lasts: each click is cut where
    // the next starts, the last where the beats end.
    TrackClicks laid{clicks.voices(), ClickOverlap::Sum, FrameLayout{}};
    const TrackExtent extent =
        measureTrack(sections, clickLengths(laid, bytesPerSample(bits)), laid.overlap);
    const int64_t frames = extent.end;
    laid.layout = frameLayout(line, job, firstBarFrame(song, extent.sectionStarts, frames));
    const std::vector<TrackMark> marks = sectionMarks(markers, extent.sectionStarts);
    const std::vector<TrackMark> cues = line.markers ? marks : std::vector<TrackMark>{};
    const uint64_t audioBytes = static_cast<uint64_t>(frames) * frameBytes;
    const uint64_t streamBytes = headerSize(channels) + markerChunkBytes(cues) + paddedBytes(audioBytes);
    if (sized && !fitsWaveSize(streamBytes)) return tooLarge(name, outcome);

    // Ctrl-C while the files are written leaves every file as it was.
    InterruptGuard guard;
    std::optional<CompanionFile> midi, labels;
    std::vector<TrackOutput*> alongside;
    if (line.midi) {
        // Written in the same walk of the track as the wave file.
        midi.emplace(*line.midi);
        if (Result r = midi->startMidi(sections, markers, extent.beats)) return r;
        alongside.push_back(midi->midi());
    }
    if (format != AudioFormat::Wav) {
        // The same walk, its frames encoded into a new file beside the old one.
        CompanionFile sound(s.save);
        SoundFileOutput encoder(laid, bits);
        if (Result r = sound.startSound(encoder, format, s.rate)) return r;
        if (line.labels) {
            labels.emplace(*line.labels);
            if (Result r = labels->writeText(labelTrackText(marks, frames, s.rate, 0))) return r;
        }
        std::vector<TrackOutput*> outputs{&encoder};
        outputs.insert(outputs.end(), alongside.begin(), alongside.end());
        BeatSchedule schedule(sections);
        walkTrack(schedule, clickLengths(laid, bytesPerSample(bits)), laid.overlap, outputs);
        if (Result r = sound.soundOutcome(encoder.stop())) return r;
        if (midi) {
            if (Result r = midi->midiOutcome()) return r;
        }
        if (Result r = sound.soundOutcome(encoder.close())) return r;
        if (Result r = sound.finish()) return r;
        if (Result r = finishCompanions(midi, labels)) return r;
        if (Result r = sound.commit("")) return r;
        if (Result r = commitCompanions(midi, labels, "'" + s.save + "'")) return r;
        if (!line.quiet) writeSummary(summaryOut, name, line, job, frames, sizeOf(s.save), false);
        return std::nullopt;
    }
    WaveFile file(name, s.rate, bits, channels);
    file.sayWhyOpeningFails();
    if (line.toStandardOutput()) {
        if (Outcome r = file.openStream(audioOut, audioBytes, cues)) return commandLineFailure(*r);
    } else if (line.append) {
        if (Outcome r = file.openForAppend(cues)) return commandLineFailure(*r);
        if (!fitsWaveSize(file.lengthAfter(audioBytes))) return tooLarge(name, outcome);
    } else {
        // A track of one section states its planned length, as the menu's `w` does.
        const int32_t planned =
            !song.fromMap && sections.size() == 1 ? static_cast<int32_t>(sections[0].frames) : 0;
        if (Outcome r = file.create(planned, cues)) return commandLineFailure(*r);
    }
    if (line.labels) {
        // Added to a file, the labels count from the start of the file.
        const int64_t offset = line.append ? static_cast<int64_t>(file.audioFrames()) : 0;
        labels.emplace(*line.labels);
        if (Result r = labels->writeText(labelTrackText(marks, frames, s.rate, offset))) return r;
    }
    const Outcome written = file.writeTrack(BeatSchedule(sections), laid, alongside);
    if (midi) {
        if (Result r = midi->midiOutcome()) return r;
    }
    if (written) return commandLineFailure(*written);
    // Everything that can fail is done before the first file is put in
    // place; then the wave file, then the others.
    if (Result r = finishCompanions(midi, labels)) return r;
    if (Outcome r = file.commit()) return commandLineFailure(*r);
    const std::string wave = line.toStandardOutput() ? "the wave file" : "'" + s.save + "'";
    if (Result r = commitCompanions(midi, labels, wave)) return r;
    if (!line.quiet) {
        const uint64_t bytes = line.toStandardOutput() ? streamBytes : sizeOf(s.save);
        writeSummary(summaryOut, name, line, job, frames, bytes, line.append);
    }
    return std::nullopt;
}
