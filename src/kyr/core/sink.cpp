#include "kyr/sink.h"

#include "kyr/stage.h"

SinkBase::~SinkBase() {
    if (input != nullptr) {
        input->unregisterListener(this);
    }
}

int SinkBase::run() {
    if (!buffer_in) {
        return StageBase::NOT_REGISTERED;
    }
    const int r = action();
    if (r != 0) {
        buffer_in.reset();
        return r;
    }
    hasNewData_ = true;
    return 0;
}

int SinkBase::registerDependency(SourceBase* source) {
    if (input != nullptr) {
        input->unregisterListener(this);
    }
    if (source == nullptr) {
        return 0;
    }
    const int r = source->registerListener(this);
    if (r == 0) {
        input = source;
    }
    return r;
}

void SinkBase::notify() {
    if (input != nullptr) {
        buffer_in = input->getOutput();
    }
}
