#include "kyr/stage.h"

#include <atomic>
#include <cstring>

#include "kyr/platform.h"
#include "kyr/status.h"

namespace {

std::atomic<size_t> id_count{0};

constexpr size_t NO_SLOT = StageBase::MAX_STAGE_COUNT;

}  // namespace

const StageBase* StageBase::stageTable[StageBase::MAX_STAGE_COUNT] = {};

std::mutex& StageBase::tableMutex() {
    static std::mutex mutex;
    return mutex;
}

StageBase::StageBase(const char* stageName)
    : id(id_count.fetch_add(1, std::memory_order_relaxed)), tableSlot(NO_SLOT) {
    setName("Unknown");
    setName(stageName);
    {
        std::lock_guard<std::mutex> lock(tableMutex());
        for (size_t i = 0; i < MAX_STAGE_COUNT; ++i) {
            if (stageTable[i] == nullptr) {
                stageTable[i] = this;
                tableSlot = i;
                break;
            }
        }
    }
    if (tableSlot == NO_SLOT) {
        KYR_LOG_ERROR("StageBase: Too many stages! Maximum is %zu.", MAX_STAGE_COUNT);
    }
}

StageBase::~StageBase() {
    if (tableSlot != NO_SLOT) {
        std::lock_guard<std::mutex> lock(tableMutex());
        stageTable[tableSlot] = nullptr;
    }
}

int StageBase::notify() {
    if (!isComplete()) {
        return 0;
    }
    return run();
}

void StageBase::setName(const char* text) {
    if (text == nullptr) {
        return;
    }
    std::strncpy(name, text, NAME_LENGTH - 1);
    name[NAME_LENGTH - 1] = '\0';
}

int StageBase::registerInput(SinkBase* sink) {
    if (dependencies.count >= MAX_DEPENDENCIES) {
        KYR_LOG_ERROR("StageBase: Too many dependencies! Maximum is %zu.", MAX_DEPENDENCIES);
        return kyr::status::NO_SPACE;
    }
    dependencies.entity[dependencies.count++] = sink;
    return 0;
}

bool StageBase::isComplete() const {
    for (size_t i = 0; i < dependencies.count; ++i) {
        if (dependencies.entity[i] == nullptr || !dependencies.entity[i]->hasNewData()) {
            return false;
        }
    }
    return true;
}
