#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "kyr/sinks/appSink.h"

namespace {

using Img = Image<uint16_t>;

TEST(AppSinkThreads, WaitingThreadWakesWhenAFrameCompletes) {
    DcsSink<4> sink;
    std::array<Source<Img>, 4> out;
    for (size_t i = 0; i < 4; ++i) {
        sink.dcs[i] << out[i];
    }
    constexpr int FRAMES = 200;
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (int f = 0; f < FRAMES; ++f) {
            for (size_t i = 0; i < 4; ++i) {
                auto img = Img::createNewBuffer(4, 4);
                img->getData()[0] = static_cast<uint16_t>(f);
                img->getData()[1] = static_cast<uint16_t>(i);
                out[i].fire(std::move(img));
            }
            std::this_thread::yield();
        }
        done = true;
    });
    int received = 0;
    int lastFrame = -1;
    while (true) {
        auto lock = sink.lockNextFrame(1000);
        if (lock.timedout()) {
            break;
        }
        sink.clearNewData();
        // Always one complete frame: four images of the same frame number.
        const uint16_t f = sink.getDcsBuffer(0)->getData()[0];
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(sink.getDcsBuffer(i)->getData()[0], f);
            EXPECT_EQ(sink.getDcsBuffer(i)->getData()[1], i);
        }
        EXPECT_GT(static_cast<int>(f), lastFrame);  // newest first, never older
        lastFrame = f;
        ++received;
        if (f == FRAMES - 1) {
            break;
        }
    }
    producer.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(lastFrame, FRAMES - 1);
    EXPECT_GE(received, 1);
}

}  // namespace
