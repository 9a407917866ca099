// Helpers of the virtual driver's tests: raw V4L2 calls on the emulated
// nodes, as an application would make them.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "ozrsim.h"
#include "support/sim_config.h"

namespace ozrsim::test {

// Configures the emulation for one test and resets it afterwards.
class SimTest : public ::testing::Test {
protected:
    // Fast and deterministic defaults for tests.
    static Config testConfig(Model model = Model::OZR320) {
        return testsupport::fastSimConfig(model);
    }
    void start(const Config& c) { ASSERT_EQ(configure(c), 0); }
    void TearDown() override { reset(); }
};

// The errno of a failing ioctl, 0 on success.
inline int ioctlErr(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

inline int setCtrl(int fd, uint32_t id, int32_t value) {
    v4l2_control c{};
    c.id = id;
    c.value = value;
    return ioctlErr(fd, VIDIOC_S_CTRL, &c);
}

inline int getCtrl(int fd, uint32_t id, int32_t& value) {
    v4l2_control c{};
    c.id = id;
    const int e = ioctlErr(fd, VIDIOC_G_CTRL, &c);
    value = c.value;
    return e;
}

inline v4l2_buffer makeBuffer(uint32_t index = 0) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = index;
    return b;
}

// Polls for POLLIN; returns poll's result and the events seen.
inline int pollIn(int fd, int timeoutMs, short& revents) {
    pollfd p{};
    p.fd = fd;
    p.events = POLLIN;
    const int r = ::poll(&p, 1, timeoutMs);
    revents = p.revents;
    return r;
}

// An opened node pair with mapped streaming buffers, released on
// destruction in the order the camera library uses.
class Capture {
public:
    explicit Capture(const char* video = "/run/ozr320/video",
                     const char* subdev = "/run/ozr320/subdev", int flags = O_RDWR | O_NONBLOCK)
        : video_(::open(video, flags)), subdev_(::open(subdev, O_RDWR)) {}
    ~Capture() { release(); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    int video() const { return video_; }
    int subdev() const { return subdev_; }
    bool ok() const { return video_ >= 0 && subdev_ >= 0; }

    // REQBUFS + QUERYBUF + mmap; returns the errno of the first failure.
    int allocate(uint32_t count) {
        v4l2_requestbuffers req{};
        req.count = count;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (int e = ioctlErr(video_, VIDIOC_REQBUFS, &req)) return e;
        for (uint32_t i = 0; i < req.count; ++i) {
            v4l2_buffer b = makeBuffer(i);
            if (int e = ioctlErr(video_, VIDIOC_QUERYBUF, &b)) return e;
            void* p =
                ::mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, video_, b.m.offset);
            if (p == MAP_FAILED) return errno;
            maps_.push_back({p, b.length});
        }
        return 0;
    }
    int queueAll() {
        for (uint32_t i = 0; i < maps_.size(); ++i) {
            v4l2_buffer b = makeBuffer(i);
            if (int e = ioctlErr(video_, VIDIOC_QBUF, &b)) return e;
        }
        return 0;
    }
    int streamOn() {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return ioctlErr(video_, VIDIOC_STREAMON, &type);
    }
    // allocate + queueAll + streamOn: ready for the first trigger.
    int startStreaming(uint32_t count) {
        if (int e = allocate(count)) return e;
        if (int e = queueAll()) return e;
        return streamOn();
    }
    int streamOff() {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return ioctlErr(video_, VIDIOC_STREAMOFF, &type);
    }
    int trigger() { return setCtrl(subdev_, cid::TRIGGER_SHUTTER, 1); }
    // Waits up to timeoutMs for a buffer and dequeues it.
    int dequeue(v4l2_buffer& b, int timeoutMs = 1000) {
        short ev = 0;
        if (pollIn(video_, timeoutMs, ev) <= 0) return ETIMEDOUT;
        if (!(ev & POLLIN)) return EBUSY;
        b = makeBuffer();
        return ioctlErr(video_, VIDIOC_DQBUF, &b);
    }
    int requeue(const v4l2_buffer& done) {
        v4l2_buffer b = makeBuffer(done.index);
        return ioctlErr(video_, VIDIOC_QBUF, &b);
    }
    const uint16_t* data(uint32_t index) const {
        return static_cast<const uint16_t*>(maps_.at(index).first);
    }
    size_t mapped() const { return maps_.size(); }
    void unmapAll() {
        for (auto& [p, len] : maps_) ::munmap(p, len);
        maps_.clear();
    }
    // Closes both nodes without any clean-up, as an application that just
    // exits would.
    void closeAbruptly() {
        for (auto& [p, len] : maps_) ::munmap(p, len);
        maps_.clear();
        if (video_ >= 0) ::close(video_);
        if (subdev_ >= 0) ::close(subdev_);
        video_ = subdev_ = -1;
    }
    void release() {
        if (video_ >= 0) streamOff();
        unmapAll();
        if (video_ >= 0) {
            v4l2_requestbuffers req{};
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            ioctlErr(video_, VIDIOC_REQBUFS, &req);
            ::close(video_);
        }
        if (subdev_ >= 0) ::close(subdev_);
        video_ = subdev_ = -1;
    }

private:
    int video_;
    int subdev_;
    std::vector<std::pair<void*, size_t>> maps_;
};

}  // namespace ozrsim::test
