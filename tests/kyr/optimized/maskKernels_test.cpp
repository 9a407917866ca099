// The mask, error-code and HDR kernels against their per-pixel rules, bit for
// bit, on every instruction set compiled in and supported by this CPU; and
// the rules against the worked values.
#include "optimized/maskKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/hwy_targets.h"

namespace {

using namespace kyr::kernels;

using testsupport::forEachTarget;

// ------------------------------------------------------------ per-pixel rules

TEST(MaskRules, WorkedValues) {
    EXPECT_EQ(saturationPixel<4>({0, 4095, 100, 100}), 64003);
    EXPECT_EQ(saturationPixel<4>({4095, 1, 1, 1}), 64002);
    EXPECT_EQ(saturationPixel<4>({1, 4094, 2000, 3000}), 0);
    EXPECT_EQ(saturationPixel<1>({0}), 64003);
    EXPECT_EQ(saturationPixel<1>({4095}), 64002);
    EXPECT_EQ(saturationPixel<1>({4096}), 0);
    EXPECT_EQ(minAmplitudeMaskPixel(99, 100), 64001);
    EXPECT_EQ(minAmplitudeMaskPixel(100, 100), 0);
    EXPECT_EQ(minAmplitudeMaskPixel(0, 0), 0);
    EXPECT_EQ(minAmplitudeMaskPixel(64003, 100), 0);
    EXPECT_EQ(minAmplitudeMaskPixel(64003, 64004), 64001);
    EXPECT_EQ(minAmplitudePixel(99, 1234, 100), 64001);
    EXPECT_EQ(minAmplitudePixel(100, 64005, 100), 64005);
    EXPECT_EQ(mergePixel<3>({64001, 0, 64003}), 64003);
    EXPECT_EQ(mergePixel<3>({0, 0, 0}), 0);
    EXPECT_EQ(applyErrorMaskPixel(1234, 0), 1234);
    EXPECT_EQ(applyErrorMaskPixel(1234, 64002), 64002);
    EXPECT_EQ(applyErrorMaskPixel(64005, 64001), 64005);
    EXPECT_EQ(errorToZeroPixel(63999), 63999);
    EXPECT_EQ(errorToZeroPixel(64000), 0);
    EXPECT_EQ(errorToZeroPixel(65535), 0);
}

TEST(MaskRules, ErrorToZeroWithoutBranchIsTheTest) {
    for (uint32_t v = 0; v <= 65535; ++v) {
        ASSERT_EQ(errorToZeroPixel(static_cast<uint16_t>(v)), v >= 64000 ? 0 : v) << v;
    }
}

TEST(MaskRules, HdrSelectionWorkedValues) {
    struct Case {
        std::array<uint16_t, 3> a;
        uint16_t index;
    };
    const Case cases[] = {
        {{100, 300, 200}, 1},       {{300, 300, 200}, 0}, {{64003, 50, 60}, 2},
        {{64003, 64003, 64001}, 0}, {{0, 0, 5}, 2},       {{0, 0, 0}, 0},
        {{100, 63999, 5}, 1},       {{100, 64000, 5}, 0}, {{63999, 63999, 64000}, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(hdrSelectionPixel<3>(c.a), c.index) << c.a[0] << ", " << c.a[1] << ", " << c.a[2];
    }
    EXPECT_EQ(hdrSelectionPixel<2>({64000, 1}), 1);
    EXPECT_EQ(hdrSelectionPixel<4>({5, 5, 5, 6}), 3);
}

TEST(MaskRules, StitchSourceOutsideTheExposuresIsExposureZero) {
    EXPECT_EQ(stitchSource<3>(2), 2u);
    EXPECT_EQ(stitchSource<3>(3), 0u);
    EXPECT_EQ(stitchSource<3>(65535), 0u);
    EXPECT_EQ(stitchSource<2>(1), 1u);
    EXPECT_EQ(stitchSource<4>(4), 0u);
}

// ---------------------------------------------------- vector kernels vs rules

// A whole-image kernel over `planes` input arrays and its per-pixel rule,
// which sees the planes' values at one pixel.
struct KernelCase {
    std::string name() const { return std::string(kind) + " " + std::to_string(param); }
    const char* kind;
    unsigned param;  // N, or the threshold
    size_t planes;
    std::function<void(const std::vector<const uint16_t*>& in, uint16_t* out, size_t n)> kernel;
    std::function<uint16_t(const uint16_t* values)> rule;
};

template <size_t N>
Planes<N> planesOf(const std::vector<const uint16_t*>& in, size_t first = 0) {
    Planes<N> p;
    std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(first), N, p.begin());
    return p;
}

template <size_t N>
std::array<uint16_t, N> valuesOf(const uint16_t* v) {
    std::array<uint16_t, N> a;
    std::copy_n(v, N, a.begin());
    return a;
}

template <size_t N>
void addPlaneCases(std::vector<KernelCase>& cases) {
    if constexpr (N == 1 || N == 4) {
        cases.push_back({"saturation", N, N,
                         [](const auto& in, uint16_t* out, size_t n) {
                             saturationMask<N>(planesOf<N>(in), out, n);
                         },
                         [](const uint16_t* v) { return saturationPixel(valuesOf<N>(v)); }});
    }
    if constexpr (N >= 2) {
        cases.push_back({"merge", N, N,
                         [](const auto& in, uint16_t* out, size_t n) {
                             mergeErrorMasks<N>(planesOf<N>(in), out, n);
                         },
                         [](const uint16_t* v) { return mergePixel(valuesOf<N>(v)); }});
        cases.push_back({"hdr", N, N,
                         [](const auto& in, uint16_t* out, size_t n) {
                             hdrSelection<N>(planesOf<N>(in), out, n);
                         },
                         [](const uint16_t* v) { return hdrSelectionPixel(valuesOf<N>(v)); }});
        // The mask is plane 0, the exposures follow.
        cases.push_back({"stitch", N, N + 1,
                         [](const auto& in, uint16_t* out, size_t n) {
                             stitch<N>(in[0], planesOf<N>(in, 1), out, n);
                         },
                         [](const uint16_t* v) { return v[1 + stitchSource<N>(v[0])]; }});
    }
}

// Thresholds at the ends of the range and around the codes.
const uint16_t THRESHOLDS[] = {0, 1, 100, 4095, 63999, 64000, 64001, 65535};

std::vector<KernelCase> allKernels() {
    std::vector<KernelCase> cases;
    addPlaneCases<1>(cases);
    addPlaneCases<2>(cases);
    addPlaneCases<3>(cases);
    addPlaneCases<4>(cases);
    for (const uint16_t t : THRESHOLDS) {
        cases.push_back(
            {"minAmplitudeMask", t, 1,
             [t](const auto& in, uint16_t* out, size_t n) { minAmplitudeMask(in[0], t, out, n); },
             [t](const uint16_t* v) { return minAmplitudeMaskPixel(v[0], t); }});
        cases.push_back({"minAmplitude", t, 2,
                         [t](const auto& in, uint16_t* out, size_t n) {
                             minAmplitude(in[0], in[1], t, out, n);
                         },
                         [t](const uint16_t* v) { return minAmplitudePixel(v[0], v[1], t); }});
    }
    cases.push_back(
        {"applyErrorMask", 2, 2,
         [](const auto& in, uint16_t* out, size_t n) { applyErrorMask(in[0], in[1], out, n); },
         [](const uint16_t* v) { return applyErrorMaskPixel(v[0], v[1]); }});
    cases.push_back({"errorToZero", 1, 1,
                     [](const auto& in, uint16_t* out, size_t n) { errorToZero(in[0], out, n); },
                     [](const uint16_t* v) { return errorToZeroPixel(v[0]); }});
    return cases;
}

// Pixel-major planes: data[p][i] is plane p at pixel i.
using PlaneData = std::vector<std::vector<uint16_t>>;

std::vector<const uint16_t*> pointers(const PlaneData& data) {
    std::vector<const uint16_t*> p;
    for (const auto& plane : data) p.push_back(plane.data());
    return p;
}

std::vector<uint16_t> expected(const KernelCase& k, const PlaneData& data) {
    const size_t n = data[0].size();
    std::vector<uint16_t> expect(n), values(k.planes);
    for (size_t i = 0; i < n; ++i) {
        for (size_t p = 0; p < k.planes; ++p) values[p] = data[p][i];
        expect[i] = k.rule(values.data());
    }
    return expect;
}

// Runs the kernel on every instruction set and compares all pixels.
void expectBitExact(const KernelCase& k, const PlaneData& data) {
    SCOPED_TRACE(k.name());
    const std::vector<uint16_t> expect = expected(k, data);
    std::vector<uint16_t> out(expect.size());
    forEachTarget([&] {
        std::fill(out.begin(), out.end(), uint16_t{0x5A5A});
        k.kernel(pointers(data), out.data(), out.size());
        const auto bad = std::mismatch(out.begin(), out.end(), expect.begin());
        if (bad.first != out.end()) {
            const auto i = static_cast<size_t>(bad.first - out.begin());
            std::ostringstream in;
            for (const auto& plane : data) in << " " << plane[i];
            ADD_FAILURE() << "pixel " << i << " of " << out.size() << ": inputs" << in.str()
                          << " give " << *bad.first << ", expected " << *bad.second;
        }
    });
}

// Every combination of one value from each set (the last plane varies
// fastest).
PlaneData product(const std::vector<std::vector<uint16_t>>& sets) {
    PlaneData data(sets.size());
    size_t total = 1;
    for (const auto& s : sets) total *= s.size();
    for (size_t i = 0; i < total; ++i) {
        size_t rest = i;
        for (size_t p = sets.size(); p-- > 0;) {
            data[p].push_back(sets[p][rest % sets[p].size()]);
            rest /= sets[p].size();
        }
    }
    return data;
}

std::vector<uint16_t> everyValue() {
    std::vector<uint16_t> v(65536);
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint16_t>(i);
    return v;
}

// Values where a rule changes its answer: the ends of the range, the 12-bit
// converter's limits, the thresholds in use and every pixel code.
const std::vector<uint16_t> EDGES = {0,     1,     2,     99,    100,   101,   4094,  4095,
                                     4096,  32767, 32768, 63998, 63999, 64000, 64001, 64002,
                                     64003, 64004, 64005, 64006, 65534, 65535};

// Single-input rules see every value; two-input rules every value against
// every edge value; more inputs every combination of edge values. Stitching
// sweeps the mask over every value, with exposures that differ in every
// combination.
TEST(MaskKernels, ExhaustiveAndEdgeSweeps) {
    for (const KernelCase& k : allKernels()) {
        std::vector<std::vector<uint16_t>> sets;
        if (std::string(k.kind) == "stitch") {
            sets.push_back(everyValue());
            for (size_t p = 1; p < k.planes; ++p) {
                const auto n = static_cast<uint16_t>(p);
                sets.push_back({n, static_cast<uint16_t>(64000 + n)});
            }
        } else if (k.planes <= 2) {
            sets.push_back(everyValue());
            if (k.planes == 2) sets.push_back(EDGES);
        } else {
            sets.assign(k.planes, EDGES);
        }
        expectBitExact(k, product(sets));
        if (k.planes == 2) {
            std::swap(sets[0], sets[1]);
            expectBitExact(k, product(sets));
        }
    }
}

// Random frames of every length around the vector widths (8, 16 and 32
// lanes), half the pixels drawn from the edge values; small value ranges
// give many equal amplitudes.
TEST(MaskKernels, RandomImagesOfOddLengths) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> any(0, 65535), edge(0, static_cast<int>(EDGES.size()) - 1);
    std::uniform_int_distribution<int> small(0, 7);
    for (const KernelCase& k : allKernels()) {
        for (size_t n : {1, 2, 3, 4, 7, 9, 15, 17, 31, 33, 63, 65, 321 * 3}) {
            PlaneData data(k.planes, std::vector<uint16_t>(n));
            for (auto& plane : data) {
                for (auto& v : plane) {
                    const int pick = small(rng);
                    v = static_cast<uint16_t>(pick < 3   ? EDGES[static_cast<size_t>(edge(rng))]
                                              : pick < 5 ? small(rng)
                                                         : any(rng));
                }
            }
            expectBitExact(k, data);
        }
    }
}

