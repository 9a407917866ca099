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
constexpr uint32_t BUF_CAPS = V4L2_BUF_CAP_SUPPORTS_MMAP | V4L2_BUF_CAP_SUPPORTS_ORPHANED_BUFS;

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
    if (goneFor(*file) || file->kind != NodeKind::Video) {
        error = ENODEV;
        return MAP_FAILED;
    }
    // The offset selects a buffer; the mapping may not reach past it.
    uint32_t index = 0;
    while (index < buffers_.size() && buffers_[index].offset != offset) ++index;
    if (length == 0 || index == buffers_.size() || length > buffers_[index].mapSize ||
        !(flags & MAP_SHARED) || !(prot & PROT_READ)) {
        error = EINVAL;
        return MAP_FAILED;
    }
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
        if (b.data) real::munmap(b.data, b.mapSize);
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
    b->m.offset = buf.offset;
    b->length = buf.length;
}

bool Device::addBuffersLocked(uint32_t count, uint32_t length) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t mapSize = (static_cast<size_t>(length) + page - 1) / page * page;
    const size_t before = buffers_.size();
    // Offsets follow each other, page-aligned, as the buffers were created.
    size_t offset = 0;
    if (!buffers_.empty()) offset = buffers_.back().offset + buffers_.back().mapSize;
    bool ok = true;
    for (uint32_t i = 0; i < count && ok; ++i, offset += mapSize) {
        Buffer b;
        b.length = length;
        b.mapSize = mapSize;
        b.offset = static_cast<uint32_t>(offset);
        ok = offset + mapSize <= UINT32_MAX;
        if (ok) b.memfd = memfd_create("ozrsim-buffer", MFD_CLOEXEC);
        ok = ok && b.memfd >= 0 && ftruncate(b.memfd, static_cast<off_t>(mapSize)) == 0;
        if (ok) {
            void* p = real::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, b.memfd, 0);
            ok = p != MAP_FAILED;
            if (ok) b.data = p;
        }
        buffers_.push_back(b);
    }
    if (ok) return true;
    // Nothing half-created stays behind.
    while (buffers_.size() > before) {
        Buffer& b = buffers_.back();
        if (b.data) real::munmap(b.data, b.mapSize);
        if (b.memfd >= 0) real::close(b.memfd);
        buffers_.pop_back();
    }
    return false;
}

int Device::reqbufsLocked(Handle h, v4l2_requestbuffers* req) {
    // The capabilities are reported whatever the outcome.
    req->capabilities = BUF_CAPS;
    req->flags = 0;  // no cache hints
    if (req->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || req->memory != V4L2_MEMORY_MMAP) {
        return -EINVAL;
    }
    if (ownedByOtherLocked(h)) return -EBUSY;
    if (streaming_) return -EBUSY;
    freeBuffersLocked();
    waitingForBuffers_ = true;
    if (req->count == 0) {
        owner_ = NO_HANDLE;
        updateReadinessLocked();
        return 0;
    }
    const uint32_t n = std::min(req->count, MAX_BUFFERS);
    if (!addBuffersLocked(n, imageSize())) return -ENOMEM;
    owner_ = h;
    req->count = n;
    updateReadinessLocked();
    return 0;
}

int Device::createBufsLocked(Handle h, v4l2_create_buffers* create) {
    create->index = static_cast<uint32_t>(buffers_.size());
    create->capabilities = BUF_CAPS;
    create->flags = 0;
    const bool valid =
        create->memory == V4L2_MEMORY_MMAP && create->format.type == V4L2_BUF_TYPE_VIDEO_CAPTURE;
    // A count of 0 only asks whether the memory and type are supported.
    if (create->count == 0) return valid ? 0 : -EINVAL;
    if (!valid) return -EINVAL;
    if (ownedByOtherLocked(h)) return -EBUSY;
    // Each buffer must hold an image; a larger one is fine.
    const uint32_t length = create->format.fmt.pix.sizeimage;
    if (length < imageSize()) return -EINVAL;
    if (buffers_.size() >= MAX_BUFFERS) return -ENOBUFS;
    if (buffers_.empty()) waitingForBuffers_ = true;
    const uint32_t n =
        std::min(create->count, MAX_BUFFERS - static_cast<uint32_t>(buffers_.size()));
    if (!addBuffersLocked(n, length)) return -ENOMEM;
    owner_ = h;
    create->count = n;
    create->format.fmt.pix.priv = V4L2_PIX_FMT_PRIV_MAGIC;
    updateReadinessLocked();
    return 0;
}

int Device::checkBufferArgLocked(Handle h, const v4l2_buffer* b, bool ownerOnly) {
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    if (ownerOnly && ownedByOtherLocked(h)) return -EBUSY;
    if (b->index >= buffers_.size()) return -EINVAL;
    return 0;
}

int Device::dqbufLocked(std::unique_lock<std::mutex>& lock, Handle h, bool nonblocking,
                        v4l2_buffer* b) {
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    const uint64_t generation = generation_;
    for (;;) {
        if (generation != generation_ || gone_) return -ENODEV;
        const auto it = files_.find(h);
        if (it == files_.end()) return -EBADF;
        if (it->second.stale) return -ENODEV;
        if (ownedByOtherLocked(h)) return -EBUSY;
        if (!streaming_) return -EINVAL;
        if (!done_.empty()) break;
        if (nonblocking) return -EAGAIN;
        stateCv_.wait(lock);
    }
    const uint32_t index = done_.front();
    done_.pop_front();
    // Back with the application: no longer flagged done.
    buffers_[index].state = BufState::Dequeued;
    fillBufferLocked(index, b);
    updateReadinessLocked();
    return 0;
}

int Device::querybufLocked(Handle h, v4l2_buffer* b) {
    if (int r = checkBufferArgLocked(h, b, false); r != 0) return r;
    fillBufferLocked(b->index, b);
    return 0;
}

int Device::qbufLocked(Handle h, v4l2_buffer* b) {
    if (b->memory != V4L2_MEMORY_MMAP) return -EINVAL;
    if (int r = checkBufferArgLocked(h, b, true); r != 0) return r;
    Buffer& buf = buffers_[b->index];
    if (buf.state != BufState::Dequeued) return -EINVAL;
    buf.state = BufState::Queued;
    queued_.push_back(b->index);
    waitingForBuffers_ = false;
    fillBufferLocked(b->index, b);
    updateReadinessLocked();
    return 0;
}

int Device::streamOnLocked(Handle h, int type) {
    if (ownedByOtherLocked(h)) return -EBUSY;
    if (type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
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

int Device::streamOffLocked(Handle h, int type) {
    if (ownedByOtherLocked(h)) return -EBUSY;
    if (type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    stopStreamingLocked();
    return 0;
}

}  // namespace ozrsim
