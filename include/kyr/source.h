// Output ports of the dataflow graph.
//
// A source publishes a shared pointer to a new buffer: every connected sink
// receives the pointer first, then the source lets go of it, then the sinks
// run in connection order, each one's downstream chain to its end before the
// next (depth first).
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

class SinkBase;
class StageBase;

class SourceBase {
public:
    static constexpr size_t MAX_LISTENERS = 10;

    SourceBase() = default;
    virtual ~SourceBase();

    SourceBase(const SourceBase&) = delete;
    SourceBase& operator=(const SourceBase&) = delete;

    // The current buffer, shared.
    virtual std::shared_ptr<void> getOutput() = 0;
    // Lets go of the current buffer.
    virtual void cleanup() = 0;

    // Appends `sink` to the listeners. Returns 0, or kyr::status::NO_SPACE
    // (logged) when all MAX_LISTENERS places are taken; nothing is changed
    // then.
    int registerListener(SinkBase* sink);
    // Removes the first entry equal to `sink`, keeping the order of the
    // others, and disconnects the sink. Unknown sinks are ignored.
    void unregisterListener(SinkBase* sink);

    StageBase* getOwner() const { return ownerStage; }
    size_t getListenerCount() const { return listener_count; }

protected:
    // Publication: hands the buffer to every listener, releases it, then runs
    // the listeners in order. Returns the first nonzero result of a listener.
    int notifyListeners();

    StageBase* ownerStage = nullptr;

private:
    size_t listener_count = 0;
    SinkBase* listeners_[MAX_LISTENERS] = {};
};

template <typename T>
class Source : public SourceBase {
public:
    std::shared_ptr<void> getOutput() override { return buffer_out; }
    void cleanup() override { buffer_out.reset(); }

    int fire(std::shared_ptr<T>&& buffer) {
        buffer_out = std::move(buffer);
        return notifyListeners();
    }

protected:
    std::shared_ptr<T> buffer_out;
};
