#include "frame_counters.h"

#include <sys/resource.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Heap calls of the whole benchmark binary: the global operator new is
// replaced here, once, for every benchmark of ozr_bench (one relaxed atomic
// increment per call).
namespace {
std::atomic<uint64_t> g_heapCalls{0};
std::atomic<uint64_t> g_pixelHeapCalls{0};

void* countedMalloc(size_t size) noexcept {
    g_heapCalls.fetch_add(1, std::memory_order_relaxed);
    if (size >= benchcount::PIXEL_BLOCK_BYTES) {
        g_pixelHeapCalls.fetch_add(1, std::memory_order_relaxed);
    }
    return std::malloc(size == 0 ? 1 : size);
}
void* countedNew(size_t size) {
    if (void* p = countedMalloc(size)) {
        return p;
    }
    throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t size) {
    return countedNew(size);
}
void* operator new[](size_t size) {
    return countedNew(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return countedMalloc(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return countedMalloc(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace benchcount {

ResourceCount ResourceCount::now() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return {g_heapCalls.load(std::memory_order_relaxed),
            g_pixelHeapCalls.load(std::memory_order_relaxed), usage.ru_minflt};
}

void setPerFrameCounters(benchmark::State& state, const ResourceCount& before) {
    const ResourceCount after = ResourceCount::now();
    const auto perFrame = [&](double total) {
        return benchmark::Counter(total, benchmark::Counter::kAvgIterations);
    };
    state.counters["heap_calls"] =
        perFrame(static_cast<double>(after.heapCalls - before.heapCalls));
    state.counters["pixel_heap"] =
        perFrame(static_cast<double>(after.pixelHeapCalls - before.pixelHeapCalls));
    state.counters["page_faults"] =
        perFrame(static_cast<double>(after.minorFaults - before.minorFaults));
}

void quiet(kyr::platform::LogLevel, const char*, va_list) {}

}  // namespace benchcount
