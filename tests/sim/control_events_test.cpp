// Control events of the emulated sub-device: subscriptions, what a change
// reports to whom, one pending event per control, and the wake-ups of poll(),
// select() and epoll.
#include <sys/epoll.h>
#include <sys/select.h>

#include "sim_test_util.h"

namespace ozrsim::test {
namespace {

class ControlEvents : public SimTest {
protected:
    void SetUp() override {
        start(testConfig());
        a_ = ::open("/run/ozr320/subdev", O_RDWR | O_NONBLOCK);
        b_ = ::open("/run/ozr320/subdev", O_RDWR | O_NONBLOCK);
        ASSERT_GE(a_, 0);
        ASSERT_GE(b_, 0);
    }
    void TearDown() override {
        ::close(a_);
        ::close(b_);
        SimTest::TearDown();
    }
    static int subscribe(int fd, uint32_t id, uint32_t flags = 0) {
        v4l2_event_subscription s{};
        s.type = V4L2_EVENT_CTRL;
        s.id = id;
        s.flags = flags;
        return ioctlErr(fd, VIDIOC_SUBSCRIBE_EVENT, &s);
    }
    static int dequeue(int fd, v4l2_event& ev) {
        ev = v4l2_event{};
        return ioctlErr(fd, VIDIOC_DQEVENT, &ev);
    }
    int a_ = -1;
    int b_ = -1;
};

TEST_F(ControlEvents, InitialStateAndChangesOfOtherHandles) {
    v4l2_event ev;
    EXPECT_EQ(subscribe(a_, 0x981904), EINVAL) << "no such control";
    ASSERT_EQ(subscribe(a_, cid::GAIN, V4L2_EVENT_SUB_FL_SEND_INITIAL), 0);
    ASSERT_EQ(dequeue(a_, ev), 0);
    EXPECT_EQ(ev.id, cid::GAIN);
    EXPECT_EQ(ev.u.ctrl.changes, V4L2_EVENT_CTRL_CH_VALUE | V4L2_EVENT_CTRL_CH_FLAGS);
    EXPECT_EQ(ev.u.ctrl.value, 1);
    EXPECT_EQ(ev.u.ctrl.maximum, 16);
    EXPECT_EQ(dequeue(a_, ev), ENOENT);

    // The handle's own change is not reported back, another one's is.
    ASSERT_EQ(setCtrl(a_, cid::GAIN, 3), 0);
    EXPECT_EQ(dequeue(a_, ev), ENOENT);
    ASSERT_EQ(setCtrl(b_, cid::GAIN, 4), 0);
    ASSERT_EQ(setCtrl(b_, cid::GAIN, 4), 0);  // no change, no event
    ASSERT_EQ(dequeue(a_, ev), 0);
    EXPECT_EQ(ev.u.ctrl.changes, V4L2_EVENT_CTRL_CH_VALUE);
    EXPECT_EQ(ev.u.ctrl.value, 4);
    EXPECT_EQ(ev.sequence, 1u);
    EXPECT_EQ(dequeue(a_, ev), ENOENT);
    EXPECT_EQ(dequeue(b_, ev), ENOENT) << "b subscribed to nothing";
}

TEST_F(ControlEvents, OnePendingEventPerControlKeepsTheLatestValue) {
    ASSERT_EQ(subscribe(a_, cid::GAIN, V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK), 0);
    ASSERT_EQ(subscribe(a_, cid::EXPOSURE, V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK), 0);
    ASSERT_EQ(setCtrl(a_, cid::GAIN, 2), 0);
    ASSERT_EQ(setCtrl(a_, cid::EXPOSURE, 700), 0);
    ASSERT_EQ(setCtrl(a_, cid::GAIN, 5), 0);
    ASSERT_EQ(setCtrl(a_, cid::TRIGGER_SHUTTER, 1), 0);  // an action: no event
    v4l2_event ev;
    ASSERT_EQ(dequeue(a_, ev), 0);
    EXPECT_EQ(ev.id, cid::EXPOSURE);
    EXPECT_EQ(ev.pending, 1u);
    ASSERT_EQ(dequeue(a_, ev), 0);
    EXPECT_EQ(ev.id, cid::GAIN);
    EXPECT_EQ(ev.u.ctrl.value, 5);
    EXPECT_EQ(ev.pending, 0u);
    EXPECT_EQ(dequeue(a_, ev), ENOENT);

    // Unsubscribing drops what was pending.
    ASSERT_EQ(setCtrl(b_, cid::GAIN, 6), 0);
    v4l2_event_subscription s{};
    s.type = V4L2_EVENT_ALL;
    ASSERT_EQ(ioctlErr(a_, VIDIOC_UNSUBSCRIBE_EVENT, &s), 0);
    EXPECT_EQ(dequeue(a_, ev), ENOENT);
}

TEST_F(ControlEvents, PendingEventsWakePollSelectAndEpoll) {
    ASSERT_EQ(subscribe(a_, cid::GAIN), 0);
    pollfd p{a_, POLLPRI, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    ASSERT_GE(ep, 0);
    epoll_event reg{};
    reg.events = EPOLLPRI;
    ASSERT_EQ(epoll_ctl(ep, EPOLL_CTL_ADD, a_, &reg), 0);

    ASSERT_EQ(setCtrl(b_, cid::GAIN, 9), 0);
    EXPECT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_EQ(p.revents, POLLPRI);
    fd_set except;
    FD_ZERO(&except);
    FD_SET(a_, &except);
    timeval tv{1, 0};
    EXPECT_EQ(::select(a_ + 1, nullptr, nullptr, &except, &tv), 1);
    epoll_event got{};
    EXPECT_EQ(epoll_wait(ep, &got, 1, 1000), 1);
    EXPECT_TRUE(got.events & EPOLLPRI);

    v4l2_event ev;
    ASSERT_EQ(dequeue(a_, ev), 0);
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    EXPECT_EQ(epoll_wait(ep, &got, 1, 0), 0);
    ::close(ep);
}

}  // namespace
}  // namespace ozrsim::test
