#include "device.h"

#include <fcntl.h>
#include <linux/v4l2-subdev.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "envconfig.h"
#include "real.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace ozrsim {

std::atomic<uint8_t> FdTable::kinds_[FdTable::SIZE];
std::atomic<bool> Device::active_{false};

namespace {

// poll() and read() reach the emulation from inside the thread sanitizer's
// blocking-call interceptors, where it ignores lock operations. Sections
// entered that way tell it about the lock themselves.
struct SanitizerLockNote {
#if defined(__SANITIZE_THREAD__)
    explicit SanitizerLockNote(std::mutex& m) : m_(&m) {
        __tsan_acquire(m_);
    }
    ~SanitizerLockNote() {
        __tsan_release(m_);
    }
    SanitizerLockNote(const SanitizerLockNote&) = delete;
    SanitizerLockNote& operator=(const SanitizerLockNote&) = delete;

private:
    void* m_;
#else
    explicit SanitizerLockNote(std::mutex&) {}
#endif
};

constexpr uint32_t VIDEO_MAJOR = 81;
constexpr size_t MAX_PENDING_FRAMES = 16;
constexpr uint32_t BUF_TS_FLAGS = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_EOF;

template <size_t N>
void copyName(__u8 (&dst)[N], const std::string& src) {
    std::memset(dst, 0, N);
    std::memcpy(dst, src.data(), std::min(src.size(), N - 1));
}

template <size_t N>
void copyName(char (&dst)[N], const std::string& src) {
    std::memset(dst, 0, N);
    std::memcpy(dst, src.data(), std::min(src.size(), N - 1));
}

uint32_t versionCode(const std::optional<std::string>& version) {
    unsigned a = 0, b = 0, c = 0;
    if (version && std::sscanf(version->c_str(), "%u.%u.%u", &a, &b, &c) == 3) {
        return ((a & 0xFF) << 16) | ((b & 0xFF) << 8) | (c & 0xFF);
    }
    return (6u << 16) | (1u << 8);
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct timeval monotonicNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    struct timeval tv {};
    tv.tv_sec = ts.tv_sec;
    tv.tv_usec = ts.tv_nsec / 1000;
    return tv;
}

}  // namespace

// ---------------------------------------------------------------- lifecycle

Device& Device::instance() {
    // Never destroyed: descriptors and threads may use it until the very end.
    static Device* device = [] {
        auto* d = new Device();
        // A fork must not copy the lock while another thread holds it, and
        // the child has no frame worker.
        pthread_atfork(
            [] {
                instance().configMu_.lock();
                instance().mu_.lock();
            },
            [] {
                instance().mu_.unlock();
                instance().configMu_.unlock();
            },
            [] {
                Device& c = instance();
                new (&c.worker_) std::thread();
                c.workerRunning_ = false;
                c.mu_.unlock();
                c.configMu_.unlock();
            });
        return d;
    }();
    return *device;
}

int Device::configure(const Config& config) {
    std::lock_guard<std::mutex> serial(configMu_);
    resetLocked();
    uint32_t width = config.width, height = config.height;
    if (width == 0 || height == 0) defaultFormat(config.model, width, height);
    uint32_t pw = 0, ph = 0;
    if (!processedSize(config.model, width, height, pw, ph)) return -EINVAL;
    if (config.model == Model::OZR310 && width % 2 != 0) return -EINVAL;
    if (!std::isfinite(config.temperature.startC) || !std::isfinite(config.temperature.hotC) ||
        !std::isfinite(config.temperature.timeConstantS)) {
        return -EINVAL;
    }
    auto renderer = std::make_unique<Renderer>(config.scene, config.seed);
    if (!renderer->valid()) {
        std::fprintf(stderr, "ozrsim: scene \"%s\": %s\n", config.scene.name.c_str(),
                     renderer->error().c_str());
        return -EINVAL;
    }
    auto map = std::make_unique<PathMap>();
    FileTree tree;
    if (int rc = tree.create(config, width, height, *map); rc != 0) return rc;

    {
        std::lock_guard<std::mutex> lock(mu_);
        config_ = config;
        width_ = width;
        height_ = height;
        controls_ = ControlSet(config.model);
        tree_ = std::move(tree);
        renderer_ = std::move(renderer);
        faultCounts_.assign(config.faults.ioctls.size(), FaultCount{});
        tempBase_ = config.temperature.startC;
        tempSince_ = Clock::now();
        lastState_ = SensorState{};
        truth_.reset();
        counters_ = Counters{};
        configured_ = true;
        publishPathMap(map.release());
        active_.store(true, std::memory_order_release);
    }
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(&Device::atExit); });
    return 0;
}

void Device::stopWorker(std::unique_lock<std::mutex>& lock) {
    stopWorker_ = true;
    workerCv_.notify_all();
    std::thread t = std::move(worker_);
    lock.unlock();
    if (t.joinable()) t.join();
    lock.lock();
    workerRunning_ = false;
    stopWorker_ = false;
}

void Device::reset() {
    std::lock_guard<std::mutex> serial(configMu_);
    resetLocked();
}

