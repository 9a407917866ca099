// The emulated kernel driver: the video node with its buffer queue, the
// sub-device with its controls, the frame worker and the temperature model.
// One instance per process; every member is guarded by one mutex.
//
// One file per part: device.cpp (configuration, descriptors, request
// routing), requests.cpp (what the V4L2 core checks before a driver sees a
// request), video_node.cpp, buffer_queue.cpp, readiness.cpp (poll),
// subdev.cpp (the controls of both nodes), control_events.cpp,
// frame_worker.cpp, temperature.cpp.
#pragma once

#include <linux/videodev2.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "controls.h"
#include "filetree.h"
#include "mappings.h"
#include "ozrsim.h"
#include "replay.h"
#include "scene.h"

namespace ozrsim {

// Lock-free answer to "is this descriptor served?", asked by every
// interposed descriptor call.
class FdTable {
public:
    static constexpr int SIZE = 65536;
    static NodeKind kind(int fd) {
        if (fd < 0 || fd >= SIZE) return NodeKind::None;
        return static_cast<NodeKind>(kinds_[fd].load(std::memory_order_acquire));
    }
    static void set(int fd, NodeKind kind) {
        if (fd >= 0 && fd < SIZE) {
            kinds_[fd].store(static_cast<uint8_t>(kind), std::memory_order_release);
        }
    }

private:
    static std::atomic<uint8_t> kinds_[SIZE];
};

class Device {
public:
    // Returned by the entry points for a descriptor that is not served after
    // all (closed behind the emulation's back, or the emulation was reset).
    static constexpr int NOT_SERVED = -0x10000;

    static Device& instance();
    static bool active() { return active_.load(std::memory_order_acquire); }

    // Control API (ozrsim.h).
    int configure(const Config& config);
    void reset();
    bool configured();
    void setFaults(const FaultConfig& faults);
    void disconnect();
    void reconnect();
    void warmUp(std::chrono::milliseconds timeout);
    float temperature();
    void setTemperature(float celsius);
    std::optional<int32_t> controlValue(uint32_t id);
    GroundTruth lastTruth();
    SensorState lastState();
    Counters counters();
    bool waitIdle(std::chrono::milliseconds timeout);
    std::string rootDirectory();

    // Entry points. Results are >= 0 on success, a negative errno value on
    // failure, or NOT_SERVED.
    int openNode(NodeKind kind, int flags);
    void refreshTemperatureFile();
    void registerHwmonInput(int fd);
    int close(int fd);
    // The C library's duplication of `fd` (dup, dup2, dup3, fcntl), made as
    // `fn(fd, target, flags)` under the device lock: `target` is the number
    // wanted (dup2, dup3) or the lowest one (fcntl), `flags` dup3's flags or
    // fcntl's command. The new descriptor refers to the same open file as
    // `fd` when that is served; with `replaces`, whatever `target` referred
    // to is closed, as the kernel does.
    using DuplicateFn = int (*)(int fd, int target, int flags);
    int duplicate(int fd, int target, int flags, bool replaces, DuplicateFn fn);
    // close_range() and closefrom(), made as `fn(first, last, flags)` under
    // the device lock: the served descriptors in [first, last] are closed
    // with the rest (unless the flags only mark them close-on-exec).
    using CloseRangeFn = int (*)(unsigned first, unsigned last, int flags);
    int closeRange(unsigned first, unsigned last, int flags, CloseRangeFn fn);
    int ioctl(int fd, unsigned long request, void* arg);
    void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset, int& error);
    void unmapped(void* addr, size_t length);
    bool hasMappings() const { return mappings_.count() > 0; }
    // poll()/ppoll() over a set that holds served descriptors. `timeout`
    // null waits for ever.
    int poll(struct pollfd* fds, nfds_t nfds, const struct timespec* timeout,
             const sigset_t* sigmask);
    ssize_t readHwmon(int fd, void* buf, size_t count, off_t offset, bool positioned);
    int fstat(int fd, struct stat* st);
    // Fills the fields a character device node shows.
    void describeNode(NodeKind kind, struct stat* st);
    uint32_t nodeMinor(NodeKind kind) const { return kind == NodeKind::Video ? 0 : 1; }

private:
    using Clock = std::chrono::steady_clock;

