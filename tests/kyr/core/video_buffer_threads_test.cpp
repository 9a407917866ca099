#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "kyr/image.h"
#include "platforms/linux/video_buffer_pool.h"

namespace {

using kyr::platform::VideoBufferPool;

// Images are created and filled on one thread (as the streaming thread does)
// and checked and released on another (as an application does), while both
// also keep recycling images of their own. A block handed out twice, or a
// block's pixels written after it went back to the pool, shows as a wrong
// pixel here and as a race under ThreadSanitizer.
TEST(VideoBufferPoolThreads, ImagesCreatedOnOneThreadAndReleasedOnAnother) {
    constexpr int ITERATIONS = 2000;
    constexpr size_t IN_FLIGHT = 8;
    constexpr size_t W = 256, H = 256;  // a pooled size
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::shared_ptr<Image<uint16_t>>> queue;
    int wrongPixels = 0;
    const uint64_t reusesBefore = VideoBufferPool::statistics().reuses;

    std::thread consumer([&] {
        for (int i = 0; i < ITERATIONS; ++i) {
            std::shared_ptr<Image<uint16_t>> img;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return !queue.empty(); });
                img = std::move(queue.front());
                queue.pop_front();
            }
            changed.notify_one();
            const auto value = static_cast<uint16_t>(i);
            const uint16_t* p = img->getData();
            wrongPixels += static_cast<int>(
                std::count_if(p, p + img->pixelCount(), [&](uint16_t v) { return v != value; }));
            auto own = Image<uint16_t>::createNewBuffer(W, H);
            std::fill_n(own->getData(), own->pixelCount(), uint16_t{0xffff});
        }
    });
    for (int i = 0; i < ITERATIONS; ++i) {
        auto img = Image<uint16_t>::createNewBuffer(W, H);
        ASSERT_TRUE(img);
        std::fill_n(img->getData(), img->pixelCount(), static_cast<uint16_t>(i));
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return queue.size() < IN_FLIGHT; });
        queue.push_back(std::move(img));
        changed.notify_one();
    }
    consumer.join();
    EXPECT_EQ(wrongPixels, 0);
    const auto stats = VideoBufferPool::statistics();
    EXPECT_GT(stats.reuses - reusesBefore, static_cast<uint64_t>(ITERATIONS));
    EXPECT_LE(stats.pooledBlocks, VideoBufferPool::MAX_BLOCKS_PER_SIZE);
}

}  // namespace
