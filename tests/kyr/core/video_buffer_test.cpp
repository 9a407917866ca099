#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <set>
#include <vector>

#include "kyr/image.h"
#include "kyr/video_buffer_allocator.h"
#include "platforms/linux/video_buffer_pool.h"
#include "support/log_capture.h"

// Counts the array allocations of the whole test binary so that the two blocks
// of an image can be seen.
namespace {
thread_local int g_arrayNews = 0;
thread_local int g_arrayDeletes = 0;
}  // namespace

void* operator new[](size_t size) {
    ++g_arrayNews;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    ++g_arrayNews;
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete[](void* p) noexcept {
    if (p != nullptr) {
        ++g_arrayDeletes;
    }
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete[](p);
}

namespace {

TEST(VideoBuffer, AllocatesAndReleasesArrays) {
    const int before = g_arrayNews;
    void* p = VideoBuffer::alloc(100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(g_arrayNews, before + 1);
    const int deletes = g_arrayDeletes;
    VideoBuffer::release(p);
    VideoBuffer::release(nullptr);
    EXPECT_EQ(g_arrayDeletes, deletes + 1);
}

TEST(VideoBuffer, ImageAndControlBlockShareOneBlockPixelsAnother) {
    const int news = g_arrayNews;
    const int deletes = g_arrayDeletes;
    {
        auto img = Image<uint16_t>::createNewBuffer(64, 48);
        ASSERT_TRUE(img);
        EXPECT_EQ(g_arrayNews, news + 2);
        // The image object lies in a different block than its pixels.
        const auto* obj = reinterpret_cast<const char*>(img.get());
        const auto* pix = reinterpret_cast<const char*>(img->getData());
        EXPECT_TRUE(pix >= obj + sizeof(Image<uint16_t>) || pix + img->size() <= obj);
        EXPECT_EQ(g_arrayDeletes, deletes);
    }
    EXPECT_EQ(g_arrayDeletes, deletes + 2);
}

using kyr::platform::VideoBufferPool;

TEST(VideoBuffer, OutOfMemoryGivesNullptr) {
    EXPECT_EQ(VideoBuffer::alloc(std::numeric_limits<size_t>::max()), nullptr);
    EXPECT_EQ(VideoBuffer::alloc(std::numeric_limits<size_t>::max() - 40), nullptr);
}

TEST(VideoBufferPool, ReleasedImageBlockIsHandedOutAgainForTheSameSize) {
    VideoBufferPool::trim();
    const auto start = VideoBufferPool::statistics();
    auto img = Image<uint16_t>::createNewBuffer(640, 480);
    const void* pixels = img->getData();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pixels) % VideoBufferPool::PIXEL_ALIGNMENT, 0u);
    const int deletes = g_arrayDeletes;
    img.reset();
    EXPECT_EQ(g_arrayDeletes, deletes + 1);  // the control block only
    EXPECT_EQ(VideoBufferPool::statistics().pooledBlocks, 1u);

    const int news = g_arrayNews;
    auto again = Image<int16_t>::createNewBuffer(480, 640);  // same byte size
    EXPECT_EQ(again->getData(), pixels);
    EXPECT_EQ(g_arrayNews, news + 1);
    // A neighbouring size is another class: it gets a block of its own.
    again.reset();
    auto other = Image<uint16_t>::createNewBuffer(640, 481);
    EXPECT_NE(other->getData(), pixels);
    const auto end = VideoBufferPool::statistics();
    EXPECT_EQ(end.heapAllocations - start.heapAllocations, 2u);
    EXPECT_EQ(end.reuses - start.reuses, 1u);
    EXPECT_EQ(end.pooledBlocks, 1u);
}

// Releases `count` blocks of `size` at once and checks how many the pool
// keeps; the others go back to the heap.
TEST(VideoBufferPool, KeepsNoMoreThanItsBoundsPerSizeAndInAll) {
    struct Case {
        size_t size;
        size_t count;
        size_t kept;
    };
    const size_t small = VideoBufferPool::POOL_MIN_BYTES;
    const size_t large = VideoBufferPool::MAX_POOLED_BYTES / 8;
    for (const Case& c : {Case{small, VideoBufferPool::MAX_BLOCKS_PER_SIZE + 5,
                               VideoBufferPool::MAX_BLOCKS_PER_SIZE},
                          Case{large, 10, 8}, Case{VideoBufferPool::MAX_POOLED_BYTES + 1, 1, 0},
                          Case{small - 1, 3, 0}}) {
        VideoBufferPool::trim();
        const auto start = VideoBufferPool::statistics();
        std::vector<void*> blocks;
        for (size_t i = 0; i < c.count; ++i) blocks.push_back(VideoBuffer::alloc(c.size));
        const int deletes = g_arrayDeletes;
        for (void* p : blocks) VideoBuffer::release(p);
        const auto end = VideoBufferPool::statistics();
        EXPECT_EQ(end.pooledBlocks, c.kept) << c.size;
        EXPECT_EQ(end.pooledBytes, c.kept * c.size) << c.size;
        EXPECT_EQ(static_cast<size_t>(g_arrayDeletes - deletes), c.count - c.kept) << c.size;
        if (c.size >= small) {
            EXPECT_EQ(end.heapReleases - start.heapReleases, c.count - c.kept) << c.size;
        }
    }
    VideoBufferPool::trim();
    EXPECT_EQ(VideoBufferPool::statistics().pooledBytes, 0u);
}

TEST(VideoBufferPool, SizeAskedForLeastRecentlyMakesRoomAtTheCap) {
    VideoBufferPool::trim();
    const size_t old = VideoBufferPool::MAX_POOLED_BYTES / 4;
    std::vector<void*> blocks;
    for (int i = 0; i < 4; ++i) blocks.push_back(VideoBuffer::alloc(old));
    for (void* p : blocks) VideoBuffer::release(p);
    void* recent = VideoBuffer::alloc(old / 2);
    VideoBuffer::release(recent);
    const auto s = VideoBufferPool::statistics();
    EXPECT_EQ(s.pooledBlocks, 4u);
    EXPECT_EQ(s.pooledBytes, 3 * old + old / 2);
    EXPECT_EQ(VideoBuffer::alloc(old / 2), recent);
    VideoBuffer::release(recent);
    VideoBufferPool::trim();
}

TEST(VideoBufferPool, SecondReleaseOfAPooledBlockIsRefused) {
    VideoBufferPool::trim();
    void* p = VideoBuffer::alloc(VideoBufferPool::POOL_MIN_BYTES);
    VideoBuffer::release(p);
    testsupport::LogCapture log;
    VideoBuffer::release(p);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR), 1u);
    EXPECT_EQ(VideoBufferPool::statistics().pooledBlocks, 1u);
    // Handed out once only.
    void* a = VideoBuffer::alloc(VideoBufferPool::POOL_MIN_BYTES);
    void* b = VideoBuffer::alloc(VideoBufferPool::POOL_MIN_BYTES);
    EXPECT_NE(a, b);
    VideoBuffer::release(a);
    VideoBuffer::release(b);
}

#if defined(__SANITIZE_ADDRESS__)
TEST(VideoBufferPoolDeathTest, PixelsOfAReleasedImageAreReportedWhenUsed) {
    auto img = Image<uint16_t>::createNewBuffer(640, 480);
    volatile uint16_t* pixels = img->getData();
    img.reset();
    EXPECT_DEATH(pixels[1000] = 1, "use-after-poison");
}
#endif

TEST(VideoBufferAllocator, InstancesCompareEqualAcrossTypes) {
    VideoBufferAllocator<int> a;
    VideoBufferAllocator<double> b(a);
    EXPECT_TRUE(a == b);
    int* p = a.allocate(10);
    p[9] = 3;
    a.deallocate(p, 10);
}

}  // namespace
