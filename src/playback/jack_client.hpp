// Playing a planned track as a JACK client: one output port, connected
// where the caller says, the clicks rendered in the process callback from
// the plan made ahead (see click_plan.hpp). Free, or following the JACK
// transport, or leading it as its timebase master. The rest of the program
// never includes JACK's headers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/click_laying.hpp"
#include "core/outcome.hpp"
#include "playback/click_plan.hpp"

enum class TransportMode {
    Free,    // plays from the start as soon as it is connected, as ALSA playback does
    Follow,  // plays while the JACK transport rolls, at its frame
    Lead,    // follows, and publishes bar, beat and tempo as the timebase master
};

struct JackPlay {
    TransportMode mode = TransportMode::Free;
    // The ports to connect the output to; none given: the first two
    // physical playback ports. `unconnected`: none at all.
    std::vector<std::string> connect;
    bool unconnected = false;
    // Following: stop after this many frames of the server's time, rolling
    // or not (none: until stopped).
    std::optional<int64_t> frames;
    bool timed = false;  // measure the callback's time each period
    // A port for each channel (out_1, out_2 ...), the click on those the
    // layout names, the backing from its start frame of the track (and from
    // the start of each round played again).
    FrameLayout layout;
};

// What a run of the client saw, for the front end to tell.
struct JackReport {
    int64_t xruns = 0;
    int64_t periods = 0;        // callbacks timed (only when timed)
    double medianMicros = 0;
    double worstMicros = 0;
};

class JackClient {
public:
    virtual ~JackClient() = default;
    // The server's rate: the clicks must be made at it.
    virtual uint32_t rate() const = 0;
    // The client's name as the server gave it.
    virtual std::string name() const = 0;
    // Plays the plan until it ends (free play), the run's frames are done,
    // a stop signal comes (inside an InterruptGuard: an interruption), or
    // the server goes away (a device failure saying why). Closes the client.
    virtual Outcome play(const ClickPlan& clicks, const BeatPlan& beats, const JackPlay& how,
                         JackReport& report) = 0;
};

// Opens a client named `name` on the default server (JACK_DEFAULT_SERVER
// names another), never starting a server itself.
Outcome openJackClient(const std::string& name, std::unique_ptr<JackClient>& client);