    // A control event subscription of a file handle. Each holds at most one
    // pending event: a newer one replaces it and keeps its changes.
    struct Subscription {
        uint32_t id = 0;
        uint32_t flags = 0;  // V4L2_EVENT_SUB_FL_*
        bool pending = false;
        v4l2_event event{};
    };
    // What the socket behind a descriptor holds to wake select() and epoll.
    enum class Signal { None, Normal, Urgent };
    // An open file of a node, as the kernel's struct file: what open()
    // created, shared by every descriptor duplicated from it and released
    // when the last of them is closed.
    using Handle = uint64_t;
    static constexpr Handle NO_HANDLE = 0;
    struct OpenFile {
        Handle handle = NO_HANDLE;
        NodeKind kind = NodeKind::None;
        std::vector<int> descriptors;  // the application's, in the order they were made
        int peer = -1;  // the emulation's end of the socket pair behind the descriptors
        ino_t ino = 0;  // identity of the application's descriptors
        Signal signal = Signal::None;
        uint32_t priority = V4L2_PRIORITY_DEFAULT;  // video node
        std::vector<Subscription> subscriptions;    // sub-device
        std::deque<uint32_t> available;             // controls with a pending event, oldest first
        uint32_t eventSequence = 0;                 // of the next event queued
        bool stale = false;  // a node of a device instance that was unplugged since
    };
    enum class BufState { Dequeued, Queued, Done };
    struct Buffer {
        int memfd = -1;
        void* data = nullptr;  // the driver's own mapping
        BufState state = BufState::Dequeued;
        uint32_t length = 0;  // bytes the buffer holds, as QUERYBUF reports
        size_t mapSize = 0;   // page-aligned size of the memory behind it
        uint32_t offset = 0;  // mmap() offset that selects it
        uint32_t bytesused = 0;
        uint32_t sequence = 0;
        struct timeval timestamp {};
    };
    struct Pending {
        SensorState state;
        Clock::time_point triggered;
    };
    struct OutImage {
        std::vector<uint16_t> data;
        Clock::time_point due;
    };
    struct FaultCount {
        uint32_t calls = 0;
    };

    Device() = default;

    OpenFile* findLocked(int fd, bool checkIdentity);
    // Drops one descriptor of an open file; the last one releases the file.
    void forgetLocked(int fd);
    void releaseLocked(Handle handle);
    void addDescriptorLocked(OpenFile& file, int fd);
    int ioctlLocked(std::unique_lock<std::mutex>& lock, int fd, unsigned long request, void* arg);
    // `fd` is the descriptor the request came through, `h` its open file.
    int videoIoctl(std::unique_lock<std::mutex>& lock, int fd, Handle h, unsigned long request,
                   void* arg);
    int subdevIoctl(std::unique_lock<std::mutex>& lock, int fd, Handle h, unsigned long request,
                    void* arg);
    static bool nonblocking(int fd);
    int controlIoctlLocked(Handle h, NodeKind kind, unsigned long request, void* arg);
    int injectedFaultLocked(unsigned long request);
    uint32_t maxPriorityLocked() const;

    int reqbufsLocked(Handle h, v4l2_requestbuffers* req);
    int createBufsLocked(Handle h, v4l2_create_buffers* create);
    bool addBuffersLocked(uint32_t count, uint32_t length);
    int querybufLocked(Handle h, v4l2_buffer* b);
    int qbufLocked(Handle h, v4l2_buffer* b);
    int dqbufLocked(std::unique_lock<std::mutex>& lock, Handle h, bool nonblocking, v4l2_buffer* b);
    int checkBufferArgLocked(Handle h, const v4l2_buffer* b, bool ownerOnly);
    bool ownedByOtherLocked(Handle h) const { return owner_ != NO_HANDLE && owner_ != h; }
    void fillBufferLocked(uint32_t index, v4l2_buffer* b);
    void fillFormatLocked(v4l2_format* f);
    uint32_t minFramePeriodUsLocked() const;
    void freeBuffersLocked();
    uint64_t mappingTag(uint32_t index) const { return (bufferGeneration_ << 32) | index; }
    uint32_t imageSize() const { return width_ * 2 * height_; }
    int streamOnLocked(Handle h, int type);
    int streamOffLocked(Handle h, int type);
    void stopStreamingLocked();

