// Injected driver faults: a stalled stream, failing requests, short and long
// frames, and a device that disappears and comes back.
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim_test_util.h"

namespace ozrsim::test {
namespace {

class Faults : public SimTest {};

TEST_F(Faults, StalledStreamAcceptsTriggersButDeliversNothing) {
    Config cfg = testConfig();
    cfg.faults.stall = true;
    start(cfg);
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    ASSERT_EQ(c.trigger(), 0);
    short ev = 0;
    EXPECT_EQ(pollIn(c.video(), 50, ev), 0);
    EXPECT_EQ(counters().triggers, 1u);
    EXPECT_EQ(counters().frames, 0u);

    // Healed at run time: the next trigger works.
    setFaults(FaultConfig{});
    ASSERT_EQ(c.trigger(), 0);
    v4l2_buffer b;
    EXPECT_EQ(c.dequeue(b), 0);
}

TEST_F(Faults, RequestFailsAfterSomeSuccessfulCalls) {
    Config cfg = testConfig();
    IoctlFault f;
    f.request = VIDIOC_DQBUF;
    f.error = EIO;
    f.after = 2;
    f.times = 1;
    cfg.faults.ioctls.push_back(f);
    start(cfg);
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    ASSERT_EQ(c.trigger(), 0);
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    v4l2_buffer b;
    EXPECT_EQ(c.dequeue(b), 0);
    EXPECT_EQ(c.dequeue(b), 0);
    EXPECT_EQ(c.dequeue(b), EIO);
    EXPECT_EQ(c.dequeue(b), 0) << "failed once only";
    EXPECT_EQ(b.sequence, 2u) << "the failed call dequeued nothing";
}

TEST_F(Faults, FailingControlWrite) {
    Config cfg = testConfig();
    IoctlFault f;
    f.request = VIDIOC_S_CTRL;
    f.error = EBUSY;
    cfg.faults.ioctls.push_back(f);
    start(cfg);
    Capture c;
    EXPECT_EQ(setCtrl(c.subdev(), cid::GAIN, 2), EBUSY);
    EXPECT_EQ(setCtrl(c.subdev(), cid::GAIN, 2), EBUSY) << "times 0 fails for ever";
    EXPECT_EQ(controlValue(cid::GAIN), 1);
}

TEST_F(Faults, ShortAndLongFramesReportTheirBytesUsed) {
    for (int32_t delta : {-1000, 64}) {
        Config cfg = testConfig();
        cfg.faults.bytesusedDelta = delta;
        start(cfg);
        Capture c;
        ASSERT_EQ(c.startStreaming(4), 0);
        ASSERT_EQ(c.trigger(), 0);
        v4l2_buffer b;
        ASSERT_EQ(c.dequeue(b), 0);
        EXPECT_EQ(static_cast<int64_t>(b.bytesused), 320 * 240 * 2 + delta);
        EXPECT_EQ(b.length, 320u * 240 * 2);
        c.release();
        reset();
    }
}

TEST_F(Faults, DeviceDisappearsWhileStreaming) {
    Config cfg = testConfig();
    cfg.faults.disconnectAfterImages = 2;
    start(cfg);
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    ASSERT_EQ(c.trigger(), 0);
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    EXPECT_EQ(counters().imagesDelivered, 2u);

    pollfd p{};
    p.fd = c.video();
    p.events = POLLIN;
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & POLLERR);
    EXPECT_TRUE(p.revents & POLLHUP);
    v4l2_buffer b = makeBuffer();
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_DQBUF, &b), ENODEV);
    EXPECT_EQ(setCtrl(c.subdev(), cid::GAIN, 2), ENODEV);
    EXPECT_EQ(::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, c.video(), 0), MAP_FAILED);
    EXPECT_EQ(errno, ENODEV);

    // The nodes are gone for new users; existing descriptors still close.
    EXPECT_FALSE(std::filesystem::exists("/run/ozr320/video"));
    EXPECT_EQ(::open("/run/ozr320/video", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    std::ifstream probe("/run/ozr320/video");
    EXPECT_FALSE(probe.is_open());
    c.release();
    EXPECT_EQ(counters().openVideo, 0);
    EXPECT_EQ(counters().mappings, 0);
}

TEST_F(Faults, DisconnectWakesABlockedDequeue) {
    start(testConfig());
    Capture c("/run/ozr320/video", "/run/ozr320/subdev", O_RDWR);
    ASSERT_EQ(c.startStreaming(4), 0);
    std::thread unplug([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        disconnect();
    });
    v4l2_buffer b = makeBuffer();
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_DQBUF, &b), ENODEV);
    unplug.join();
}

TEST_F(Faults, DeviceComesBackAsANewInstance) {
    Config cfg = testConfig();
    cfg.faults.disconnectAfterImages = 1;
    start(cfg);
    Capture old;
    ASSERT_EQ(setCtrl(old.subdev(), cid::GAIN, 5), 0);
    ASSERT_EQ(old.startStreaming(4), 0);
    ASSERT_EQ(old.trigger(), 0);
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    reconnect();
    EXPECT_TRUE(std::filesystem::exists("/run/ozr320/video"));
    // The old descriptors stay dead; the new instance starts from defaults
    // with the unplug fault spent.
    EXPECT_EQ(setCtrl(old.subdev(), cid::GAIN, 2), ENODEV);
    short ev = 0;
    EXPECT_EQ(pollIn(old.video(), 0, ev), 1);
    EXPECT_TRUE(ev & POLLHUP);
    EXPECT_EQ(controlValue(cid::GAIN), 1);
    EXPECT_EQ(counters().buffers, 0u);
    Capture fresh;
    ASSERT_TRUE(fresh.ok());
    ASSERT_EQ(fresh.startStreaming(4), 0) << "the old owner holds no buffers";
    ASSERT_EQ(fresh.trigger(), 0);
    for (int i = 0; i < 4; ++i) {
        v4l2_buffer b;
        ASSERT_EQ(fresh.dequeue(b), 0) << i;
        EXPECT_EQ(b.sequence, static_cast<uint32_t>(i));
    }
    old.release();
    fresh.release();
    EXPECT_EQ(counters().openVideo + counters().openSubdev + counters().mappings, 0);
}

}  // namespace
}  // namespace ozrsim::test
