// The frame worker: acquires frames on triggers (or free-running), renders
// them outside the lock and fills queued buffers on the sensor's timing.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "device.h"
#include "device_util.h"

namespace ozrsim {

namespace {

constexpr size_t MAX_PENDING_FRAMES = 16;

}  // namespace

void Device::stopWorker(std::unique_lock<std::mutex>& lock) {
    stopWorker_ = true;
    workerCv_.notify_all();
    std::thread t = std::move(worker_);
    lock.unlock();
    if (t.joinable()) t.join();
    lock.lock();
    workerRunning_ = false;
    stopWorker_ = false;
}

void Device::acquireFrameLocked(Clock::time_point now) {
    // A sensor that is still busy with earlier frames ignores the trigger.
    if (pending_.size() >= MAX_PENDING_FRAMES) return;
    if (replay_) {
        // A recording that has ended leaves the sensor without frames.
        const std::optional<uint64_t> frame = replay_->frameFor(counters_.frames);
        if (!frame) {
            replay_->reportEnd();
            return;
        }
        tempBase_ = replay_->temperatureOf(*frame);
    }
    Pending p;
    controls_.applyTo(p.state);
    p.state.width = width_;
    p.state.height = height_;
    const float celsius = temperatureLocked(now);
    p.state.temperatureC = celsius;
    p.state.frameIndex = counters_.frames++;
    p.triggered = now;
    pending_.push_back(p);
    tree_.writeTemperature(static_cast<int32_t>(std::lround(celsius * 1000.0f)));
    if (ensureWorkerLocked()) workerCv_.notify_all();
}

bool Device::ensureWorkerLocked() {
    if (workerRunning_) return true;
    // A worker that ran out of work has left its loop and released the lock
    // for the last time; joining it here cannot block on us.
    if (worker_.joinable()) worker_.join();
    try {
        worker_ = std::thread(&Device::workerLoop, this);
    } catch (const std::system_error&) {
        return false;
    }
    workerRunning_ = true;
    return true;
}

void Device::workerLoop() {
    std::unique_lock<std::mutex> lock(mu_);
    while (!stopWorker_) {
        const auto now = Clock::now();
        if (streaming_ && config_.timing.freeRun && !gone_ && now >= nextFreeRun_) {
            if (!config_.faults.stall) acquireFrameLocked(now);
            const auto period = std::chrono::microseconds(config_.timing.framePeriodUs);
            nextFreeRun_ += period;
            if (nextFreeRun_ <= now) nextFreeRun_ = now + period;
        }
        while (!out_.empty() && out_.front().due <= now) {
            OutImage image = std::move(out_.front());
            out_.pop_front();
            deliverLocked(image, now);
        }
        if (out_.empty() && !pending_.empty()) {
            Pending p = pending_.front();
            pending_.pop_front();
            rendering_ = true;
            const std::shared_ptr<Replay> replay = replay_;
            lock.unlock();
            std::vector<std::vector<uint16_t>> images;
            std::shared_ptr<const GroundTruth> truth;
            if (replay) {
                // A recording knows no truth.
                images =
                    replay->images(replay->frameFor(p.state.frameIndex).value_or(0), p.state.acq);
                truth = std::make_shared<const GroundTruth>();
            } else {
                images = renderer_->renderFrame(p.state);
                truth = std::make_shared<const GroundTruth>(renderer_->truth());
            }
            // Static data the renderer set up on first use is destroyed at
            // exit before handlers registered earlier run: stop the worker
            // first.
            static std::once_flag registered;
            std::call_once(registered, [] { std::atexit(&Device::atExit); });
            lock.lock();
            rendering_ = false;
            lastState_ = p.state;
            truth_ = std::move(truth);
            // A frame rendered late still comes out one readout time per
            // image, never as a burst.
            auto due =
                std::max(p.triggered + std::chrono::microseconds(config_.timing.exposureDelayUs),
                         Clock::now());
            for (auto& img : images) {
                out_.push_back(OutImage{std::move(img), due});
                due += std::chrono::microseconds(config_.timing.readoutUs);
            }
            stateCv_.notify_all();
            continue;
        }
        if (out_.empty() && pending_.empty()) {
            stateCv_.notify_all();
            if (!streaming_) break;  // idle: the next trigger starts a new worker
        }
        auto deadline = Clock::time_point::max();
        if (!out_.empty()) deadline = out_.front().due;
        if (streaming_ && config_.timing.freeRun && !gone_) {
            deadline = std::min(deadline, nextFreeRun_);
        }
        if (deadline == Clock::time_point::max()) {
            workerCv_.wait(lock);
        } else {
            workerCv_.wait_until(lock, deadline);
        }
    }
    workerRunning_ = false;
}

void Device::deliverLocked(OutImage& image, Clock::time_point now) {
    (void)now;
    if (gone_) return;
    if (!streaming_) {
        ++counters_.imagesDropped;
        return;
    }
    const uint32_t sequence = sequence_++;
    if (queued_.empty()) {
        ++counters_.imagesDropped;
        return;
    }
    const uint32_t index = queued_.front();
    queued_.pop_front();
    Buffer& b = buffers_[index];
    const size_t size = static_cast<size_t>(width_) * 2 * height_;
    const size_t bytes = std::min(image.data.size() * sizeof(uint16_t), size);
    std::memcpy(b.data, image.data.data(), bytes);
    if (bytes < size) std::memset(static_cast<char*>(b.data) + bytes, 0, size - bytes);
    const int64_t used = static_cast<int64_t>(size) + config_.faults.bytesusedDelta;
    b.bytesused = static_cast<uint32_t>(std::clamp<int64_t>(used, 0, UINT32_MAX));
    b.sequence = sequence;
    b.timestamp = monotonicNow();
    b.state = BufState::Done;
    done_.push_back(index);
    ++counters_.imagesDelivered;
    updateReadinessLocked();
    stateCv_.notify_all();
    const int64_t limit = config_.faults.disconnectAfterImages;
    if (limit >= 0 && counters_.imagesDelivered >= static_cast<uint64_t>(limit)) {
        disconnectLocked();
    }
}

}  // namespace ozrsim
