// The device as a whole: configuration and reset, faults, disconnection and
// reconnection, the control API's queries, the descriptors of the nodes and
// the routing of requests to the node that serves them.
#include "device.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "envconfig.h"
#include "real.h"
#include "requests.h"

namespace ozrsim {

std::atomic<uint8_t> FdTable::kinds_[FdTable::SIZE];
std::atomic<bool> Device::active_{false};

namespace {

constexpr uint32_t VIDEO_MAJOR = 81;

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

int Device::configure(const Config& requested) {
    std::lock_guard<std::mutex> serial(configMu_);
    resetLocked();
    Config config = requested;
    std::shared_ptr<Replay> replay;
    if (!config.replay.file.empty()) {
        std::string error;
        replay = Replay::open(config, error);
        if (!replay) {
            std::fprintf(stderr, "ozrsim: %s\n", error.c_str());
            return -EINVAL;
        }
    }
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
    // The lens rays and per-pixel terms of the format are ready before the
    // first trigger: the first frame is as punctual as the rest.
    (void)renderer->prepare(config.model, width, height);
    auto map = std::make_unique<PathMap>();
    FileTree tree;
    if (int rc = tree.create(config, width, height, *map); rc != 0) return rc;

    {
        std::lock_guard<std::mutex> lock(mu_);
        config_ = config;
        width_ = width;
        height_ = height;
        controls_ = ControlSet(config.model);
        if (replay) replay->applyControls(controls_);
        replay_ = std::move(replay);
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

    for (const auto& [fd, handle] : descriptors_) FdTable::set(fd, NodeKind::None);
    for (auto& [handle, file] : files_) {
        if (file.peer >= 0) real::close(file.peer);
    }
    descriptors_.clear();
    files_.clear();
    freeBuffersLocked();
    owner_ = NO_HANDLE;
    streaming_ = false;
    waitingForBuffers_ = true;
    sequence_ = 0;
    mappings_.clear();
    pending_.clear();
    out_.clear();
    truth_.reset();
    renderer_.reset();
    replay_.reset();
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

void Device::reconnect() {
    std::unique_lock<std::mutex> lock(mu_);
    if (!configured_ || !gone_) return;
    // A frame the worker was rendering when the device went belongs to the
    // old instance: let it finish, then drop it.
    stateCv_.wait(lock, [this] { return !rendering_ || !configured_; });
    if (!configured_ || !gone_) return;
    pending_.clear();
    out_.clear();
    for (auto& [handle, file] : files_) {
        if (file.kind == NodeKind::Video || file.kind == NodeKind::Subdev) file.stale = true;
    }
    // The new instance has no buffers and its controls at their defaults;
    // the application's mappings of the old buffers keep their memory.
    freeBuffersLocked();
    owner_ = NO_HANDLE;
    streaming_ = false;
    waitingForBuffers_ = true;
    sequence_ = 0;
    controls_ = ControlSet(config_.model);
    config_.faults.disconnectAfterImages = -1;
    tree_.restoreNodes();
    gone_ = false;
    updateReadinessLocked();
    stateCv_.notify_all();
}

void Device::warmUp(std::chrono::milliseconds timeout) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (!configured_ || gone_) return;
        acquireFrameLocked(Clock::now());
    }
    (void)waitIdle(timeout);
}

std::string Device::rootDirectory() {
    std::lock_guard<std::mutex> lock(mu_);
    return configured_ ? tree_.root() : std::string();
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
    for (const auto& [fd, handle] : descriptors_) {
        const NodeKind kind = files_.at(handle).kind;
        if (kind == NodeKind::Video) ++c.openVideo;
        if (kind == NodeKind::Subdev) ++c.openSubdev;
        if (kind == NodeKind::HwmonInput) ++c.openHwmon;
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

// ---------------------------------------------------------------- descriptors

Device::OpenFile* Device::findLocked(int fd, bool checkIdentity) {
    if (!configured_) return nullptr;
    const auto d = descriptors_.find(fd);
    if (d == descriptors_.end()) return nullptr;
    OpenFile& file = files_.at(d->second);
    if (checkIdentity) {
        // A descriptor closed behind our back (fclose of an fdopen'ed node,
        // close_range) may have been reused for something else.
        struct stat st {};
        if (real::fstat(fd, &st) != 0 || st.st_ino != file.ino) {
            forgetLocked(fd);
            return nullptr;
        }
    }
    return &file;
}

void Device::forgetLocked(int fd) {
    const auto d = descriptors_.find(fd);
    if (d == descriptors_.end()) return;
    const Handle handle = d->second;
    descriptors_.erase(d);
    FdTable::set(fd, NodeKind::None);
    OpenFile& file = files_.at(handle);
    std::erase(file.descriptors, fd);
    if (file.descriptors.empty()) releaseLocked(handle);
}

void Device::releaseLocked(Handle handle) {
    const auto it = files_.find(handle);
    if (it == files_.end()) return;
    if (owner_ == handle) {
        stopStreamingLocked();
        freeBuffersLocked();
        owner_ = NO_HANDLE;
    }
    if (it->second.peer >= 0) real::close(it->second.peer);
    files_.erase(it);
    updateReadinessLocked();
    stateCv_.notify_all();  // a request blocked on this handle returns
}

void Device::addDescriptorLocked(OpenFile& file, int fd) {
    file.descriptors.push_back(fd);
    descriptors_[fd] = file.handle;
    FdTable::set(fd, file.kind);
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
    OpenFile& file = files_[nextHandle_];
    file.handle = nextHandle_++;
    file.kind = kind;
    file.peer = sv[1];
    file.ino = st.st_ino;
    addDescriptorLocked(file, fd);
    updateReadinessLocked();
    return fd;
}

void Device::registerHwmonInput(int fd) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!configured_ || fd < 0 || fd >= FdTable::SIZE) return;
    struct stat st {};
    if (real::fstat(fd, &st) != 0) return;
    forgetLocked(fd);  // a number the emulation missed the closing of
    OpenFile& file = files_[nextHandle_];
    file.handle = nextHandle_++;
    file.kind = NodeKind::HwmonInput;
    file.ino = st.st_ino;
    addDescriptorLocked(file, fd);
}

int Device::close(int fd) {
    std::lock_guard<std::mutex> lock(mu_);
    if (descriptors_.find(fd) == descriptors_.end()) return NOT_SERVED;
    forgetLocked(fd);
    // Closed under the lock: the number cannot be handed out and registered
    // again before the table forgets it.
    return real::close(fd) == 0 ? 0 : -errno;
}

int Device::duplicate(int fd, int target, int flags, bool replaces, DuplicateFn fn) {
    std::lock_guard<std::mutex> lock(mu_);
    const bool known = descriptors_.count(fd) != 0;
    const bool replacesKnown = replaces && target != fd && descriptors_.count(target) != 0;
    if (!known && !replacesKnown) return NOT_SERVED;
    OpenFile* file = known ? findLocked(fd, true) : nullptr;
    // The new number must fit the table to be served.
    if (file && target >= FdTable::SIZE) return replaces ? -EBADF : -EINVAL;
    // Made under the lock: neither number can change hands meanwhile.
    const int newFd = fn(fd, target, flags);
    if (newFd < 0) return -errno;
    if (newFd == fd) return newFd;  // dup2 of a descriptor onto itself
    // The number now refers to `fd`'s file; what it referred to is closed.
    forgetLocked(newFd);
    if (!file) return newFd;
    if (newFd >= FdTable::SIZE) {
        real::close(newFd);
        return -EMFILE;
    }
    addDescriptorLocked(*file, newFd);
    updateReadinessLocked();
    return newFd;
}

int Device::closeRange(unsigned first, unsigned last, int flags, CloseRangeFn fn) {
    std::lock_guard<std::mutex> lock(mu_);
    const int rc = fn(first, last, flags);
    if (rc != 0) return -errno;
    if (flags & CLOSE_RANGE_CLOEXEC) return 0;
    for (auto it = descriptors_.lower_bound(static_cast<int>(std::min<unsigned>(first, INT_MAX)));
         it != descriptors_.end() && static_cast<unsigned>(it->first) <= last;) {
        forgetLocked((it++)->first);
    }
    return 0;
}

bool Device::nonblocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK);
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
    if (goneFor(*file)) return -ENODEV;
    if (int e = injectedFaultLocked(request); e != 0) return -e;
    // The argument is copied in before the request is looked at, and copied
    // out only after a known request succeeded.
    const size_t size = _IOC_SIZE(request);
    if ((_IOC_DIR(request) & _IOC_WRITE) && size > 0 && !arg) return -EFAULT;
    const RequestInfo* info = requestInfo(file->kind, request);
    if (!info) return -ENOTTY;
    if ((_IOC_DIR(request) & _IOC_READ) && size > 0 && !arg) return -EFAULT;
    if (info->needsPriority && file->priority < maxPriorityLocked()) return -EBUSY;
    if (info->clearFrom < size) {
        std::memset(static_cast<char*>(arg) + info->clearFrom, 0, size - info->clearFrom);
    }
    switch (file->kind) {
        case NodeKind::Video:
            return videoIoctl(lock, fd, file->handle, request, arg);
        case NodeKind::Subdev:
            return subdevIoctl(lock, fd, file->handle, request, arg);
        default:
            return -ENOTTY;
    }
}

uint32_t Device::maxPriorityLocked() const {
    uint32_t highest = V4L2_PRIORITY_UNSET;
    for (const auto& [handle, file] : files_) {
        if (file.kind == NodeKind::Video) highest = std::max(highest, file.priority);
    }
    return highest;
}

}  // namespace ozrsim
