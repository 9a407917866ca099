#include "kyr/sinks/appSink.h"

#include <algorithm>
#include <chrono>

int AppSink::action() {
    std::lock_guard<std::mutex> lock(mtx);
    copyBuffers();
    hasNewData = true;
    cv.notify_all();
    return OK;
}

AppSink::BufferLock AppSink::lockNextFrame(size_t timeout_ms) {
    // Longer waits than this would overflow the clock arithmetic; they are
    // as good as endless anyway.
    constexpr size_t MAX_TIMEOUT_MS = size_t{1} << 40;
    const std::chrono::milliseconds timeout(std::min(timeout_ms, MAX_TIMEOUT_MS));
    std::unique_lock<std::mutex> lock(mtx);
    const bool ready = cv.wait_for(lock, timeout, [this] { return hasNewData; });
    if (!ready) {
        lock.unlock();
    }
    return BufferLock(std::move(lock));
}