    // Controls of a node: the sub-device has the sensor's, the video node a
    // handler without controls.
    const ControlInfo* nodeControl(NodeKind kind, uint32_t id) const;
    const ControlInfo* queriedControl(NodeKind kind, uint32_t id) const;
    int getControlLocked(NodeKind kind, uint32_t id, int32_t& value);
    int setControlLocked(Handle h, uint32_t id, int32_t& value);
    int extControlsLocked(Handle h, NodeKind kind, unsigned long request, v4l2_ext_controls* ctrls);

    int subscribeLocked(Handle h, const v4l2_event_subscription& sub);
    int unsubscribeLocked(Handle h, const v4l2_event_subscription& sub);
    int dqeventLocked(std::unique_lock<std::mutex>& lock, Handle h, bool nonblocking,
                      v4l2_event* ev);
    // Queues a control event for every subscriber but the file handle that
    // made the change (unless it asked for its own changes).
    void controlChangedLocked(Handle origin, const ControlInfo& c, uint32_t changes);
    void queueEventLocked(OpenFile& file, Subscription& sub, const ControlInfo& c,
                          uint32_t changes);

    short maskLocked(const OpenFile& file, short events);
    void updateReadinessLocked();
    void disconnectLocked();
    // The device is gone for this descriptor: unplugged now, or opened on
    // an instance that was unplugged before the device came back.
    bool goneFor(const OpenFile& file) const { return gone_ || file.stale; }

    float temperatureLocked(Clock::time_point now) const;
    void retargetTemperatureLocked(Clock::time_point now);

    void acquireFrameLocked(Clock::time_point now);
    bool ensureWorkerLocked();
    void workerLoop();
    void deliverLocked(OutImage& image, Clock::time_point now);
    void stopWorker(std::unique_lock<std::mutex>& lock);
    void resetLocked();
    static void atExit();

    static std::atomic<bool> active_;

    std::mutex configMu_;  // serialises configure() and reset(); taken before mu_
    std::mutex mu_;
    std::condition_variable stateCv_;   // buffers done, stream state, idle
    std::condition_variable workerCv_;  // work for the frame worker

    bool configured_ = false;
    uint64_t generation_ = 0;  // advances at every reset
    Config config_;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    ControlSet controls_;
    FileTree tree_;
    std::unique_ptr<Renderer> renderer_;
    std::shared_ptr<Replay> replay_;  // serves a recording instead of the renderer
    bool gone_ = false;
    std::vector<FaultCount> faultCounts_;

    std::map<Handle, OpenFile> files_;
    std::map<int, Handle> descriptors_;  // the application's descriptor -> its open file
    Handle nextHandle_ = 1;

    std::vector<Buffer> buffers_;
    uint64_t bufferGeneration_ = 0;
    std::deque<uint32_t> queued_;
    std::deque<uint32_t> done_;
    Handle owner_ = NO_HANDLE;  // open file that owns the buffers
    bool streaming_ = false;
    bool waitingForBuffers_ = true;  // no QBUF since the queue was (re)started
    uint32_t sequence_ = 0;
    MappingTable mappings_;  // tagged with mappingTag()

    float tempBase_ = 0.0f;
    Clock::time_point tempSince_{};

    std::deque<Pending> pending_;
    std::deque<OutImage> out_;
    bool rendering_ = false;
    SensorState lastState_;
    std::shared_ptr<const GroundTruth> truth_;  // of the last rendered frame
    Clock::time_point nextFreeRun_{};
    std::thread worker_;
    bool workerRunning_ = false;
    bool stopWorker_ = false;
    Counters counters_;
};

}  // namespace ozrsim
