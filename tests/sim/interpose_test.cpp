// How the emulation sits between programs and the C library: every route to
// the entry points ends in it (also behind sanitizer runtimes), duplicated
// descriptors share the open file as the kernel's do, and nothing leaks over
// many open/stream/close cycles.
#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <sys/select.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sim_test_util.h"

namespace ozrsim::test {
namespace {

size_t openDescriptors() {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)e;
        ++n;
    }
    return n;
}

// Mappings of the driver's buffer memory, its own and the application's.
size_t bufferMappings() {
    std::ifstream maps("/proc/self/maps");
    size_t n = 0;
    std::string line;
    while (std::getline(maps, line)) n += line.find("ozrsim-buffer") != std::string::npos;
    return n;
}

class Interposition : public SimTest {};

TEST_F(Interposition, GlobalDefinitionsLeadToTheEmulation) {
    start(testConfig());
    // Calls through the process-wide definitions, as a library other than
    // this test would make them (with a sanitizer runtime in front).
    using OpenFn = int (*)(const char*, int, ...);
    using IoctlFn = int (*)(int, unsigned long, ...);
    using CloseFn = int (*)(int);
    auto openFn = reinterpret_cast<OpenFn>(dlsym(RTLD_DEFAULT, "open"));
    auto open64Fn = reinterpret_cast<OpenFn>(dlsym(RTLD_DEFAULT, "open64"));
    auto ioctlFn = reinterpret_cast<IoctlFn>(dlsym(RTLD_DEFAULT, "ioctl"));
    auto closeFn = reinterpret_cast<CloseFn>(dlsym(RTLD_DEFAULT, "close"));
    ASSERT_TRUE(openFn && open64Fn && ioctlFn && closeFn);
    for (OpenFn fn : {openFn, open64Fn}) {
        const int fd = fn("/run/ozr320/video", O_RDWR);
        ASSERT_GE(fd, 0);
        v4l2_capability cap{};
        EXPECT_EQ(ioctlFn(fd, VIDIOC_QUERYCAP, &cap), 0);
        EXPECT_STREQ(reinterpret_cast<const char*>(cap.driver), "ozr320");
        EXPECT_EQ(closeFn(fd), 0);
    }
    const int fd = ::openat(AT_FDCWD, "/run/ozr320/subdev", O_RDWR);
    ASSERT_GE(fd, 0);
    int32_t v = 0;
    EXPECT_EQ(getCtrl(fd, cid::GAIN, v), 0);
    ::close(fd);
    FILE* f = ::fopen("/sys/module/cam_ozr320/version", "r");
    ASSERT_NE(f, nullptr);
    fclose(f);
    DIR* d = ::opendir("/sys/class/hwmon");
    ASSERT_NE(d, nullptr);
    closedir(d);
    EXPECT_EQ(counters().openVideo + counters().openSubdev, 0);
}

TEST_F(Interposition, UnconfiguredDescriptorsAreLeftAlone) {
    // A real descriptor whose number later belongs to a served node must not
    // be mistaken for one, and vice versa.
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    v4l2_capability cap{};
    EXPECT_EQ(ioctlErr(pipefd[0], VIDIOC_QUERYCAP, &cap), ENOTTY);
    ::close(pipefd[0]);
    ::close(pipefd[1]);
    start(testConfig());
    const int fd = ::open("/run/ozr320/video", O_RDWR);
    ASSERT_GE(fd, 0);
    reset();
    // After a reset the descriptor serves nothing but still closes.
    EXPECT_EQ(ioctlErr(fd, VIDIOC_QUERYCAP, &cap), ENOTTY);
    EXPECT_EQ(::close(fd), 0);
}

TEST_F(Interposition, NodeClosedBehindTheEmulationsBackIsForgotten) {
    start(testConfig());
    const int fd = ::open("/run/ozr320/video", O_RDWR);
    ASSERT_GE(fd, 0);
    // dup2 replaces the node's descriptor with an ordinary pipe.
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    ASSERT_EQ(::dup2(pipefd[0], fd), fd);
    v4l2_capability cap{};
    EXPECT_EQ(ioctlErr(fd, VIDIOC_QUERYCAP, &cap), ENOTTY);
    EXPECT_EQ(counters().openVideo, 0);
    ::close(fd);
    ::close(pipefd[0]);
    ::close(pipefd[1]);
}

TEST_F(Interposition, ForkedChildUsesTheDeviceAndLeavesTheParentsFiles) {
    start(testConfig());
    const std::string root = rootDirectory();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 1;
        Capture c;
        if (c.ok() && c.allocate(4) == 0 && c.queueAll() == 0 && c.streamOn() == 0 &&
            c.trigger() == 0) {
            v4l2_buffer b;
            status = c.dequeue(b) == 0 ? 0 : 2;
        }
        c.release();
        std::exit(status);  // runs the exit handlers of the child
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::filesystem::exists(root + "/run/ozr320/video"));
    EXPECT_TRUE(std::filesystem::exists("/run/ozr320/video"));
}

