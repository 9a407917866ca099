#include "kyr/video_buffer.h"

#include <new>

void* VideoBuffer::alloc(size_t size) {
    return new (std::nothrow) char[size];
}

void VideoBuffer::release(void* ptr) {
    delete[] static_cast<char*>(ptr);
}
