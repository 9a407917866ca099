// The application's mappings of driver buffers. Kept without a lock:
// munmap() asks this table on every call, also from inside sanitizer
// runtimes that unmap their own memory while the device lock is held.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace ozrsim {

class MappingTable {
public:
    static constexpr size_t CAPACITY = 4096;

    // Records a mapping; false when the table is full. Calls are serialised
    // by the caller; removals may run at the same time.
    bool add(uintptr_t start, size_t length, uint64_t tag);
    // Forgets every mapping that overlaps [start, start + length).
    void removeOverlapping(uintptr_t start, size_t length);
    // Whether a mapping with this tag exists.
    bool contains(uint64_t tag) const;
    int count() const { return count_.load(std::memory_order_acquire); }
    void clear();

private:
    struct Slot {
        std::atomic<uintptr_t> start{0};  // 0: free
        std::atomic<size_t> length{0};
        std::atomic<uint64_t> tag{0};
    };
    Slot slots_[CAPACITY];
    std::atomic<int> count_{0};
};

}  // namespace ozrsim