TEST_F(Interposition, NothingLeaksOverManyStreamingCycles) {
    start(testConfig());
    const size_t fdsBefore = openDescriptors();
    for (int cycle = 0; cycle < 30; ++cycle) {
        Capture c;
        ASSERT_TRUE(c.ok());
        ASSERT_EQ(c.startStreaming(cycle % 2 ? 4 : 12), 0);
        ASSERT_EQ(c.trigger(), 0);
        if (cycle == 0) {
            EXPECT_EQ(bufferMappings(), 24u) << "the driver's mapping and the application's";
        }
        for (int i = 0; i < 4; ++i) {
            v4l2_buffer b;
            ASSERT_EQ(c.dequeue(b), 0);
            ASSERT_EQ(c.requeue(b), 0);
        }
        if (cycle % 3 == 0) {
            // An application that just closes: the driver releases the queue.
            c.closeAbruptly();
            EXPECT_EQ(counters().buffers, 0u);
            EXPECT_FALSE(counters().streaming);
        }
    }
    const Counters n = counters();
    EXPECT_EQ(n.openVideo, 0);
    EXPECT_EQ(n.openSubdev, 0);
    EXPECT_EQ(n.mappings, 0);
    EXPECT_EQ(n.buffers, 0u);
    EXPECT_EQ(openDescriptors(), fdsBefore);
    EXPECT_EQ(bufferMappings(), 0u) << "buffer memory is unmapped everywhere";
}

// ---------------------------------------------------------------- duplicates

// A free descriptor number well above the ones in use.
int spareNumber() {
    const int fd = ::fcntl(STDERR_FILENO, F_DUPFD, 200);
    ::close(fd);
    return fd;
}

struct DupCase {
    const char* name;
    int (*dup)(int fd);
    bool cloexec;  // the copy is closed on exec
};

const DupCase DUP_CASES[] = {
    {"dup", [](int fd) { return ::dup(fd); }, false},
    {"dup2", [](int fd) { return ::dup2(fd, spareNumber()); }, false},
    {"dup3", [](int fd) { return ::dup3(fd, spareNumber(), O_CLOEXEC); }, true},
    {"FDUPFD", [](int fd) { return ::fcntl(fd, F_DUPFD, 100); }, false},
    {"FDUPFDCLOEXEC", [](int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 100); }, true},
};

class Duplicates : public SimTest, public ::testing::WithParamInterface<DupCase> {};

TEST_P(Duplicates, ShareTheStreamOfTheOpenFile) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.allocate(4), 0);
    const int copy = GetParam().dup(c.video());
    ASSERT_GE(copy, 0);
    EXPECT_EQ((::fcntl(copy, F_GETFD) & FD_CLOEXEC) != 0, GetParam().cloexec);
    EXPECT_EQ(counters().openVideo, 2);
    // The buffers allocated through one descriptor belong to both; another
    // open of the node is another file and may not stream them.
    for (uint32_t i = 0; i < 4; ++i) {
        v4l2_buffer b = makeBuffer(i);
        ASSERT_EQ(ioctlErr(copy, VIDIOC_QBUF, &b), 0) << i;
    }
    const int other = ::open("/run/ozr320/video", O_RDWR);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    EXPECT_EQ(ioctlErr(other, VIDIOC_STREAMON, &type), EBUSY);
    ::close(other);
    ASSERT_EQ(ioctlErr(copy, VIDIOC_STREAMON, &type), 0);
    ASSERT_EQ(c.trigger(), 0);
    v4l2_buffer q = makeBuffer(0);
    ASSERT_EQ(ioctlErr(copy, VIDIOC_QUERYBUF, &q), 0);
    void* p = ::mmap(nullptr, q.length, PROT_READ, MAP_SHARED, copy, q.m.offset);
    ASSERT_NE(p, MAP_FAILED);
    ::munmap(p, q.length);

    // The file outlives its first descriptor: the stream goes on through
    // the copy, whose socket select() watches.
    c.closeAbruptly();
    EXPECT_EQ(counters().openVideo, 1);
    EXPECT_EQ(counters().buffers, 4u);
    ASSERT_LT(copy, FD_SETSIZE);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(copy, &readable);
    timeval tv{2, 0};
    ASSERT_EQ(::select(copy + 1, &readable, nullptr, nullptr, &tv), 1);
    v4l2_buffer b = makeBuffer();
    EXPECT_EQ(ioctlErr(copy, VIDIOC_DQBUF, &b), 0);
    // The last descriptor releases it with its stream and buffers.
    ASSERT_EQ(::close(copy), 0);
    EXPECT_EQ(counters().openVideo, 0);
    EXPECT_FALSE(counters().streaming);
    EXPECT_EQ(counters().buffers, 0u);
}