void Device::resetLocked() {
    std::unique_lock<std::mutex> lock(mu_);
    // New requests see an unconfigured device from here on.
    configured_ = false;
    active_.store(false, std::memory_order_release);
    publishPathMap(nullptr);
    stopWorker(lock);

    for (auto& [fd, file] : files_) {
        FdTable::set(fd, NodeKind::None);
        if (file.peer >= 0) real::close(file.peer);
    }
    files_.clear();
    freeBuffersLocked();
    owner_ = -1;
    streaming_ = false;
    waitingForBuffers_ = true;
    sequence_ = 0;
    mappings_.clear();
    pending_.clear();
    out_.clear();
    truth_.reset();
    renderer_.reset();
    tree_.destroy();
    gone_ = false;
    faultCounts_.clear();
    config_ = Config{};
    ++generation_;
    stateCv_.notify_all();
}

void Device::atExit() {
    // Stop the worker before static objects it may use are destroyed, and
    // remove the private directory.
    Device& d = instance();
    std::unique_lock<std::mutex> lock(d.mu_);
    d.configured_ = false;
    d.stopWorker(lock);
    d.tree_.destroy();
}

bool Device::configured() {
    std::lock_guard<std::mutex> lock(mu_);
    return configured_;
}

void Device::setFaults(const FaultConfig& faults) {
    std::lock_guard<std::mutex> lock(mu_);
    config_.faults = faults;
    faultCounts_.assign(faults.ioctls.size(), FaultCount{});
    if (configured_ && !gone_ && faults.disconnectAfterImages >= 0 &&
        counters_.imagesDelivered >= static_cast<uint64_t>(faults.disconnectAfterImages)) {
        disconnectLocked();
    }
}

void Device::disconnect() {
    std::lock_guard<std::mutex> lock(mu_);
    if (configured_) disconnectLocked();
}

void Device::disconnectLocked() {
    if (gone_) return;
    gone_ = true;
    if (streaming_) retargetTemperatureLocked(Clock::now());
    streaming_ = false;
    pending_.clear();
    out_.clear();
    queued_.clear();
    done_.clear();
    tree_.removeNodes();
    updateReadinessLocked();
    stateCv_.notify_all();
    workerCv_.notify_all();
}

std::string Device::rootDirectory() {
    std::lock_guard<std::mutex> lock(mu_);
    return configured_ ? tree_.root() : std::string();
}

// ---------------------------------------------------------------- queries

float Device::temperature() {
    std::lock_guard<std::mutex> lock(mu_);
    return temperatureLocked(Clock::now());
}

void Device::setTemperature(float celsius) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!std::isfinite(celsius)) return;
    tempBase_ = celsius;
    tempSince_ = Clock::now();
    if (configured_) tree_.writeTemperature(static_cast<int32_t>(std::lround(celsius * 1000.0f)));
}

std::optional<int32_t> Device::controlValue(uint32_t id) {
    std::lock_guard<std::mutex> lock(mu_);
    int32_t v = 0;
    if (!configured_ || !controls_.get(id, v)) return std::nullopt;
    return v;
}

GroundTruth Device::lastTruth() {
    std::shared_ptr<const GroundTruth> truth;
    {
        std::lock_guard<std::mutex> lock(mu_);
        truth = truth_;
    }
    return truth ? *truth : GroundTruth{};
}

SensorState Device::lastState() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastState_;
}

Counters Device::counters() {
    std::lock_guard<std::mutex> lock(mu_);
    Counters c = counters_;
    for (const auto& [fd, file] : files_) {
        if (file.kind == NodeKind::Video) ++c.openVideo;
        if (file.kind == NodeKind::Subdev) ++c.openSubdev;
        if (file.kind == NodeKind::HwmonInput) ++c.openHwmon;
    }
    c.mappings = mappings_.count();
    c.buffers = static_cast<uint32_t>(buffers_.size());
    c.streaming = streaming_;
    return c;
}

bool Device::waitIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return stateCv_.wait_for(lock, timeout,
                             [this] { return pending_.empty() && out_.empty() && !rendering_; });
}

// ---------------------------------------------------------------- temperature

float Device::temperatureLocked(Clock::time_point now) const {
    const TemperatureConfig& t = config_.temperature;
    if (t.timeConstantS <= 0.0f) return tempBase_;
    const float target = streaming_ ? t.hotC : t.startC;
    const double dt = std::chrono::duration<double>(now - tempSince_).count();
    return target + (tempBase_ - target) * static_cast<float>(std::exp(-dt / t.timeConstantS));
}

void Device::retargetTemperatureLocked(Clock::time_point now) {
    tempBase_ = temperatureLocked(now);
    tempSince_ = now;
}

void Device::refreshTemperatureFile() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!configured_) return;
    tree_.writeTemperature(
        static_cast<int32_t>(std::lround(temperatureLocked(Clock::now()) * 1000.0f)));
}

ssize_t Device::readHwmon(int fd, void* buf, size_t count, off_t offset, bool positioned) {
    std::lock_guard<std::mutex> lock(mu_);
    SanitizerLockNote note(mu_);
    OpenFile* file = findLocked(fd, true);
    if (!file || file->kind != NodeKind::HwmonInput) return NOT_SERVED;
    // Every read samples the sensor, as sysfs attributes do.
    const std::string text =
        std::to_string(std::lround(temperatureLocked(Clock::now()) * 1000.0f)) + "\n";
    if (!positioned) {
        offset = lseek(fd, 0, SEEK_CUR);
        if (offset < 0) return -errno;
    }
    if (offset < 0) return -EINVAL;
    size_t n = 0;
    if (static_cast<size_t>(offset) < text.size()) {
        n = std::min(count, text.size() - static_cast<size_t>(offset));
        std::memcpy(buf, text.data() + offset, n);
    }
    if (!positioned) lseek(fd, offset + static_cast<off_t>(n), SEEK_SET);
    return static_cast<ssize_t>(n);
}

