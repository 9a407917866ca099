// The mask, error-code and HDR kernels against their per-pixel rules, bit for
// bit, on every instruction set compiled in and supported by this CPU (the
// worked values of the rules are checked through the stages).
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

TEST(MaskRules, ErrorToZeroWithoutBranchIsTheTest) {
    for (uint32_t v = 0; v <= 65535; ++v) {
        ASSERT_EQ(errorToZeroPixel(static_cast<uint16_t>(v)), v >= 64000 ? 0 : v) << v;
    }
}

// ---------------------------------------------------- vector kernels vs rules

using InputPlanes = std::vector<const uint16_t*>;

// A whole-image kernel over `planes` input arrays and its per-pixel rule,
// which sees the planes' values at one pixel.
struct KernelCase {
    std::string name() const { return std::string(kind) + " " + std::to_string(param); }
    const char* kind;
    unsigned param;  // N, or the threshold
    size_t planes;
    std::function<void(const InputPlanes& in, uint16_t* out, size_t n)> kernel;
    std::function<uint16_t(const uint16_t* values)> rule;
};

template <size_t N>
Planes<N> planesOf(const InputPlanes& in, size_t first = 0) {
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

template <size_t N, auto Kernel, auto Rule>
KernelCase planeCase(const char* kind) {
    return {kind, N, N,
            [](const InputPlanes& in, uint16_t* out, size_t n) { Kernel(planesOf<N>(in), out, n); },
            [](const uint16_t* v) { return Rule(valuesOf<N>(v)); }};
}

// The mask is plane 0, the exposures follow.
template <size_t N>
KernelCase stitchCase() {
    return {"stitch", N, N + 1,
            [](const InputPlanes& in, uint16_t* out, size_t n) {
                stitch<N>(in[0], planesOf<N>(in, 1), out, n);
            },
            [](const uint16_t* v) { return v[1 + stitchSource<N>(v[0])]; }};
}

// Thresholds at the ends of the range and around the codes.
const uint16_t THRESHOLDS[] = {0, 1, 100, 4095, 63999, 64000, 64001, 65535};

std::vector<KernelCase> allKernels() {
    std::vector<KernelCase> cases = {
        planeCase<1, saturationMask<1>, saturationPixel<1>>("saturation"),
        planeCase<4, saturationMask<4>, saturationPixel<4>>("saturation"),
        planeCase<2, mergeErrorMasks<2>, mergePixel<2>>("merge"),
        planeCase<3, mergeErrorMasks<3>, mergePixel<3>>("merge"),
        planeCase<4, mergeErrorMasks<4>, mergePixel<4>>("merge"),
        planeCase<2, hdrSelection<2>, hdrSelectionPixel<2>>("hdr"),
        planeCase<3, hdrSelection<3>, hdrSelectionPixel<3>>("hdr"),
        planeCase<4, hdrSelection<4>, hdrSelectionPixel<4>>("hdr"),
        stitchCase<2>(),
        stitchCase<3>(),
        stitchCase<4>(),
        {"applyErrorMask", 2, 2,
         [](const InputPlanes& in, uint16_t* out, size_t n) {
             applyErrorMask(in[0], in[1], out, n);
         },
         [](const uint16_t* v) { return applyErrorMaskPixel(v[0], v[1]); }},
        {"errorToZero", 1, 1,
         [](const InputPlanes& in, uint16_t* out, size_t n) { errorToZero(in[0], out, n); },
         [](const uint16_t* v) { return errorToZeroPixel(v[0]); }}};
    for (const uint16_t t : THRESHOLDS) {
        cases.push_back({"minAmplitudeMask", t, 1,
                         [t](const InputPlanes& in, uint16_t* out, size_t n) {
                             minAmplitudeMask(in[0], t, out, n);
                         },
                         [t](const uint16_t* v) { return minAmplitudeMaskPixel(v[0], t); }});
        cases.push_back({"minAmplitude", t, 2,
                         [t](const InputPlanes& in, uint16_t* out, size_t n) {
                             minAmplitude(in[0], in[1], t, out, n);
                         },
                         [t](const uint16_t* v) { return minAmplitudePixel(v[0], v[1], t); }});
    }
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

// Values where a rule changes its answer: the ends of the range, the 12-bit
// converter's limits, the thresholds in use and every pixel code.
const std::vector<uint16_t> EDGES = {0,     1,     2,     99,    100,   101,   4094,  4095,
                                     4096,  32767, 32768, 63998, 63999, 64000, 64001, 64002,
                                     64003, 64004, 64005, 64006, 65534, 65535};

// Optimised builds sweep every 16-bit value below; unoptimised (sanitizer)
// builds, where the vector code runs some fifty times slower, take every
// THIN-th value and all edge values.
#ifdef NDEBUG
constexpr size_t THIN = 1;
#else
constexpr size_t THIN = 11;
#endif

std::vector<uint16_t> everyValue() {
    std::vector<uint16_t> v;
    for (size_t i = 0; i < 65536; i += THIN) v.push_back(static_cast<uint16_t>(i));
    if (THIN > 1) v.insert(v.end(), EDGES.begin(), EDGES.end());
    return v;
}

// Planes of n pixels drawn from the edge values.
PlaneData randomEdgePlanes(size_t planes, size_t n, std::mt19937& rng) {
    std::uniform_int_distribution<size_t> pick(0, EDGES.size() - 1);
    PlaneData data(planes, std::vector<uint16_t>(n));
    for (auto& plane : data) {
        for (auto& v : plane) v = EDGES[pick(rng)];
    }
    return data;
}

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
    const size_t n = 1001;
    for (const KernelCase& k : allKernels()) {
        const PlaneData data = randomEdgePlanes(k.planes, n, rng);
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
    const size_t n = 200;
    for (const KernelCase& k : allKernels()) {
        for (size_t shift : {1, 3, 8, 17}) {
            PlaneData data = randomEdgePlanes(k.planes, n + shift, rng);
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

}  // namespace
