// The emulated driver used from several threads at once, as the camera
// library does: a streaming thread capturing frames while the application
// thread changes controls and reads state. Run under ThreadSanitizer.
#include <atomic>
#include <thread>

#include "sim_test_util.h"

namespace ozrsim::test {
namespace {

class DeviceThreads : public SimTest {};

// The streaming thread's loop: wait, dequeue, copy, requeue, and trigger the
// next frame after the last image of one.
int captureFrames(Capture& c, int frames, std::atomic<bool>& failed) {
    int images = 0;
    if (c.trigger() != 0) failed = true;
    for (int f = 0; f < frames && !failed; ++f) {
        for (int i = 0; i < 4; ++i) {
            v4l2_buffer b;
            if (c.dequeue(b, 2000) != 0) {
                failed = true;
                return images;
            }
            std::vector<uint16_t> copy(c.data(b.index), c.data(b.index) + b.bytesused / 2);
            ++images;
            if (i == 3 && f + 1 < frames && c.trigger() != 0) failed = true;
            if (c.requeue(b) != 0) failed = true;
        }
    }
    return images;
}

TEST_F(DeviceThreads, ControlsWhileStreaming) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.startStreaming(12), 0);
    std::atomic<bool> failed{false};
    std::atomic<bool> done{false};
    int images = 0;
    std::thread streaming([&] {
        images = captureFrames(c, 40, failed);
        done = true;
    });
    // The application thread, through its own descriptor of the sub-device.
    const int sd = ::open("/run/ozr320/subdev", O_RDWR);
    ASSERT_GE(sd, 0);
    int round = 0;
    while (!done) {
        EXPECT_EQ(setCtrl(sd, cid::GAIN, 1 + round % 8), 0);
        EXPECT_EQ(setCtrl(sd, cid::EXPOSURE, 100 + round % 900), 0);
        EXPECT_EQ(setCtrl(sd, cid::MODULATION_FREQ_HZ, 10000000 + 10000 * (round % 100)), 0);
        int32_t v = 0;
        EXPECT_EQ(getCtrl(sd, cid::GAIN, v), 0);
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        EXPECT_EQ(ioctlErr(c.video(), VIDIOC_G_FMT, &f), 0);
        (void)counters();
        (void)temperature();
        ++round;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    streaming.join();
    ::close(sd);
    EXPECT_FALSE(failed);
    EXPECT_EQ(images, 160);
    EXPECT_EQ(lastTruth().width, 320u);
}

TEST_F(DeviceThreads, FreeRunningStreamWithConcurrentReaders) {
    Config cfg = testConfig();
    cfg.timing.freeRun = true;
    cfg.timing.framePeriodUs = 2000;
    start(cfg);
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop) {
            const GroundTruth t = lastTruth();
            EXPECT_TRUE(t.width == 0 || t.distanceMm.size() == t.width * t.height);
            (void)lastState();
            const int fd = ::open("/sys/class/hwmon/hwmon1/temp1_input", O_RDONLY);
            char buf[16];
            if (fd >= 0) {
                EXPECT_GT(::pread(fd, buf, 15, 0), 0);
                ::close(fd);
            }
        }
    });
    for (int i = 0; i < 24; ++i) {
        v4l2_buffer b;
        ASSERT_EQ(c.dequeue(b, 2000), 0);
        ASSERT_EQ(c.requeue(b), 0);
    }
    stop = true;
    reader.join();
}

TEST_F(DeviceThreads, StreamStopsWhileAnotherThreadWaits) {
    start(testConfig());
    Capture c("/run/ozr320/video", "/run/ozr320/subdev", O_RDWR);
    ASSERT_EQ(c.startStreaming(4), 0);
    std::atomic<int> result{-1};
    std::thread waiter([&] {
        v4l2_buffer b = makeBuffer();
        result = ioctlErr(c.video(), VIDIOC_DQBUF, &b);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(c.streamOff(), 0);
    waiter.join();
    EXPECT_EQ(result, EINVAL);
}

TEST_F(DeviceThreads, ResetWhileAThreadIsBlocked) {
    start(testConfig());
    const int fd = ::open("/run/ozr320/video", O_RDWR);
    ASSERT_GE(fd, 0);
    v4l2_requestbuffers req{};
    req.count = 2;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(ioctlErr(fd, VIDIOC_REQBUFS, &req), 0);
    v4l2_buffer q = makeBuffer(0);
    ASSERT_EQ(ioctlErr(fd, VIDIOC_QBUF, &q), 0);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(ioctlErr(fd, VIDIOC_STREAMON, &type), 0);
    std::atomic<int> result{-1};
    std::thread waiter([&] {
        v4l2_buffer b = makeBuffer();
        result = ioctlErr(fd, VIDIOC_DQBUF, &b);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    reset();
    waiter.join();
    EXPECT_EQ(result, ENODEV);
    EXPECT_EQ(::close(fd), 0);
}

TEST_F(DeviceThreads, BlockedDequeueOutlivesTheClosingOfAnotherDescriptor) {
    start(testConfig());
    Capture c("/run/ozr320/video", "/run/ozr320/subdev", O_RDWR);
    ASSERT_EQ(c.startStreaming(4), 0);
    const int copy = ::dup(c.video());
    ASSERT_GE(copy, 0);
    std::atomic<int> result{-1};
    std::thread waiter([&] {
        v4l2_buffer b = makeBuffer();
        result = ioctlErr(copy, VIDIOC_DQBUF, &b);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The open file stays with the waiting copy: its wait goes on and ends
    // with the frame.
    const int sd = ::dup(c.subdev());
    c.closeAbruptly();
    ASSERT_EQ(setCtrl(sd, cid::TRIGGER_SHUTTER, 1), 0);
    waiter.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(::close(copy), 0);
    EXPECT_EQ(::close(sd), 0);
    EXPECT_EQ(counters().buffers, 0u);
}

TEST_F(DeviceThreads, DuplicatesComeAndGoWhileStreaming) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.startStreaming(12), 0);
    std::atomic<bool> failed{false};
    std::atomic<bool> done{false};
    int images = 0;
    std::thread streaming([&] {
        images = captureFrames(c, 20, failed);
        done = true;
    });
    // Another thread duplicates and closes descriptors of the same files
    // and asks through them.
    while (!done) {
        const int video = ::dup(c.video());
        const int sd = ::fcntl(c.subdev(), F_DUPFD_CLOEXEC, 0);
        ASSERT_GE(video, 0);
        ASSERT_GE(sd, 0);
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        EXPECT_EQ(ioctlErr(video, VIDIOC_G_FMT, &f), 0);
        int32_t gain = 0;
        EXPECT_EQ(getCtrl(sd, cid::GAIN, gain), 0);
        EXPECT_EQ(::dup2(sd, video), video);
        EXPECT_EQ(::close(video), 0);
        EXPECT_EQ(::close(sd), 0);
    }
    streaming.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(images, 80);
    const Counters n = counters();
    EXPECT_EQ(n.openVideo, 1);
    EXPECT_EQ(n.openSubdev, 1);
    EXPECT_TRUE(n.streaming);
}

}  // namespace
}  // namespace ozrsim::test