// ---------------------------------------------------------------- descriptors

Device::OpenFile* Device::findLocked(int fd, bool checkIdentity) {
    if (!configured_) return nullptr;
    auto it = files_.find(fd);
    if (it == files_.end()) return nullptr;
    if (checkIdentity) {
        // A descriptor closed behind our back (fclose of an fdopen'ed node,
        // dup2 over it) may have been reused for something else.
        struct stat st {};
        if (real::fstat(fd, &st) != 0 || st.st_ino != it->second.ino) {
            forgetLocked(fd);
            return nullptr;
        }
    }
    return &it->second;
}

void Device::forgetLocked(int fd) {
    auto it = files_.find(fd);
    if (it == files_.end()) return;
    FdTable::set(fd, NodeKind::None);
    if (owner_ == fd) {
        stopStreamingLocked();
        freeBuffersLocked();
        owner_ = -1;
    }
    if (it->second.peer >= 0) real::close(it->second.peer);
    files_.erase(it);
    updateReadinessLocked();
}

int Device::openNode(NodeKind kind, int flags) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!configured_) return NOT_SERVED;
    if (gone_) return -ENOENT;
    if ((flags & O_CREAT) && (flags & O_EXCL)) return -EEXIST;
    if (flags & O_DIRECTORY) return -ENOTDIR;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -errno;
    const int fd = sv[0];
    if (fd >= FdTable::SIZE) {
        real::close(sv[0]);
        real::close(sv[1]);
        return -EMFILE;
    }
    if (!(flags & O_CLOEXEC)) fcntl(fd, F_SETFD, 0);
    if (flags & O_NONBLOCK) fcntl(fd, F_SETFL, O_NONBLOCK);
    shutdown(sv[1], SHUT_RD);
    struct stat st {};
    real::fstat(fd, &st);
    OpenFile file;
    file.kind = kind;
    file.peer = sv[1];
    file.ino = st.st_ino;
    files_[fd] = file;
    FdTable::set(fd, kind);
    updateReadinessLocked();
    return fd;
}

void Device::registerHwmonInput(int fd) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!configured_ || fd < 0 || fd >= FdTable::SIZE) return;
    struct stat st {};
    if (real::fstat(fd, &st) != 0) return;
    OpenFile file;
    file.kind = NodeKind::HwmonInput;
    file.ino = st.st_ino;
    files_[fd] = file;
    FdTable::set(fd, NodeKind::HwmonInput);
}

int Device::close(int fd) {
    std::lock_guard<std::mutex> lock(mu_);
    if (files_.find(fd) == files_.end()) return NOT_SERVED;
    forgetLocked(fd);
    // Closed under the lock: the number cannot be handed out and registered
    // again before the table forgets it.
    return real::close(fd) == 0 ? 0 : -errno;
}

int Device::fstat(int fd, struct stat* st) {
    std::lock_guard<std::mutex> lock(mu_);
    OpenFile* file = findLocked(fd, true);
    if (!file || file->kind == NodeKind::HwmonInput) return NOT_SERVED;
    if (real::fstat(fd, st) != 0) return -errno;
    describeNode(file->kind, st);
    return 0;
}

void Device::describeNode(NodeKind kind, struct stat* st) {
    st->st_mode = S_IFCHR | 0660;
    st->st_rdev = makedev(VIDEO_MAJOR, nodeMinor(kind));
    st->st_size = 0;
    st->st_blocks = 0;
    st->st_nlink = 1;
}

// ---------------------------------------------------------------- readiness

short Device::maskLocked(int fd, const OpenFile& file, short events) {
    constexpr short ALWAYS = POLLERR | POLLHUP | POLLNVAL;
    if (gone_) return static_cast<short>((POLLERR | POLLHUP | POLLPRI) & (events | ALWAYS));
    if (file.kind != NodeKind::Video) return 0;
    if (owner_ != -1 && owner_ != fd) return POLLERR;
    if (!streaming_) return POLLERR;
    if (waitingForBuffers_ && (events & (POLLIN | POLLRDNORM))) return POLLERR;
    short mask = 0;
    if (!done_.empty()) mask |= POLLIN | POLLRDNORM;
    return static_cast<short>(mask & (events | ALWAYS));
}

void Device::updateReadinessLocked() {
    // The application's descriptor is readable exactly when poll() has
    // something to report, so that select() and epoll wake up as well.
    for (auto& [fd, file] : files_) {
        if (file.peer < 0) continue;
        const bool want = maskLocked(fd, file, POLLIN | POLLRDNORM) != 0;
        if (want == file.readable) continue;
        if (want) {
            const char byte = 1;
            if (send(file.peer, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL) == 1) file.readable = true;
        } else {
            char byte = 0;
            while (recv(fd, &byte, 1, MSG_DONTWAIT) == 1) {
            }
            file.readable = false;
        }
    }
}

