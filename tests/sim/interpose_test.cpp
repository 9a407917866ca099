// How the emulation sits between programs and the C library: every route to
// the entry points ends in it (also behind sanitizer runtimes), and nothing
// leaks over many open/stream/close cycles.
#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
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

}  // namespace
}  // namespace ozrsim::test
