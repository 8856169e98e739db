// The ALSA side of playback. Nothing else in the program sees an ALSA type.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "playback/pcm_device.hpp"

namespace {

constexpr snd_pcm_uframes_t kWantedPeriod = 1024;
constexpr snd_pcm_uframes_t kWantedBuffer = 2048;
// Writes in a row that make no progress before playback gives up.
constexpr int kMaxStalls = 8;
// A suspended device that is still waking up is asked again every 10 ms,
// for up to 10 s.
constexpr std::chrono::milliseconds kResumeWait{10};
constexpr int kResumeTries = 1000;

Failure alsaError(const char* what, int code) {
    return deviceFailure(std::string(what) + snd_strerror(code), code);
}

class AlsaPcm : public PcmDevice {
public:
    AlsaPcm(snd_pcm_t* handle, int64_t period, size_t frameBytes)
        : handle_(handle), period_(period), frameBytes_(frameBytes) {}
    ~AlsaPcm() override {
        if (handle_) snd_pcm_close(handle_);
    }

    int64_t periodFrames() const override { return period_; }

    Outcome writePeriod(const uint8_t* frames, int64_t count) override {
        int64_t done = 0;
        int stalls = 0;
        while (done < count) {
            const snd_pcm_sframes_t r = snd_pcm_writei(
                handle_, frames + done * frameBytes_, static_cast<snd_pcm_uframes_t>(count - done));
            if (r == -EPIPE) {
                // Underrun: start again from here; the rest of this period is lost.
                snd_pcm_prepare(handle_);
                return std::nullopt;
            }
            if (r > 0) {
                done += r;
                stalls = 0;
                continue;
            }
            // Suspended: the rest of the period follows once the device runs
            // again. Other errors are recovered where ALSA knows how.
            const int code = static_cast<int>(r);
            const int rc = r == -ESTRPIPE ? resumeOrPrepare()
                                          : r < 0 ? snd_pcm_recover(handle_, code, 1) : 0;
            if (rc < 0) return alsaError("unable to write to pcm device: ", rc);
            if (++stalls > kMaxStalls) {
                return alsaError("unable to write to pcm device: ", r < 0 ? code : -EIO);
            }
        }
        return std::nullopt;
    }

    void drainAndClose() override {
        snd_pcm_drain(handle_);
        snd_pcm_close(handle_);
        handle_ = nullptr;
    }

    void dropAndClose() override {
        snd_pcm_drop(handle_);
        snd_pcm_close(handle_);
        handle_ = nullptr;
    }

private:
    // Waits while the device is still waking up (for a while, not for ever),
    // then starts it afresh if it cannot carry on where it stopped.
    int resumeOrPrepare() {
        int rc = snd_pcm_resume(handle_);
        for (int tries = 0; rc == -EAGAIN && tries < kResumeTries; ++tries) {
            std::this_thread::sleep_for(kResumeWait);
            rc = snd_pcm_resume(handle_);
        }
        return rc < 0 ? snd_pcm_prepare(handle_) : rc;
    }

    snd_pcm_t* handle_;
    int64_t period_;
    size_t frameBytes_;
};

struct PcmClose {
    void operator()(snd_pcm_t* p) const { snd_pcm_close(p); }
};

struct HwParamsFree {
    void operator()(snd_pcm_hw_params_t* p) const { snd_pcm_hw_params_free(p); }
};

}  // namespace

Outcome openAlsaPcm(const std::string& name, uint32_t rate, int32_t bits,
                    std::unique_ptr<PcmDevice>& device, int32_t channels, bool shortBuffer) {
    snd_pcm_t* handle = nullptr;
    int rc = snd_pcm_open(&handle, name.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (rc < 0) return alsaError("unable to open pcm device: ", rc);
    // Until it is handed over, the device closes with `guard`, whatever happens.
    std::unique_ptr<snd_pcm_t, PcmClose> guard(handle);

    snd_pcm_hw_params_t* raw = nullptr;
    if (snd_pcm_hw_params_malloc(&raw) < 0) return deviceFailure("unable to allocate hw parameters");
    std::unique_ptr<snd_pcm_hw_params_t, HwParamsFree> params(raw);
    snd_pcm_hw_params_any(handle, raw);
    snd_pcm_hw_params_set_access(handle, raw, SND_PCM_ACCESS_RW_INTERLEAVED);
    const snd_pcm_format_t format = bits == 16 ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_S24_3LE;
    const size_t frameBytes = (bits == 16 ? 2u : 3u) * static_cast<size_t>(channels);
    rc = snd_pcm_hw_params_set_format(handle, raw, format);
    if (rc < 0) return alsaError("unable to set playback format: ", rc);
    rc = snd_pcm_hw_params_set_channels(handle, raw, static_cast<unsigned int>(channels));
    if (rc < 0) {
        return alsaError(("unable to play " + std::to_string(channels) + " channels: ").c_str(), rc);
    }
    unsigned int wantedRate = rate;
    int dir = 0;
    snd_pcm_hw_params_set_rate_near(handle, raw, &wantedRate, &dir);
    // The rate request hands back which side of the granted rate the exact
    // one lies; the period request must aim at 1024 itself, not beside it.
    dir = 0;
    snd_pcm_uframes_t period = shortBuffer ? std::max<snd_pcm_uframes_t>(rate / 100, 16) : kWantedPeriod;
    snd_pcm_hw_params_set_period_size_near(handle, raw, &period, &dir);
    snd_pcm_uframes_t buffer = shortBuffer ? period * 4 : kWantedBuffer;
    snd_pcm_hw_params_set_buffer_size_near(handle, raw, &buffer);
    rc = snd_pcm_hw_params(handle, raw);
    if (rc < 0) return alsaError("unable to set hw parameters: ", rc);
    // The beat is counted in samples at the rate asked for: at any other rate
    // it would play at the wrong speed.
    unsigned int granted = 0;
    if (snd_pcm_hw_params_get_rate(raw, &granted, &dir) < 0 || granted != rate) {
        return deviceFailure("unable to play at " + std::to_string(rate) +
                           " samples per second: the device offers " + std::to_string(granted) +
                           "; choose a resampling device such as 'default' or 'plughw:0,0'.");
    }
    snd_pcm_hw_params_get_buffer_size(raw, &buffer);
    unsigned int periodTime = 0;
    snd_pcm_hw_params_get_period_time(raw, &periodTime, &dir);
    snd_pcm_hw_params_get_period_size(raw, &period, &dir);
    snd_pcm_prepare(handle);

    device = std::make_unique<AlsaPcm>(guard.release(), static_cast<int64_t>(period), frameBytes);
    return std::nullopt;
}
