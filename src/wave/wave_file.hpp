// A wave file being written: the one object through which `w`, `+` and the
// tempo map reach the output file.
//
// It owns the file's descriptor from the first check to the last byte, and
// holds an advisory lock on the user's file all the while, so that two
// programs writing the same file take turns. Work goes in three steps:
//
//   create → write tracks → commit   a new file is written beside the old
//                                    one and renamed over it when complete
//   openForAppend → write → commit   samples go where the audio ends; the
//                                    sizes are written only after them
//   ... with markers                 the markers go before the audio, so
//                                    the file is written anew beside the
//                                    old one: its chunks, the marker
//                                    chunks, the old audio, the new track
//   openStream → write → commit      to a pipe: the header states the sizes
//                                    planned, and the audio must match them
//
// Dropped without commit, or stopped by a failure or a signal, it rolls
// back: the new file is removed, an append is cut back to the old length.
// The user's file is then as it was.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/interrupt.hpp"
#include "core/outcome.hpp"
#include "core/track_mark.hpp"
#include "io/kept_file.hpp"
#include "wave/track_writer.hpp"

class WaveFile {
public:
    // `path` is the name the user gave; messages use it. A file of more
    // than one channel is only ever written new (see header.hpp).
    WaveFile(std::string path, uint32_t rate, uint32_t bits, uint32_t channels = 1);
    ~WaveFile();
    WaveFile(const WaveFile&) = delete;
    WaveFile& operator=(const WaveFile&) = delete;

    // A file to add to that exists but cannot be opened (it is read-only,
    // say) is refused with the reason, not with the menu's "does not exist".
    void sayWhyOpeningFails() { sayWhy_ = true; }

    // Starts a new file whose header states `plannedFrames` samples, with a
    // cue point and label for each of `marks` before the audio.
    Outcome create(int32_t plannedFrames, const std::vector<TrackMark>& marks = {});

    // Writes the file to `fd`, which may be a pipe: the header states the
    // `audioBytes` that will follow, since nothing can be repaired later.
    Outcome openStream(int fd, uint64_t audioBytes, const std::vector<TrackMark>& marks = {});

    // Opens the existing file to add to it: it must be a one-channel PCM
    // wave file at this rate and depth, its audio within reach, nothing
    // after it. `marks`, counted from the start of the added track, join
    // the file's cue list.
    Outcome openForAppend(const std::vector<TrackMark>& marks = {});

    // Frames of audio the file holds so far (before a track is added: the
    // file's own).
    uint64_t audioFrames() const;

    // Where the file ends once `bytes` more bytes of audio are written.
    uint64_t lengthAfter(uint64_t bytes) const;

    // Writes the track of `schedule`, the encoded `click` at every beat.
    Outcome writeTrack(BeatSchedule schedule, const std::vector<uint8_t>& click);

    // Writes the track of `schedule` with its clicks of every kind, handing
    // every event of the same walk to `alongside` too (a MIDI file, say).
    // When one of those stops the walk, nothing is reported here: the
    // caller asks it why, and the file is rolled back unless committed.
    Outcome writeTrack(BeatSchedule schedule, const TrackClicks& clicks,
                       const std::vector<TrackOutput*>& alongside = {});

    // Makes the file whole: true sizes, data on disk, the new file in place.
    Outcome commit();

private:
    // Rewrite: an append that adds markers, written as a new file.
    enum class Mode { None, Create, Append, Rewrite, Stream };

    Outcome refuse(const std::string& problem) const;
    size_t formatEnd() const;
    uint32_t frameBytes() const;
    Outcome stopped(const Failure& why);
    Outcome failed(int error) { return stopped(fileFailure(path_, error)); }
    Outcome checkByteRate() const;
    Outcome lockUserFile(int openFlags, bool mustExist);
    Outcome createTemporary();
    Outcome cannotOpen(int error) const;
    Outcome cannotCreate(int error) const;
    Outcome readLayout();
    Outcome planMarkers(const std::vector<TrackMark>& marks);
    Outcome startRewrite();
    Outcome writeHeader(int32_t plannedFrames, uint64_t audioBytes);
    Outcome finishAppend();
    Outcome finishCreate();
    Outcome finishStream();
    void rollBack();

    std::string path_;      // as the user named it
    KeptFile file_;         // the user's file, locked, and the new file beside it
    uint32_t rate_;
    uint32_t bits_;
    uint32_t channels_;
    Mode mode_ = Mode::None;
    int writeFd_ = -1;      // where samples go: the new file, the user's, or the stream
    uint64_t dataTag_ = 0;  // offset of the data chunk's id
    uint64_t audioStart_ = 0;
    uint64_t writeAt_ = 0;  // where the next sample goes
    uint64_t announced_ = 0;  // audio bytes a streamed header states
    std::vector<uint8_t> chunks_;   // the chunks between the format and the audio
    std::vector<uint8_t> head_;     // the start of an existing file, as read
    uint64_t oldAudioStart_ = 0;    // Rewrite: where the old audio is in the old file
    uint64_t oldAudioBytes_ = 0;
    bool rewriteStarted_ = false;
    std::vector<uint8_t> oldTail_;  // bytes from the old end of the audio, restored on roll back
    std::array<uint8_t, 8> oldSizes_{};  // the RIFF and data size fields before an append
    bool sizesWritten_ = false;
    bool committed_ = false;
    bool sayWhy_ = false;
    std::optional<InterruptGuard> guard_;  // while the work runs
};
