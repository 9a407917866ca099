// The emulated video node through raw V4L2 requests: capabilities, formats,
// buffers, the queue and the trigger.
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <time.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "sim_test_util.h"

namespace ozrsim::test {
namespace {

constexpr uint32_t SIZE_320 = 320 * 240 * 2;

class VideoNode : public SimTest {};

TEST_F(VideoNode, QuerycapNamesTheModelAndOffersStreamingCapture) {
    start(testConfig());
    const int fd = ::open("/run/ozr320/video", O_RDWR);
    ASSERT_GE(fd, 0);
    v4l2_capability cap{};
    ASSERT_EQ(ioctlErr(fd, VIDIOC_QUERYCAP, &cap), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(cap.driver), "ozr320");
    EXPECT_EQ(cap.device_caps,
              V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT);
    EXPECT_TRUE(cap.capabilities & V4L2_CAP_DEVICE_CAPS);
    // The kernel's version, as on every V4L2 node; the driver's own is in sysfs.
    utsname u{};
    ASSERT_EQ(uname(&u), 0);
    unsigned version = 0, release = 0;
    ASSERT_EQ(std::sscanf(u.release, "%u.%u", &version, &release), 2);
    EXPECT_EQ(cap.version >> 8, (version << 8) | release);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(major(st.st_rdev), 81u);
    EXPECT_EQ(::close(fd), 0);

    // The sub-device is no video node.
    const int sd = ::open("/run/ozr320/subdev", O_RDWR);
    ASSERT_GE(sd, 0);
    EXPECT_EQ(ioctlErr(sd, VIDIOC_QUERYCAP, &cap), ENOTTY);
    ::close(sd);
}

TEST_F(VideoNode, OnlyTheConfiguredModelsNodesExist) {
    start(testConfig(Model::OZR310));
    EXPECT_EQ(::open("/run/ozr320/video", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    const int fd = ::open("/run/ozr310/video", O_RDWR);
    ASSERT_GE(fd, 0);
    v4l2_capability cap{};
    ASSERT_EQ(ioctlErr(fd, VIDIOC_QUERYCAP, &cap), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(cap.driver), "ozr310");
    ::close(fd);
}

TEST_F(VideoNode, EnumeratesTheOneSixteenBitFormat) {
    start(testConfig());
    Capture c;
    ASSERT_TRUE(c.ok());
    v4l2_fmtdesc d{};
    d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_ENUM_FMT, &d), 0);
    EXPECT_EQ(d.pixelformat, V4L2_PIX_FMT_Y16);
    d.index = 1;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_ENUM_FMT, &d), EINVAL);
    d.index = 0;
    d.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_ENUM_FMT, &d), EINVAL);
}

TEST_F(VideoNode, DefaultFormatsPerModel) {
    struct Case {
        Model model;
        const char* path;
        uint32_t w, h;
    };
    for (const Case& k : {Case{Model::OZR320, "/run/ozr320/video", 320, 240},
                          Case{Model::OZR310, "/run/ozr310/video", 640, 120}}) {
        start(testConfig(k.model));
        const int fd = ::open(k.path, O_RDWR);
        ASSERT_GE(fd, 0);
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ASSERT_EQ(ioctlErr(fd, VIDIOC_G_FMT, &f), 0);
        EXPECT_EQ(f.fmt.pix.width, k.w);
        EXPECT_EQ(f.fmt.pix.height, k.h);
        EXPECT_EQ(f.fmt.pix.bytesperline, k.w * 2);
        EXPECT_EQ(f.fmt.pix.sizeimage, k.w * 2 * k.h);
        EXPECT_EQ(f.fmt.pix.pixelformat, V4L2_PIX_FMT_Y16);
        ::close(fd);
        reset();
    }
}

TEST_F(VideoNode, SetAndTryFormatAdjustToTheSensor) {
    Config cfg = testConfig();
    cfg.width = 640;
    cfg.height = 480;
    start(cfg);
    Capture c;
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = 100;
    f.fmt.pix.height = 50;
    f.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_TRY_FMT, &f), 0);
    EXPECT_EQ(f.fmt.pix.width, 640u);
    EXPECT_EQ(f.fmt.pix.pixelformat, V4L2_PIX_FMT_Y16);
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_S_FMT, &f), 0);
    EXPECT_EQ(f.fmt.pix.height, 480u);
    EXPECT_EQ(f.fmt.pix.sizeimage, 640u * 480 * 2);
    f.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_S_FMT, &f), EINVAL);
}

