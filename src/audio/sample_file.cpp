#include "audio/sample_file.hpp"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "audio/library_text.hpp"


namespace {

constexpr int32_t kFullScale = 8388607;  // the 24-bit scale's largest sample
constexpr sf_count_t kReadBlock = 4096;  // frames read at a time

struct SoundFileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SoundFile = std::unique_ptr<SNDFILE, SoundFileCloser>;

// What a refusal calls the file: "the sample 'knock.wav'".
struct Named {
    std::string noun;
    std::string path;

    Failure refused(const std::string& why) const {
        return refusal("the " + noun + " '" + path + "' " + why);
    }
};

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

// The frames of `file` in `keep` channels: its own when it has that many,
// else each the mean of its channels; a refusal, worded by `tooLong`, once
// they number more than `most`.
std::variant<std::vector<float>, Failure> readFrames(SNDFILE* file, const SF_INFO& info, size_t keep,
                                                     size_t most, const Failure& tooLong,
                                                     const Named& name) {
    const auto channels = static_cast<size_t>(info.channels);
    std::vector<float> block(static_cast<size_t>(kReadBlock) * channels);
    std::vector<float> frames;
    // A stated length within the limit is taken at its word, so that the
    // frames are not copied as they grow.
    if (info.frames > 0 && static_cast<uint64_t>(info.frames) <= most) {
        frames.reserve(static_cast<size_t>(info.frames) * keep);
    }
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), kReadBlock);
        if (got <= 0) break;
        if (frames.size() / keep + static_cast<size_t>(got) > most) return tooLong;
        for (sf_count_t f = 0; f < got; ++f) {
            const float* frame = block.data() + static_cast<size_t>(f) * channels;
            if (keep == channels) {
                frames.insert(frames.end(), frame, frame + channels);
                continue;
            }
            double sum = 0;
            for (size_t c = 0; c < channels; ++c) sum += frame[c];
            frames.push_back(static_cast<float>(sum / static_cast<double>(channels)));
        }
    }
    if (sf_error(file) != SF_ERR_NO_ERROR) {
        return name.refused("cannot be read: " + libraryText(file));
    }
    return frames;
}

// `sound`, frames of `channels` at `from` frames a second, converted to
// `to`, `frames` long.
std::variant<std::vector<float>, Failure> convertRate(std::vector<float> sound, size_t channels,
                                                      uint32_t from, uint32_t to, size_t frames,
                                                      const Named& name) {
    if (from == to) return sound;
    const double ratio = static_cast<double>(to) / from;
    if (!src_is_valid_ratio(ratio)) {
        return name.refused("is at " + std::to_string(from) + " Hz, too far from the track's " +
                            std::to_string(to) + " Hz to convert");
    }
    // Room for the converter's rounding; the result is then cut or padded
    // to the exact length.
    std::vector<float> out((frames + 16) * channels);
    SRC_DATA data{};
    data.data_in = sound.data();
    data.input_frames = static_cast<long>(sound.size() / channels);
    data.data_out = out.data();
    data.output_frames = static_cast<long>(frames + 16);
    data.src_ratio = ratio;
    if (const int error = src_simple(&data, SRC_SINC_BEST_QUALITY, static_cast<int>(channels))) {
        return name.refused(std::string("cannot be converted: ") + src_strerror(error));
    }
    sound = std::vector<float>();  // its memory back before the next step
    out.resize(static_cast<size_t>(data.output_frames_gen) * channels);
    out.resize(frames * channels, 0.0f);
    return out;
}

// A sound file opened to be read: refused when it cannot be, or its rate
// is beyond the limit.
std::variant<SF_INFO, Failure> openSound(const std::string& path, uint32_t rate, SoundFile& file,
                                         const Named& name) {
    if (rate > kSampleRateLimit) {
        return name.refused("cannot be laid at " + std::to_string(rate) + " Hz: " + name.noun +
                            "s work at rates up to " + std::to_string(kSampleRateLimit) + " Hz");
    }
    SF_INFO info{};
    file.reset(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) return name.refused("cannot be read: " + libraryText(nullptr));
    if (info.samplerate <= 0 || static_cast<uint32_t>(info.samplerate) > kSampleRateLimit ||
        info.channels <= 0) {
        return name.refused("has a rate of " + std::to_string(info.samplerate) + " Hz; " +
                            name.noun + "s may have rates up to " +
                            std::to_string(kSampleRateLimit) + " Hz");
    }
    return info;
}

