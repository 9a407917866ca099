// Standard allocator over VideoBuffer, used with std::allocate_shared so that
// an image and its control block share one block.
#pragma once

#include <cstddef>
#include <limits>
#include <new>

#include "kyr/video_buffer.h"

template <typename T>
class VideoBufferAllocator {
public:
    using value_type = T;

    VideoBufferAllocator() noexcept = default;
    template <typename U>
    VideoBufferAllocator(const VideoBufferAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > std::numeric_limits<size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        void* p = VideoBuffer::alloc(n * sizeof(T));
        if (p == nullptr) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(p);
    }

    void deallocate(T* p, size_t /*n*/) noexcept { VideoBuffer::release(p); }

    template <typename U>
    bool operator==(const VideoBufferAllocator<U>&) const noexcept {
        return true;
    }
};