TEST_F(VideoNode, ImpossibleFormatsAreRefusedAtConfiguration) {
    Config cfg = testConfig(Model::OZR310);
    cfg.width = 641;  // the two halves must be equally wide
    cfg.height = 120;
    EXPECT_EQ(configure(cfg), -EINVAL);
    EXPECT_FALSE(isConfigured());
    cfg.scene.name = "no-such-scene";
    cfg.width = 0;
    EXPECT_EQ(configure(cfg), -EINVAL);
}

TEST_F(VideoNode, RequestQueryAndMapBuffers) {
    start(testConfig());
    Capture c;
    v4l2_requestbuffers req{};
    req.count = 12;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_REQBUFS, &req), 0);
    EXPECT_EQ(req.count, 12u);
    EXPECT_TRUE(req.capabilities & V4L2_BUF_CAP_SUPPORTS_MMAP);
    EXPECT_EQ(counters().buffers, 12u);

    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < 12; ++i) {
        v4l2_buffer b = makeBuffer(i);
        ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &b), 0);
        EXPECT_EQ(b.length, SIZE_320);
        EXPECT_EQ(b.flags & (V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_DONE | V4L2_BUF_FLAG_MAPPED), 0u);
        EXPECT_EQ(b.m.offset % static_cast<uint32_t>(sysconf(_SC_PAGESIZE)), 0u);
        offsets.push_back(b.m.offset);
    }
    std::sort(offsets.begin(), offsets.end());
    EXPECT_EQ(std::unique(offsets.begin(), offsets.end()), offsets.end());

    v4l2_buffer b = makeBuffer(3);
    ioctlErr(c.video(), VIDIOC_QUERYBUF, &b);
    void* p = ::mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, c.video(), b.m.offset);
    ASSERT_NE(p, MAP_FAILED);
    EXPECT_EQ(counters().mappings, 1);
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &b), 0);
    EXPECT_TRUE(b.flags & V4L2_BUF_FLAG_MAPPED);
    std::memset(p, 0x5a, b.length);  // the whole length is writable

    // Releasing the buffers orphans the mapping, which stays usable.
    req.count = 0;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_REQBUFS, &req), 0);
    EXPECT_EQ(counters().buffers, 0u);
    EXPECT_EQ(static_cast<unsigned char*>(p)[b.length - 1], 0x5a);
    EXPECT_EQ(::munmap(p, b.length), 0);
    EXPECT_EQ(counters().mappings, 0);
}

TEST_F(VideoNode, RequestLimitsAndWrongArguments) {
    start(testConfig());
    Capture c;
    v4l2_requestbuffers req{};
    req.count = 100;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_REQBUFS, &req), 0);
    EXPECT_EQ(req.count, MAX_BUFFERS);
    req.memory = V4L2_MEMORY_USERPTR;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_REQBUFS, &req), EINVAL);
    req.memory = V4L2_MEMORY_MMAP;
    req.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_REQBUFS, &req), EINVAL);

    v4l2_buffer b = makeBuffer(MAX_BUFFERS);
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &b), EINVAL);
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_QBUF, &b), EINVAL);
    b = makeBuffer(0);
    b.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_QBUF, &b), EINVAL);
    b = makeBuffer(0);
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QBUF, &b), 0);
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_QBUF, &b), EINVAL);  // already queued

    // Mappings must be shared, readable, at a buffer offset, within its length.
    const long page = sysconf(_SC_PAGESIZE);
    const size_t len = static_cast<size_t>(SIZE_320);
    EXPECT_EQ(::mmap(nullptr, len, PROT_READ, MAP_PRIVATE, c.video(), 0), MAP_FAILED);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(::mmap(nullptr, len, PROT_READ, MAP_SHARED, c.video(), page), MAP_FAILED);
    EXPECT_EQ(::mmap(nullptr, len, PROT_READ, MAP_SHARED, c.video(), page * 1000), MAP_FAILED);
    EXPECT_EQ(::mmap(nullptr, len * 2, PROT_READ, MAP_SHARED, c.video(), 0), MAP_FAILED);
    EXPECT_EQ(::mmap(nullptr, len, PROT_READ, MAP_SHARED, c.subdev(), 0), MAP_FAILED);
    EXPECT_EQ(errno, ENODEV);

    // Requests the driver does not know.
    v4l2_std_id std = 0;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_G_STD, &std), ENOTTY);
    v4l2_control ctrl{};
    ctrl.id = cid::GAIN;
    // The video node has no controls: they live on the sub-device.
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_G_CTRL, &ctrl), EINVAL);
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_QUERYCTRL, &q), EINVAL);
}