// Samples of the 24-bit scale; beyond full scale they saturate.
std::vector<int32_t> onFullScale(const std::vector<float>& sound) {
    std::vector<int32_t> samples(sound.size());
    for (size_t i = 0; i < sound.size(); ++i) {
        const double x = std::clamp(static_cast<double>(sound[i]), -1.0, 1.0);
        samples[i] = static_cast<int32_t>(std::lround(x * kFullScale));
    }
    return samples;
}

// Frames of `read` frames at `from` frames a second at `rate` instead.
size_t framesAt(size_t read, uint32_t from, uint32_t rate) {
    return static_cast<size_t>(std::llround(static_cast<double>(read) * rate / static_cast<double>(from)));
}

}  // namespace

std::variant<std::vector<int32_t>, Failure> readSample(const std::string& path, uint32_t rate) {
    const Named name{"sample", path};
    SoundFile file;
    auto opened = openSound(path, rate, file, name);
    if (Failure* f = std::get_if<Failure>(&opened)) return *f;
    const SF_INFO info = std::get<SF_INFO>(opened);
    const Failure tooLong = name.refused("lasts longer than " + secondsText(kSampleSecondsLimit) + " s");
    const auto most = static_cast<size_t>(kSampleSecondsLimit * info.samplerate);
    // A header that states the length refuses a long file before it is read.
    if (info.frames > 0 && info.frames != SF_COUNT_MAX && static_cast<uint64_t>(info.frames) > most) {
        return tooLong;
    }
    auto read = readFrames(file.get(), info, 1, most, tooLong, name);
    if (Failure* f = std::get_if<Failure>(&read)) return *f;
    std::vector<float>& mono = std::get<std::vector<float>>(read);
    if (mono.empty()) return name.refused("holds no sound");
    const auto from = static_cast<uint32_t>(info.samplerate);
    const size_t frames = framesAt(mono.size(), from, rate);
    if (frames == 0) return name.refused("is too short to last one frame at " + std::to_string(rate) + " Hz");
    auto converted = convertRate(std::move(mono), 1, from, rate, frames, name);
    if (Failure* f = std::get_if<Failure>(&converted)) return *f;
    std::vector<int32_t> samples = onFullScale(std::get<std::vector<float>>(converted));
    if (std::all_of(samples.begin(), samples.end(), [](int32_t v) { return v == 0; })) {
        return name.refused("is silent");
    }
    return samples;
}

std::variant<BackingTrack, Failure> readBacking(const std::string& path, uint32_t rate,
                                                int32_t listed) {
    const Named name{"backing", path};
    SoundFile file;
    auto opened = openSound(path, rate, file, name);
    if (Failure* f = std::get_if<Failure>(&opened)) return *f;
    const SF_INFO info = std::get<SF_INFO>(opened);
    const auto from = static_cast<uint32_t>(info.samplerate);
    const size_t keep = info.channels == listed ? static_cast<size_t>(listed) : 1;
    // The most frames held at the track's rate, and as many seconds of the
    // file at its own (never more samples there either).
    const size_t mostFrames = kBackingSamplesLimit / keep;
    const double seconds = static_cast<double>(mostFrames) / rate;
    const size_t mostRead = std::min(mostFrames, static_cast<size_t>(seconds * from));
    char limit[160];
    std::snprintf(limit, sizeof limit,
                  "lasts longer than the %.0f s a backing of %zu channel%s may last at %u Hz "
                  "(%zu MiB in memory)",
                  std::floor(seconds), keep, keep == 1 ? "" : "s", rate,
                  kBackingSamplesLimit * sizeof(int32_t) >> 20);
    const Failure tooLong = name.refused(limit);
    if (info.frames > 0 && info.frames != SF_COUNT_MAX && static_cast<uint64_t>(info.frames) > mostRead) {
        return tooLong;
    }
    auto read = readFrames(file.get(), info, keep, mostRead, tooLong, name);
    if (Failure* f = std::get_if<Failure>(&read)) return *f;
    std::vector<float>& sound = std::get<std::vector<float>>(read);
    if (sound.empty()) return name.refused("holds no sound");
    const size_t frames = framesAt(sound.size() / keep, from, rate);
    if (frames == 0) return name.refused("is too short to last one frame at " + std::to_string(rate) + " Hz");
    if (frames > mostFrames) return tooLong;
    auto converted = convertRate(std::move(sound), keep, from, rate, frames, name);
    if (Failure* f = std::get_if<Failure>(&converted)) return *f;
    BackingTrack backing;
    backing.samples = onFullScale(std::get<std::vector<float>>(converted));
    backing.channels = static_cast<int32_t>(keep);
    return backing;
}
