#include "cli/companion_file.hpp"

#include <cstring>

#include "cli/job.hpp"
#include "io/file_paths.hpp"
#include "io/regular_file.hpp"

CompanionFile::CompanionFile(std::string path) : path_(path), file_(std::move(path)) {}

Result CompanionFile::failed(const std::string& problem, const std::string& outcome) const {
    return commandLineFailure(fileFailure(path_, 0, "Can't write '" + path_ + "': " + problem + "; " + outcome));
}

Result CompanionFile::open() {
    if (const FileResult problem = file_.create()) {
        return failed(problemText(*problem), "nothing was written.");
    }
    return std::nullopt;
}

Result CompanionFile::startMidi(const std::vector<ScheduledSection>& sections,
                                 const std::vector<std::string>& names,
                                 const std::vector<int64_t>& beats) {
    if (Result r = open()) return r;
    midi_ = std::make_unique<MidiFileOutput>(file_.fd(), folderOf(path_), sections, names, beats);
    return midiOutcome();
}

Result CompanionFile::midiOutcome() const { return said(midi_->stop()); }

Result CompanionFile::startSound(SoundFileOutput& encoder, AudioFormat format, uint32_t rate) {
    if (Result r = open()) return r;
    return said(encoder.open(file_.fd(), format, rate, path_));
}

Result CompanionFile::soundOutcome(const Outcome& stop) const { return said(stop); }

Result CompanionFile::said(const Outcome& stop) const {
    if (!stop) return std::nullopt;
    switch (stop->kind) {
        case Failure::Kind::Interrupted:
            return commandLineFailure(interruption(stop->signal, "Interrupted; nothing was written."));
        case Failure::Kind::Refused:
            return commandLineFailure(refusal(stop->detail + "; nothing was written."));
        default:
            if (stop->error == 0 && !stop->detail.empty()) {
                return commandLineFailure(fileFailure(path_, 0, stop->detail + "; nothing was written."));
            }
            return failed(std::strerror(stop->error), "nothing was written.");
    }
}

Result CompanionFile::writeText(const std::string& text) {
    if (Result r = open()) return r;
    if (const int error = writeAll(file_.fd(), text.data(), text.size())) {
        return failed(std::strerror(error), "nothing was written.");
    }
    return std::nullopt;
}

Result CompanionFile::finish() {
    if (const int error = file_.finish()) return failed(std::strerror(error), "nothing was written.");
    return std::nullopt;
}

Result CompanionFile::commit(const std::string& wave) {
    if (const int error = file_.commit()) {
        if (wave.empty()) return failed(std::strerror(error), "nothing was written.");
        return failed(std::strerror(error), "'" + path_ + "' is unchanged, but " + wave + " was written.");
    }
    return std::nullopt;
}