TEST_P(Duplicates, ShareEventSubscriptionsAndTheBlockingMode) {
    start(testConfig());
    const int sd = ::open("/run/ozr320/subdev", O_RDWR);
    v4l2_event_subscription sub{};
    sub.type = V4L2_EVENT_CTRL;
    sub.id = cid::GAIN;
    ASSERT_EQ(ioctlErr(sd, VIDIOC_SUBSCRIBE_EVENT, &sub), 0);
    const int copy = GetParam().dup(sd);
    ASSERT_GE(copy, 0);
    // O_NONBLOCK belongs to the file, set through either descriptor.
    ASSERT_EQ(::fcntl(copy, F_SETFL, O_NONBLOCK), 0);
    v4l2_event ev{};
    EXPECT_EQ(ioctlErr(sd, VIDIOC_DQEVENT, &ev), ENOENT) << "no event and no waiting";
    const int other = ::open("/run/ozr320/subdev", O_RDWR);
    ASSERT_EQ(setCtrl(other, cid::GAIN, 5), 0);
    ASSERT_EQ(::close(sd), 0);
    pollfd p{copy, POLLPRI, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    ASSERT_EQ(ioctlErr(copy, VIDIOC_DQEVENT, &ev), 0);
    EXPECT_EQ(ev.u.ctrl.value, 5);
    // A change through the file itself is not reported back to it.
    ASSERT_EQ(setCtrl(copy, cid::GAIN, 6), 0);
    EXPECT_EQ(ioctlErr(copy, VIDIOC_DQEVENT, &ev), ENOENT);
    ::close(copy);
    ::close(other);
    EXPECT_EQ(counters().openSubdev, 0);
}

INSTANTIATE_TEST_SUITE_P(Interposition, Duplicates, ::testing::ValuesIn(DUP_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Interposition, DuplicateOverANodeReleasesWhatItReplaced) {
    start(testConfig());
    Capture c;
    ASSERT_EQ(c.startStreaming(4), 0);
    c.unmapAll();
    // The video node's only descriptor now refers to the sub-device.
    ASSERT_EQ(::dup2(c.subdev(), c.video()), c.video());
    EXPECT_EQ(counters().openVideo, 0);
    EXPECT_EQ(counters().buffers, 0u);
    int32_t gain = 0;
    EXPECT_EQ(getCtrl(c.video(), cid::GAIN, gain), 0);
    EXPECT_EQ(::dup2(c.video(), c.video()), c.video()) << "onto itself: unchanged";
    EXPECT_EQ(counters().openSubdev, 2);
    c.closeAbruptly();
    EXPECT_EQ(counters().openSubdev, 0);
}

TEST_F(Interposition, CloseRangeReleasesTheNodesItCloses) {
    start(testConfig());
    const struct {
        void (*close)(int fd);
        bool closes;
    } cases[] = {
        {[](int fd) { ::close_range(fd, fd + 10, 0); }, true},
        {[](int fd) { ::closefrom(fd); }, true},
        {[](int fd) { ::close_range(fd, fd, CLOSE_RANGE_CLOEXEC); }, false},
    };
    for (const auto& cc : cases) {
        // Well above the descriptors the test runner holds.
        const int opened = ::open("/run/ozr320/video", O_RDWR);
        const int video = ::fcntl(opened, F_DUPFD, 300);
        ASSERT_GE(video, 300);
        ::close(opened);
        cc.close(video);
        EXPECT_EQ(counters().openVideo, cc.closes ? 0 : 1);
        EXPECT_EQ(::fcntl(video, F_GETFD), cc.closes ? -1 : FD_CLOEXEC);
        ::close(video);
    }
}

TEST_F(Interposition, FileRequestsActOnTheNodesDescriptor) {
    // Requests the kernel answers for any file before the driver sees them.
    start(testConfig());
    const struct {
        unsigned long request;
        int value, command, flag;
    } cases[] = {
        {FIOCLEX, 0, F_GETFD, FD_CLOEXEC},
        {FIONCLEX, 0, F_GETFD, 0},
        {FIONBIO, 1, F_GETFL, O_NONBLOCK},
        {FIONBIO, 0, F_GETFL, 0},
    };
    const int fd = ::open("/run/ozr320/subdev", O_RDWR);
    for (const auto& fc : cases) {
        int value = fc.value;
        EXPECT_EQ(ioctlErr(fd, fc.request, &value), 0) << fc.request;
        const int mask = fc.command == F_GETFD ? FD_CLOEXEC : O_NONBLOCK;
        EXPECT_EQ(::fcntl(fd, fc.command) & mask, fc.flag) << fc.request;
    }
    int32_t gain = 0;
    EXPECT_EQ(getCtrl(fd, cid::GAIN, gain), 0) << "still served";
    ::close(fd);
}

}  // namespace
}  // namespace ozrsim::test
