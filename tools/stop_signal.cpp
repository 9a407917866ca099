#include "stop_signal.h"

#include <signal.h>

#include <atomic>

namespace capture {

namespace {

std::atomic<bool> requested{false};

void onStopSignal(int) {
    requested.store(true);
}

}  // namespace

void installStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool stopRequested() {
    return requested.load();
}

}  // namespace capture
