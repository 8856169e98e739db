#include "playback/live_link.hpp"

LiveLink::LiveLink() = default;

LiveLink::~LiveLink() {
    collect();
    delete slot_.exchange(nullptr);
    delete round_.exchange(nullptr);
    if (upcoming_ != active_) delete upcoming_;
    delete active_;
}

void LiveLink::post(std::unique_ptr<LivePlan> plan) {
    plan->generation = ++generations_;
    // A plan the player has not taken is replaced: it was never played.
    delete slot_.exchange(plan.release(), std::memory_order_acq_rel);
}

void LiveLink::postRound(std::unique_ptr<LivePlan> plan) {
    delete round_.exchange(plan.release(), std::memory_order_acq_rel);
}

HeldBeat LiveLink::held() const {
    HeldBeat held;
    for (;;) {
        const uint32_t before = sequence_.load(std::memory_order_acquire);
        if (before % 2 != 0) continue;
        held.count = heldCount_.load(std::memory_order_relaxed);
        held.section = static_cast<size_t>(heldSection_.load(std::memory_order_relaxed));
        held.measure = heldMeasure_.load(std::memory_order_relaxed);
        held.beat = heldBeat_.load(std::memory_order_relaxed);
        held.valid = heldValid_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) == before) return held;
    }
}

void LiveLink::collect() {
    size_t tail = retiredTail_.load(std::memory_order_relaxed);
    const size_t head = retiredHead_.load(std::memory_order_acquire);
    for (; tail != head; ++tail) delete retired_[tail % retired_.size()];
    retiredTail_.store(tail, std::memory_order_release);
}

LivePlan* LiveLink::start() {
    active_ = slot_.exchange(nullptr, std::memory_order_acq_rel);
    return active_;
}

void LiveLink::publish(uint64_t count, const BeatEvent& beat, bool valid) {
    const uint32_t s = sequence_.load(std::memory_order_relaxed);
    sequence_.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    heldCount_.store(count, std::memory_order_relaxed);
    heldSection_.store(beat.section, std::memory_order_relaxed);
    heldMeasure_.store(beat.measure, std::memory_order_relaxed);
    heldBeat_.store(beat.beat, std::memory_order_relaxed);
    heldValid_.store(valid, std::memory_order_relaxed);
    sequence_.store(s + 2, std::memory_order_release);
}

void LiveLink::retire(LivePlan* plan) {
    const size_t head = retiredHead_.load(std::memory_order_relaxed);
    if (head - retiredTail_.load(std::memory_order_acquire) >= retired_.size()) return;
    retired_[head % retired_.size()] = plan;
    retiredHead_.store(head + 1, std::memory_order_release);
}

bool LiveLink::stopBefore(const BeatEvent& beat) {
    if (justSwitched_) {
        // The new plan's first beat stands for the beat it replaced.
        justSwitched_ = false;
        if (!active_->paused) publish(nextCount_++, beat, true);
        return false;
    }
    if (LivePlan* posted = slot_.exchange(nullptr, std::memory_order_acq_rel)) {
        if (upcoming_) retire(upcoming_);
        upcoming_ = posted;
    }
    const uint64_t count = nextCount_;
    if (upcoming_ && (upcoming_->atOnce || upcoming_->from == count)) {
        retire(active_);
        active_ = upcoming_;
        upcoming_ = nullptr;
        switchFrame_ = beat.frame;
        justSwitched_ = true;
        return true;
    }
    if (upcoming_ && upcoming_->from < count) {
        // Planned for a beat already laid: the control side plans again.
        missed_.store(upcoming_->generation, std::memory_order_release);
        retire(upcoming_);
        upcoming_ = nullptr;
    }
    if (!active_->paused) publish(nextCount_++, beat, true);
    return false;
}

LivePlan* LiveLink::nextRound() {
    LivePlan* round = round_.exchange(nullptr, std::memory_order_acq_rel);
    if (!round) return nullptr;
    retire(active_);
    active_ = round;
    return round;
}