TEST_F(VideoNode, TriggeredFrameArrivesInQueueOrderWithFlagsAndSequence) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.allocate(4), 0);
    ASSERT_EQ(c.queueAll(), 0);
    v4l2_buffer q = makeBuffer(2);
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &q), 0);
    EXPECT_TRUE(q.flags & V4L2_BUF_FLAG_QUEUED);
    ASSERT_EQ(c.streamOn(), 0);

    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    ASSERT_EQ(c.trigger(), 0);
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    q = makeBuffer(3);
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &q), 0);
    EXPECT_EQ(q.flags & (V4L2_BUF_FLAG_DONE | V4L2_BUF_FLAG_QUEUED), V4L2_BUF_FLAG_DONE);
    for (uint32_t i = 0; i < 4; ++i) {
        v4l2_buffer b;
        ASSERT_EQ(c.dequeue(b), 0) << "image " << i;
        EXPECT_EQ(b.index, i);
        EXPECT_EQ(b.sequence, i);
        EXPECT_EQ(b.bytesused, SIZE_320);
        EXPECT_FALSE(b.flags & V4L2_BUF_FLAG_DONE) << "cleared once dequeued";
        EXPECT_TRUE(b.flags & V4L2_BUF_FLAG_MAPPED);
        EXPECT_FALSE(b.flags & V4L2_BUF_FLAG_QUEUED);
        EXPECT_EQ(b.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK, V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC);
        EXPECT_GE(b.timestamp.tv_sec * 1000000L + b.timestamp.tv_usec,
                  before.tv_sec * 1000000L + before.tv_nsec / 1000);
        // The 12-bit samples sit in the upper bits.
        const uint16_t* px = c.data(b.index);
        for (size_t k = 0; k < 320 * 240; k += 997) EXPECT_EQ(px[k] & 0xF, 0) << k;
        v4l2_buffer after = makeBuffer(b.index);
        ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &after), 0);
        EXPECT_FALSE(after.flags & (V4L2_BUF_FLAG_DONE | V4L2_BUF_FLAG_QUEUED));
        ASSERT_EQ(c.requeue(b), 0);
    }
    ASSERT_EQ(c.trigger(), 0);
    v4l2_buffer b;
    ASSERT_EQ(c.dequeue(b), 0);
    EXPECT_EQ(b.sequence, 4u);
    EXPECT_EQ(b.index, 0u);
}

TEST_F(VideoNode, EachTriggerGivesExactlyTheImagesOfOneFrame) {
    struct Case {
        AcqType acq;
        int images;
    };
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.startStreaming(12), 0);
    for (const Case& k :
         {Case{AcqType::Grayscale, 1}, Case{AcqType::FourDcs, 4}, Case{AcqType::Hdr, 12}}) {
        ASSERT_EQ(setCtrl(c.subdev(), cid::ACQUISITION_MODE, static_cast<int>(k.acq)), 0);
        const uint64_t before = counters().imagesDelivered;
        ASSERT_EQ(c.trigger(), 0);
        ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
        EXPECT_EQ(counters().imagesDelivered - before, static_cast<uint64_t>(k.images));
        for (int i = 0; i < k.images; ++i) {
            v4l2_buffer b;
            ASSERT_EQ(c.dequeue(b), 0);
            ASSERT_EQ(c.requeue(b), 0);
        }
        short ev = 0;
        EXPECT_EQ(pollIn(c.video(), 20, ev), 0) << "no image beyond the frame";
    }
    EXPECT_EQ(counters().triggers, 3u);
    EXPECT_EQ(counters().frames, 3u);
    EXPECT_EQ(counters().imagesDropped, 0u);
}

