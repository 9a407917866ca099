// The device vanishing under the camera and coming back, on the virtual
// sensor driver, through the public API: errors instead of frames within
// about a second, a clean stop and close, and a working camera once the
// device is back.
#include <chrono>

#include "cameraTestUtil.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A capture waits at most 1000 ms; a frame completed before the loss may
// still be handed out at once.
constexpr milliseconds FIRST_ERROR_BOUND{1500};
constexpr milliseconds STOP_BOUND{500};

enum class Loss { WhileStreaming, MidFrame, WhileIdle };

class CameraDeviceLoss : public camtest::CameraOnSim {
protected:
    // Captures until one fails (at most `limit` tries); the failure's status.
    int captureUntilError(int limit) {
        std::unique_ptr<ozr::TOFFrame> frame;
        int r = 0;
        for (int i = 0; i < limit && r == 0; ++i) r = cam->captureFrame(frame);
        return r;
    }
};

TEST_P(CameraDeviceLoss, ErrorsThenCleanCloseThenReopenOnceBack) {
    const Loss losses[] = {Loss::WhileStreaming, Loss::MidFrame, Loss::WhileIdle};
    for (Loss loss : losses) {
        SCOPED_TRACE(static_cast<int>(loss));
        cam.reset();
        ozrsim::reset();
        openCamera(config());
        std::unique_ptr<ozr::TOFFrame> frame;
        ASSERT_EQ(cam->captureFrame(frame), 0);
        const bool streaming = loss != Loss::WhileIdle;
        if (streaming) {
            ASSERT_EQ(cam->startStream(), 0);
        }
        ASSERT_EQ(cam->captureFrame(frame), 0);

        const auto t0 = Clock::now();
        if (loss == Loss::MidFrame) {
            // Gone after the second image of the next frame.
            ozrsim::FaultConfig f;
            f.disconnectAfterImages = static_cast<int64_t>(ozrsim::counters().imagesDelivered) + 2;
            ozrsim::setFaults(f);
        } else {
            ozrsim::disconnect();
        }
        const int r = captureUntilError(3);
        EXPECT_LT(Clock::now() - t0, FIRST_ERROR_BOUND);
        EXPECT_EQ(r, -110);
        // Every later capture fails as well, none hangs.
        const auto t1 = Clock::now();
        EXPECT_NE(cam->captureFrame(frame), 0);
        EXPECT_LT(Clock::now() - t1, milliseconds(1200));

        // Idle, the camera streams nothing to stop (its single capture's
        // failed setup leaves the pipeline flagged as streaming, which only
        // close() or a stop that reports the missing thread clears).
        const auto t2 = Clock::now();
        if (streaming) {
            EXPECT_EQ(cam->stopStream(), 0);
        }
        EXPECT_EQ(cam->close(), 0);
        EXPECT_LT(Clock::now() - t2, STOP_BOUND);
        EXPECT_FALSE(cam->isStreaming());
        ozrsim::Counters n = ozrsim::counters();
        EXPECT_EQ(n.openVideo + n.openSubdev + n.mappings, 0);

        // Absent, the device cannot be opened; back, it streams again.
        log.clear();
        EXPECT_EQ(cam->open(), -22);
        EXPECT_EQ(log.count("Failed to acquire V4L2 sensor"), 1u);
        ozrsim::reconnect();
        ASSERT_EQ(cam->open(), 0);
        ASSERT_EQ(cam->captureFrame(frame), 0);
        ASSERT_EQ(cam->startStream(), 0);
        for (int i = 0; i < 3; ++i) ASSERT_EQ(cam->captureFrame(frame), 0) << i;
        EXPECT_EQ(cam->close(), 0);
        n = ozrsim::counters();
        EXPECT_EQ(n.openVideo + n.openSubdev + n.mappings, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Models, CameraDeviceLoss,
                         testing::Values(ozrsim::Model::OZR310, ozrsim::Model::OZR320),
                         camtest::modelName);

}  // namespace
