// Processing nodes of the dataflow graph.
//
// A stage owns its inputs and its output port. It runs, on the thread of the
// firing source, as soon as every registered input holds new data, and
// publishes its result through its own Source part.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "kyr/sink.h"
#include "kyr/source.h"

class StageBase {
public:
    enum ReturnCode : int {
        OK = 0,
        NOT_READY = 1,
        NOT_REGISTERED = -1,
    };

    static constexpr size_t MAX_DEPENDENCIES = 20;
    static constexpr size_t MAX_STAGE_COUNT = 1024;
    static constexpr size_t NAME_LENGTH = 32;

    struct Dependencies {
        SinkBase* entity[MAX_DEPENDENCIES] = {};
        size_t count = 0;
    };

    explicit StageBase(const char* name);
    virtual ~StageBase();

    StageBase(const StageBase&) = delete;
    StageBase& operator=(const StageBase&) = delete;

    virtual int run() = 0;

    // Runs the stage when every input holds new data; returns 0 otherwise.
    int notify();

    void setName(const char* text);
    const char* getName() const { return name; }
    size_t getId() const { return id; }
    uint32_t getCallCount() const { return callCount; }
    uint64_t getTotalTimeTicks() const { return totalTime_ticks; }
    const Dependencies& getDependencies() const { return dependencies; }

    // The registry of live stages, for diagnostics: free slots are null.
    // Calls `fn(const StageBase&)` for each live stage under the registry's lock.
    template <typename Fn>
    static void forEachStage(Fn&& fn);

protected:
    // Adds `sink` as the next dependency. Returns 0, or kyr::status::NO_SPACE
    // (logged) when all MAX_DEPENDENCIES places are taken.
    int registerInput(SinkBase* sink);

    template <typename T>
    friend class Input;

    uint32_t callCount = 0;
    uint64_t totalTime_ticks = 0;

private:
    bool isComplete() const;
    static std::mutex& tableMutex();

    char name[NAME_LENGTH];
    const size_t id;
    Dependencies dependencies;
    size_t tableSlot;

    static const StageBase* stageTable[MAX_STAGE_COUNT];
};

template <typename Fn>
void StageBase::forEachStage(Fn&& fn) {
    std::lock_guard<std::mutex> lock(tableMutex());
    for (const StageBase* stage : stageTable) {
        if (stage != nullptr) {
            fn(*stage);
        }
    }
}

template <typename T>
class Stage : public Source<T>, public StageBase {
public:
    explicit Stage(const char* name = "Unknown") : StageBase(name) { this->ownerStage = this; }

    // The stage's work: reads its inputs, leaves its result in buffer_out and
    // returns OK, NOT_READY (nothing to publish) or a negative error.
    virtual int action() = 0;

    int run() override {
        const auto start = std::chrono::steady_clock::now();
        ++callCount;
        const int r = action();
        totalTime_ticks +=
            static_cast<uint64_t>((std::chrono::steady_clock::now() - start).count());
        if (r != OK) {
            return r == NOT_READY ? 0 : r;
        }
        (void)this->fire(std::move(this->buffer_out));
        return 0;
    }
};

template <typename T>
void Input<T>::setOwner(StageBase& stage) {
    owner = &stage;
    stage.registerInput(this);
}

template <typename T>
int Input<T>::notifyOwner(StageBase& stage) {
    return stage.notify();
}
