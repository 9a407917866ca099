// Raw memory for images and their shared-pointer control blocks.
#pragma once

#include <cstddef>

#include "kyr/platform.h"

// Exported from the shared library: images that an application creates (for
// example in a calibration provider of its own) allocate through it.
class OZR_API VideoBuffer {
public:
    // Returns `size` bytes, or nullptr when the memory cannot be had; never
    // throws. Blocks of pixel-array size are recycled: their contents are
    // unspecified, as for new memory, and they are aligned to 64 bytes.
    static void* alloc(size_t size);
    // Returns a block obtained from alloc(); nullptr is ignored.
    static void release(void* ptr);
};
