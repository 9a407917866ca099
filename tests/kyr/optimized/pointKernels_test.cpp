// Points from distances: the per-pixel rule at its worked values, and the
// vector kernel against it bit for bit on every instruction set compiled in
// and supported by this CPU, codes and NaN rays included.
#include "optimized/pointKernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "support/hwy_targets.h"

namespace {

using namespace kyr::kernels;

TEST(PointRules, WorkedValues) {
    float p[3];
    pointPixel(1000, 0.6f, 0.0f, 0.8f, p);
    EXPECT_FLOAT_EQ(p[0], 600.0f);
    EXPECT_FLOAT_EQ(p[2], 800.0f);
    for (const uint16_t code : {uint16_t{64000}, uint16_t{64001}, uint16_t{65535}}) {
        pointPixel(code, 0.6f, 0.0f, 0.8f, p);
        EXPECT_TRUE(std::isnan(p[0]) && std::isnan(p[1]) && std::isnan(p[2])) << code;
    }
    pointPixel(63999, 1.0f, 0.0f, 0.0f, p);
    EXPECT_EQ(p[0], 63999.0f);
}

TEST(PointKernel, BitExactWithTheRuleOnEveryTarget) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> mm(0, 65535);
    std::uniform_real_distribution<float> dir(-1.0f, 1.0f);
    for (const size_t count : {size_t{0}, size_t{1}, size_t{3}, size_t{17}, size_t{64 * 48 + 5}}) {
        std::vector<uint16_t> d(count);
        std::vector<float> rx(count), ry(count), rz(count);
        for (size_t i = 0; i < count; ++i) {
            d[i] = static_cast<uint16_t>(i % 5 == 0 ? 63990 + i % 20 : mm(rng));
            rx[i] = dir(rng), ry[i] = dir(rng), rz[i] = i % 11 == 0 ? NAN : dir(rng);
        }
        std::vector<float> expect(3 * count);
        for (size_t i = 0; i < count; ++i) pointPixel(d[i], rx[i], ry[i], rz[i], &expect[3 * i]);
        testsupport::forEachTarget([&] {
            std::vector<float> out(3 * count + 3, 1.5f);
            pointsFromDistance(d.data(), rx.data(), ry.data(), rz.data(), out.data(), count);
            for (size_t k = 0; k < 3 * count; ++k) {
                ASSERT_EQ(std::bit_cast<uint32_t>(out[k]), std::bit_cast<uint32_t>(expect[k]))
                    << count << " pixels, value " << k;
            }
            EXPECT_EQ(out[3 * count], 1.5f) << "written past the end";
        });
    }
}

}  // namespace
