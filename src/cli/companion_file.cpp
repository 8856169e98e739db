#include "cli/companion_file.hpp"

#include <cstring>

#include "cli/job.hpp"
#include "io/file_paths.hpp"
#include "io/regular_file.hpp"

CompanionFile::CompanionFile(std::string path) : path_(path), file_(std::move(path)) {}

Outcome CompanionFile::failed(const std::string& problem, const std::string& outcome) const {
    return commandLineFailure(
        programError("Can't write '" + path_ + "': " + problem + "; " + outcome));
}

Outcome CompanionFile::open() {
    if (const FileResult problem = file_.create()) {
        return failed(problemText(*problem), "nothing was written.");
    }
    return std::nullopt;
}

Outcome CompanionFile::startMidi(const std::vector<ScheduledSection>& sections,
                                 const std::vector<std::string>& names,
                                 const std::vector<int64_t>& beats) {
    if (Outcome r = open()) return r;
    midi_ = std::make_unique<MidiFileOutput>(file_.fd(), folderOf(path_), sections, names, beats);
    return midiOutcome(names);
}

Outcome CompanionFile::midiOutcome(const std::vector<std::string>& names) const {
    const std::optional<MidiStop>& stop = midi_->stop();
    if (!stop) return std::nullopt;
    if (stop->signal != 0) {
        return commandLineFailure(
            Stop{kSignalStatusBase + stop->signal, "Interrupted; nothing was written.", true});
    }
    if (stop->slowSection >= 0) {
        const size_t i = static_cast<size_t>(stop->slowSection);
        const std::string name = i < names.size() ? names[i] : std::to_string(i + 1);
        return commandLineFailure(programError(
            "a beat of '" + name + "' is too long for a MIDI tempo (at most 16.777215 seconds a "
            "quarter note); nothing was written."));
    }
    return failed(std::strerror(stop->error), "nothing was written.");
}

Outcome CompanionFile::writeText(const std::string& text) {
    if (Outcome r = open()) return r;
    if (const int error = writeAll(file_.fd(), text.data(), text.size())) {
        return failed(std::strerror(error), "nothing was written.");
    }
    return std::nullopt;
}

Outcome CompanionFile::finish() {
    if (const int error = file_.finish()) return failed(std::strerror(error), "nothing was written.");
    return std::nullopt;
}

Outcome CompanionFile::commit(const std::string& wave) {
    if (const int error = file_.commit()) {
        return failed(std::strerror(error), "'" + path_ + "' is unchanged, but " + wave + " was written.");
    }
    return std::nullopt;
}
