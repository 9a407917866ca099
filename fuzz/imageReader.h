// A sink for the harnesses that reads every byte of each image it receives,
// so that the sanitizers see an image whose buffer is smaller than its
// width and height say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/sink.h"
#include "kyr/source.h"

namespace fuzz {

template <typename T>
class ImageReader : public Sink<Image<T>> {
public:
    int action() override {
        std::shared_ptr<Image<T>> image = this->value();
        if (!image) return 0;
        ++images;
        lastWidth = image->getWidth();
        lastHeight = image->getHeight();
        const auto* bytes = reinterpret_cast<const volatile unsigned char*>(image->getData());
        const size_t n = image->pixelCount() * sizeof(T);
        for (size_t i = 0; i < n; ++i) checksum += bytes[i];
        return 0;
    }
    void connect(Source<Image<T>>* source) {
        if (source != nullptr) this->registerDependency(source);
    }

    size_t images = 0;
    size_t lastWidth = 0;
    size_t lastHeight = 0;
    uint64_t checksum = 0;
};

}  // namespace fuzz