int Device::poll(struct pollfd* fds, nfds_t nfds, const struct timespec* timeout,
                 const sigset_t* sigmask) {
    std::vector<struct pollfd> work(fds, fds + nfds);
    bool any = false;
    for (struct pollfd& p : work) {
        const NodeKind k = FdTable::kind(p.fd);
        if (k == NodeKind::Video || k == NodeKind::Subdev) {
            // The descriptor is readable whenever there is something to
            // report for POLLIN; other requests are answered from the state.
            p.events = (p.events & (POLLIN | POLLRDNORM)) ? POLLIN : 0;
            any = true;
        }
    }
    if (!any) return real::ppoll(fds, nfds, timeout, sigmask);

    const auto start = Clock::now();
    const auto total = timeout ? std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::seconds(timeout->tv_sec) +
                                     std::chrono::nanoseconds(timeout->tv_nsec))
                               : Clock::duration::max();
    // Fills the application's revents; returns the number of ready entries.
    auto collect = [&]() {
        int count = 0;
        std::lock_guard<std::mutex> lock(mu_);
        SanitizerLockNote note(mu_);
        for (nfds_t i = 0; i < nfds; ++i) {
            auto it = files_.find(fds[i].fd);
            const NodeKind k = FdTable::kind(fds[i].fd);
            if (fds[i].fd >= 0 && configured_ && it != files_.end() &&
                (k == NodeKind::Video || k == NodeKind::Subdev)) {
                fds[i].revents = maskLocked(fds[i].fd, it->second, fds[i].events);
            } else {
                fds[i].revents = work[i].revents;
            }
            if (fds[i].revents) ++count;
        }
        return count;
    };
    for (;;) {
        for (struct pollfd& p : work) p.revents = 0;
        // Something already to report: only look at the other descriptors.
        const bool ready = collect() > 0;
        for (struct pollfd& p : work) p.revents = 0;
        struct timespec remaining {};
        const struct timespec* wait = nullptr;
        const auto elapsed = Clock::now() - start;
        if (ready || (timeout && elapsed >= total)) {
            wait = &remaining;
        } else if (timeout) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(total - elapsed);
            remaining.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
            remaining.tv_nsec = static_cast<long>(ns.count() % 1000000000);
            wait = &remaining;
        }
        const int r = real::ppoll(work.data(), nfds, wait, sigmask);
        if (r < 0) return r;
        const int count = collect();
        if (count > 0 || r == 0) return count;
        // Readiness changed between the wake-up and the check: wait again.
        if (timeout && Clock::now() - start >= total) return 0;
    }
}

// ---------------------------------------------------------------- buffers

void* Device::mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset,
                   int& error) {
    std::lock_guard<std::mutex> lock(mu_);
    error = 0;
    OpenFile* file = findLocked(fd, true);
    if (!file) {
        error = NOT_SERVED;
        return MAP_FAILED;
    }
    if (gone_ || file->kind != NodeKind::Video) {
        error = ENODEV;
        return MAP_FAILED;
    }
    if (length == 0 || buffers_.empty() || offset < 0 ||
        static_cast<size_t>(offset) % mapLength_ != 0 ||
        static_cast<size_t>(offset) / mapLength_ >= buffers_.size() || length > mapLength_ ||
        !(flags & MAP_SHARED) || !(prot & PROT_READ)) {
        error = EINVAL;
        return MAP_FAILED;
    }
    const uint32_t index = static_cast<uint32_t>(static_cast<size_t>(offset) / mapLength_);
    Buffer& b = buffers_[index];
    void* p = real::mmap(addr, length, prot, flags, b.memfd, 0);
    if (p == MAP_FAILED) {
        error = errno;
        return MAP_FAILED;
    }
    if (!mappings_.add(reinterpret_cast<uintptr_t>(p), length, mappingTag(index))) {
        real::munmap(p, length);
        error = ENOMEM;
        return MAP_FAILED;
    }
    return p;
}

void Device::unmapped(void* addr, size_t length) {
    // No lock: see MappingTable.
    mappings_.removeOverlapping(reinterpret_cast<uintptr_t>(addr), length);
}

void Device::freeBuffersLocked() {
    for (Buffer& b : buffers_) {
        if (b.data) real::munmap(b.data, mapLength_);
        if (b.memfd >= 0) real::close(b.memfd);
    }
    // Mappings the application still holds keep their memory (orphaned
    // buffers) until it unmaps them.
    buffers_.clear();
    queued_.clear();
    done_.clear();
    ++bufferGeneration_;
}

void Device::stopStreamingLocked() {
    if (streaming_) retargetTemperatureLocked(Clock::now());
    streaming_ = false;
    for (Buffer& b : buffers_) b.state = BufState::Dequeued;
    queued_.clear();
    done_.clear();
    waitingForBuffers_ = true;
    updateReadinessLocked();
    stateCv_.notify_all();
    workerCv_.notify_all();
}

void Device::fillFormatLocked(v4l2_format* f) {
    std::memset(&f->fmt, 0, sizeof(f->fmt));
    v4l2_pix_format& pix = f->fmt.pix;
    pix.width = width_;
    pix.height = height_;
    pix.pixelformat = V4L2_PIX_FMT_Y16;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = width_ * 2;
    pix.sizeimage = width_ * 2 * height_;
    pix.colorspace = V4L2_COLORSPACE_RAW;
    pix.xfer_func = V4L2_XFER_FUNC_NONE;
    pix.ycbcr_enc = V4L2_YCBCR_ENC_DEFAULT;
    pix.quantization = V4L2_QUANTIZATION_FULL_RANGE;
}

