#include "playback/jack_client.hpp"

#include <jack/jack.h>
#include <jack/transport.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/interrupt.hpp"

namespace {

// The callback's time is kept in bins of 50 ns up to 10 ms, the last bin
// holding whatever took longer.
constexpr int64_t kBinNanos = 50;
constexpr size_t kBins = 200000;

// How often the waiting thread looks at the client's state.
constexpr long kPollNanos = 5000000;

int64_t nanosNow() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

class Client : public JackClient {
public:
    explicit Client(jack_client_t* client) : client_(client) {}
    ~Client() override { close(); }

    uint32_t rate() const override { return jack_get_sample_rate(client_); }
    std::string name() const override { return jack_get_client_name(client_); }

    Outcome play(const ClickPlan& clicks, const BeatPlan& beats, const JackPlay& how,
                 JackReport& report) override {
        clicks_ = &clicks;
        beats_ = &beats;
        mode_ = how.mode;
        if (how.timed) bins_.assign(kBins, 0);
        timed_ = how.timed;
        Outcome result = run(how);
        report.xruns = xruns_.load();
        if (timed_) tellTimes(report);
        close();
        return result;
    }

private:
    Outcome run(const JackPlay& how) {
        layout_ = how.layout;
        const int32_t channels = std::max(layout_.channels, 1);
        for (int32_t c = 0; c < channels; ++c) {
            const std::string name = "out_" + std::to_string(c + 1);
            ports_.push_back(jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                                JackPortIsOutput, 0));
            if (ports_.back() == nullptr) return deviceFailure("JACK refused the output port " + name + ".");
            if (firstClick_ < 0 && (layout_.clickChannels >> c & 1u)) firstClick_ = c;
        }
        buffers_.assign(ports_.size(), nullptr);
        jack_set_process_callback(client_, &Client::process, this);
        jack_set_xrun_callback(client_, &Client::xrun, this);
        jack_on_info_shutdown(client_, &Client::shutdown, this);
        if (mode_ == TransportMode::Lead &&
            jack_set_timebase_callback(client_, 0, &Client::timebase, this) != 0) {
            return deviceFailure("JACK did not make clicktrack the timebase master.");
        }
        if (jack_activate(client_) != 0) return deviceFailure("JACK did not activate the client.");
        active_ = true;
        if (Outcome r = connect(how)) return r;
        // The graph takes new connections at a cycle's start: the track
        // starts once they are made, so that its first frames are heard.
        const int64_t connected = cycles_.load(std::memory_order_relaxed);
        for (int waits = 0; cycles_.load(std::memory_order_relaxed) < connected + 2 && waits < 200;
             ++waits) {
            if (gone_.load(std::memory_order_acquire)) break;
            const timespec pause{0, kPollNanos / 5};
            nanosleep(&pause, nullptr);
        }
        go_.store(true, std::memory_order_release);
        for (;;) {
            if (gone_.load(std::memory_order_acquire)) {
                active_ = false;
                return deviceFailure(std::string("the JACK server went away") +
                                     (reason_[0] ? std::string(": ") + reason_ : "") + ".");
            }
            if (const int signal = interruptSignal()) return interruption(signal);
            if (done_.load(std::memory_order_acquire)) return std::nullopt;
            if (how.frames && processed_.load(std::memory_order_relaxed) >= *how.frames) {
                return std::nullopt;
            }
            const timespec pause{0, kPollNanos};
            nanosleep(&pause, nullptr);
        }
    }

