// Compare-exchange networks that find the median of a kernel window without
// sorting it: the per-pixel rule of the median kernels, run step by step on
// the window by the scalar form and lane by lane by the vector form, so both
// give the same value for every input (also for floats that do not order,
// such as NaN, and for the two zeros).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kyr::kernels {

// One compare-exchange: when w[hi] < w[lo] the two values change places, so
// afterwards w[lo] holds the smaller and w[hi] the larger one. `loUsed` and
// `hiUsed` tell whether a later step or the result reads each output; a
// vector form may skip computing an output that nobody reads.
struct Exchange {
    uint8_t lo;
    uint8_t hi;
    bool loUsed = true;
    bool hiUsed = true;
};

namespace detail {

inline constexpr size_t MAX_NETWORK_STEPS = 256;

struct ExchangeList {
    Exchange step[MAX_NETWORK_STEPS] = {};
    size_t count = 0;

    constexpr void add(Exchange e) { step[count++] = e; }
};

// Batcher's odd-even merge sort for the next power of two of `lines`,
// without the exchanges that reach a line beyond `lines`: those lines would
// hold values larger than every real one, which no exchange ever moves, so
// the rest still sorts the first `lines` values.
constexpr ExchangeList oddEvenMergeSort(size_t lines) {
    size_t p = 1;
    while (p < lines) {
        p *= 2;
    }
    ExchangeList list;
    for (size_t t = 1; t < p; t *= 2) {
        for (size_t k = t; k >= 1; k /= 2) {
            for (size_t j = k % t; j + k < p; j += 2 * k) {
                for (size_t i = 0; i < k && i + j + k < p; ++i) {
                    const size_t a = i + j;
                    const size_t b = i + j + k;
                    if (a / (2 * t) == b / (2 * t) && b < lines) {
                        list.add({static_cast<uint8_t>(a), static_cast<uint8_t>(b)});
                    }
                }
            }
        }
    }
    return list;
}

// The steps of `all` on which the value left at line `result` depends, in
// their order, each marked with which of its outputs is read afterwards.
constexpr ExchangeList selecting(const ExchangeList& all, size_t result) {
    uint64_t needed = uint64_t{1} << result;
    ExchangeList reversed;
    for (size_t s = all.count; s-- > 0;) {
        Exchange e = all.step[s];
        e.loUsed = ((needed >> e.lo) & 1u) != 0;
        e.hiUsed = ((needed >> e.hi) & 1u) != 0;
        if (e.loUsed || e.hiUsed) {
            reversed.add(e);
            needed |= (uint64_t{1} << e.lo) | (uint64_t{1} << e.hi);
        }
    }
    ExchangeList kept;
    for (size_t s = reversed.count; s-- > 0;) {
        kept.add(reversed.step[s]);
    }
    return kept;
}

template <size_t COUNT>
constexpr std::array<Exchange, COUNT> toArray(const ExchangeList& list) {
    std::array<Exchange, COUNT> steps{};
    for (size_t s = 0; s < COUNT; ++s) {
        steps[s] = list.step[s];
    }
    return steps;
}

// The median of 9 in 19 exchanges: sort each row of the 3 x 3 window (three
// exchanges per row); the median is then the median of the largest row
// minimum (line 6), the smallest row maximum (line 2) and the median of the
// row medians (line 4), left at line 4.
constexpr ExchangeList medianOf9() {
    constexpr uint8_t steps[][2] = {{1, 2}, {4, 5}, {7, 8}, {0, 1}, {3, 4}, {6, 7}, {1, 2},
                                    {4, 5}, {7, 8}, {0, 3}, {5, 8}, {4, 7}, {3, 6}, {1, 4},
                                    {2, 5}, {4, 7}, {4, 2}, {6, 4}, {4, 2}};
    ExchangeList list;
    for (const auto& s : steps) {
        list.add({s[0], s[1]});
    }
    return selecting(list, 4);
}

inline constexpr ExchangeList MEDIAN_OF_9_LIST = medianOf9();
// The median of 25: the odd-even merge sort of 25 lines reduced to the steps
// that element 12 depends on.
inline constexpr ExchangeList MEDIAN_OF_25_LIST = selecting(oddEvenMergeSort(25), 12);

}  // namespace detail

// Leave the median of w[0] ... w[8] at w[4].
inline constexpr auto MEDIAN_OF_9 =
    detail::toArray<detail::MEDIAN_OF_9_LIST.count>(detail::MEDIAN_OF_9_LIST);
// Leave the median of w[0] ... w[24] at w[12].
inline constexpr auto MEDIAN_OF_25 =
    detail::toArray<detail::MEDIAN_OF_25_LIST.count>(detail::MEDIAN_OF_25_LIST);

static_assert(MEDIAN_OF_9.size() == 19);
static_assert(MEDIAN_OF_25.size() == 113);

}  // namespace kyr::kernels
