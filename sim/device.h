// The emulated kernel driver: the video node with its buffer queue, the
// sub-device with its controls, the frame worker and the temperature model.
// One instance per process; every member is guarded by one mutex.
//
// One file per part: device.cpp (configuration, descriptors, request
// routing), video_node.cpp, buffer_queue.cpp, readiness.cpp (poll),
// subdev.cpp, frame_worker.cpp, temperature.cpp.
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

    struct OpenFile {
        NodeKind kind = NodeKind::None;
        int peer = -1;  // the emulation's end of the socket pair behind the descriptor
        ino_t ino = 0;  // identity of the application's descriptor
        bool readable = false;
    };
    enum class BufState { Dequeued, Queued, Done };
    struct Buffer {
        int memfd = -1;
        void* data = nullptr;  // the driver's own mapping
        BufState state = BufState::Dequeued;
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
    void forgetLocked(int fd);
    int ioctlLocked(std::unique_lock<std::mutex>& lock, int fd, unsigned long request, void* arg);
    int videoIoctl(std::unique_lock<std::mutex>& lock, int fd, unsigned long request, void* arg);
    int subdevIoctl(unsigned long request, void* arg);
    const ControlInfo* queriedControl(uint32_t id) const;
    int injectedFaultLocked(unsigned long request);

    int reqbufsLocked(int fd, v4l2_requestbuffers* req);
    int querybufLocked(int fd, v4l2_buffer* b);
    int qbufLocked(int fd, v4l2_buffer* b);
    int dqbufLocked(std::unique_lock<std::mutex>& lock, int fd, v4l2_buffer* b);
    int checkBufferArgLocked(int fd, const v4l2_buffer* b, bool ownerOnly);
    void fillBufferLocked(uint32_t index, v4l2_buffer* b);
    void fillFormatLocked(v4l2_format* f);
    uint32_t minFramePeriodUsLocked() const;
    void freeBuffersLocked();
    uint64_t mappingTag(uint32_t index) const { return (bufferGeneration_ << 32) | index; }
    uint32_t imageSize() const { return width_ * 2 * height_; }
    int streamOnLocked(int fd, int type);
    int streamOffLocked(int fd, int type);
    void stopStreamingLocked();

    int getControlLocked(uint32_t id, int32_t& value);
    int setControlLocked(uint32_t id, int32_t& value);
    int extControlsLocked(unsigned long request, v4l2_ext_controls* ctrls);

    short maskLocked(int fd, const OpenFile& file, short events);
    void updateReadinessLocked();
    void disconnectLocked();

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
    bool gone_ = false;
    std::vector<FaultCount> faultCounts_;

    std::map<int, OpenFile> files_;

    std::vector<Buffer> buffers_;
    uint64_t bufferGeneration_ = 0;
    size_t mapLength_ = 0;  // page-aligned size of one buffer
    std::deque<uint32_t> queued_;
    std::deque<uint32_t> done_;
    int owner_ = -1;  // descriptor that owns the buffers
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
