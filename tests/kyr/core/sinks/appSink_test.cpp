#include "kyr/sinks/appSink.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Img = Image<uint16_t>;
using PhaseImg = Image<PhaseType<uint16_t>>;

std::shared_ptr<Img> image(uint16_t v) {
    auto img = Img::createNewBuffer(2, 2);
    std::fill(img->getData(), img->getData() + 4, v);
    return img;
}

std::shared_ptr<PhaseImg> phaseImage(uint16_t v) {
    auto img = PhaseImg::createNewBuffer(2, 2);
    std::fill(img->getData(), img->getData() + 4, PhaseType<uint16_t>(v));
    return img;
}

struct DcsFeed {
    std::array<Source<Img>, 4> out;
    explicit DcsFeed(DcsSink<4>& sink) {
        for (size_t i = 0; i < 4; ++i) {
            sink.dcs[i] << out[i];
        }
    }
};

TEST(DcsSink, HandsOverOnlyCompleteFrames) {
    DcsSink<4> sink;
    DcsFeed feed(sink);
    for (size_t i = 0; i < 3; ++i) {
        feed.out[i].fire(image(static_cast<uint16_t>(i)));
    }
    EXPECT_TRUE(sink.lockNextFrame(0).timedout());
    feed.out[3].fire(image(3));
    auto lock = sink.lockNextFrame(0);
    ASSERT_FALSE(lock.timedout());
    EXPECT_TRUE(sink.hasNewFrame());
    sink.clearNewData();
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(sink.getDcsBuffer(i));
        EXPECT_EQ(sink.getDcsBuffer(i)->getData()[0], i);
    }
    EXPECT_EQ(sink.getDcsCount(), 4u);
}

TEST(DcsSink, KeepsOnlyTheNewestFrameAndSharesPixels) {
    DcsSink<4> sink;
    DcsFeed feed(sink);
    std::shared_ptr<Img> last;
    for (uint16_t frame = 0; frame < 3; ++frame) {
        for (size_t i = 0; i < 4; ++i) {
            last = image(static_cast<uint16_t>(10 * frame + i));
            feed.out[i].fire(std::shared_ptr<Img>(last));
        }
    }
    auto lock = sink.lockNextFrame(0);
    ASSERT_FALSE(lock.timedout());
    sink.clearNewData();
    EXPECT_EQ(sink.getDcsBuffer(0)->getData()[0], 20);
    EXPECT_EQ(sink.getDcsBuffer(3).get(), last.get());  // a reference, not a copy
}

TEST(AppSink, TimesOutAfterTheGivenTimeWithoutData) {
    GrayscaleSink sink;
    const auto start = std::chrono::steady_clock::now();
    auto lock = sink.lockNextFrame(50);
    EXPECT_TRUE(lock.timedout());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST(AppSink, TakenFrameIsNotHandedOutTwice) {
    GrayscaleSink sink;
    Source<Img> src;
    sink.grayscale << src;
    src.fire(image(5));
    {
        auto lock = sink.lockNextFrame(0);
        ASSERT_FALSE(lock.timedout());
        sink.clearNewData();
        EXPECT_EQ(sink.getGrayscaleBuffer()->getData()[0], 5);
    }
    EXPECT_TRUE(sink.lockNextFrame(0).timedout());
    // The buffers stay set until the next frame replaces them.
    EXPECT_TRUE(sink.getGrayscaleBuffer());
}

TEST(AppSink, HugeTimeoutIsSafe) {
    GrayscaleSink sink;
    Source<Img> src;
    sink.grayscale << src;
    src.fire(image(1));
    auto lock = sink.lockNextFrame(static_cast<size_t>(-1));
    EXPECT_FALSE(lock.timedout());
}

TEST(DistAmpSink, DcsInputsAreBufferedSoNewResultsCompleteAFrame) {
    DistAmpSink<4> sink;
    std::array<Source<Img>, 4> dcs;
    Source<Img> dist, amp;
    Source<PhaseImg> phase;
    for (size_t i = 0; i < 4; ++i) {
        sink.dcs[i] << dcs[i];
        dcs[i].fire(image(static_cast<uint16_t>(i)));
    }
    auto frame = [&](uint16_t v) {
        dist.fire(image(v));
        amp.fire(image(static_cast<uint16_t>(v + 1)));
        phase.fire(phaseImage(static_cast<uint16_t>(v + 2)));
    };
    sink.distance << dist;
    sink.amplitude << amp;
    sink.phase << phase;
    frame(100);
    {
        auto lock = sink.lockNextFrame(0);
        ASSERT_FALSE(lock.timedout());
        sink.clearNewData();
        EXPECT_EQ(sink.getDistanceBuffer()->getData()[0], 100);
        EXPECT_EQ(sink.getAmplitudeBuffer()->getData()[0], 101);
        EXPECT_EQ(sink.getPhaseBuffer()->getData()[0].getRaw(), 102);
        EXPECT_EQ(sink.getDcsBuffer(2)->getData()[0], 2);
    }
    // No new DCS images, yet new results complete the next frame with the
    // last DCS images.
    frame(200);
    auto lock = sink.lockNextFrame(0);
    ASSERT_FALSE(lock.timedout());
    EXPECT_EQ(sink.getDistanceBuffer()->getData()[0], 200);
    EXPECT_EQ(sink.getDcsBuffer(2)->getData()[0], 2);
    EXPECT_EQ(DistAmpSink<12>::getDcsCount(), 12u);
}

}  // namespace
