#include "mappings.h"

namespace ozrsim {

bool MappingTable::add(uintptr_t start, size_t length, uint64_t tag) {
    if (start == 0) return false;
    for (Slot& s : slots_) {
        if (s.start.load(std::memory_order_acquire) != 0) continue;
        s.length.store(length, std::memory_order_relaxed);
        s.tag.store(tag, std::memory_order_relaxed);
        s.start.store(start, std::memory_order_release);
        count_.fetch_add(1, std::memory_order_acq_rel);
        return true;
    }
    return false;
}

void MappingTable::removeOverlapping(uintptr_t start, size_t length) {
    if (count() == 0) return;
    const uintptr_t end = start + length;
    for (Slot& s : slots_) {
        uintptr_t mstart = s.start.load(std::memory_order_acquire);
        if (mstart == 0) continue;
        const uintptr_t mend = mstart + s.length.load(std::memory_order_relaxed);
        if (mstart < end && start < mend &&
            s.start.compare_exchange_strong(mstart, 0, std::memory_order_acq_rel)) {
            count_.fetch_sub(1, std::memory_order_acq_rel);
        }
    }
}

bool MappingTable::contains(uint64_t tag) const {
    if (count() == 0) return false;
    for (const Slot& s : slots_) {
        if (s.start.load(std::memory_order_acquire) != 0 &&
            s.tag.load(std::memory_order_relaxed) == tag) {
            return true;
        }
    }
    return false;
}

void MappingTable::clear() {
    for (Slot& s : slots_) {
        if (s.start.exchange(0, std::memory_order_acq_rel) != 0) {
            count_.fetch_sub(1, std::memory_order_acq_rel);
        }
    }
}

}  // namespace ozrsim
