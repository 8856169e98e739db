#include "audio/sound_file.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cctype>

#include "audio/library_text.hpp"
#include "core/interrupt.hpp"

namespace {

constexpr size_t kBlockFrames = 1 << 14;  // frames handed to the encoder at a time

struct FormatRow {
    AudioFormat format;
    const char* name;
    const char* extensions[2];
};

const FormatRow kFormats[] = {
    {AudioFormat::Wav, "wav", {"wav", "wave"}},
    {AudioFormat::Flac, "flac", {"flac", nullptr}},
    {AudioFormat::Ogg, "ogg", {"ogg", "oga"}},
    {AudioFormat::Aiff, "aiff", {"aiff", "aif"}},
};

// libsndfile's major format and encoding for ours at `bits`.
int libraryFormat(AudioFormat format, uint32_t bits) {
    const int pcm = bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24;
    switch (format) {
        case AudioFormat::Flac: return SF_FORMAT_FLAC | pcm;
        case AudioFormat::Ogg: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        case AudioFormat::Aiff: return SF_FORMAT_AIFF | pcm;
        case AudioFormat::Wav: break;
    }
    return SF_FORMAT_WAV | pcm;
}

// One encoded sample (little-endian, 2 or 3 bytes) on the full 32-bit
// scale libsndfile's integer writes take.
int32_t decodeSample(const uint8_t* bytes, uint32_t bytesPerSample) {
    uint32_t value = bytesPerSample == 2
                         ? (uint32_t{bytes[0]} << 16) | (uint32_t{bytes[1]} << 24)
                         : (uint32_t{bytes[0]} << 8) | (uint32_t{bytes[1]} << 16) |
                               (uint32_t{bytes[2]} << 24);
    return static_cast<int32_t>(value);
}

}  // namespace

const char* formatName(AudioFormat format) {
    for (const FormatRow& row : kFormats) {
        if (row.format == format) return row.name;
    }
    return "wav";
}

std::optional<AudioFormat> formatNamed(const std::string& name) {
    for (const FormatRow& row : kFormats) {
        if (name == row.name) return row.format;
    }
    return std::nullopt;
}

std::optional<AudioFormat> formatOfFileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    // ".hidden" is a name, not an extension.
    if (dot == std::string::npos || dot == 0) return AudioFormat::Wav;
    std::string extension = base.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const FormatRow& row : kFormats) {
        for (const char* known : row.extensions) {
            if (known && extension == known) return row.format;
        }
    }
    return std::nullopt;
}

bool limitedToFourGiB(AudioFormat format) {
    return format == AudioFormat::Wav || format == AudioFormat::Aiff;
}

// The open libsndfile handle.
class SoundEncoder {
public:
    explicit SoundEncoder(SNDFILE* file) : file_(file) {}
    ~SoundEncoder() {
        if (file_) sf_close(file_);
    }
    SoundEncoder(const SoundEncoder&) = delete;
    SoundEncoder& operator=(const SoundEncoder&) = delete;

    SNDFILE* get() const { return file_; }
    // 0, or libsndfile's error.
    int close() {
        const int error = file_ ? sf_close(file_) : 0;
        file_ = nullptr;
        return error;
    }

private:
    SNDFILE* file_;
};

SoundFileOutput::SoundFileOutput(const TrackClicks& clicks, uint32_t bits)
    : clicks_(clicks),
      bits_(bits),
      mix_(clicks.voices, bits == 16 ? 2 : 3, clicks.overlap, clicks.layout),
      channels_(static_cast<size_t>(mix_.layout().channels)),
      block_(kBlockFrames * channels_),
      made_(kBlockFrames * mix_.frameBytes()) {}

SoundFileOutput::~SoundFileOutput() = default;

Outcome SoundFileOutput::open(int fd, AudioFormat format, uint32_t rate, const std::string& path) {
    path_ = path;
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = static_cast<int>(channels_);
    info.format = libraryFormat(format, bits_);
    if (!sf_format_check(&info)) {
        return refusal("Can't write '" + path + "': " + formatName(format) + " does not take " +
                       std::to_string(rate) + " Hz " + std::to_string(bits_) + "-bit audio");
    }
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!file) {
        return refusal("Can't write '" + path + "' as " + formatName(format) + " at " +
                       std::to_string(rate) + " Hz: " + libraryText(nullptr));
    }
    encoder_ = std::make_unique<SoundEncoder>(file);
    return std::nullopt;
}

bool SoundFileOutput::flush() {
    if (used_ == 0) return true;
    if (const int signal = interruptSignal()) {
        result_ = interruption(signal);
        return false;
    }
    const auto frames = static_cast<sf_count_t>(used_ / channels_);
    if (sf_writef_int(encoder_->get(), block_.data(), frames) != frames) {
        result_ = fileFailure(path_, 0, "Can't write '" + path_ + "': " + libraryText(encoder_->get()));
        return false;
    }
    used_ = 0;
    return true;
}

bool SoundFileOutput::layUpTo(int64_t to) {
    const uint32_t bytesPerSample = bits_ == 16 ? 2 : 3;
    while (at_ < to) {
        const auto piece = std::min<int64_t>(to - at_, static_cast<int64_t>((block_.size() - used_) / channels_));
        mix_.lay(at_, piece, made_.data());
        const size_t samples = static_cast<size_t>(piece) * channels_;
        for (size_t i = 0; i < samples; ++i) {
            block_[used_++] = decodeSample(made_.data() + i * bytesPerSample, bytesPerSample);
        }
        at_ += piece;
        if (used_ == block_.size() && !flush()) return false;
    }
    return true;
}

bool SoundFileOutput::take(const TrackEvent& event) {
    if (result_) return false;
    if (!layUpTo(event.beat.frame)) return false;
    mix_.take(event.click());
    return true;
}

bool SoundFileOutput::finish(const TrackEnd& end) {
    if (result_) return false;
    if (clicks_.overlap == ClickOverlap::Sum) mix_.cutAt(end.audio);
    return layUpTo(end.audio) && flush();
}

Outcome SoundFileOutput::close() {
    if (!encoder_) return result_;
    const int error = encoder_->close();
    if (!result_ && error != 0) {
        result_ = fileFailure(path_, 0, "Can't write '" + path_ + "': " + sf_error_number(error));
    }
    return result_;
}

std::string libraryText(SNDFILE* file) {
    std::string text = sf_strerror(file);
    const std::string system = "System error : ";
    if (text.compare(0, system.size(), system) == 0) text.erase(0, system.size());
    while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}