void Device::fillBufferLocked(uint32_t index, v4l2_buffer* b) {
    const Buffer& buf = buffers_[index];
    const uint32_t type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    std::memset(b, 0, sizeof(*b));
    b->index = index;
    b->type = type;
    b->memory = V4L2_MEMORY_MMAP;
    b->bytesused = buf.bytesused;
    b->flags = BUF_TS_FLAGS;
    if (buf.state == BufState::Queued) b->flags |= V4L2_BUF_FLAG_QUEUED;
    if (buf.state == BufState::Done) b->flags |= V4L2_BUF_FLAG_DONE;
    if (mappings_.contains(mappingTag(index))) b->flags |= V4L2_BUF_FLAG_MAPPED;
    b->field = V4L2_FIELD_NONE;
    b->timestamp = buf.timestamp;
    b->sequence = buf.sequence;
    b->m.offset = static_cast<uint32_t>(index * mapLength_);
    b->length = width_ * 2 * height_;
}

int Device::reqbufsLocked(int fd, v4l2_requestbuffers* req) {
    if (req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || req->memory != V4L2_MEMORY_MMAP) {
        return -EINVAL;
    }
    if (owner_ != -1 && owner_ != fd) return -EBUSY;
    if (streaming_) return -EBUSY;
    freeBuffersLocked();
    req->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP | V4L2_BUF_CAP_SUPPORTS_ORPHANED_BUFS;
    req->flags = 0;
    waitingForBuffers_ = true;
    if (req->count == 0) {
        owner_ = -1;
        updateReadinessLocked();
        return 0;
    }
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t size = static_cast<size_t>(width_) * 2 * height_;
    mapLength_ = (size + page - 1) / page * page;
    const uint32_t n = std::min(req->count, MAX_BUFFERS);
    buffers_.resize(n);
    for (Buffer& b : buffers_) {
        b.memfd = memfd_create("ozrsim-buffer", MFD_CLOEXEC);
        if (b.memfd < 0 || ftruncate(b.memfd, static_cast<off_t>(mapLength_)) != 0) {
            freeBuffersLocked();
            return -ENOMEM;
        }
        void* p = real::mmap(nullptr, mapLength_, PROT_READ | PROT_WRITE, MAP_SHARED, b.memfd, 0);
        if (p == MAP_FAILED) {
            freeBuffersLocked();
            return -ENOMEM;
        }
        b.data = p;
    }
    owner_ = fd;
    req->count = n;
    updateReadinessLocked();
    return 0;
}

int Device::checkBufferArgLocked(int fd, const v4l2_buffer* b, bool ownerOnly) {
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    if (ownerOnly && owner_ != -1 && owner_ != fd) return -EBUSY;
    if (b->index >= buffers_.size()) return -EINVAL;
    return 0;
}

int Device::dqbufLocked(std::unique_lock<std::mutex>& lock, int fd, v4l2_buffer* b) {
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP) return -EINVAL;
    const uint64_t generation = generation_;
    const int flags = fcntl(fd, F_GETFL);
    const bool nonblocking = flags >= 0 && (flags & O_NONBLOCK);
    for (;;) {
        if (generation != generation_ || gone_) return -ENODEV;
        if (files_.find(fd) == files_.end()) return -EBADF;
        if (owner_ != -1 && owner_ != fd) return -EBUSY;
        if (!streaming_) return -EINVAL;
        if (!done_.empty()) break;
        if (nonblocking) return -EAGAIN;
        stateCv_.wait(lock);
    }
    const uint32_t index = done_.front();
    done_.pop_front();
    fillBufferLocked(index, b);
    buffers_[index].state = BufState::Dequeued;
    updateReadinessLocked();
    return 0;
}

// ---------------------------------------------------------------- ioctl

int Device::injectedFaultLocked(unsigned long request) {
    int error = 0;
    for (size_t i = 0; i < config_.faults.ioctls.size() && i < faultCounts_.size(); ++i) {
        const IoctlFault& f = config_.faults.ioctls[i];
        if (f.request != request) continue;
        const uint32_t call = ++faultCounts_[i].calls;
        if (error == 0 && call > f.after && (f.times == 0 || call <= f.after + f.times)) {
            error = f.error;
        }
    }
    return error;
}

int Device::ioctl(int fd, unsigned long request, void* arg) {
    std::unique_lock<std::mutex> lock(mu_);
    const int result = ioctlLocked(lock, fd, request, arg);
    if (config_.trace && result != NOT_SERVED) {
        const char* name = env::requestName(request);
        char number[32];
        std::snprintf(number, sizeof(number), "0x%08lx", request);
        std::fprintf(stderr, "ozrsim: fd %d %s -> %s\n", fd, name ? name : number,
                     result < 0 ? std::strerror(-result) : "ok");
    }
    return result;
}

int Device::ioctlLocked(std::unique_lock<std::mutex>& lock, int fd, unsigned long request,
                        void* arg) {
    OpenFile* file = findLocked(fd, true);
    if (!file) return NOT_SERVED;
    if (gone_) return -ENODEV;
    if (int e = injectedFaultLocked(request); e != 0) return -e;
    if (_IOC_SIZE(request) > 0 && !arg) return -EFAULT;
    switch (file->kind) {
        case NodeKind::Video:
            return videoIoctl(lock, fd, request, arg);
        case NodeKind::Subdev:
            return subdevIoctl(request, arg);
        default:
            return -ENOTTY;
    }
}