TEST_F(VideoNode, NoTriggerNoFrame) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    short ev = 0;
    EXPECT_EQ(pollIn(c.video(), 50, ev), 0);
    v4l2_buffer b = makeBuffer();
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_DQBUF, &b), EAGAIN);
    EXPECT_EQ(counters().frames, 0u);
}

TEST_F(VideoNode, PollReportsErrorUntilStreamingWithQueuedBuffers) {
    start(testConfig());
    Capture c;
    short ev = 0;
    EXPECT_EQ(pollIn(c.video(), 1000, ev), 1);
    EXPECT_EQ(ev, POLLERR);
    ASSERT_EQ(c.allocate(4), 0);
    ASSERT_EQ(c.streamOn(), 0);
    EXPECT_EQ(pollIn(c.video(), 1000, ev), 1);
    EXPECT_EQ(ev, POLLERR) << "streaming, but nothing ever queued";
    ASSERT_EQ(c.queueAll(), 0);
    EXPECT_EQ(pollIn(c.video(), 10, ev), 0);
    v4l2_buffer b = makeBuffer();
    ASSERT_EQ(c.streamOff(), 0);
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_DQBUF, &b), EINVAL);
}

TEST_F(VideoNode, SelectWakesForAReadyBuffer) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(c.video(), &fds);
    timeval tv{0, 20000};
    EXPECT_EQ(::select(c.video() + 1, &fds, nullptr, nullptr, &tv), 0);
    ASSERT_EQ(c.trigger(), 0);
    FD_ZERO(&fds);
    FD_SET(c.video(), &fds);
    tv = {2, 0};
    EXPECT_EQ(::select(c.video() + 1, &fds, nullptr, nullptr, &tv), 1);
    v4l2_buffer b = makeBuffer();
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_DQBUF, &b), 0);
}

TEST_F(VideoNode, StreamoffReturnsEveryBufferToTheApplication) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.startStreaming(6), 0);
    ASSERT_EQ(c.trigger(), 0);  // four done, two still queued
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    ASSERT_EQ(c.streamOff(), 0);
    for (uint32_t i = 0; i < 6; ++i) {
        v4l2_buffer b = makeBuffer(i);
        ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &b), 0);
        EXPECT_FALSE(b.flags & (V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_DONE)) << i;
    }
    // Everything can be queued again and streaming restarts with sequence 0.
    ASSERT_EQ(c.queueAll(), 0);
    ASSERT_EQ(c.streamOn(), 0);
    ASSERT_EQ(c.trigger(), 0);
    v4l2_buffer b;
    ASSERT_EQ(c.dequeue(b), 0);
    EXPECT_EQ(b.sequence, 0u);
    EXPECT_EQ(counters().streamOns, 2u);
}

TEST_F(VideoNode, BufferAndFormatChangesAreRefusedWhileBusy) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.allocate(4), 0);
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_G_FMT, &f), 0);
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_S_FMT, &f), EBUSY);
    ASSERT_EQ(c.queueAll(), 0);
    ASSERT_EQ(c.streamOn(), 0);
    v4l2_requestbuffers req{};
    req.count = 4;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_REQBUFS, &req), EBUSY);
    req.count = 0;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_REQBUFS, &req), EBUSY);
}

TEST_F(VideoNode, ASecondHandleMayQueryButNotStream) {
    start(testConfig());
    {
        Capture c;
        ASSERT_EQ(c.allocate(4), 0);
        const int other = ::open("/run/ozr320/video", O_RDWR | O_NONBLOCK);
        ASSERT_GE(other, 0);
        EXPECT_EQ(counters().openVideo, 2);
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        EXPECT_EQ(ioctlErr(other, VIDIOC_G_FMT, &f), 0);
        v4l2_requestbuffers req{};
        req.count = 2;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        EXPECT_EQ(ioctlErr(other, VIDIOC_REQBUFS, &req), EBUSY);
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        EXPECT_EQ(ioctlErr(other, VIDIOC_STREAMON, &type), EBUSY);
        short ev = 0;
        EXPECT_EQ(pollIn(other, 0, ev), 1);
        EXPECT_EQ(ev, POLLERR);
        ::close(other);
    }
    // Closing the owner released the queue for others.
    EXPECT_EQ(counters().buffers, 0u);
    Capture next;
    EXPECT_EQ(next.allocate(2), 0);
}

