// The link between a player that plays on while keys change what it plays,
// and the side that reads the keys and plans.
//
// The control side plans a whole new schedule ahead (a LivePlan: the beats
// from a given beat on, their frames counted from it) and posts it. The
// player, between the events it lays, looks at the posted plan without
// waiting: at the beat the plan names, still unlaid, it stops the walk of
// the old schedule and walks the new one from that beat's frame. The player
// allocates, frees, locks and waits on nothing here: the plans it is done
// with go back through a ring made in advance, and the control side frees
// them.
#pragma once

#include <atomic>
#include <cstdint>
#include <array>
#include <memory>
#include <vector>

#include "core/beat_schedule.hpp"

struct LivePlan {
    explicit LivePlan(std::vector<ScheduledSection> sections) : schedule(std::move(sections)) {}

    BeatSchedule schedule;
    // The beat it takes over at, by the player's count of beats laid (see
    // LiveLink::held); with `atOnce`, at the next beat whatever its count.
    uint64_t from = 0;
    bool atOnce = false;
    // Silence, its beats told to no one: a pause.
    bool paused = false;
    uint64_t generation = 0;  // set by LiveLink::post, from 1
};

// A beat the player lays: its count since the play began, and its place.
struct HeldBeat {
    uint64_t count = 0;
    size_t section = 0;
    int64_t measure = 1;
    int64_t beat = 1;
    bool valid = false;  // a beat was laid since the last plan took over
};

class LiveLink {
public:
    LiveLink();
    ~LiveLink();
    LiveLink(const LiveLink&) = delete;
    LiveLink& operator=(const LiveLink&) = delete;

    // Control side.

    // Hands over `plan`: the first plan posted is where the play starts; a
    // later one replaces any posted before it that the player has not taken.
    void post(std::unique_ptr<LivePlan> plan);
    // The plan played when the one in play ends (the song again), in place
    // of one posted before that the player has not taken.
    void postRound(std::unique_ptr<LivePlan> plan);
    bool roundWanted() const { return round_.load(std::memory_order_acquire) == nullptr; }
    // The last beat the player laid, or began to lay.
    HeldBeat held() const;
    // The generation of a plan the player found it had passed the beat of,
    // or 0; read once.
    uint64_t takeMissed() { return missed_.exchange(0, std::memory_order_acq_rel); }
    // Ends the play before the next period.
    void quit() { quit_.store(true, std::memory_order_release); }
    // Frees the plans the player is done with.
    void collect();
    // The plan last posted: its generation.
    uint64_t posted() const { return generations_; }

    // Player side.

    // The plan posted first, taken.
    LivePlan* start();
    // Told of each beat before its click is laid, while nothing of it is:
    // true stops the walk there, a new plan to take over from its frame.
    bool stopBefore(const BeatEvent& beat);
    // After stopBefore said true: the plan and the frame it starts at.
    LivePlan* switched() const { return active_; }
    int64_t switchFrame() const { return switchFrame_; }
    // The next round, taken; none when it is not ready.
    LivePlan* nextRound();
    bool quitting() const { return quit_.load(std::memory_order_acquire); }
    bool paused() const { return active_ && active_->paused; }

private:
    void publish(uint64_t count, const BeatEvent& beat, bool valid);
    void retire(LivePlan* plan);

    std::atomic<LivePlan*> slot_{nullptr};
    std::atomic<LivePlan*> round_{nullptr};
    std::atomic<uint64_t> missed_{0};
    std::atomic<bool> quit_{false};
    // Plans the player is done with: it writes at the head, the control side
    // reads at the tail every few milliseconds. Were it ever full, a plan
    // would be left unfreed rather than freed where the sound is made.
    std::array<LivePlan*, 128> retired_{};
    std::atomic<size_t> retiredHead_{0};
    std::atomic<size_t> retiredTail_{0};
    // The held beat, written by the player under a sequence count (odd
    // while it writes), read again by the control side until it is even and
    // unchanged.
    std::atomic<uint32_t> sequence_{0};
    std::atomic<uint64_t> heldCount_{0};
    std::atomic<uint64_t> heldSection_{0};
    std::atomic<int64_t> heldMeasure_{1};
    std::atomic<int64_t> heldBeat_{1};
    std::atomic<bool> heldValid_{false};

    // The player's own.
    LivePlan* active_ = nullptr;
    LivePlan* upcoming_ = nullptr;
    uint64_t nextCount_ = 0;
    bool justSwitched_ = false;
    int64_t switchFrame_ = 0;

    uint64_t generations_ = 0;  // the control side's
};
