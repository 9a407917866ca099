// The video node's buffer queue: memory-mapped buffers, queueing and
// dequeueing, and the stream state.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "device.h"
#include "device_util.h"
#include "real.h"

namespace ozrsim {

namespace {

constexpr uint32_t BUF_TS_FLAGS = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_EOF;

}  // namespace

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

int Device::querybufLocked(int fd, v4l2_buffer* b) {
    if (int r = checkBufferArgLocked(fd, b, false); r != 0) return r;
    fillBufferLocked(b->index, b);
    return 0;
}

int Device::qbufLocked(int fd, v4l2_buffer* b) {
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

int Device::streamOnLocked(int fd, int type) {
    if (type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
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

int Device::streamOffLocked(int fd, int type) {
    if (type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    if (owner_ != -1 && owner_ != fd) return -EBUSY;
    stopStreamingLocked();
    return 0;
}

}  // namespace ozrsim