// The output may be any one of the inputs.
TEST(MaskKernels, InPlace) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(EDGES.size()) - 1);
    const size_t n = 1001;
    for (const KernelCase& k : allKernels()) {
        PlaneData data(k.planes, std::vector<uint16_t>(n));
        for (auto& plane : data) {
            for (auto& v : plane) v = EDGES[static_cast<size_t>(pick(rng))];
        }
        const std::vector<uint16_t> expect = expected(k, data);
        for (size_t p = 0; p < k.planes; ++p) {
            forEachTarget([&] {
                PlaneData work = data;
                k.kernel(pointers(work), work[p].data(), n);
                ASSERT_EQ(work[p], expect) << k.name() << " into input " << p;
            });
        }
    }
}

// An output that overlaps an input shifted by some pixels gets the result of
// the per-pixel loop in index order (reads see earlier results).
TEST(MaskKernels, ShiftedOverlapFollowsPixelOrder) {
    std::mt19937 rng(6);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(EDGES.size()) - 1);
    const size_t n = 200;
    for (const KernelCase& k : allKernels()) {
        for (size_t shift : {1, 3, 8, 17}) {
            PlaneData data(k.planes, std::vector<uint16_t>(n + shift));
            for (auto& plane : data) {
                for (auto& v : plane) v = EDGES[static_cast<size_t>(pick(rng))];
            }
            PlaneData expect = data;
            std::vector<uint16_t> values(k.planes);
            for (size_t i = 0; i < n; ++i) {
                for (size_t p = 0; p < k.planes; ++p) values[p] = expect[p][i];
                expect[0][i + shift] = k.rule(values.data());
            }
            k.kernel(pointers(data), data[0].data() + shift, n);
            ASSERT_EQ(data[0], expect[0]) << k.name() << ", shift " << shift;
        }
    }
}

TEST(MaskKernels, EmptyImageWritesNothing) {
    for (const KernelCase& k : allKernels()) {
        forEachTarget([&] {
            const uint16_t in = 0;
            uint16_t out = 7;
            k.kernel(std::vector<const uint16_t*>(k.planes, &in), &out, 0);
            EXPECT_EQ(out, 7) << k.name();
        });
    }
}

}  // namespace
