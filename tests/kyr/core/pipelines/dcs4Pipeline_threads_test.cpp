// The raw DCS pipeline end to end on the virtual sensor driver: the streaming
// thread captures frames from a real sensor source into a DCS sink, from which
// the test (as an application thread) takes complete frames.
#include <gtest/gtest.h>

#include "../sources/simSensorSource.h"
#include "kyr/pipelines/dcs4Pipeline.h"
#include "kyr/sinks/appSink.h"
#include "support/log_capture.h"

namespace {

template <typename S>
class DCS4PipelineOnSim : public testsupport::SimSensorSource<S> {
protected:
    void build() {
        pipeline = std::make_unique<DCS4Pipeline>(*this->source);
        for (size_t i = 0; i < 4; ++i) {
            ASSERT_NE(pipeline->getOutputs().dcs[i], nullptr);
            sink.dcs[i] << *pipeline->getOutputs().dcs[i];
        }
    }
    void TearDown() override {
        pipeline.reset();
        testsupport::SimSensorSource<S>::TearDown();
    }

    // Takes the sink's next frame; empty images on time-out.
    std::array<std::shared_ptr<Image<uint16_t>>, 4> take(size_t timeoutMs = 1000) {
        std::array<std::shared_ptr<Image<uint16_t>>, 4> out;
        auto lock = sink.lockNextFrame(timeoutMs);
        if (!lock.timedout()) {
            sink.clearNewData();
            for (size_t i = 0; i < 4; ++i) {
                out[i] = sink.getDcsBuffer(i);
            }
        }
        return out;
    }

    DcsSink<4> sink;
    std::unique_ptr<DCS4Pipeline> pipeline;
};

using Models = ::testing::Types<OZR310Source, OZR320Source>;
TYPED_TEST_SUITE(DCS4PipelineOnSim, Models);

TYPED_TEST(DCS4PipelineOnSim, StreamsContinuouslyUntilStopped) {
    this->start(this->config());
    this->build();
    uint32_t w = 0, h = 0;
    this->publishedSize(w, h);
    ASSERT_EQ(this->pipeline->startStream(0), 0);
    std::shared_ptr<Image<uint16_t>> previous;
    for (int f = 0; f < 10; ++f) {
        auto frame = this->take();
        for (const auto& img : frame) {
            ASSERT_TRUE(img) << f;
            EXPECT_EQ(img->getWidth(), w);
            EXPECT_EQ(img->getHeight(), h);
        }
        EXPECT_NE(frame[0], previous);  // a new frame every time
        previous = frame[0];
    }
    ASSERT_EQ(this->pipeline->stopStream(true), 0);
    ASSERT_TRUE(ozrsim::waitIdle(std::chrono::milliseconds(1000)));
    const auto c = ozrsim::counters();
    EXPECT_FALSE(c.streaming);
    // Every frame triggered was read: the one triggered before the stop was drained.
    EXPECT_EQ(c.imagesDropped, 0u);
    EXPECT_EQ(c.imagesDelivered, 4 * c.triggers);
}

TYPED_TEST(DCS4PipelineOnSim, FiniteStreamAndSingleCapturesTriggerExactlyTheirFrames) {
    this->start(this->config());
    this->build();
    ASSERT_EQ(this->pipeline->startStream(5), 0);
    ASSERT_EQ(this->pipeline->stopStream(false), 0);
    EXPECT_EQ(ozrsim::counters().triggers, 5u);
    EXPECT_TRUE(this->take(0)[3]);  // the last frame waits in the sink

    for (uint64_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(this->pipeline->singleCapture(), 0);
        EXPECT_EQ(ozrsim::counters().triggers, 5u + n);
        auto frame = this->take(0);  // already there when singleCapture returns
        ASSERT_TRUE(frame[0]);
        EXPECT_EQ(ozrsim::lastState().frameIndex, 4u + n);
    }
    EXPECT_FALSE(this->take(0)[0]);  // and nothing more
    EXPECT_EQ(ozrsim::counters().imagesDropped, 0u);
}

TYPED_TEST(DCS4PipelineOnSim, StalledSensorEndsTheStreamAndTheSinkTimesOut) {
    testsupport::LogCapture log;
    auto c = this->config();
    c.faults.stall = true;
    this->start(c);
    this->build();
    ASSERT_EQ(this->pipeline->startStream(0), 0);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(this->take(1000)[0]);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1000));
    this->pipeline->stopStream(true);
    EXPECT_EQ(log.count("Error capturing frame: 110"), 1u);
    EXPECT_FALSE(ozrsim::counters().streaming);

    // Once the sensor delivers again the same pipeline streams again.
    ozrsim::setFaults({});
    ASSERT_EQ(this->pipeline->singleCapture(), 0);
    EXPECT_TRUE(this->take(0)[0]);
}

TYPED_TEST(DCS4PipelineOnSim, CyclesLeakNoDescriptorMappingOrThread) {
    this->start(this->config());
    this->build();
    const auto before = ozrsim::counters();
    for (int i = 0; i < 100; ++i) {
        switch (i % 3) {
            case 0:
                ASSERT_EQ(this->pipeline->singleCapture(), 0);
                break;
            case 1:
                ASSERT_EQ(this->pipeline->startStream(0), 0);
                (void)this->take(1000);
                ASSERT_EQ(this->pipeline->stopStream(true), 0);
                break;
            default:
                ASSERT_EQ(this->pipeline->startStream(2), 0);
                ASSERT_EQ(this->pipeline->stopStream(false), 0);
        }
    }
    const auto after = ozrsim::counters();
    EXPECT_EQ(after.openVideo, before.openVideo);
    EXPECT_EQ(after.openSubdev, before.openSubdev);
    EXPECT_EQ(after.mappings, before.mappings);
    EXPECT_EQ(after.streamOns, before.streamOns + 100);
    EXPECT_FALSE(after.streaming);
    EXPECT_EQ(after.imagesDropped, 0u);

    this->pipeline.reset();
    this->source.reset();  // closes the device
    const auto closed = ozrsim::counters();
    EXPECT_EQ(closed.openVideo, 0);
    EXPECT_EQ(closed.openSubdev, 0);
    EXPECT_EQ(closed.mappings, 0);
    EXPECT_EQ(closed.openHwmon, 0);
}

}  // namespace
