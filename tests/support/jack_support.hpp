// A JACK server of the tests' own and a small client that records what
// reaches its input port, cycle by cycle, with the transport's state.
#pragma once

#include <jack/jack.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.hpp"

// `jackd -d dummy -r 48000 -p 64`, no hardware and no real-time priority,
// under a name of its own that JACK_DEFAULT_SERVER hands to every client
// started while it lives (the program under test included). Stopped, and
// the variable put back, when it goes.
class JackServer {
public:
    JackServer();
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // Empty when it runs and takes clients; otherwise why not.
    const std::string& whyNot() const { return whyNot_; }
    // Ends the server at once, as a crash or a killed server would.
    void stop();

    static constexpr uint32_t kRate = 48000;

private:
    // Starts jackd under `name`; whyNot_ says why it did not.
    void start(const std::string& name);

    TempDir dir_;
    pid_t pid_ = -1;
    std::string whyNot_;
};

// One process cycle as the recorder saw it.
struct CaptureCycle {
    size_t at = 0;               // its first frame's index in the samples
    uint32_t frames = 0;
    bool rolling = false;        // the transport rolled in it
    uint32_t transportFrame = 0;
    bool connected = false;      // something fed the input port
};

// A client "capture" with one input port, in_1, recording up to `frames`
// into memory laid out beforehand while recording is on (none: no client). Its process callback can also act
// as the timebase master of a recorder whose tempo changes every cycle.
class JackCapture {
public:
    explicit JackCapture(size_t frames);
    ~JackCapture();
    JackCapture(const JackCapture&) = delete;
    JackCapture& operator=(const JackCapture&) = delete;

    bool ok() const { return client_ != nullptr; }
    jack_client_t* client() const { return client_; }
    void record(bool on) { recording_.store(on); }
    // Forgets what was recorded; only while recording is off.
    void clear() {
        used_.store(0);
        cycleCount_.store(0);
    }
    // Publishes a tempo and meter that change every cycle, as a recorder
    // whose map the program must not follow.
    void leadWithChangingTempo();

    // What was recorded; read once recording is off.
    std::vector<float> samples() const;
    std::vector<CaptureCycle> cycles() const;

private:
    static int process(jack_nframes_t frames, void* arg);
    static void timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int, void* arg);

    jack_client_t* client_ = nullptr;
    jack_port_t* in_ = nullptr;
    std::vector<float> samples_;
    std::vector<CaptureCycle> cycles_;
    std::atomic<bool> recording_{false};
    std::atomic<size_t> used_{0};
    std::atomic<size_t> cycleCount_{0};
    uint32_t changes_ = 0;
};

// The samples of a 24-bit one-channel wave file, each s x 2^-23.
std::vector<float> waveSamples(const std::string& path);

// Waits until `from` feeds `to`; false after `seconds`.
bool waitForConnection(jack_client_t* client, const std::string& from, const std::string& to,
                       double seconds = 30.0);

// Locates the transport and waits until the server is there.
bool locateAndWait(jack_client_t* client, uint32_t frame);
