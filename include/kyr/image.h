// Images: width x height pixels, row-major, no pitch, shared between a
// producer and its consumers through std::shared_ptr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "kyr/phaseType.h"
#include "kyr/platform.h"
#include "kyr/status.h"
#include "kyr/video_buffer.h"
#include "kyr/video_buffer_allocator.h"

class ImageBase {
public:
    // In 16-bit result images a value of LIMIT_VALID_VALUE or more is not a
    // measurement but the reason why the pixel is invalid. Higher codes win
    // when masks are merged.
    enum PixelCode : unsigned int {
        LIMIT_VALID_VALUE = 64000,
        LOW_AMPLITUDE = 64001,
        ADC_OVERFLOW = 64002,
        SATURATION = 64003,
        BAD_PIXEL = 64004,
        INTERFERENCE = 64005,
        EDGE_FILTERED = 64006,
    };

    ImageBase(size_t width, size_t height) : width(width), height(height) {}
    virtual ~ImageBase() = default;

    size_t getWidth() const { return width; }
    size_t getHeight() const { return height; }
    size_t pixelCount() const { return width * height; }

    static bool isPixelCode(uint16_t value) { return value >= LIMIT_VALID_VALUE; }

protected:
    size_t width;
    size_t height;
};

template <typename T>
class Image : public ImageBase {
public:
    // Use createNewBuffer(); the constructor is public only for
    // std::allocate_shared. Pixel memory is not initialised.
    Image(size_t width, size_t height)
        : ImageBase(width, height),
          data(static_cast<T*>(VideoBuffer::alloc(width * height * sizeof(T)))) {
        if (data == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~Image() override { VideoBuffer::release(data); }

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // A new, independent image, or nullptr (with an error logged) when the
    // size is not representable or the memory cannot be had.
    static std::shared_ptr<Image<T>> createNewBuffer(size_t width, size_t height) {
        if (height != 0 && width > std::numeric_limits<size_t>::max() / sizeof(T) / height) {
            KYR_LOG_ERROR("Image size %zu x %zu is too large", width, height);
            return nullptr;
        }
        try {
            return std::allocate_shared<Image<T>>(VideoBufferAllocator<T>(), width, height);
        } catch (const std::bad_alloc&) {
            KYR_LOG_ERROR("Out of memory allocating an image of %zu x %zu", width, height);
            return nullptr;
        }
    }

    T* getData() { return data; }
    const T* getData() const { return data; }
    size_t size() const { return pixelCount() * sizeof(T); }

    // Copies `count` pixels to the start of the image. Returns
    // kyr::status::INVALID_ARGUMENT and copies nothing when `count` exceeds
    // the pixel count.
    int setData(const T* src, size_t count) {
        if (count > pixelCount() || (src == nullptr && count != 0)) {
            return kyr::status::INVALID_ARGUMENT;
        }
        if (count != 0) {
            std::memcpy(static_cast<void*>(data), src, count * sizeof(T));
        }
        return 0;
    }

private:
    T* data;
};
