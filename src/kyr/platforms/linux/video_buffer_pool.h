// Recycling of pixel blocks behind VideoBuffer::alloc and VideoBuffer::release.
//
// Every stage publishes a new image per frame. A 640 x 480 image is about
// 600 KB, which the C library maps fresh from the kernel and unmaps again when
// it is freed, so without recycling every image of every frame costs page
// faults and zeroed pages. The policy:
//
// - Blocks of at least POOL_MIN_BYTES that their last holder releases are kept
//   on a free list of their exact size and handed out again for the next
//   request of that size, most recently released first (still in the cache).
//   Their contents are unspecified, as for new memory. Smaller blocks (control
//   blocks, small images) go straight to the heap, whose own free lists serve
//   them without calls into the kernel.
// - Bounded: at most MAX_BLOCKS_PER_SIZE blocks of one size, MAX_POOLED_BYTES
//   in all, in at most SIZE_CLASSES sizes. A 640 x 480 frame has some 10 to 30
//   live images of 600 KB (1.2 MB for float); 32 blocks hold a whole frame's
//   images released at once (an application letting go of a frame it kept),
//   and 32 MiB is about two frames' worth. When a release would pass the byte
//   cap, blocks of the size asked for least recently are freed first to make
//   room (so the sizes of a new mode replace those of the old one); beyond the
//   bounds a block goes back to the heap.
// - Thread-safe: images are created on the streaming thread and often released
//   on the application's. One mutex, held only for the free-list operations,
//   never across a heap call; fork() keeps it consistent.
// - Unload: the pool is never destroyed. At static destruction (exit, or the
//   library unloading) its blocks are freed and from then on every block goes
//   straight to the heap, so images released later (held in statics of the
//   application) are still freed safely.
// - In builds with AddressSanitizer the pixels of a pooled block are poisoned,
//   so use of an image's pixels after its last holder let go is still
//   reported.
//
// Block layout: a BlockHeader (requested size, offset back to the start of the
// heap block, state) lies directly before the returned address, so release
// needs only the pointer. Pooled sizes are aligned to PIXEL_ALIGNMENT for
// vector loads; smaller blocks keep the heap's own alignment.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kyr::platform {

class VideoBufferPool {
public:
    static constexpr size_t POOL_MIN_BYTES = 64 * 1024;
    static constexpr size_t MAX_BLOCKS_PER_SIZE = 32;
    static constexpr size_t MAX_POOLED_BYTES = 32 * 1024 * 1024;
    static constexpr size_t SIZE_CLASSES = 16;
    static constexpr size_t PIXEL_ALIGNMENT = 64;

    struct Statistics {
        size_t pooledBlocks;       // blocks waiting on the free lists
        size_t pooledBytes;        // their sizes in bytes
        uint64_t heapAllocations;  // blocks of pooled sizes taken from the heap
        uint64_t heapReleases;     // blocks of pooled sizes given back to it
        uint64_t reuses;           // requests served from the free lists
    };

    // `size` bytes, or nullptr when the memory cannot be had. Never throws.
    static void* alloc(size_t size) noexcept;
    // Returns a block from alloc(); nullptr is ignored.
    static void release(void* ptr) noexcept;

    static Statistics statistics() noexcept;
    // Frees every pooled block; the pool stays in use.
    static void trim() noexcept;
};

}  // namespace kyr::platform
