// Cost of the dataflow core: creating images and passing them along stages.
// Each figure has a reference in the same run to read it against.
#include <benchmark/benchmark.h>

#include <array>
#include <memory>
#include <mutex>

#include "kyr/image.h"
#include "kyr/stage.h"
#include "kyr/video_buffer.h"

namespace {

constexpr size_t W = 640;
constexpr size_t H = 480;

void BM_ImageCreate_640x480(benchmark::State& state) {
    for (auto _ : state) {
        auto img = Image<uint16_t>::createNewBuffer(W, H);
        benchmark::DoNotOptimize(img->getData());
    }
}
BENCHMARK(BM_ImageCreate_640x480);

// Reference: the two plain heap calls an image costs at least.
void BM_Reference_TwoHeapBlocks(benchmark::State& state) {
    for (auto _ : state) {
        auto holder = std::make_shared<std::unique_ptr<uint16_t[]>>(new uint16_t[W * H]);
        benchmark::DoNotOptimize(holder->get());
    }
}
BENCHMARK(BM_Reference_TwoHeapBlocks);

// A pixel block taken from the pool and put back (one lock each way), against
// the two uncontended lock and unlock pairs it contains and a small block of
// the C library's fast path.
void BM_VideoBuffer_PooledBlock_640x480(benchmark::State& state) {
    VideoBuffer::release(VideoBuffer::alloc(W * H * sizeof(uint16_t)));
    for (auto _ : state) {
        void* p = VideoBuffer::alloc(W * H * sizeof(uint16_t));
        benchmark::DoNotOptimize(p);
        VideoBuffer::release(p);
    }
}
BENCHMARK(BM_VideoBuffer_PooledBlock_640x480);

void BM_Reference_TwoMutexLocks(benchmark::State& state) {
    std::mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
    }
}
BENCHMARK(BM_Reference_TwoMutexLocks);

void BM_Reference_SmallHeapBlock(benchmark::State& state) {
    for (auto _ : state) {
        char* p = new char[64];
        benchmark::DoNotOptimize(p);
        delete[] p;
    }
}
BENCHMARK(BM_Reference_SmallHeapBlock);

class PassThrough : public Stage<Image<uint16_t>> {
public:
    PassThrough() : Stage<Image<uint16_t>>("Pass"), input(*this) { registerInput(&input); }
    int action() override {
        buffer_out = input.value();
        return OK;
    }
    Input<Image<uint16_t>> input;
};

class Consumer : public Stage<void> {
public:
    Consumer() : Stage<void>("Consumer"), input(*this) { registerInput(&input); }
    int action() override {
        last = input.value();
        return OK;
    }
    Input<Image<uint16_t>> input;
    std::shared_ptr<Image<uint16_t>> last;
};

// One 640x480 image published through ten pass-through stages; items are
// stage hops, so the rate reads as hops per second.
void BM_PublishThroughTenStages(benchmark::State& state) {
    constexpr size_t HOPS = 10;
    Source<Image<uint16_t>> source;
    std::array<PassThrough, HOPS> stages;
    Consumer consumer;
    stages[0].input << source;
    for (size_t i = 1; i < HOPS; ++i) {
        stages[i].input << stages[i - 1];
    }
    consumer.input << stages[HOPS - 1];
    auto image = Image<uint16_t>::createNewBuffer(W, H);
    for (auto _ : state) {
        auto copy = image;
        source.fire(std::move(copy));
        benchmark::DoNotOptimize(consumer.last.get());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * HOPS));
}
BENCHMARK(BM_PublishThroughTenStages);

// Reference: ten indirect calls handing a shared pointer along.
struct Hop {
    virtual ~Hop() = default;
    virtual void pass(std::shared_ptr<Image<uint16_t>> img) = 0;
};
struct ChainHop : Hop {
    Hop* next = nullptr;
    std::shared_ptr<Image<uint16_t>> last;
    void pass(std::shared_ptr<Image<uint16_t>> img) override {
        if (next != nullptr) {
            next->pass(std::move(img));
        } else {
            last = std::move(img);
        }
    }
};

void BM_Reference_TenVirtualCalls(benchmark::State& state) {
    constexpr size_t HOPS = 10;
    std::array<ChainHop, HOPS + 1> hops;
    for (size_t i = 0; i < HOPS; ++i) {
        hops[i].next = &hops[i + 1];
    }
    auto image = Image<uint16_t>::createNewBuffer(W, H);
    for (auto _ : state) {
        hops[0].pass(image);
        benchmark::DoNotOptimize(hops[HOPS].last.get());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * HOPS));
}
BENCHMARK(BM_Reference_TenVirtualCalls);

}  // namespace
