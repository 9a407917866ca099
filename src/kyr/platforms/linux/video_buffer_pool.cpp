#include "platforms/linux/video_buffer_pool.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>

#include "kyr/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#define KYR_POISON_POOLED_BLOCKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KYR_POISON_POOLED_BLOCKS 1
#endif
#endif

#if defined(KYR_POISON_POOLED_BLOCKS)
#include <sanitizer/asan_interface.h>
#define KYR_POISON(addr, size) ASAN_POISON_MEMORY_REGION(addr, size)
#define KYR_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION(addr, size)
#else
#define KYR_POISON(addr, size) ((void)(addr), (void)(size))
#define KYR_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif

namespace kyr::platform {
namespace {

constexpr uint32_t LIVE_TAG = 0x4b594221u;
constexpr uint32_t POOLED_TAG = 0x4b594250u;

struct BlockHeader {
    size_t size;      // bytes asked for
    uint32_t offset;  // from the start of the heap block to the returned address
    uint32_t tag;     // LIVE_TAG while handed out, POOLED_TAG on a free list
};
static_assert(sizeof(BlockHeader) % alignof(std::max_align_t) == 0);

constexpr size_t HEADER_BYTES = sizeof(BlockHeader);
// Room for the header and for aligning the returned address, whatever the
// alignment of the heap block.
constexpr size_t POOLED_OVERHEAD = HEADER_BYTES + VideoBufferPool::PIXEL_ALIGNMENT;

bool isPooledSize(size_t size) {
    return size >= VideoBufferPool::POOL_MIN_BYTES;
}

BlockHeader* headerOf(void* ptr) {
    return static_cast<BlockHeader*>(ptr) - 1;
}

std::atomic<uint64_t> g_heapAllocations{0};
std::atomic<uint64_t> g_heapReleases{0};

void* heapAlloc(size_t size) noexcept {
    const bool pooled = isPooledSize(size);
    const size_t overhead = pooled ? POOLED_OVERHEAD : HEADER_BYTES;
    if (size > std::numeric_limits<size_t>::max() - overhead) {
        return nullptr;
    }
    char* raw = new (std::nothrow) char[size + overhead];
    if (raw == nullptr) {
        return nullptr;
    }
    auto address = reinterpret_cast<uintptr_t>(raw) + HEADER_BYTES;
    if (pooled) {
        constexpr uintptr_t MASK = VideoBufferPool::PIXEL_ALIGNMENT - 1;
        address = (address + MASK) & ~MASK;
        g_heapAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    void* ptr = raw + (address - reinterpret_cast<uintptr_t>(raw));
    *headerOf(ptr) = {size, static_cast<uint32_t>(address - reinterpret_cast<uintptr_t>(raw)),
                      LIVE_TAG};
    return ptr;
}

void heapRelease(void* ptr) noexcept {
    BlockHeader* header = headerOf(ptr);
    if (isPooledSize(header->size)) {
        g_heapReleases.fetch_add(1, std::memory_order_relaxed);
    }
    header->tag = 0;
    delete[](static_cast<char*>(ptr) - header->offset);
}

// Blocks taken off the free lists, freed after the lock is let go. They are
// chained through their first bytes.
class FreeChain {
public:
    FreeChain() = default;
    FreeChain(const FreeChain&) = delete;
    FreeChain& operator=(const FreeChain&) = delete;
    ~FreeChain() {
        while (head != nullptr) {
            void* next = *static_cast<void**>(head);
            heapRelease(head);
            head = next;
        }
    }
    void add(void* block) {
        KYR_UNPOISON(block, headerOf(block)->size);
        *static_cast<void**>(block) = head;
        head = block;
    }

private:
    void* head = nullptr;
};

struct SizeClass {
    size_t size = 0;  // 0 for a class never used; pooled sizes are larger
    size_t count = 0;
    uint64_t lastUse = 0;  // pool clock of the last request or release
    void* blocks[VideoBufferPool::MAX_BLOCKS_PER_SIZE] = {};
};

class Pool {
public:
    constexpr Pool() = default;

    void* take(size_t size) noexcept {
        void* block = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex);
            SizeClass* c = closed ? nullptr : find(size);
            if (c != nullptr) {
                c->lastUse = ++clock;
                if (c->count > 0) {
                    block = c->blocks[--c->count];
                    pooledBytes -= size;
                    --pooledBlocks;
                    ++reuses;
                }
            }
        }
        if (block == nullptr) {
            return heapAlloc(size);
        }
        KYR_UNPOISON(block, size);
        headerOf(block)->tag = LIVE_TAG;
        return block;
    }

