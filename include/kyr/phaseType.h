// An angle in [0, 2*pi) stored as a fixed-point fraction of a full turn.
//
// Raw value v stands for v * 2*pi / 65535 radians (full scale is the maximum
// of T, not 2^16), while raw phases subtract modulo 2^16.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "kyr/constants.h"

template <typename T>
struct PhaseType {
    using Type = T;

    Type value;

    PhaseType() : value(0) {}
    PhaseType(Type raw) : value(raw) {}
    PhaseType(float radians) : value(from_float(radians)) {}

    Type getRaw() const { return value; }

    operator float() const { return to_float(value); }

    // (v * 2pi) / maxRaw in single precision, in this order: the one rule
    // for raw phases to radians (the distance kernels follow it lane by lane).
    static float to_float(Type v) {
        return static_cast<float>(v) * kyr::TWO_PI_F / static_cast<float>(maxRaw());
    }

    // Wraps `f` into [0, 2*pi) and rounds to the nearest raw value, halves
    // away from zero. A value that is not finite has no angle and gives 0.
    static Type from_float(float f) {
        if (!std::isfinite(f)) {
            return 0;
        }
        float x = std::fmod(f, kyr::TWO_PI_F);
        if (x < 0.0f) {
            x += kyr::TWO_PI_F;
        }
        const float scaled = std::round(x * static_cast<float>(maxRaw()) / kyr::TWO_PI_F);
        if (scaled >= static_cast<float>(maxRaw())) {
            return maxRaw();
        }
        return static_cast<Type>(scaled);
    }

    friend PhaseType operator-(PhaseType a, PhaseType b) {
        return PhaseType(static_cast<Type>(a.value - b.value));
    }
    friend bool operator==(PhaseType a, PhaseType b) { return a.value == b.value; }

private:
    static constexpr Type maxRaw() { return std::numeric_limits<Type>::max(); }
};
