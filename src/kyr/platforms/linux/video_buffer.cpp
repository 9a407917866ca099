#include "kyr/video_buffer.h"

#include "platforms/linux/video_buffer_pool.h"

void* VideoBuffer::alloc(size_t size) {
    return kyr::platform::VideoBufferPool::alloc(size);
}

void VideoBuffer::release(void* ptr) {
    kyr::platform::VideoBufferPool::release(ptr);
}
