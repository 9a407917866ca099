// The emulated video node as the V4L2 core and the buffer queue check its
// requests: unknown requests and bad arguments, cleared output fields, file
// handle priorities, buffers added with CREATE_BUFS, frame intervals, and
// the readout timing of a frame.
#include <sys/ioctl.h>

#include <cstring>

#include "sim_test_util.h"

namespace ozrsim::test {
namespace {

class VideoRequests : public SimTest {};

TEST_F(VideoRequests, UnknownRequestsAndMissingArguments) {
    start(testConfig());
    const int fd = ::open("/run/ozr320/video", O_RDWR);
    const int sd = ::open("/run/ozr320/subdev", O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_GE(sd, 0);
    // An unknown request is refused before its argument is looked at, unless
    // the argument has to be copied in first.
    for (const int node : {fd, sd}) {
        EXPECT_EQ(ioctlErr(node, _IOC(_IOC_NONE, 'V', 0xff, 0), nullptr), ENOTTY);
        EXPECT_EQ(ioctlErr(node, _IOC(_IOC_READ, 'V', 0, 0x3fff), nullptr), ENOTTY);
        EXPECT_EQ(ioctlErr(node, _IOC(_IOC_WRITE, 'V', 0, 0x3fff), nullptr), EFAULT);
        EXPECT_EQ(ioctlErr(node, VIDIOC_G_CTRL, nullptr), EFAULT);
    }
    EXPECT_EQ(ioctlErr(fd, VIDIOC_QUERYCAP, nullptr), EFAULT);
    EXPECT_EQ(ioctlErr(sd, VIDIOC_G_PRIORITY, nullptr), ENOTTY) << "no priorities";

    // Output fields are the driver's, whatever the application left there.
    v4l2_frmsizeenum s;
    std::memset(&s, 0xff, sizeof(s));
    s.index = 0;
    s.pixel_format = V4L2_PIX_FMT_Y16;
    ASSERT_EQ(ioctlErr(fd, VIDIOC_ENUM_FRAMESIZES, &s), 0);
    EXPECT_EQ(s.reserved[0] | s.reserved[1], 0u);
    v4l2_querymenu m;
    std::memset(&m, 0xff, sizeof(m));
    m.id = cid::ACQUISITION_MODE;
    m.index = 0;
    ASSERT_EQ(ioctlErr(sd, VIDIOC_QUERYMENU, &m), 0);
    EXPECT_EQ(m.reserved, 0u);
    ::close(sd);
    ::close(fd);
}

TEST_F(VideoRequests, HandlesBelowTheHighestPriorityMayNotChangeTheDevice) {
    start(testConfig());
    Capture owner;
    const int other = ::open("/run/ozr320/video", O_RDWR);
    ASSERT_GE(other, 0);
    uint32_t prio = V4L2_PRIORITY_RECORD;
    ASSERT_EQ(ioctlErr(other, VIDIOC_S_PRIORITY, &prio), 0);
    prio = 0;
    ASSERT_EQ(ioctlErr(owner.video(), VIDIOC_G_PRIORITY, &prio), 0);
    EXPECT_EQ(prio, static_cast<uint32_t>(V4L2_PRIORITY_RECORD)) << "the node's highest";
    EXPECT_EQ(owner.allocate(4), EBUSY);
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(ioctlErr(owner.video(), VIDIOC_G_FMT, &f), 0) << "reading is always allowed";
    EXPECT_EQ(ioctlErr(owner.video(), VIDIOC_S_FMT, &f), EBUSY);
    prio = V4L2_PRIORITY_INTERACTIVE;
    EXPECT_EQ(ioctlErr(owner.video(), VIDIOC_S_PRIORITY, &prio), EBUSY);
    prio = V4L2_PRIORITY_UNSET;
    EXPECT_EQ(ioctlErr(other, VIDIOC_S_PRIORITY, &prio), EINVAL);
    ::close(other);  // its priority goes with it
    EXPECT_EQ(owner.allocate(4), 0);
}

TEST_F(VideoRequests, CreateBufsAddsLargerBuffersAfterTheOthers) {
    start(testConfig());
    Capture c;
    v4l2_create_buffers cb{};
    cb.memory = V4L2_MEMORY_MMAP;
    cb.format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_G_FMT, &cb.format), 0);
    const uint32_t image = cb.format.fmt.pix.sizeimage;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_CREATE_BUFS, &cb), 0) << "count 0 only asks";
    EXPECT_TRUE(cb.capabilities & V4L2_BUF_CAP_SUPPORTS_MMAP);
    EXPECT_EQ(counters().buffers, 0u);
    ASSERT_EQ(c.allocate(2), 0);

    cb.count = 2;
    cb.format.fmt.pix.sizeimage = image - 1;
    EXPECT_EQ(ioctlErr(c.video(), VIDIOC_CREATE_BUFS, &cb), EINVAL) << "too small for an image";
    cb.format.fmt.pix.sizeimage = image + 10000;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_CREATE_BUFS, &cb), 0);
    EXPECT_EQ(cb.index, 2u);
    EXPECT_EQ(cb.count, 2u);
    v4l2_buffer last = makeBuffer(1);
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &last), 0);
    v4l2_buffer added = makeBuffer(3);
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QUERYBUF, &added), 0);
    EXPECT_EQ(added.length, image + 10000);
    EXPECT_GT(added.m.offset, last.m.offset);
    void* p = ::mmap(nullptr, added.length, PROT_READ | PROT_WRITE, MAP_SHARED, c.video(),
                     added.m.offset);
    ASSERT_NE(p, MAP_FAILED);
    static_cast<char*>(p)[added.length - 1] = 1;
    ::munmap(p, added.length);

    // Streaming fills the added buffers like the others.
    for (uint32_t i = 0; i < 4; ++i) {
        v4l2_buffer b = makeBuffer(i);
        ASSERT_EQ(ioctlErr(c.video(), VIDIOC_QBUF, &b), 0);
    }
    ASSERT_EQ(c.streamOn(), 0);
    ASSERT_EQ(c.trigger(), 0);
    for (uint32_t i = 0; i < 4; ++i) {
        v4l2_buffer b;
        ASSERT_EQ(c.dequeue(b), 0);
        EXPECT_EQ(b.bytesused, image);
    }
}

