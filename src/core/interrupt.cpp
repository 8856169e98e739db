#include "core/interrupt.hpp"

#include <signal.h>

#include <array>

namespace {

constexpr std::array<int, 4> kStopSignals = {SIGINT, SIGTERM, SIGHUP, SIGXCPU};

// A signal handler can only reach the program through a static: this one
// records the signal and is read back between the steps of the work.
volatile sig_atomic_t caughtSignal = 0;
int guardDepth = 0;
std::array<struct sigaction, kStopSignals.size()> previousActions;

extern "C" void recordSignal(int signal) {
    if (caughtSignal == 0) caughtSignal = signal;
}

}  // namespace

InterruptGuard::InterruptGuard() : outermost_(guardDepth++ == 0) {
    if (!outermost_) return;
    caughtSignal = 0;
    struct sigaction action {};
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait for a lock or a device returns early, so that
    // the work notices the signal at once.
    action.sa_flags = 0;
    for (size_t i = 0; i < kStopSignals.size(); ++i) {
        sigaction(kStopSignals[i], nullptr, &previousActions[i]);
        // A signal the program was started to ignore (nohup, a background
        // job) stays ignored.
        if (previousActions[i].sa_handler == SIG_IGN) continue;
        sigaction(kStopSignals[i], &action, nullptr);
    }
}

InterruptGuard::~InterruptGuard() {
    --guardDepth;
    if (!outermost_) return;
    for (size_t i = 0; i < kStopSignals.size(); ++i) {
        sigaction(kStopSignals[i], &previousActions[i], nullptr);
    }
}

int interruptSignal() { return guardDepth > 0 ? caughtSignal : 0; }
