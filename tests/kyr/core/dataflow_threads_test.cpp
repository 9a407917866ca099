// The process-wide parts of the core used from several threads at once: two
// cameras may build their pipelines and stream on different threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/stage.h"
#include "support/log_capture.h"

namespace {

class Doubler : public Stage<Image<uint16_t>> {
public:
    Doubler() : Stage<Image<uint16_t>>("Doubler"), input(*this) { registerInput(&input); }
    int action() override {
        auto in = input.value();
        auto out = Image<uint16_t>::createNewBuffer(in->getWidth(), in->getHeight());
        for (size_t i = 0; i < in->pixelCount(); ++i) {
            out->getData()[i] = static_cast<uint16_t>(in->getData()[i] * 2);
        }
        buffer_out = out;
        return OK;
    }
    Input<Image<uint16_t>> input;
};

class Collector : public Stage<void> {
public:
    Collector() : Stage<void>("Collector"), input(*this) { registerInput(&input); }
    int action() override {
        sum += input.value()->getData()[0];
        return OK;
    }
    Input<Image<uint16_t>> input;
    uint64_t sum = 0;
};

TEST(DataflowThreads, IndependentGraphsRunOnTheirOwnThreads) {
    constexpr int THREADS = 4;
    constexpr int ROUNDS = 200;
    std::vector<uint64_t> sums(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([t, &sums] {
            for (int round = 0; round < ROUNDS; ++round) {
                // Stages are created and destroyed concurrently with the
                // other threads' stages.
                Source<Image<uint16_t>> source;
                Doubler a, b;
                Collector end;
                a.input << source;
                b.input << a;
                end.input << b;
                auto img = Image<uint16_t>::createNewBuffer(8, 8);
                img->getData()[0] = static_cast<uint16_t>(t + 1);
                source.fire(std::move(img));
                sums[t] += end.sum;
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int t = 0; t < THREADS; ++t) {
        EXPECT_EQ(sums[t], static_cast<uint64_t>(4 * (t + 1) * ROUNDS));
    }
}

TEST(DataflowThreads, LoggingFromSeveralThreadsReachesTheInstalledFunction) {
    testsupport::LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                KYR_LOG_INFO("thread %d message %d", t, i);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(log.lines().size(), 400u);
    EXPECT_EQ(log.count("thread 3 message 99"), 1u);
}

}  // namespace
