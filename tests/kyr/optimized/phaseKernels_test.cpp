// The array kernels of the phase stages give exactly the per-pixel results,
// over every raw phase, random images of odd sizes, in place, and with
// overlapping buffers, on every instruction set compiled in and supported by
// this CPU.
#include "optimized/phaseKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "support/hwy_targets.h"

namespace {

using namespace kyr::kernels;

using testsupport::forEachTarget;

std::vector<uint16_t> allPhases() {
    std::vector<uint16_t> v(65536);
    for (size_t i = 0; i < v.size(); ++i) {
        v[i] = static_cast<uint16_t>(i);
    }
    return v;
}

std::vector<uint16_t> randomWords(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(0, 65535);
    std::vector<uint16_t> v(n);
    for (auto& x : v) {
        x = static_cast<uint16_t>(dist(rng));
    }
    return v;
}

// Odd sizes around every vector width, and whole odd-width frames.
const std::vector<size_t> kCounts = {0,  1,  3,   7,   9,   15,   17,        31,     33,
                                     63, 65, 127, 129, 257, 1001, 319 * 239, 641 * 3};

TEST(PhaseKernelRules, WorkedValues) {
    EXPECT_EQ(subtractPhasePixel(100, 200), 65436);
    EXPECT_EQ(phaseErrorIndex(65535, 1024), 1023u);
    EXPECT_EQ(phaseErrorIndex(0, 1), 0u);
    EXPECT_EQ(phaseErrorIndex(65535, 1), 0u);
    EXPECT_EQ(phaseErrorIndex(65535, 100000), (uint64_t{65535} * 100000) >> 16);
    EXPECT_EQ(distanceScale(20000000), 1192.8362f);
    EXPECT_EQ(distanceScale(0), 0.0f);
    EXPECT_EQ(phaseToDistancePixel(16384, distanceScale(20000000)), 1873);
    EXPECT_EQ(phaseToDistancePixel(32768, distanceScale(20000000)), 3747);
    EXPECT_EQ(phaseToDistancePixel(65535, distanceScale(20000000)), 7494);
    EXPECT_EQ(phaseToDistancePixel(65535, distanceScale(10000000)), 14989);
    EXPECT_EQ(phaseToDistancePixel(64000, distanceScale(20000000)), 7319);
    EXPECT_EQ(phaseToDistancePixel(1, distanceScale(20000000)), 0);
    EXPECT_EQ(temperatureShift(45.0f, 25.0f, 22.0f, 20000000), 3847);
    EXPECT_EQ(temperatureShift(15.0f, 25.0f, 22.0f, 20000000), 63611);
    EXPECT_EQ(temperatureShift(25.0f, 25.0f, 22.0f, 20000000), 0);
}

TEST(PhaseKernelRules, DistanceOfEveryFloatInputIsDefined) {
    EXPECT_EQ(phaseToDistancePixel(65535, std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(phaseToDistancePixel(65535, std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(phaseToDistancePixel(65535, -5.0f), 0);
    EXPECT_EQ(phaseToDistancePixel(65535, 1e30f), 0);
    // Beyond 2^31 the low bits of the exact truncation: 2^32 + 5.
    const float scale = 4294967296.0f / 6.2831855f;
    const float d = phaseToDistanceValue(65535, scale);
    EXPECT_EQ(phaseToDistancePixel(65535, scale),
              static_cast<uint16_t>(static_cast<uint64_t>(d) & 0xFFFF));
}

TEST(PhaseKernels, SubtractMatchesThePixelRuleForEveryPhase) {
    const auto phases = allPhases();
    forEachTarget([&] {
        for (uint32_t seed : {1u, 2u}) {
            const auto offsets = randomWords(phases.size(), seed);
            std::vector<uint16_t> out(phases.size());
            subtractPhase(phases.data(), offsets.data(), out.data(), phases.size());
            for (size_t i = 0; i < phases.size(); ++i) {
                ASSERT_EQ(out[i], subtractPhasePixel(phases[i], offsets[i])) << i;
            }
        }
        for (uint16_t shift : {0, 1, 3847, 32768, 63611, 65535}) {
            std::vector<uint16_t> out(phases.size());
            subtractPhaseShift(phases.data(), shift, out.data(), phases.size());
            for (size_t i = 0; i < phases.size(); ++i) {
                ASSERT_EQ(out[i], subtractPhasePixel(phases[i], shift)) << i;
            }
        }
    });
}

TEST(PhaseKernels, SubtractOverOddSizes) {
    forEachTarget([&] {
        for (size_t n : kCounts) {
            const auto a = randomWords(n, 10 + static_cast<uint32_t>(n));
            const auto b = randomWords(n, 20 + static_cast<uint32_t>(n));
            std::vector<uint16_t> out(n + 1, 0xABCD);
            subtractPhase(a.data(), b.data(), out.data(), n);
            for (size_t i = 0; i < n; ++i) {
                ASSERT_EQ(out[i], subtractPhasePixel(a[i], b[i])) << n << " " << i;
            }
            EXPECT_EQ(out[n], 0xABCD);  // nothing written beyond
            subtractPhaseShift(a.data(), 12345, out.data(), n);
            for (size_t i = 0; i < n; ++i) {
                ASSERT_EQ(out[i], subtractPhasePixel(a[i], 12345)) << n << " " << i;
            }
            EXPECT_EQ(out[n], 0xABCD);
        }
    });
}

std::vector<uint16_t> lutReference(const std::vector<uint16_t>& in,
                                   const std::vector<uint16_t>& lut) {
    std::vector<uint16_t> out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out[i] = phaseErrorPixel(in[i], lut.data(), lut.size());
    }
    return out;
}

TEST(PhaseKernels, PhaseErrorMatchesThePixelRuleForEveryPhaseAndTableSize) {
    forEachTarget([&] {
        const auto phases = allPhases();
        for (size_t size : {1, 2, 3, 7, 1000, 1024, 2048, 4095, 65535, 65536, 65537, 100000}) {
            SCOPED_TRACE(size);
            const auto lut = randomWords(size, static_cast<uint32_t>(size));
            const auto wide = widenPhaseErrorTable(lut.data(), lut.size());
            EXPECT_EQ(wide != nullptr, size <= PHASE_ERROR_VECTOR_MAX_SIZE);
            std::vector<uint16_t> out(phases.size());
            compensatePhaseError(phases.data(), lut.data(), wide.get(), size, out.data(),
                                 phases.size());
            ASSERT_EQ(out, lutReference(phases, lut));
        }
    });
}

TEST(PhaseKernels, PhaseErrorOverOddSizes) {
    forEachTarget([&] {
        const auto lut = randomWords(2048, 5);
        const auto wide = widenPhaseErrorTable(lut.data(), lut.size());
        for (size_t n : kCounts) {
            const auto in = randomWords(n, 30 + static_cast<uint32_t>(n));
            std::vector<uint16_t> out(n + 1, 0xABCD);
            compensatePhaseError(in.data(), lut.data(), wide.get(), lut.size(), out.data(), n);
            out.pop_back();
            ASSERT_EQ(out, lutReference(in, lut)) << n;
        }
    });
}

TEST(PhaseKernels, PhaseErrorInPlaceAndOverlapping) {
    forEachTarget([&] {
        const auto lut = randomWords(1024, 6);
        const auto wide = widenPhaseErrorTable(lut.data(), lut.size());
        const auto in = randomWords(1000, 7);
        auto inPlace = in;
        compensatePhaseError(inPlace.data(), lut.data(), wide.get(), lut.size(), inPlace.data(),
                             inPlace.size());
        EXPECT_EQ(inPlace, lutReference(in, lut));
        // Output shifted by one pixel against the input: the per-pixel order.
        for (ptrdiff_t shift : {1, -1, 5, -9}) {
            std::vector<uint16_t> buf(in.size() + 20);
            std::vector<uint16_t> ref(buf.size());
            std::copy(in.begin(), in.end(), buf.begin() + 10);
            ref = buf;
            uint16_t* src = buf.data() + 10;
            uint16_t* dst = src + shift;
            compensatePhaseError(src, lut.data(), wide.get(), lut.size(), dst, in.size());
            uint16_t* rsrc = ref.data() + 10;
            uint16_t* rdst = rsrc + shift;
            for (size_t i = 0; i < in.size(); ++i) {
                rdst[i] = phaseErrorPixel(rsrc[i], lut.data(), lut.size());
            }
            EXPECT_EQ(buf, ref) << shift;
        }
    });
}

std::vector<uint16_t> distanceReference(const std::vector<uint16_t>& in, float scale) {
    std::vector<uint16_t> out(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out[i] = phaseToDistancePixel(in[i], scale);
    }
    return out;
}

TEST(PhaseKernels, DistanceMatchesThePixelRuleForEveryPhaseAndFrequency) {
    forEachTarget([&] {
        const auto phases = allPhases();
        for (uint32_t hz : {0u, 1u, 34u, 35u, 69u, 70u, 71u, 1000u, 2290000u, 2300000u, 10000000u,
                            20000000u, 24000000u, 60000000u, 100000000u, 4294967295u}) {
            SCOPED_TRACE(hz);
            const float scale = distanceScale(hz);
            std::vector<uint16_t> out(phases.size());
            phaseToDistance(phases.data(), scale, out.data(), phases.size());
            ASSERT_EQ(out, distanceReference(phases, scale));
        }
    });
}

TEST(PhaseKernels, DistanceAtTheEdgesOfThe32BitRange) {
    forEachTarget([&] {
        const auto phases = allPhases();
        // Scales whose largest distance lies just below and just above 2^31.
        const float limit = 2147483648.0f / 6.2831855f;
        for (float scale : {std::nextafter(limit, 0.0f), limit, std::nextafter(limit, 1e30f), 1e20f,
                            std::numeric_limits<float>::infinity(), -1.0f}) {
            SCOPED_TRACE(scale);
            std::vector<uint16_t> out(phases.size());
            phaseToDistance(phases.data(), scale, out.data(), phases.size());
            ASSERT_EQ(out, distanceReference(phases, scale));
        }
    });
}

TEST(PhaseKernels, DistanceOverOddSizesInPlaceAndOverlapping) {
    forEachTarget([&] {
        const float scale = distanceScale(20000000);
        for (size_t n : kCounts) {
            const auto in = randomWords(n, 40 + static_cast<uint32_t>(n));
            std::vector<uint16_t> out(n + 1, 0xABCD);
            phaseToDistance(in.data(), scale, out.data(), n);
            EXPECT_EQ(out[n], 0xABCD);
            out.pop_back();
            ASSERT_EQ(out, distanceReference(in, scale)) << n;
            auto inPlace = in;
            phaseToDistance(inPlace.data(), scale, inPlace.data(), n);
            ASSERT_EQ(inPlace, distanceReference(in, scale)) << n;
        }
        const auto in = randomWords(500, 8);
        std::vector<uint16_t> buf(in.size() + 2);
        std::copy(in.begin(), in.end(), buf.begin());
        auto ref = buf;
        phaseToDistance(buf.data(), scale, buf.data() + 1, in.size());
        for (size_t i = 0; i < in.size(); ++i) {
            ref[i + 1] = phaseToDistancePixel(ref[i], scale);
        }
        EXPECT_EQ(buf, ref);
    });
}

}  // namespace
