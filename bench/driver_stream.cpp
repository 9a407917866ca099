#include "driver_stream.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "ozrsim.h"

DriverStream::DriverStream(const char* videoPath, const char* subdevPath, unsigned buffers,
                           std::optional<int> acquisitionMode)
    : video_(open(videoPath, O_RDWR)), subdev_(open(subdevPath, O_RDWR)), buffers_(buffers) {
    bool ok = video_ >= 0 && subdev_ >= 0 && buffers > 0 && buffers <= MAX_BUFFERS;
    if (ok && acquisitionMode) {
        v4l2_control mode{ozrsim::cid::ACQUISITION_MODE, *acquisitionMode};
        ok = ioctl(subdev_, VIDIOC_S_CTRL, &mode) == 0;
    }
    v4l2_requestbuffers req{};
    req.count = buffers;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    ok = ok && ioctl(video_, VIDIOC_REQBUFS, &req) == 0 && req.count == buffers;
    for (unsigned i = 0; ok && i < buffers; ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        ok = ioctl(video_, VIDIOC_QUERYBUF, &b) == 0;
        if (ok) {
            lengths_[i] = b.length;
            maps_[i] =
                mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, video_, b.m.offset);
            ok = maps_[i] != MAP_FAILED && ioctl(video_, VIDIOC_QBUF, &b) == 0;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    streaming_ = ok && ioctl(video_, VIDIOC_STREAMON, &type) == 0;
    ok_ = streaming_;
}

DriverStream::~DriverStream() {
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ioctl(video_, VIDIOC_STREAMOFF, &type);
    }
    for (unsigned i = 0; i < MAX_BUFFERS; ++i) {
        if (maps_[i] != nullptr && maps_[i] != MAP_FAILED) munmap(maps_[i], lengths_[i]);
    }
    if (subdev_ >= 0) close(subdev_);
    if (video_ >= 0) close(video_);
}

bool DriverStream::frame(unsigned images) {
    if (!ok_) return false;
    v4l2_control trigger{ozrsim::cid::TRIGGER_SHUTTER, 1};
    ioctl(subdev_, VIDIOC_S_CTRL, &trigger);
    for (unsigned k = 0; k < images; ++k) {
        pollfd p{video_, POLLIN, 0};
        poll(&p, 1, 1000);
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (ioctl(video_, VIDIOC_DQBUF, &b) != 0) return false;
        benchmark::DoNotOptimize(maps_[b.index]);
        ioctl(video_, VIDIOC_QBUF, &b);
    }
    return true;
}
