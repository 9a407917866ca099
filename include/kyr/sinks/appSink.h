// Application sinks: the ends of the processing pipelines. A sink keeps
// shared references to the images of the newest complete frame and wakes an
// application thread waiting for one. Pixels are never copied.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/stage.h"

class AppSink : public Stage<void> {
public:
    // The result of waiting for a frame: holds the sink's mutex unless the
    // wait timed out. The buffers may be read while it is held.
    class BufferLock {
    public:
        explicit BufferLock(std::unique_lock<std::mutex> lock) : lock(std::move(lock)) {}
        bool timedout() const { return !lock.owns_lock(); }

    private:
        std::unique_lock<std::mutex> lock;
    };

    AppSink() : Stage<void>("Unknown") {}
    AppSink(const AppSink&) = delete;
    AppSink& operator=(const AppSink&) = delete;

    // Runs on the streaming thread once every input holds new data: takes
    // the frame's images and wakes the waiters.
    int action() override;

    // Waits until a frame is complete or `timeout_ms` have passed on the
    // monotonic clock. On success the returned lock holds the sink's mutex;
    // the caller clears the new-data flag (clearNewData) before reading.
    BufferLock lockNextFrame(size_t timeout_ms);

    // Both called with the lock of lockNextFrame held.
    bool hasNewFrame() const { return hasNewData; }
    void clearNewData() { hasNewData = false; }

protected:
    // Sets every buffer from its input; runs with the mutex held.
    virtual void copyBuffers() = 0;

private:
    std::mutex mtx;
    std::condition_variable cv;
    bool hasNewData = false;
};

// Distance, amplitude and phase of a frame with its N DCS images.
template <size_t N>
class DistAmpSink : public AppSink {
public:
    using PhaseImage = Image<PhaseType<uint16_t>>;

    DistAmpSink() {
        // The DCS inputs keep their images, so the sink completes again as
        // soon as distance, amplitude and phase are new.
        for (auto& in : dcs) {
            in.setOwner(*this);
            in.setBuffered(true);
        }
        distance.setOwner(*this);
        amplitude.setOwner(*this);
        phase.setOwner(*this);
    }

    static constexpr size_t getDcsCount() { return N; }

    Input<Image<uint16_t>> distance;
    Input<Image<uint16_t>> amplitude;
    std::array<Input<Image<uint16_t>>, N> dcs;
    Input<PhaseImage> phase;

    const std::shared_ptr<Image<uint16_t>>& getDistanceBuffer() const { return distanceBuffer; }
    const std::shared_ptr<Image<uint16_t>>& getAmplitudeBuffer() const { return amplitudeBuffer; }
    const std::shared_ptr<PhaseImage>& getPhaseBuffer() const { return phaseBuffer; }
    const std::shared_ptr<Image<uint16_t>>& getDcsBuffer(size_t i) const { return dcsBuffers[i]; }

protected:
    void copyBuffers() override {
        distanceBuffer = distance.value();
        amplitudeBuffer = amplitude.value();
        phaseBuffer = phase.value();
        for (size_t i = 0; i < N; ++i) {
            dcsBuffers[i] = dcs[i].value();
        }
    }

private:
    std::shared_ptr<Image<uint16_t>> distanceBuffer;
    std::shared_ptr<Image<uint16_t>> amplitudeBuffer;
    std::shared_ptr<PhaseImage> phaseBuffer;
    std::array<std::shared_ptr<Image<uint16_t>>, N> dcsBuffers;
};

class GrayscaleSink : public AppSink {
public:
    GrayscaleSink() { grayscale.setOwner(*this); }

    Input<Image<uint16_t>> grayscale;

    const std::shared_ptr<Image<uint16_t>>& getGrayscaleBuffer() const { return grayscaleBuffer; }

protected:
    void copyBuffers() override { grayscaleBuffer = grayscale.value(); }

private:
    std::shared_ptr<Image<uint16_t>> grayscaleBuffer;
};

// The raw DCS images of a frame.
template <size_t N>
class DcsSink : public AppSink {
public:
    DcsSink() {
        for (auto& in : dcs) {
            in.setOwner(*this);
        }
    }

    static constexpr size_t getDcsCount() { return N; }

    std::array<Input<Image<uint16_t>>, N> dcs;

    const std::shared_ptr<Image<uint16_t>>& getDcsBuffer(size_t i) const { return dcsBuffers[i]; }

protected:
    void copyBuffers() override {
        for (size_t i = 0; i < N; ++i) {
            dcsBuffers[i] = dcs[i].value();
        }
    }

private:
    std::array<std::shared_ptr<Image<uint16_t>>, N> dcsBuffers;
};
