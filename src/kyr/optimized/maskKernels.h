// Per-pixel rules of the validity masks, the error codes and the HDR
// exposure selection and stitching.
//
// Invalid pixels carry a pixel code (64000 and above) in the 16-bit image
// itself; an error mask holds 0 for a valid pixel and a code otherwise. Every
// code is larger than every measurement and the codes are ordered, so codes
// combine by taking the unsigned maximum.
//
// The inline functions are the per-pixel rules. The array functions apply
// them to whole images with explicit SIMD (one vector of 16-bit lanes per
// step, the best instruction set of the running CPU chosen at run time) and
// give bit-identical results. `out` may be one of the inputs (in place);
// where it partly overlaps an input at another address they fall back to the
// per-pixel loop in index order.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "kyr/image.h"

namespace kyr::kernels {

inline constexpr uint16_t LIMIT_VALID = ImageBase::LIMIT_VALID_VALUE;
inline constexpr uint16_t LARGEST_VALID = LIMIT_VALID - 1;
inline constexpr uint16_t CODE_LOW_AMPLITUDE = ImageBase::LOW_AMPLITUDE;
inline constexpr uint16_t CODE_ADC_OVERFLOW = ImageBase::ADC_OVERFLOW;
inline constexpr uint16_t CODE_SATURATION = ImageBase::SATURATION;
// The converter's full scale: a raw 12-bit sample of this value overflowed.
inline constexpr uint16_t ADC_FULL_SCALE = 4095;
// Adding this to a code wraps it below itself (65536 - 64000).
inline constexpr uint16_t CODE_WRAP = 1536;

// The N planes of a multi-image rule (DCS images, masks, exposures).
template <size_t N>
using Planes = std::array<const uint16_t*, N>;

// One raw sample's share of the saturation test: a sample of 0 is
// saturated, one of exactly 4095 overflowed the converter.
inline uint16_t saturationSampleCode(uint16_t sample) {
    if (sample == 0) {
        return CODE_SATURATION;
    }
    return sample == ADC_FULL_SCALE ? CODE_ADC_OVERFLOW : 0;
}

// SATURATION when any sample is 0, otherwise ADC_OVERFLOW when any is 4095,
// otherwise 0. The higher code wins, so a 0 beats a 4095.
template <size_t N>
inline uint16_t saturationPixel(const std::array<uint16_t, N>& samples) {
    uint16_t code = 0;
    for (const uint16_t s : samples) {
        code = std::max(code, saturationSampleCode(s));
    }
    return code;
}

// LOW_AMPLITUDE when amplitude < minAmp (strictly), else 0. An amplitude
// that is already a code is low only when minAmp exceeds that code.
inline uint16_t minAmplitudeMaskPixel(uint16_t amplitude, uint16_t minAmp) {
    return amplitude < minAmp ? CODE_LOW_AMPLITUDE : 0;
}

// LOW_AMPLITUDE when amplitude < minAmp, else the distance unchanged (codes
// included).
inline uint16_t minAmplitudePixel(uint16_t amplitude, uint16_t distance, uint16_t minAmp) {
    return amplitude < minAmp ? CODE_LOW_AMPLITUDE : distance;
}

// The unsigned maximum: merging masks, or stamping a mask onto an image.
template <size_t N>
inline uint16_t mergePixel(const std::array<uint16_t, N>& values) {
    uint16_t m = 0;
    for (const uint16_t v : values) {
        m = std::max(m, v);
    }
    return m;
}

inline uint16_t applyErrorMaskPixel(uint16_t image, uint16_t mask) {
    return std::max(image, mask);
}

// 0 for a code (64000 and above), the value itself otherwise, without a
// branch: a code plus 1536 wraps to below 1536, every measurement stays at
// or above it.
inline uint16_t errorToZeroPixel(uint16_t value) {
    const auto wrapped = static_cast<uint16_t>(value + CODE_WRAP);
    return static_cast<uint16_t>(std::max(wrapped, CODE_WRAP) - CODE_WRAP);
}

// The exposure with the largest valid amplitude (1 ... 63999); a code never
// wins, equal amplitudes go to the lower index, and with no valid exposure
// the index is 0.
template <size_t N>
inline uint16_t hdrSelectionPixel(const std::array<uint16_t, N>& amplitudes) {
    const uint16_t first = amplitudes[0];
    uint16_t best = (first >= 1 && first <= LARGEST_VALID) ? first : 0;
    uint16_t index = 0;
    for (size_t n = 1; n < N; ++n) {
        const uint16_t a = amplitudes[n];
        if (a <= LARGEST_VALID && a > best) {
            best = a;
            index = static_cast<uint16_t>(n);
        }
    }
    return index;
}

// The image a stitched pixel comes from: the mask value, or exposure 0 when
// the value names no image of the N.
template <size_t N>
inline size_t stitchSource(uint16_t mask) {
    return mask < N ? mask : 0;
}

// Whole-image forms over `count` pixels. Instantiated for the N in use:
// saturation 1 and 4 DCS images; merging and HDR selection 2, 3 and 4
// planes; stitching 2, 3 and 4 exposures of 16-bit pixels (signed images
// are stitched as their bit patterns).
template <size_t N>
void saturationMask(const Planes<N>& dcs, uint16_t* out, size_t count);
void minAmplitudeMask(const uint16_t* amplitude, uint16_t minAmp, uint16_t* out, size_t count);
void minAmplitude(const uint16_t* amplitude, const uint16_t* distance, uint16_t minAmp,
                  uint16_t* out, size_t count);
template <size_t N>
void mergeErrorMasks(const Planes<N>& masks, uint16_t* out, size_t count);
void applyErrorMask(const uint16_t* image, const uint16_t* mask, uint16_t* out, size_t count);
void errorToZero(const uint16_t* in, uint16_t* out, size_t count);
template <size_t N>
void hdrSelection(const Planes<N>& amplitudes, uint16_t* out, size_t count);
template <size_t N>
void stitch(const uint16_t* mask, const Planes<N>& images, uint16_t* out, size_t count);

}  // namespace kyr::kernels