    Outcome connect(const JackPlay& how) {
        if (how.unconnected) return std::nullopt;
        std::vector<std::string> targets = how.connect;
        if (targets.empty()) {
            // A mono click in both ears; channels each to a playback port of its own.
            const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                                JackPortIsPhysical | JackPortIsInput);
            const size_t wanted = ports_.size() == 1 ? 2 : ports_.size();
            for (size_t i = 0; ports && ports[i] && i < wanted; ++i) targets.emplace_back(ports[i]);
            jack_free(ports);
        }
        for (size_t i = 0; i < targets.size(); ++i) {
            // One port feeds every target; several feed one each, in order.
            if (ports_.size() > 1 && i >= ports_.size()) break;
            const char* ours = jack_port_name(ports_[ports_.size() == 1 ? 0 : i]);
            const std::string& target = targets[i];
            const int r = jack_connect(client_, ours, target.c_str());
            if (r != 0 && r != EEXIST) {
                return deviceFailure(std::string("cannot connect ") + ours + " to '" + target +
                                     "': " + (jack_port_by_name(client_, target.c_str())
                                                  ? "JACK refused it."
                                                  : "there is no such port."));
            }
        }
        return std::nullopt;
    }

    void close() {
        if (client_ == nullptr) return;
        if (active_) {
            if (mode_ == TransportMode::Lead) jack_release_timebase(client_);
            jack_deactivate(client_);
        }
        jack_client_close(client_);
        client_ = nullptr;
        active_ = false;
    }

    void tellTimes(JackReport& report) const {
        int64_t total = 0;
        for (uint32_t n : bins_) total += n;
        report.periods = total;
        report.worstMicros = static_cast<double>(worstNanos_) / 1000.0;
        int64_t seen = 0;
        for (size_t i = 0; i < bins_.size() && total > 0; ++i) {
            seen += bins_[i];
            if (seen * 2 >= total) {
                report.medianMicros = (static_cast<double>(i) + 0.5) * kBinNanos / 1000.0;
                break;
            }
        }
    }

    // The real-time part: arithmetic on what was planned, reads of atomics
    // and JACK's own real-time-safe calls, nothing else.
    static int process(jack_nframes_t frames, void* arg) {
        Client& c = *static_cast<Client*>(arg);
        const int64_t started = c.timed_ ? nanosNow() : 0;
        c.fill(frames);
        if (c.timed_) {
            const int64_t took = nanosNow() - started;
            c.worstNanos_ = std::max(c.worstNanos_, took);
            ++c.bins_[std::min(static_cast<size_t>(std::max<int64_t>(took, 0) / kBinNanos), kBins - 1)];
        }
        return 0;
    }

    void fill(jack_nframes_t frames) {
        for (size_t p = 0; p < ports_.size(); ++p) {
            buffers_[p] = static_cast<float*>(jack_port_get_buffer(ports_[p], frames));
            std::fill(buffers_[p], buffers_[p] + frames, 0.0f);
        }
        cycles_.store(cycles_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        if (!go_.load(std::memory_order_acquire)) return;
        const int64_t count = frames;
        if (mode_ == TransportMode::Free) {
            if (position_ >= clicks_->end && !clicks_->endless) {
                // Everything was handed over in the cycles before.
                done_.store(true, std::memory_order_release);
                return;
            }
            lay(position_, count);
            position_ += count;
        } else {
            jack_position_t pos;
            if (jack_transport_query(client_, &pos) == JackTransportRolling) {
                lay(beats_->origin + int64_t{pos.frame}, count);
            }
        }
        processed_.store(processed_.load(std::memory_order_relaxed) + count,
                         std::memory_order_relaxed);
    }

    // The track's frames [from, from + count) on every port: the click on
    // those that carry it, the backing added where it sounds, held at full
    // scale as the files hold them.
    void lay(int64_t from, int64_t count) {
        float* click = firstClick_ >= 0 ? buffers_[static_cast<size_t>(firstClick_)] : nullptr;
        if (click) renderClicks(*clicks_, from, count, click, cursor_);
        for (size_t p = 0; p < ports_.size(); ++p) {
            if (click && buffers_[p] != click && (layout_.clickChannels >> p & 1u)) {
                std::copy(click, click + count, buffers_[p]);
            }
        }
        const BackingTrack* backing = layout_.backing;
        if (!backing) return;
        // On the click's scale: 16-bit tracks take the backing as their encoder does.
        const bool sixteen = clicks_->top < 1.0f - 1.0f / 65536.0f;
        const float scale = sixteen ? 1.0f / 32768.0f : 1.0f / 8388608.0f;
        const int64_t frames = backing->frames();
        for (size_t p = 0; p < ports_.size() && p < backing->source.size(); ++p) {
            const int32_t source = backing->source[p];
            if (source < 0 || source >= backing->channels) continue;
            float* out = buffers_[p];
            for (int64_t i = 0; i < count; ++i) {
                const int64_t b = backingFrame(from + i);
                if (b < 0 || b >= frames) continue;
                const int32_t s = backing->samples[static_cast<size_t>(b * backing->channels + source)];
                out[i] = std::clamp(out[i] + static_cast<float>(sixteen ? s >> 8 : s) * scale, -1.0f,
                                    clicks_->top);
            }
        }
    }

    // The frame of the backing at frame `t` of the stream: from its start in
    // the track, and from the start of each round after it; none past the end.
    int64_t backingFrame(int64_t t) const {
        if (t < 0 || (!clicks_->endless && t >= clicks_->end)) return -1;
        const int64_t first = clicks_->track.length;
        if (t < first || clicks_->again.length <= 0) return t - layout_.backingStart;
        return (t - first) % clicks_->again.length;
    }

    static void timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int,
                         void* arg) {
        const Client& c = *static_cast<Client*>(arg);
        const BarBeat at = barBeatAt(*c.beats_, int64_t{pos->frame});
        pos->valid = JackPositionBBT;
        pos->bar = at.bar;
        pos->beat = at.beat;
        pos->tick = at.tick;
        pos->bar_start_tick = at.barStartTick;
        pos->beats_per_bar = at.beatsPerBar;
        pos->beat_type = at.beatType;
        pos->ticks_per_beat = kTicksPerBeat;
        pos->beats_per_minute = at.beatsPerMinute;
    }

    static int xrun(void* arg) {
        static_cast<Client*>(arg)->xruns_.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }

    // Called on a thread of JACK's own, never the process thread.
    static void shutdown(jack_status_t, const char* reason, void* arg) {
        Client& c = *static_cast<Client*>(arg);
        size_t i = 0;
        for (; reason && reason[i] && i + 1 < sizeof c.reason_; ++i) c.reason_[i] = reason[i];
        c.reason_[i] = '\0';
        c.gone_.store(true, std::memory_order_release);
    }

    jack_client_t* client_;
    std::vector<jack_port_t*> ports_;
    std::vector<float*> buffers_;  // the ports' buffers this cycle, room made before activation
    FrameLayout layout_;
    int32_t firstClick_ = -1;      // the first port that carries the click
    bool active_ = false;
    const ClickPlan* clicks_ = nullptr;
    const BeatPlan* beats_ = nullptr;
    TransportMode mode_ = TransportMode::Free;
    // The process thread's own.
    RenderCursor cursor_;
    int64_t position_ = 0;
    bool timed_ = false;
    std::vector<uint32_t> bins_;
    int64_t worstNanos_ = 0;
    // Shared with the waiting thread.
    std::atomic<bool> go_{false};
    std::atomic<bool> done_{false};
    std::atomic<bool> gone_{false};
    std::atomic<int64_t> processed_{0};
    std::atomic<int64_t> cycles_{0};
    std::atomic<int64_t> xruns_{0};
    char reason_[256] = {};
};

// JACK prints its own complaints (a server it cannot reach, say) on
// standard error; the program says what failed in its own words instead.
void quiet(const char*) {}

}  // namespace

Outcome openJackClient(const std::string& name, std::unique_ptr<JackClient>& client) {
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    jack_client_t* c = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (c == nullptr) {
        const char* server = std::getenv("JACK_DEFAULT_SERVER");
        const std::string which = server && *server ? std::string("'") + server + "'" : "default";
        if (status & JackServerFailed) {
            return deviceFailure("cannot reach the JACK server (" + which +
                                 "): is jackd, or PipeWire with pipewire-jack, running?");
        }
        return deviceFailure("the JACK server (" + which + ") refused the client '" + name + "'.");
    }
    client = std::make_unique<Client>(c);
    return std::nullopt;
}