int Device::videoIoctl(std::unique_lock<std::mutex>& lock, int fd, unsigned long request,
                       void* arg) {
    const std::string model = modelName(config_.model);
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof(*cap));
            copyName(cap->driver, model);
            copyName(cap->card, upper(model) + " time-of-flight sensor");
            copyName(cap->bus_info, "platform:cam_" + model);
            cap->version = versionCode(config_.driverVersion);
            cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* f = static_cast<v4l2_fmtdesc*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f->index != 0) return -EINVAL;
            const uint32_t index = f->index, type = f->type;
            std::memset(f, 0, sizeof(*f));
            f->index = index;
            f->type = type;
            copyName(f->description, "16-bit Greyscale");
            f->pixelformat = V4L2_PIX_FMT_Y16;
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_TRY_FMT:
        case VIDIOC_S_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (request == VIDIOC_S_FMT && (!buffers_.empty() || (owner_ != -1 && owner_ != fd))) {
                return -EBUSY;
            }
            // The sensor has one format: any request is adjusted to it.
            fillFormatLocked(f);
            return 0;
        }
        case VIDIOC_REQBUFS:
            return reqbufsLocked(fd, static_cast<v4l2_requestbuffers*>(arg));
        case VIDIOC_QUERYBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (int r = checkBufferArgLocked(fd, b, false); r != 0) return r;
            fillBufferLocked(b->index, b);
            return 0;
        }
        case VIDIOC_QBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (b->memory != V4L2_MEMORY_MMAP) return -EINVAL;
            if (int r = checkBufferArgLocked(fd, b, true); r != 0) return r;
            Buffer& buf = buffers_[b->index];
            if (buf.state != BufState::Dequeued) return -EINVAL;
            buf.state = BufState::Queued;
            queued_.push_back(b->index);
            waitingForBuffers_ = false;
            fillBufferLocked(b->index, b);
            updateReadinessLocked();
            return 0;
        }
        case VIDIOC_DQBUF:
            return dqbufLocked(lock, fd, static_cast<v4l2_buffer*>(arg));
        case VIDIOC_STREAMON: {
            if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (owner_ != -1 && owner_ != fd) return -EBUSY;
            if (buffers_.empty()) return -EINVAL;
            if (streaming_) return 0;
            const auto now = Clock::now();
            retargetTemperatureLocked(now);
            streaming_ = true;
            sequence_ = 0;
            ++counters_.streamOns;
            if (config_.timing.freeRun) {
                nextFreeRun_ = now + std::chrono::microseconds(config_.timing.framePeriodUs);
                if (!ensureWorkerLocked()) {
                    streaming_ = false;
                    return -ENOMEM;
                }
            }
            updateReadinessLocked();
            workerCv_.notify_all();
            return 0;
        }
        case VIDIOC_STREAMOFF: {
            if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            if (owner_ != -1 && owner_ != fd) return -EBUSY;
            stopStreamingLocked();
            return 0;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto* p = static_cast<v4l2_streamparm*>(arg);
            if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            v4l2_captureparm& c = p->parm.capture;
            if (request == VIDIOC_S_PARM && c.timeperframe.numerator != 0 &&
                c.timeperframe.denominator != 0) {
                const double us = 1e6 * c.timeperframe.numerator /
                                  static_cast<double>(c.timeperframe.denominator);
                config_.timing.framePeriodUs =
                    static_cast<uint32_t>(std::clamp(us, 1000.0, 10000000.0));
            }
            std::memset(&p->parm, 0, sizeof(p->parm));
            c.capability = V4L2_CAP_TIMEPERFRAME;
            const uint32_t g = std::gcd(config_.timing.framePeriodUs, 1000000u);
            c.timeperframe.numerator = config_.timing.framePeriodUs / g;
            c.timeperframe.denominator = 1000000u / g;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            if (s->index != 0 || s->pixel_format != V4L2_PIX_FMT_Y16) return -EINVAL;
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete.width = width_;
            s->discrete.height = height_;
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* s = static_cast<v4l2_frmivalenum*>(arg);
            if (s->index != 0 || s->pixel_format != V4L2_PIX_FMT_Y16 || s->width != width_ ||
                s->height != height_) {
                return -EINVAL;
            }
            s->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            const uint32_t g = std::gcd(config_.timing.framePeriodUs, 1000000u);
            s->discrete.numerator = config_.timing.framePeriodUs / g;
            s->discrete.denominator = 1000000u / g;
            return 0;
        }
        case VIDIOC_ENUMINPUT: {
            auto* in = static_cast<v4l2_input*>(arg);
            if (in->index != 0) return -EINVAL;
            std::memset(in, 0, sizeof(*in));
            copyName(in->name, "Camera");
            in->type = V4L2_INPUT_TYPE_CAMERA;
            return 0;
        }
        case VIDIOC_G_INPUT:
            *static_cast<int*>(arg) = 0;
            return 0;
        case VIDIOC_S_INPUT:
            return *static_cast<int*>(arg) == 0 ? 0 : -EINVAL;
        case VIDIOC_G_PRIORITY:
            *static_cast<uint32_t*>(arg) = V4L2_PRIORITY_DEFAULT;
            return 0;
        case VIDIOC_S_PRIORITY: {
            const uint32_t p = *static_cast<uint32_t*>(arg);
            return p >= V4L2_PRIORITY_BACKGROUND && p <= V4L2_PRIORITY_RECORD ? 0 : -EINVAL;
        }
        case VIDIOC_LOG_STATUS:
            return 0;
        // The video node has a control handler without controls: the
        // sensor's controls live on the sub-device.
        case VIDIOC_QUERYCTRL:
        case VIDIOC_QUERY_EXT_CTRL:
        case VIDIOC_QUERYMENU:
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
            return -EINVAL;
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS: {
            auto* c = static_cast<v4l2_ext_controls*>(arg);
            if (c->count == 0) return 0;
            c->error_idx = c->count;
            return -EINVAL;
        }
        default:
            return -ENOTTY;
    }
}

