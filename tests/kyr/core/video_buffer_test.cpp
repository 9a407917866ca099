#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <set>

#include "kyr/image.h"
#include "kyr/video_buffer_allocator.h"

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

TEST(VideoBufferAllocator, InstancesCompareEqualAcrossTypes) {
    VideoBufferAllocator<int> a;
    VideoBufferAllocator<double> b(a);
    EXPECT_TRUE(a == b);
    int* p = a.allocate(10);
    p[9] = 3;
    a.deallocate(p, 10);
}

}  // namespace
