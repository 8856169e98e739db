// The files that go with a rendered track to a recorder: a MIDI file with
// its tempo map and clicks, a label track of its sections. Each is written
// beside the file it replaces and put in place once the wave file is, so
// that a failure anywhere leaves every file as it was.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/beat_schedule.hpp"
#include "cli/exit.hpp"
#include "core/outcome.hpp"
#include "audio/sound_file.hpp"
#include "io/kept_file.hpp"
#include "midi/midi_file.hpp"

class CompanionFile {
public:
    explicit CompanionFile(std::string path);

    // Starts the MIDI file of the track `sections` lay out, whose sections
    // hold `beats`: it is written as the track is walked, through midi().
    Result startMidi(const std::vector<ScheduledSection>& sections,
                      const std::vector<std::string>& names, const std::vector<int64_t>& beats);
    TrackOutput* midi() { return midi_.get(); }
    // Why the MIDI file could not be written, once the walk is over.
    Result midiOutcome() const;

    // Starts `encoder` on the file in `format` at `rate`: the track in a
    // format other than WAV, written as the track is walked.
    Result startSound(SoundFileOutput& encoder, AudioFormat format, uint32_t rate);
    // Why the encoder stopped, if it did, said the command line's way.
    Result soundOutcome(const Outcome& stop) const;

    // Writes `text`.
    Result writeText(const std::string& text);

    // Puts its data on disk: all that can fail but putting it in place.
    Result finish();

    // Puts the file in place, once the wave file `wave` is in place; the
    // track's own file with `wave` empty.
    Result commit(const std::string& wave);

private:
    Result open();
    Result failed(const std::string& problem, const std::string& outcome) const;
    Result said(const Outcome& stop) const;

    std::string path_;
    KeptFile file_;
    std::unique_ptr<MidiFileOutput> midi_;
};
