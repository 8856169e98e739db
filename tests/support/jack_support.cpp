#include "support/jack_support.hpp"

#include <fcntl.h>
#include <jack/transport.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <cstdlib>
#include <thread>

#include "support/audio_support.hpp"
#include "support/background_run.hpp"

namespace {

void quiet(const char*) {}

// Waits up to `seconds` for the child to end; true when it did.
bool reaped(pid_t pid, double seconds) {
    return waitFor([pid] { return ::waitpid(pid, nullptr, WNOHANG) == pid; }, seconds);
}

}  // namespace

namespace {

// Whether a JACK server of anyone's runs on this machine.
bool anyJackServer() {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (comm >> name && (name == "jackd" || name == "jackdbus")) return true;
    }
    return false;
}

// A server that ended without a word (killed, or crashed) keeps its place
// in JACK's registry in /dev/shm until one of its name starts again, and
// the registry has room for 8. With no server running, none of what JACK
// keeps there is in use: it goes, as JACK's own clean-up after a crash does.
void clearStaleRegistry() {
    if (anyJackServer()) return;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        if (entry.path().filename().string().rfind("jack", 0) == 0) std::filesystem::remove(entry.path(), error);
    }
}

}  // namespace

JackServer::JackServer() {
    if (CLICKTRACK_EMULATED) {
        // The emulated program and the host's jackd would not share one
        // protocol across two architectures.
        whyNot_ = "under emulation the host's JACK server cannot serve the target's clients";
        return;
    }
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    clearStaleRegistry();
    // A few names, used again and again, so that a server that ended
    // without a word leaves no lasting entry; the next is for a suite that
    // runs beside this one.
    for (int n = 0; n < 4 && (n == 0 || !whyNot_.empty()); ++n) start("clicktrack-test-" + std::to_string(n));
}

void JackServer::start(const std::string& name) {
    whyNot_.clear();
    const std::string log = dir_.file("jackd.log");
    pid_ = ::fork();
    if (pid_ == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        ::execlp("jackd", "jackd", "-n", name.c_str(), "--no-realtime", "--sync", "-d", "dummy", "-r", "48000",
                 "-p", "64", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid_ < 0) {
        whyNot_ = "fork failed";
        return;
    }
    ::setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    bool up = false;
    bool ended = false;
    waitFor(
        [&] {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return ended = true;
            jack_client_t* probe = jack_client_open("probe", JackNoStartServer, nullptr);
            if (probe) jack_client_close(probe);
            return up = probe != nullptr;
        },
        20.0);
    if (ended) pid_ = -1;
    if (!up) {
        whyNot_ = "jackd -d dummy did not start: " + readFile(log);
        stop();
    }
}

JackServer::~JackServer() {
    stop();
    ::unsetenv("JACK_DEFAULT_SERVER");
}

void JackServer::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!reaped(pid_, 10.0)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

JackCapture::JackCapture(size_t frames) : samples_(frames), cycles_(frames / 16 + 16) {
    if (frames == 0) return;
    // A server that has just taken its first client may refuse the next
    // for a moment while it is busy: try again for a while.
    waitFor([this] { return (client_ = jack_client_open("capture", JackNoStartServer, nullptr)); },
            10.0);
    if (!client_) return;
    in_ = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &JackCapture::process, this);
    if (!in_ || jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

JackCapture::~JackCapture() {
    if (!client_) return;
    jack_deactivate(client_);
    jack_client_close(client_);
}

void JackCapture::leadWithChangingTempo() {
    jack_set_timebase_callback(client_, 0, &JackCapture::timebase, this);
}

int JackCapture::process(jack_nframes_t frames, void* arg) {
    JackCapture& c = *static_cast<JackCapture*>(arg);
    if (!c.recording_.load()) return 0;
    const size_t used = c.used_.load();
    const size_t cycle = c.cycleCount_.load();
    if (used + frames > c.samples_.size() || cycle >= c.cycles_.size()) return 0;
    const float* in = static_cast<const float*>(jack_port_get_buffer(c.in_, frames));
    std::copy(in, in + frames, c.samples_.begin() + static_cast<long>(used));
    jack_position_t pos;
    const bool rolling = jack_transport_query(c.client_, &pos) == JackTransportRolling;
    c.cycles_[cycle] = CaptureCycle{used, frames, rolling, pos.frame, jack_port_connected(c.in_) > 0};
    c.used_.store(used + frames);
    c.cycleCount_.store(cycle + 1);
    return 0;
}

void JackCapture::timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int,
                           void* arg) {
    JackCapture& c = *static_cast<JackCapture*>(arg);
    ++c.changes_;
    pos->valid = JackPositionBBT;
    pos->bar = 1 + static_cast<int32_t>(c.changes_ % 7);
    pos->beat = 1;
    pos->tick = 0;
    pos->bar_start_tick = 0;
    pos->beats_per_bar = static_cast<float>(2 + c.changes_ % 5);
    pos->beat_type = 8;
    pos->ticks_per_beat = 1920;
    pos->beats_per_minute = 60.0 + c.changes_ % 120;
}

std::vector<float> JackCapture::samples() const {
    return {samples_.begin(), samples_.begin() + static_cast<long>(used_.load())};
}

std::vector<CaptureCycle> JackCapture::cycles() const {
    return {cycles_.begin(), cycles_.begin() + static_cast<long>(cycleCount_.load())};
}

std::vector<float> waveSamples(const std::string& path) {
    const Bytes b = readBytes(path);
    std::vector<float> samples;
    // The chunks after "RIFF" size "WAVE": the samples are in "data".
    for (size_t at = 12; at + 8 <= b.size();) {
        const size_t size = u32At(b, at + 4);
        if (textAt(b, at) == "data") {
            const size_t count = std::min(size, b.size() - at - 8) / 3;
            for (size_t i = 0; i < count; ++i) {
                samples.push_back(static_cast<float>(sampleAt(b, at + 8, i, 3)) / 8388608.0f);
            }
            break;
        }
        at += 8 + size + (size & 1);
    }
    return samples;
}

bool waitForConnection(jack_client_t* client, const std::string& from, const std::string& to,
                       double seconds) {
    return waitFor(
        [&] {
            jack_port_t* port = jack_port_by_name(client, from.c_str());
            return port && jack_port_connected_to(port, to.c_str());
        },
        seconds);
}

bool locateAndWait(jack_client_t* client, uint32_t frame) {
    jack_transport_locate(client, frame);
    return waitFor([&] {
        jack_position_t pos;
        jack_transport_query(client, &pos);
        return pos.frame == frame;
    });
}
