#include "kyr/source.h"

#include "kyr/platform.h"
#include "kyr/sink.h"
#include "kyr/status.h"

SourceBase::~SourceBase() {
    for (size_t i = 0; i < listener_count; ++i) {
        if (listeners_[i] != nullptr) {
            listeners_[i]->unregisterDependency();
        }
    }
}

int SourceBase::registerListener(SinkBase* sink) {
    if (listener_count >= MAX_LISTENERS) {
        KYR_LOG_ERROR("SourceBase: Too many listeners! Maximum is %zu.", MAX_LISTENERS);
        return kyr::status::NO_SPACE;
    }
    listeners_[listener_count++] = sink;
    return 0;
}

void SourceBase::unregisterListener(SinkBase* sink) {
    for (size_t i = 0; i < listener_count; ++i) {
        if (listeners_[i] != sink) {
            continue;
        }
        for (size_t j = i + 1; j < listener_count; ++j) {
            listeners_[j - 1] = listeners_[j];
        }
        --listener_count;
        listeners_[listener_count] = nullptr;
        if (sink != nullptr) {
            sink->unregisterDependency();
        }
        return;
    }
}

int SourceBase::notifyListeners() {
    // Every listener holds the buffer before any of them runs.
    for (size_t i = 0; i < listener_count; ++i) {
        if (listeners_[i] != nullptr) {
            listeners_[i]->notify();
        }
    }
    // From here on only the sinks hold the buffer, so it is freed as soon as
    // the last consumer is done with it.
    cleanup();
    // A listener's run may change the wiring below us; re-read the count.
    for (size_t i = 0; i < listener_count; ++i) {
        if (listeners_[i] == nullptr) {
            continue;
        }
        const int r = listeners_[i]->run();
        if (r != 0) {
            return r;
        }
    }
    return 0;
}
