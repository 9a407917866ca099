// Input ports of the dataflow graph.
#pragma once

#include <memory>
#include <utility>

#include "kyr/source.h"
#include "kyr/status.h"

class StageBase;

class SinkBase {
public:
    SinkBase() = default;
    virtual ~SinkBase();

    SinkBase(const SinkBase&) = delete;
    SinkBase& operator=(const SinkBase&) = delete;

    // Hook run on every arrival; nonzero refuses the buffer.
    virtual int action() { return 0; }
    // Accepts the buffer received last: StageBase::NOT_REGISTERED when there
    // is none.
    virtual int run();

    bool hasNewData() const { return hasNewData_; }
    SourceBase* getInput() const { return input; }

    // Connects this sink to `source`, leaving its previous source first.
    // Returns 0, or the source's refusal status (the sink is then unconnected).
    int registerDependency(SourceBase* source);
    void unregisterDependency() { input = nullptr; }

protected:
    // Takes the current buffer of the connected source.
    void notify();

    bool hasNewData_ = false;
    std::shared_ptr<void> buffer_in;
    SourceBase* input = nullptr;

    friend class SourceBase;
};

template <typename T>
class Sink : public SinkBase {
public:
    int registerDependency(Source<T>* source) { return SinkBase::registerDependency(source); }
    Sink& operator<<(Source<T>& source) {
        registerDependency(&source);
        return *this;
    }

    // Consumes the received buffer.
    std::shared_ptr<T> value() {
        hasNewData_ = false;
        return std::static_pointer_cast<T>(std::move(buffer_in));
    }
};

// The sink type that stages own: an arrival notifies the owning stage, which
// runs once all of its inputs hold new data.
template <typename T>
class Input : public Sink<T> {
public:
    Input() = default;
    explicit Input(StageBase& owner) : owner(&owner) {}

    void setOwner(StageBase& stage);

    std::shared_ptr<T> value() {
        if (buffered) {
            return std::static_pointer_cast<T>(this->buffer_in);
        }
        return Sink<T>::value();
    }

    // A buffered input keeps the last buffer after it has been read, and so
    // keeps counting as new. Switching buffering off drops the held buffer.
    void setBuffered(bool b) {
        buffered = b;
        (void)value();
    }
    bool isBuffered() const { return buffered; }

    int run() override {
        const int r = SinkBase::run();
        if (r != 0) {
            return r;
        }
        if (owner == nullptr) {
            return kyr::status::INVALID_ARGUMENT;
        }
        notifyOwner(*owner);
        return 0;
    }

private:
    static int notifyOwner(StageBase& stage);

    StageBase* owner = nullptr;
    bool buffered = false;
};
