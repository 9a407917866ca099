// Point clouds from distance images at 320 x 240 and 640 x 480: the
// vectorised kernel through the public toPointCloud (codes as NaN, and
// dropped) against the scalar per-pixel rule built without vectorisation
// (point_scalar.cpp), in the same run; and building the ray table, which a
// stream pays once. Rates read as Mpixel/s.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "ozr/pointCloud.h"
#include "pixel_rate.h"
#include "point_scalar.h"

namespace {

ozr::LensIntrinsics lensFor(uint32_t w, uint32_t h) {
    ozr::LensIntrinsics l;
    l.width = w;
    l.height = h;
    l.fx = l.fy = 0.9 * w;
    l.cx = (w - 1) / 2.0 + 2;
    l.cy = (h - 1) / 2.0 - 2;
    l.k1 = -0.12;
    l.k2 = 0.03;
    l.p1 = 4e-4;
    l.p2 = -3e-4;
    return l;
}

// Distances of 0.5 to 4 m with one pixel in twenty a code.
std::vector<uint16_t> distances(size_t n) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> mm(500, 4000);
    std::vector<uint16_t> d(n);
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint16_t>(i % 20 == 7 ? 64001 : mm(rng));
    return d;
}

void BM_PointCloud(benchmark::State& state, ozr::CodedPixels coded) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    ozr::RayTable rays;
    if (rays.build(lensFor(w, h), w, h) != 0) state.SkipWithError("no rays");
    const std::vector<uint16_t> d = distances(size_t{w} * h);
    std::vector<float> xyz;
    for (auto _ : state) {
        ozr::toPointCloud(d.data(), rays, xyz, coded);
        benchmark::DoNotOptimize(xyz.data());
    }
    benchrate::setMpixelRate(state);
}

void BM_PointCloudScalar(benchmark::State& state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    ozr::RayTable rays;
    if (rays.build(lensFor(w, h), w, h) != 0) state.SkipWithError("no rays");
    const std::vector<uint16_t> d = distances(size_t{w} * h);
    std::vector<float> xyz(3 * d.size());
    for (auto _ : state) {
        benchref::pointsFromDistance(d.data(), rays.x(), rays.y(), rays.z(), xyz.data(), d.size());
        benchmark::DoNotOptimize(xyz.data());
    }
    benchrate::setMpixelRate(state);
}

void BM_RayTable(benchmark::State& state) {
    const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    ozr::RayTable rays;
    for (auto _ : state) {
        rays.build(lensFor(w, h), w, h);
        benchmark::DoNotOptimize(rays.x());
    }
    benchrate::setMpixelRate(state);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
}

BENCHMARK_CAPTURE(BM_PointCloud, nan, ozr::CodedPixels::NAN_POINTS)->Apply(sizes);
BENCHMARK_CAPTURE(BM_PointCloud, drop, ozr::CodedPixels::DROP)->Apply(sizes);
BENCHMARK(BM_PointCloudScalar)->Apply(sizes);
BENCHMARK(BM_RayTable)->Apply(sizes);

}  // namespace