    void put(void* block) noexcept {
        const size_t size = headerOf(block)->size;
        FreeChain toFree;
        bool kept = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            SizeClass* c = closed ? nullptr : classFor(size, toFree);
            if (c != nullptr && c->count < VideoBufferPool::MAX_BLOCKS_PER_SIZE &&
                makeRoom(size, *c, toFree)) {
                headerOf(block)->tag = POOLED_TAG;
                KYR_POISON(block, size);
                c->blocks[c->count++] = block;
                pooledBytes += size;
                ++pooledBlocks;
                kept = true;
            }
        }
        if (!kept) {
            heapRelease(block);
        }
    }

    // Frees every pooled block; with `close` the pool also stops keeping any.
    void drain(bool close) noexcept {
        FreeChain toFree;
        std::lock_guard<std::mutex> lock(mutex);
        closed = closed || close;
        for (SizeClass& c : classes) {
            while (c.count > 0) {
                takeOne(c, toFree);
            }
        }
    }

    VideoBufferPool::Statistics statistics() noexcept {
        std::lock_guard<std::mutex> lock(mutex);
        return {pooledBlocks, pooledBytes, g_heapAllocations.load(std::memory_order_relaxed),
                g_heapReleases.load(std::memory_order_relaxed), reuses};
    }

    void lockForFork() { mutex.lock(); }
    void unlockAfterFork() { mutex.unlock(); }

private:
    SizeClass* find(size_t size) {
        for (SizeClass& c : classes) {
            if (c.size == size) {
                return &c;
            }
        }
        return nullptr;
    }

    // The class of `size`, made from an empty one or, when every class holds
    // blocks, from the one used least recently, whose blocks are freed.
    SizeClass* classFor(size_t size, FreeChain& toFree) {
        if (SizeClass* c = find(size)) {
            return c;
        }
        SizeClass* victim = &classes[0];
        for (SizeClass& c : classes) {
            if (c.count == 0) {
                victim = &c;
                break;
            }
            if (c.lastUse < victim->lastUse) {
                victim = &c;
            }
        }
        while (victim->count > 0) {
            takeOne(*victim, toFree);
        }
        victim->size = size;
        victim->lastUse = ++clock;
        return victim;
    }

    // Frees blocks of classes used less recently than `c` until `size` more
    // bytes fit under the cap; false when they cannot be made to fit.
    bool makeRoom(size_t size, const SizeClass& c, FreeChain& toFree) {
        if (size > VideoBufferPool::MAX_POOLED_BYTES) {
            return false;
        }
        while (pooledBytes + size > VideoBufferPool::MAX_POOLED_BYTES) {
            SizeClass* oldest = nullptr;
            for (SizeClass& other : classes) {
                if (other.count > 0 && &other != &c && other.lastUse < c.lastUse &&
                    (oldest == nullptr || other.lastUse < oldest->lastUse)) {
                    oldest = &other;
                }
            }
            if (oldest == nullptr) {
                return false;
            }
            takeOne(*oldest, toFree);
        }
        return true;
    }

    void takeOne(SizeClass& c, FreeChain& toFree) {
        void* block = c.blocks[--c.count];
        pooledBytes -= c.size;
        --pooledBlocks;
        toFree.add(block);
    }

    std::mutex mutex;
    bool closed = false;
    uint64_t clock = 0;
    size_t pooledBytes = 0;
    size_t pooledBlocks = 0;
    uint64_t reuses = 0;
    SizeClass classes[VideoBufferPool::SIZE_CLASSES] = {};
};

// The pool lives in static storage and is never destroyed, so that releases
// during and after static destruction still find its lock.
union NeverDestroyed {
    constexpr NeverDestroyed() : pool() {}
    ~NeverDestroyed() {}
    Pool pool;
};
constinit NeverDestroyed g_storage;

Pool& pool() {
    return g_storage.pool;
}

// At static destruction the pooled blocks are freed and the pool closes.
struct PoolCloser {
    PoolCloser() {
        pthread_atfork([] { pool().lockForFork(); }, [] { pool().unlockAfterFork(); },
                       [] { pool().unlockAfterFork(); });
    }
    ~PoolCloser() { pool().drain(true); }
    PoolCloser(const PoolCloser&) = delete;
    PoolCloser& operator=(const PoolCloser&) = delete;
};
const PoolCloser g_closer;

}  // namespace

void* VideoBufferPool::alloc(size_t size) noexcept {
    return isPooledSize(size) ? pool().take(size) : heapAlloc(size);
}

void VideoBufferPool::release(void* ptr) noexcept {
    if (ptr == nullptr) {
        return;
    }
    BlockHeader* header = headerOf(ptr);
    if (header->tag != LIVE_TAG) {
        KYR_LOG_ERROR("VideoBuffer: release of a block that is not in use (%p)", ptr);
        return;
    }
    if (isPooledSize(header->size)) {
        pool().put(ptr);
    } else {
        heapRelease(ptr);
    }
}

VideoBufferPool::Statistics VideoBufferPool::statistics() noexcept {
    return pool().statistics();
}

void VideoBufferPool::trim() noexcept {
    pool().drain(false);
}

}  // namespace kyr::platform