TEST_F(VideoNode, ImagesWithoutAQueuedBufferAreDropped) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.allocate(4), 0);
    for (uint32_t i = 0; i < 2; ++i) {
        v4l2_buffer b = makeBuffer(i);
        ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QBUF, &b), 0);
    }
    ASSERT_EQ(c.streamOn(), 0);
    ASSERT_EQ(c.trigger(), 0);
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    EXPECT_EQ(counters().imagesDelivered, 2u);
    EXPECT_EQ(counters().imagesDropped, 2u);
    v4l2_buffer b;
    ASSERT_EQ(c.dequeue(b), 0);
    EXPECT_EQ(b.sequence, 0u);
    ASSERT_EQ(c.requeue(b), 0);
    ASSERT_EQ(c.dequeue(b), 0);
    EXPECT_EQ(b.sequence, 1u);
    ASSERT_EQ(c.requeue(b), 0);
    // The dropped images left a gap in the sequence.
    ASSERT_EQ(c.trigger(), 0);
    ASSERT_EQ(c.dequeue(b), 0);
    EXPECT_EQ(b.sequence, 4u);
}

TEST_F(VideoNode, BlockingDequeueWaitsForTheImage) {
    start(testConfig());
    Capture c("/run/ozr320/video", "/run/ozr320/subdev", O_RDWR);
    ASSERT_EQ(c.startStreaming(4), 0);
    std::thread trigger([&c] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        c.trigger();
    });
    v4l2_buffer b = makeBuffer();
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_DQBUF, &b), 0);
    EXPECT_EQ(b.sequence, 0u);
    trigger.join();
}

TEST_F(VideoNode, FreeRunningDeliversWithoutTrigger) {
    Config cfg = testConfig();
    cfg.timing.freeRun = true;
    cfg.timing.framePeriodUs = 5000;
    start(cfg);
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    for (uint32_t i = 0; i < 8; ++i) {
        v4l2_buffer b;
        ASSERT_EQ(c.dequeue(b), 0) << i;
        ASSERT_EQ(c.requeue(b), 0);
    }
    EXPECT_EQ(counters().triggers, 0u);
    EXPECT_GE(counters().frames, 2u);
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_G_PARM, &parm), 0);
    EXPECT_EQ(parm.parm.capture.timeperframe.numerator * 1000000u /
                  parm.parm.capture.timeperframe.denominator,
              5000u);
}

TEST_F(VideoNode, FramesCarryTheSceneAndItsGroundTruth) {
    Config cfg = testConfig(Model::OZR310);
    cfg.scene.name = "wall";
    cfg.scene.wallDistanceMm = 2000.0f;
    start(cfg);
    Capture c("/run/ozr310/video", "/run/ozr310/subdev");
    ASSERT_EQ(c.startStreaming(4), 0);
    ASSERT_EQ(c.trigger(), 0);
    ASSERT_TRUE(waitIdle(std::chrono::seconds(2)));
    const GroundTruth truth = lastTruth();
    EXPECT_EQ(truth.width, 320u);  // unfolded sensor image
    EXPECT_EQ(truth.height, 240u);
    ASSERT_EQ(truth.distanceMm.size(), 320u * 240u);
    const float centre = truth.distanceMm[120 * 320 + 160];
    EXPECT_NEAR(centre, 2000.0f, 1.0f);
    // The four images differ: they sample four phases of the signal.
    std::vector<std::vector<uint16_t>> images;
    for (int i = 0; i < 4; ++i) {
        v4l2_buffer b;
        ASSERT_EQ(c.dequeue(b), 0);
        images.emplace_back(c.data(b.index), c.data(b.index) + 640 * 120);
    }
    EXPECT_NE(images[0], images[2]);
    EXPECT_EQ(lastState().model, Model::OZR310);
    EXPECT_EQ(lastState().frameIndex, 0u);
}

}  // namespace
}  // namespace ozrsim::test
