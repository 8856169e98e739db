// Keys while `clicktrack play` plays: the terminal read key by key, the keys
// told apart, tap tempo, and the side of the play that turns each key into a
// new plan for the player (see playback/live_link.hpp).
#pragma once

#include <termios.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/outcome.hpp"
#include "playback/live_link.hpp"
#include "playback/player.hpp"
#include "track/planner.hpp"

enum class Key {
    Space,       // pause, resume
    Enter,
    Faster,      // + or up: 1 bpm
    Slower,      // - or down
    MuchFaster,  // PgUp: 5 bpm
    MuchSlower,  // PgDn
    Tap,         // t
    Next,        // n or right: next section
    Previous,    // p or left
    Mute,        // m
    Restart,     // r
    Quit,        // q or Esc
    Help,        // ?
    Other
};

// Takes the keys that `pending` holds whole off its front. An escape
// sequence cut short waits for its end; a lone Esc is a key only when
// `idle` (nothing came after it for a while).
std::vector<Key> takeKeys(std::string& pending, bool idle);

// The key lines of --help and of the ? overlay, without the last line break.
const char* keyHelp();

// Whether keys can be read: standard input is a terminal and the program
// runs in its foreground.
bool keysAvailable();

// While it lives, the terminal on standard input gives each key as it is
// pressed, unechoed; Ctrl-C still stops the play. Its settings come back
// however the play ends: the end, q, a signal, a failure of the device.
class RawTerminal {
public:
    RawTerminal();
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

// Tap tempo: the mean beat of the last taps, 3 at least and 8 at most, a
// tap more than 2 s after the one before starting afresh.
class TapTempo {
public:
    // The tempo the taps so far give, in beats a minute, when there are enough.
    std::optional<double> tap(double seconds);
    bool forgotten(double seconds) const { return taps_.empty() || seconds - taps_.back() > 2.0; }

private:
    std::deque<double> taps_;
};

// What the display shows of the keys' doing, written by the key side.
struct LiveStatus {
    std::atomic<double> factor{1.0};    // the tempos multiplied by it
    std::atomic<double> tapped{0.0};    // a tapped tempo waiting for the next bar, or 0
    std::atomic<bool> paused{false};
    std::atomic<bool> muted{false};
    std::atomic<bool> help{false};      // the list of keys is shown
    std::atomic<bool> moved{false};     // the tempo or the place changed: the time left is unknown
    std::atomic<unsigned> changes{0};   // counts every change, for the display to redraw
};

// The key side of a play: reads keys on a thread of its own and posts the
// plans they make; the player plays them on the calling thread.
class LiveKeys {
public:
    // `again`: the song played round after round when it ends (--loop);
    // `silentVoice`: the voice of the clicks that sounds nothing, for mute.
    LiveKeys(const Song& song, std::optional<Song> again, uint32_t rate, size_t silentVoice);
    ~LiveKeys();
    LiveKeys(const LiveKeys&) = delete;
    LiveKeys& operator=(const LiveKeys&) = delete;

    const LiveStatus& status() const { return status_; }
    // Plays until the song ends, q is pressed, a signal comes or the device fails.
    Outcome play(const PlaybackTarget& target, const PlayClicks& clicks,
                 std::optional<int64_t> frames, const EventListener& onEvent, PlayTally* tally);

private:
    // Where a change lands: the next beat not laid, or the next bar's first.
    enum class Landing { NextBeat, NextBar };
    struct Request {
        Landing landing = Landing::NextBeat;
        std::optional<SongPlace> to;  // a jump; none: on from where it lands
        bool pause = false;
    };

    void run();
    void press(Key key, double now);
    void request(const Request& r);
    std::unique_ptr<LivePlan> plan(const Song& song, SongPlace place) const;
    void postRound();
    SongPlace placeOf(const HeldBeat& held) const;
    double baseTempo(SongPlace place) const;  // quarter notes a minute before any change
    void changeTempo(double tempo, SongPlace at);
    void changed();

    Song song_;
    std::optional<Song> again_;
    uint32_t rate_;
    size_t silentVoice_;
    std::vector<ScheduledSection> plain_;  // the song as planned, for its tempos
    std::vector<std::string> markers_;
    LiveLink link_;
    LiveStatus status_;
    TapTempo taps_;
    Request last_;
    double factor_ = 1.0;
    bool muted_ = false;
    bool paused_ = false;
    SongPlace resumeAt_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};