TEST_F(VideoRequests, FrameIntervalsStartAtTheTimeOneFrameTakes) {
    Config cfg = testConfig();
    cfg.timing.exposureDelayUs = 1000;
    cfg.timing.readoutUs = 500;
    start(cfg);
    Capture c;
    v4l2_frmivalenum iv{};
    iv.pixel_format = V4L2_PIX_FMT_Y16;
    iv.width = 320;
    iv.height = 240;
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_ENUM_FRAMEINTERVALS, &iv), 0);
    ASSERT_EQ(iv.type, static_cast<uint32_t>(V4L2_FRMIVAL_TYPE_CONTINUOUS));
    EXPECT_EQ(iv.stepwise.min.numerator * 1000000 / iv.stepwise.min.denominator, 3000u);
    ASSERT_EQ(setCtrl(c.subdev(), cid::ACQUISITION_MODE, 2), 0);  // 12 images
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = {1, 1000};
    ASSERT_EQ(ioctlErr(c.video(), VIDIOC_S_PARM, &parm), 0);
    const v4l2_fract t = parm.parm.capture.timeperframe;
    EXPECT_EQ(t.numerator * 1000000 / t.denominator, 7000u);
}

TEST_F(VideoRequests, ImagesOfAFrameComeOneReadoutApartEvenWhenRenderedLate) {
    Config cfg = testConfig();
    cfg.timing.exposureDelayUs = 0;  // every image is due before rendering ends
    cfg.timing.readoutUs = 4000;
    start(cfg);
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    ASSERT_EQ(c.trigger(), 0);
    // Three readout times lie between the first image and the last; a burst
    // would deliver all four at once. Half of it leaves room for late
    // wake-ups of the worker on a busy machine.
    int64_t first = 0, last = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        v4l2_buffer b;
        ASSERT_EQ(c.dequeue(b), 0);
        last = b.timestamp.tv_sec * 1000000L + b.timestamp.tv_usec;
        if (i == 0) first = last;
    }
    EXPECT_GE(last - first, 6000);
}

}  // namespace
}  // namespace ozrsim::test