// ---------------------------------------------------------------- controls

int Device::getControlLocked(uint32_t id, int32_t& value) {
    const ControlInfo* c = controls_.find(id);
    if (!c) return -EINVAL;
    if (c->flags & V4L2_CTRL_FLAG_WRITE_ONLY) return -EACCES;
    return controls_.get(id, value) ? 0 : -EINVAL;
}

int Device::setControlLocked(uint32_t id, int32_t& value) {
    if (int e = controls_.validate(id, value); e != 0) return -e;
    controls_.set(id, value);
    if (id == cid::TRIGGER_SHUTTER && value == 1) {
        ++counters_.triggers;
        if (!config_.faults.stall) acquireFrameLocked(Clock::now());
    }
    return 0;
}

int Device::extControlsLocked(unsigned long request, v4l2_ext_controls* ctrls) {
    const uint32_t which = ctrls->which;
    const bool defaults = which == V4L2_CTRL_WHICH_DEF_VAL;
    if (which != V4L2_CTRL_WHICH_CUR_VAL && !defaults && which != V4L2_CTRL_CLASS_USER) {
        return -EINVAL;
    }
    if (defaults && request != VIDIOC_G_EXT_CTRLS) return -EINVAL;
    if (ctrls->count == 0) return 0;
    if (ctrls->count > 1024) return -EINVAL;
    if (!ctrls->controls) return -EFAULT;
    v4l2_ext_control* list = ctrls->controls;
    // Check every identifier first, as the control framework does.
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        const ControlInfo* c = controls_.find(list[i].id);
        if (!c || c->type == V4L2_CTRL_TYPE_CTRL_CLASS) {
            ctrls->error_idx = request == VIDIOC_G_EXT_CTRLS ? i : ctrls->count;
            return -EINVAL;
        }
    }
    if (request == VIDIOC_G_EXT_CTRLS) {
        for (uint32_t i = 0; i < ctrls->count; ++i) {
            const ControlInfo* c = controls_.find(list[i].id);
            if (defaults) {
                list[i].value = c->defaultValue;
                continue;
            }
            int32_t v = 0;
            if (int r = getControlLocked(list[i].id, v); r != 0) {
                ctrls->error_idx = i;
                return r;
            }
            list[i].value = v;
        }
        return 0;
    }
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        int32_t v = list[i].value;
        if (int e = controls_.validate(list[i].id, v); e != 0) {
            ctrls->error_idx = i;
            return -e;
        }
    }
    if (request == VIDIOC_TRY_EXT_CTRLS) {
        for (uint32_t i = 0; i < ctrls->count; ++i) {
            int32_t v = list[i].value;
            controls_.validate(list[i].id, v);
            list[i].value = v;
        }
        return 0;
    }
    for (uint32_t i = 0; i < ctrls->count; ++i) {
        int32_t v = list[i].value;
        setControlLocked(list[i].id, v);
        list[i].value = v;
    }
    return 0;
}

// The control a QUERYCTRL or QUERY_EXT_CTRL request asks for: the one with
// the id, or with the NEXT_CTRL flag the one after it.
const ControlInfo* Device::queriedControl(uint32_t id) const {
    if (id & V4L2_CTRL_FLAG_NEXT_CTRL) {
        return controls_.next(id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND));
    }
    if (id & V4L2_CTRL_FLAG_NEXT_COMPOUND) {
        return nullptr;
    }
    return controls_.find(id);
}

namespace {

// The fields both query structures share.
template <typename Query>
void fillQuery(Query& q, const ControlInfo& c) {
    std::memset(&q, 0, sizeof(q));
    q.id = c.id;
    q.type = c.type;
    copyName(q.name, c.name);
    q.minimum = c.minimum;
    q.maximum = c.maximum;
    q.step = static_cast<decltype(q.step)>(c.step);
    q.default_value = c.defaultValue;
    q.flags = c.flags;
}

}  // namespace

int Device::subdevIoctl(unsigned long request, void* arg) {
    switch (request) {
        case VIDIOC_SUBDEV_QUERYCAP: {
            auto* cap = static_cast<v4l2_subdev_capability*>(arg);
            std::memset(cap, 0, sizeof(*cap));
            cap->version = versionCode(config_.driverVersion);
            return 0;
        }
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const ControlInfo* c = queriedControl(q->id);
            if (!c) return -EINVAL;
            fillQuery(*q, *c);
            return 0;
        }
        case VIDIOC_QUERY_EXT_CTRL: {
            auto* q = static_cast<v4l2_query_ext_ctrl*>(arg);
            const ControlInfo* c = queriedControl(q->id);
            if (!c) return -EINVAL;
            fillQuery(*q, *c);
            q->elem_size = c->type == V4L2_CTRL_TYPE_CTRL_CLASS ? 0 : 4;
            q->elems = 1;
            return 0;
        }
        case VIDIOC_QUERYMENU: {
            auto* m = static_cast<v4l2_querymenu*>(arg);
            const char* name = controls_.menuItem(m->id, m->index);
            if (!name) return -EINVAL;
            char text[sizeof(m->name)] = {};
            std::strncpy(text, name, sizeof(text) - 1);
            std::memcpy(m->name, text, sizeof(text));
            return 0;
        }
        case VIDIOC_G_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            int32_t v = 0;
            if (int r = getControlLocked(c->id, v); r != 0) return r;
            c->value = v;
            return 0;
        }
        case VIDIOC_S_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            int32_t v = c->value;
            if (int r = setControlLocked(c->id, v); r != 0) return r;
            c->value = v;
            return 0;
        }
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS:
            return extControlsLocked(request, static_cast<v4l2_ext_controls*>(arg));
        case VIDIOC_LOG_STATUS:
            return 0;
        default:
            return -ENOTTY;
    }
}

