// Writing a track in the formats studios exchange besides WAV: FLAC, Ogg
// Vorbis and AIFF, encoded by libsndfile as the track is walked. The WAV file
// keeps its own writer (appending, cue points); this one writes a new file
// from start to end, to a descriptor the caller opened and puts in place.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/click_laying.hpp"
#include "core/outcome.hpp"
#include "wave/track_writer.hpp"

enum class AudioFormat { Wav, Flac, Ogg, Aiff };

// "wav", "flac", "ogg" or "aiff".
const char* formatName(AudioFormat format);

// The format of that name (as formatName gives it), if there is one.
std::optional<AudioFormat> formatNamed(const std::string& name);

// The format a file name's extension asks for, in any case: .wav and .wave,
// .flac, .ogg and .oga, .aiff and .aif; WAV for a name without one. Nothing
// for an extension not known.
std::optional<AudioFormat> formatOfFileName(const std::string& path);

// Whether a file of the format holds its sizes in 32 bits (WAV and AIFF),
// and so stops short of 4 GiB.
bool limitedToFourGiB(AudioFormat format);

class SoundEncoder;

// The samples of a track encoded into a file of a format other than WAV:
// the same frames the wave file would hold, silence between and after the
// clicks, in as many channels as the clicks' layout has, handed to the encoder in blocks of a fixed size, so that memory
// stays the same whatever the track's length. Looks for a stop signal
// between blocks.
class SoundFileOutput : public TrackOutput {
public:
    SoundFileOutput(const TrackClicks& clicks, uint32_t bits);
    ~SoundFileOutput() override;

    // Starts the encoder on `fd`, a new empty file open for writing, which
    // stays open. A refusal names `path`.
    Outcome open(int fd, AudioFormat format, uint32_t rate, const std::string& path);

    bool take(const TrackEvent& event) override;
    bool finish(const TrackEnd& end) override;

    // Ends the encoding: the file's last blocks and its sizes written.
    Outcome close();

    // Why writing stopped, if it did.
    const Outcome& stop() const { return result_; }

private:
    // Hands every frame up to `to` to the encoder.
    bool layUpTo(int64_t to);
    bool flush();

    const TrackClicks& clicks_;
    uint32_t bits_;
    ClickMix mix_;
    size_t channels_;
    std::unique_ptr<SoundEncoder> encoder_;
    std::string path_;
    std::vector<int32_t> block_;   // frames waiting for the encoder, interleaved
    size_t used_ = 0;              // samples in the block
    std::vector<uint8_t> made_;    // a piece of the track as the mix lays it
    int64_t at_ = 0;               // frames handed over so far
    Outcome result_;
};
