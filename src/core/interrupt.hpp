// Stopping long work cleanly on Ctrl-C, SIGTERM, SIGHUP or SIGXCPU (a CPU
// time limit reached).
//
// While an InterruptGuard lives, those signals only record themselves; the
// work checks interruptSignal() between its steps, undoes what it started
// and hands the signal back up, so that the program can end with status
// 128 + the signal's number. Outside a guard the signals act as usual.
#pragma once

class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    bool outermost_;
};

// The first signal caught since the outermost guard was set up, or 0;
// always 0 outside a guard.
int interruptSignal();
