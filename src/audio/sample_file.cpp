#include "audio/sample_file.hpp"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "audio/library_text.hpp"


namespace {

constexpr int32_t kFullScale = 8388607;  // the 24-bit scale's largest sample
constexpr sf_count_t kReadBlock = 4096;  // frames read at a time

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

Failure refused(const std::string& path, const std::string& why) {
    return refusal("the sample '" + path + "' " + why);
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// The frames of `file`, each the mean of its channels, or a refusal once
// they last longer than the limit.
std::variant<std::vector<float>, Failure> readMono(SNDFILE* file, const SF_INFO& info,
                                                   const std::string& path) {
    const auto most = static_cast<size_t>(kSampleSecondsLimit * info.samplerate);
    const auto channels = static_cast<size_t>(info.channels);
    std::vector<float> block(static_cast<size_t>(kReadBlock) * channels);
    std::vector<float> mono;
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), kReadBlock);
        if (got <= 0) break;
        if (mono.size() + static_cast<size_t>(got) > most) {
            return refused(path, "lasts longer than " + secondsText(kSampleSecondsLimit) + " s");
        }
        for (sf_count_t f = 0; f < got; ++f) {
            double sum = 0;
            for (size_t c = 0; c < channels; ++c) sum += block[static_cast<size_t>(f) * channels + c];
            mono.push_back(static_cast<float>(sum / static_cast<double>(channels)));
        }
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        return refused(path, "cannot be read: " + libraryText(file));
    }
    return mono;
}

// `mono` at `from` frames a second converted to `to`, `frames` long.
std::variant<std::vector<float>, Failure> convertRate(std::vector<float> mono, uint32_t from,
                                                      uint32_t to, size_t frames,
                                                      const std::string& path) {
    if (from == to) return mono;
    const double ratio = static_cast<double>(to) / from;
    if (!src_is_valid_ratio(ratio)) {
        return refused(path, "is at " + std::to_string(from) + " Hz, too far from the track's " +
                                 std::to_string(to) + " Hz to convert");
    }
    // Room for the converter's rounding; the result is then cut or padded
    // to the exact length.
    std::vector<float> out(frames + 16);
    SRC_DATA data{};
    data.data_in = mono.data();
    data.input_frames = static_cast<long>(mono.size());
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size());
    data.src_ratio = ratio;
    if (const int error = src_simple(&data, SRC_SINC_BEST_QUALITY, 1)) {
        return refused(path, std::string("cannot be converted: ") + src_strerror(error));
    }
    out.resize(static_cast<size_t>(data.output_frames_gen));
    out.resize(frames, 0.0f);
    return out;
}

}  // namespace

std::variant<std::vector<int32_t>, Failure> readSample(const std::string& path, uint32_t rate) {
    if (rate > kSampleRateLimit) {
        return refused(path, "cannot be laid at " + std::to_string(rate) + " Hz: samples work at "
                             "rates up to " + std::to_string(kSampleRateLimit) + " Hz");
    }
    SF_INFO info{};
    const SoundFile file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) return refused(path, "cannot be read: " + libraryText(nullptr));
    if (info.samplerate <= 0 || static_cast<uint32_t>(info.samplerate) > kSampleRateLimit ||
        info.channels <= 0) {
        return refused(path, "has a rate of " + std::to_string(info.samplerate) +
                                 " Hz; samples may have rates up to " +
                                 std::to_string(kSampleRateLimit) + " Hz");
    }
    // A header that states the length refuses a long file before it is read.
    if (info.frames > 0 && info.frames != SF_COUNT_MAX &&
        static_cast<double>(info.frames) > kSampleSecondsLimit * info.samplerate) {
        return refused(path, "lasts longer than " + secondsText(kSampleSecondsLimit) + " s");
    }
    auto read = readMono(file.get(), info, path);
    if (Failure* f = std::get_if<Failure>(&read)) return *f;
    std::vector<float>& mono = std::get<std::vector<float>>(read);
    if (mono.empty()) return refused(path, "holds no sound");
    const auto from = static_cast<uint32_t>(info.samplerate);
    const auto frames = static_cast<size_t>(
        std::llround(static_cast<double>(mono.size()) * rate / static_cast<double>(from)));
    if (frames == 0) return refused(path, "is too short to last one frame at " + std::to_string(rate) + " Hz");
    auto converted = convertRate(std::move(mono), from, rate, frames, path);
    if (Failure* f = std::get_if<Failure>(&converted)) return *f;
    const std::vector<float>& sound = std::get<std::vector<float>>(converted);
    std::vector<int32_t> samples(sound.size());
    bool heard = false;
    for (size_t i = 0; i < sound.size(); ++i) {
        const double x = std::clamp(static_cast<double>(sound[i]), -1.0, 1.0);
        samples[i] = static_cast<int32_t>(std::lround(x * kFullScale));
        heard = heard || samples[i] != 0;
    }
    if (!heard) return refused(path, "is silent");
    return samples;
}