// ---------------------------------------------------------------- frames

void Device::acquireFrameLocked(Clock::time_point now) {
    // A sensor that is still busy with earlier frames ignores the trigger.
    if (pending_.size() >= MAX_PENDING_FRAMES) return;
    Pending p;
    controls_.applyTo(p.state);
    p.state.width = width_;
    p.state.height = height_;
    const float celsius = temperatureLocked(now);
    p.state.temperatureC = celsius;
    p.state.frameIndex = counters_.frames++;
    p.triggered = now;
    pending_.push_back(p);
    tree_.writeTemperature(static_cast<int32_t>(std::lround(celsius * 1000.0f)));
    if (ensureWorkerLocked()) workerCv_.notify_all();
}

bool Device::ensureWorkerLocked() {
    if (workerRunning_) return true;
    // A worker that ran out of work has left its loop and released the lock
    // for the last time; joining it here cannot block on us.
    if (worker_.joinable()) worker_.join();
    try {
        worker_ = std::thread(&Device::workerLoop, this);
    } catch (const std::system_error&) {
        return false;
    }
    workerRunning_ = true;
    return true;
}

void Device::workerLoop() {
    std::unique_lock<std::mutex> lock(mu_);
    while (!stopWorker_) {
        const auto now = Clock::now();
        if (streaming_ && config_.timing.freeRun && !gone_ && now >= nextFreeRun_) {
            if (!config_.faults.stall) acquireFrameLocked(now);
            const auto period = std::chrono::microseconds(config_.timing.framePeriodUs);
            nextFreeRun_ += period;
            if (nextFreeRun_ <= now) nextFreeRun_ = now + period;
        }
        while (!out_.empty() && out_.front().due <= now) {
            OutImage image = std::move(out_.front());
            out_.pop_front();
            deliverLocked(image, now);
        }
        if (out_.empty() && !pending_.empty()) {
            Pending p = pending_.front();
            pending_.pop_front();
            rendering_ = true;
            lock.unlock();
            std::vector<std::vector<uint16_t>> images = renderer_->renderFrame(p.state);
            auto truth = std::make_shared<const GroundTruth>(renderer_->truth());
            // Static data the renderer set up on first use is destroyed at
            // exit before handlers registered earlier run: stop the worker
            // first.
            static std::once_flag registered;
            std::call_once(registered, [] { std::atexit(&Device::atExit); });
            lock.lock();
            rendering_ = false;
            lastState_ = p.state;
            truth_ = std::move(truth);
            auto due = p.triggered + std::chrono::microseconds(config_.timing.exposureDelayUs);
            for (auto& img : images) {
                out_.push_back(OutImage{std::move(img), due});
                due += std::chrono::microseconds(config_.timing.readoutUs);
            }
            stateCv_.notify_all();
            continue;
        }
        if (out_.empty() && pending_.empty()) {
            stateCv_.notify_all();
            if (!streaming_) break;  // idle: the next trigger starts a new worker
        }
        auto deadline = Clock::time_point::max();
        if (!out_.empty()) deadline = out_.front().due;
        if (streaming_ && config_.timing.freeRun && !gone_) {
            deadline = std::min(deadline, nextFreeRun_);
        }
        if (deadline == Clock::time_point::max()) {
            workerCv_.wait(lock);
        } else {
            workerCv_.wait_until(lock, deadline);
        }
    }
    workerRunning_ = false;
}

void Device::deliverLocked(OutImage& image, Clock::time_point now) {
    (void)now;
    if (gone_) return;
    if (!streaming_) {
        ++counters_.imagesDropped;
        return;
    }
    const uint32_t sequence = sequence_++;
    if (queued_.empty()) {
        ++counters_.imagesDropped;
        return;
    }
    const uint32_t index = queued_.front();
    queued_.pop_front();
    Buffer& b = buffers_[index];
    const size_t size = static_cast<size_t>(width_) * 2 * height_;
    const size_t bytes = std::min(image.data.size() * sizeof(uint16_t), size);
    std::memcpy(b.data, image.data.data(), bytes);
    if (bytes < size) std::memset(static_cast<char*>(b.data) + bytes, 0, size - bytes);
    const int64_t used = static_cast<int64_t>(size) + config_.faults.bytesusedDelta;
    b.bytesused = static_cast<uint32_t>(std::clamp<int64_t>(used, 0, UINT32_MAX));
    b.sequence = sequence;
    b.timestamp = monotonicNow();
    b.state = BufState::Done;
    done_.push_back(index);
    ++counters_.imagesDelivered;
    updateReadinessLocked();
    stateCv_.notify_all();
    const int64_t limit = config_.faults.disconnectAfterImages;
    if (limit >= 0 && counters_.imagesDelivered >= static_cast<uint64_t>(limit)) {
        disconnectLocked();
    }
}

}  // namespace ozrsim
