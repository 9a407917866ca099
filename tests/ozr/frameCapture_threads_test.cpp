// Frames built from the application sinks, with a pipeline whose streaming
// thread publishes synthetic images.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "frameCapture.h"
#include "support/log_capture.h"
#include "tofFrameImpl.h"

namespace {

using Img = Image<uint16_t>;
using PhaseImg = Image<PhaseType<uint16_t>>;

// Publishes one distance/amplitude frame per requested frame on its thread.
class FakeDistAmpPipeline : public Pipeline {
public:
    explicit FakeDistAmpPipeline(DistAmpSink<4>& sink) {
        for (size_t i = 0; i < 4; ++i) {
            sink.dcs[i] << dcs[i];
        }
        sink.distance << dist;
        sink.amplitude << amp;
        sink.phase << phase;
    }
    ~FakeDistAmpPipeline() override { stopStream(true); }

    int setControl(ozr::ControlID, int32_t) override { return -1; }
    int getControl(ozr::ControlID, int&) override { return -1; }
    int setFormat(const ozr::VideoFormat&) override { return 0; }
    int getFormat(ozr::VideoFormat&) override { return 0; }

    std::atomic<bool> deliver{true};
    std::atomic<int> framesRun{0};
    size_t width = 5;
    size_t height = 3;

protected:
    void streamingThread_cb(size_t nFrames) override {
        if (nFrames == 0) {  // endless, publishing nothing, until stopped
            while (isStreaming) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return;
        }
        for (size_t f = 0; f < nFrames && isStreaming; ++f) {
            ++framesRun;
            if (!deliver) {
                continue;
            }
            for (size_t i = 0; i < 4; ++i) {
                dcs[i].fire(filled<uint16_t>(static_cast<uint16_t>(i)));
            }
            dist.fire(filled<uint16_t>(1000));
            amp.fire(filled<uint16_t>(50));
            auto ph = PhaseImg::createNewBuffer(width, height);
            for (size_t p = 0; p < ph->pixelCount(); ++p) {
                ph->getData()[p] = PhaseType<uint16_t>(static_cast<uint16_t>(p == 0 ? 65535 : p));
            }
            phase.fire(std::move(ph));
        }
        isStreaming = false;
    }

private:
    template <typename T>
    std::shared_ptr<Image<T>> filled(T v) {
        auto img = Image<T>::createNewBuffer(width, height);
        std::fill(img->getData(), img->getData() + img->pixelCount(), v);
        return img;
    }

    std::array<Source<Img>, 4> dcs;
    Source<Img> dist, amp;
    Source<PhaseImg> phase;
};

TEST(FrameCapture, NotStreamingRunsOneSingleCapturePerFrameAndNumbersThem) {
    ozr::capture::resetFrameCounter();
    DistAmpSink<4> sink;
    FakeDistAmpPipeline pipeline(sink);
    std::unique_ptr<ozr::TOFFrame> frame;
    for (uint32_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(ozr::capture::captureDistAmp(sink, pipeline, false, frame), 0);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->getMetadata().frameNumber, n);
    }
    EXPECT_EQ(pipeline.framesRun, 3);
    EXPECT_EQ(frame->getWidth(), 5);
    EXPECT_EQ(frame->getHeight(), 3);
    EXPECT_EQ(frame->getData<uint16_t>(ozr::FrameType::DISTANCE)[14], 1000);
    EXPECT_EQ(frame->getData<uint16_t>(ozr::FrameType::AMPLITUDE)[0], 50);
    EXPECT_EQ(frame->getData<uint16_t>(ozr::FrameType::DCS, 3)[7], 3);
    const float* phase = frame->getData<float>(ozr::FrameType::PHASE);
    ASSERT_NE(phase, nullptr);
    EXPECT_EQ(phase[0], 6.2831855f);  // raw 65535 is a full turn
    EXPECT_EQ(phase[1], 1.0f * 6.2831855f / 65535.0f);
    EXPECT_EQ(phase[7], PhaseType<uint16_t>::to_float(7));
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    EXPECT_LE(frame->getMetadata().timestamp, static_cast<uint64_t>(now));
    EXPECT_GT(frame->getMetadata().timestamp, static_cast<uint64_t>(now) - 10000);
}

TEST(FrameCapture, NoFrameGivesTimeoutAndLeavesTheCallersFrame) {
    ozr::capture::resetFrameCounter();
    testsupport::LogCapture log;
    DistAmpSink<4> sink;
    FakeDistAmpPipeline pipeline(sink);
    std::unique_ptr<ozr::TOFFrame> frame;
    ASSERT_EQ(ozr::capture::captureDistAmp(sink, pipeline, false, frame), 0);
    ozr::TOFFrame* previous = frame.get();

    pipeline.deliver = false;  // the single capture ends without a frame
    EXPECT_EQ(ozr::capture::captureDistAmp(sink, pipeline, false, frame), -110);
    EXPECT_EQ(frame.get(), previous);
    EXPECT_EQ(log.count("Timeout waiting for distance/amplitude frame"), 1u);

    pipeline.deliver = true;
    ASSERT_EQ(ozr::capture::captureDistAmp(sink, pipeline, false, frame), 0);
    EXPECT_EQ(frame->getMetadata().frameNumber, 2u);  // failures are not counted
}

TEST(FrameCapture, FailedSingleCaptureGivesMinus11) {
    testsupport::LogCapture log;
    DcsSink<4> sink;
    DistAmpSink<4> other;
    FakeDistAmpPipeline pipeline(other);
    ASSERT_EQ(pipeline.startStream(0), 0);  // busy: the single capture cannot start
    std::unique_ptr<ozr::TOFFrame> frame;
    EXPECT_EQ(ozr::capture::captureDcs(sink, pipeline, false, frame), -11);
    EXPECT_FALSE(frame);
    EXPECT_EQ(log.count("Failed to start stream for single frame capture: -16"), 1u);
    EXPECT_EQ(log.count("Failed to capture single frame for DCS pipelines"), 1u);
    pipeline.stopStream(true);
}

TEST(FrameCapture, GrayscaleAndDcsFramesHoldOnlyTheirImages) {
    testsupport::LogCapture log;
    GrayscaleSink gray;
    Source<Img> graySrc;
    gray.grayscale << graySrc;
    DistAmpSink<4> unused;
    FakeDistAmpPipeline idle(unused);
    auto g = Img::createNewBuffer(7, 2);
    g->getData()[13] = 77;
    graySrc.fire(std::move(g));
    std::unique_ptr<ozr::TOFFrame> frame;
    // Streaming: no single capture, the frame already in the sink is taken.
    ASSERT_EQ(ozr::capture::captureGrayscale(gray, idle, true, frame), 0);
    EXPECT_EQ(idle.framesRun, 0);
    EXPECT_EQ(frame->getWidth(), 7);
    EXPECT_EQ(frame->getData<uint16_t>(ozr::FrameType::GRAYSCALE)[13], 77);
    EXPECT_EQ(frame->getData<float>(ozr::FrameType::PHASE), nullptr);
    EXPECT_EQ(ozr::capture::captureGrayscale(gray, idle, true, frame), -110);
    EXPECT_EQ(log.count("Timeout waiting for grayscale frame"), 1u);

    DcsSink<4> dcs;
    std::array<Source<Img>, 4> out;
    for (size_t i = 0; i < 4; ++i) {
        dcs.dcs[i] << out[i];
        out[i].fire(Img::createNewBuffer(3, 9));
    }
    ASSERT_EQ(ozr::capture::captureDcs(dcs, idle, true, frame), 0);
    EXPECT_EQ(frame->getHeight(), 9);
    EXPECT_NE(frame->getData<uint16_t>(ozr::FrameType::DCS, 3), nullptr);
    EXPECT_EQ(frame->getData<uint16_t>(ozr::FrameType::DISTANCE), nullptr);
}

TEST(FrameCapture, PhaseSmallerThanDistanceIsNeverReadBeyond) {
    DistAmpSink<4> sink;
    std::array<Source<Img>, 4> dcs;
    Source<Img> dist, amp;
    Source<PhaseImg> phase;
    for (size_t i = 0; i < 4; ++i) {
        sink.dcs[i] << dcs[i];
        dcs[i].fire(Img::createNewBuffer(4, 4));
    }
    sink.distance << dist;
    sink.amplitude << amp;
    sink.phase << phase;
    dist.fire(Img::createNewBuffer(4, 4));
    amp.fire(Img::createNewBuffer(4, 4));
    auto ph = PhaseImg::createNewBuffer(2, 2);
    std::fill(ph->getData(), ph->getData() + 4, PhaseType<uint16_t>(uint16_t{65535}));
    phase.fire(std::move(ph));
    DistAmpSink<4> unused;
    FakeDistAmpPipeline idle(unused);
    std::unique_ptr<ozr::TOFFrame> frame;
    ASSERT_EQ(ozr::capture::captureDistAmp(sink, idle, true, frame), 0);
    const float* p = frame->getData<float>(ozr::FrameType::PHASE);
    EXPECT_EQ(p[3], 6.2831855f);
    EXPECT_EQ(p[15], 0.0f);
}

}  // namespace
