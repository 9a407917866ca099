#include "scene_model.h"

#include <cmath>
#include <numbers>

namespace ozrsim {

uint64_t mix64(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double unitFromHash(uint64_t h) {
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

namespace {

constexpr double TWO_PI = 2.0 * std::numbers::pi;

// Pattern tags, so that each pattern draws from its own random stream.
constexpr uint64_t TAG_DARK = 0x6461726b;
constexpr uint64_t TAG_GAIN = 0x6761696e;
constexpr uint64_t TAG_DELAY = 0x64656c61;
constexpr uint64_t TAG_COLUMN = 0x636f6c75;
constexpr uint64_t TAG_CYCLIC = 0x6379636c;
constexpr uint64_t TAG_UNIT = 0x756e6974;

// A smooth field over the image in roughly [-1, 1]: three seeded waves whose
// periods are longer than the image.
class SmoothField {
public:
    explicit SmoothField(uint64_t key) {
        static constexpr double WEIGHT[3] = {0.45, 0.3, 0.25};
        for (int j = 0; j < 3; ++j) {
            const uint64_t h = mix64(key + static_cast<uint64_t>(j) * 0x1000);
            amp_[j] = WEIGHT[j];
            kx_[j] = (0.3 + 0.9 * unitFromHash(mix64(h + 1))) * ((h & 1) ? 1.0 : -1.0);
            ky_[j] = (0.3 + 0.9 * unitFromHash(mix64(h + 2))) * ((h & 2) ? 1.0 : -1.0);
            phase_[j] = TWO_PI * unitFromHash(mix64(h + 3));
        }
    }
    double operator()(double ax, double ay) const {
        double v = 0.0;
        for (int j = 0; j < 3; ++j) {
            v += amp_[j] * std::cos(TWO_PI * (kx_[j] * ax + ky_[j] * ay) + phase_[j]);
        }
        return v;
    }

private:
    double amp_[3];
    double kx_[3];
    double ky_[3];
    double phase_[3];
};

}  // namespace

SensorErrorModel::SensorErrorModel(Model model, uint32_t width, uint32_t height, uint64_t seed)
    : width_(width), height_(height) {
    const uint64_t modelTag = model == Model::OZR310 ? 0x310ull : 0x320ull;
    const uint64_t key = mix64(seed ^ (modelTag << 48));
    const size_t n = static_cast<size_t>(width) * height;
    darkLevel_.resize(n);
    pixelGain_.resize(n);
    delaySeconds_.resize(n);

    const SmoothField darkField(mix64(key ^ TAG_DARK));
    const SmoothField gainField(mix64(key ^ TAG_GAIN));
    const SmoothField delayField(mix64(key ^ TAG_DELAY));
    std::vector<float> column(width);
    for (uint32_t x = 0; x < width; ++x) {
        column[x] = static_cast<float>(
            3.0 * (2.0 * unitFromHash(mix64(key ^ TAG_COLUMN ^ (uint64_t{x} << 20))) - 1.0));
    }

    // Each unit has its own constant path delay, 1.3 ns to 1.7 ns.
    const double unitDelay = 1.3e-9 + 0.4e-9 * unitFromHash(mix64(key ^ TAG_UNIT));

    for (uint32_t y = 0; y < height; ++y) {
        const double ay = (y + 0.5) / height;
        for (uint32_t x = 0; x < width; ++x) {
            const double ax = (x + 0.5) / width;
            const size_t i = static_cast<size_t>(y) * width + x;
            const uint64_t h = mix64(key ^ (static_cast<uint64_t>(i) << 8));
            const double r1 = 2.0 * unitFromHash(mix64(h ^ TAG_DARK)) - 1.0;
            const double r2 = 2.0 * unitFromHash(mix64(h ^ TAG_GAIN)) - 1.0;
            // The OZR310's two halves have their own converters.
            const double halfStep = (model == Model::OZR310 && y < height / 2) ? 6.0 : 0.0;
            darkLevel_[i] =
                static_cast<float>(2048.0 + 14.0 * darkField(ax, ay) + 5.0 * r1 + halfStep) +
                column[x];
            pixelGain_[i] = static_cast<float>(1.0 + 0.05 * gainField(ax, ay) + 0.02 * r2);

            // Constant path delay, a smooth pattern and a radial term; the
            // OZR310's upper half is read out through its own path.
            const double r2c = (ax - 0.5) * (ax - 0.5) + (ay - 0.5) * (ay - 0.5);
            double tau = unitDelay + 0.2e-9 * delayField(ax, ay) + 0.12e-9 * (4.0 * r2c - 0.5);
            if (model == Model::OZR310 && y < height / 2) tau += 0.05e-9;
            delaySeconds_[i] = tau;
        }
    }

    static constexpr int HARMONIC[HARMONICS] = {4, 8, 2};
    static constexpr double BASE_RAW[HARMONICS] = {150.0, 30.0, 50.0};
    static constexpr double SLOPE_RAW_PER_MHZ[HARMONICS] = {3.0, 1.0, 0.5};
    for (int j = 0; j < HARMONICS; ++j) {
        harmonic_[j] = HARMONIC[j];
        harmonicPhase_[j] = TWO_PI * unitFromHash(mix64(key ^ TAG_CYCLIC ^ (uint64_t(j) << 32)));
        // Each unit's harmonics are 0.8 to 1.2 times the typical ones.
        const double unitScale =
            0.8 + 0.4 * unitFromHash(mix64(key ^ TAG_CYCLIC ^ TAG_UNIT ^ (uint64_t(j) << 32)));
        ampBaseTurns_[j] = unitScale * BASE_RAW[j] / 65536.0;
        ampSlopeTurns_[j] = unitScale * SLOPE_RAW_PER_MHZ[j] / 65536.0;
    }
}

double SensorErrorModel::cyclicErrorTurns(double qTurns, uint32_t hz) const {
    const double mhz = hz * 1e-6;
    double e = 0.0;
    for (int j = 0; j < HARMONICS; ++j) {
        const double a = ampBaseTurns_[j] + ampSlopeTurns_[j] * mhz;
        e += a * std::sin(TWO_PI * harmonic_[j] * qTurns + harmonicPhase_[j]);
    }
    return e;
}

uint16_t SensorErrorModel::phaseOffsetRaw(size_t i, uint32_t hz) const {
    const double turns = static_cast<double>(hz) * delaySeconds_[i];
    const double frac = turns - std::floor(turns);
    return static_cast<uint16_t>(static_cast<uint32_t>(std::lround(frac * 65536.0)) & 0xFFFFu);
}

std::vector<uint16_t> SensorErrorModel::phaseErrorLut(uint32_t hz, uint32_t n) const {
    std::vector<uint16_t> lut(n);
    for (uint32_t k = 0; k < n; ++k) {
        // The table is indexed by the measured phase p = q + e(q): find the
        // ideal phase q belonging to the bin centre (a contraction, since the
        // error's slope stays well below one), then store e(q).
        const double p = (k + 0.5) / n;
        double q = p;
        for (int it = 0; it < 40; ++it) q = p - cyclicErrorTurns(q, hz);
        const long raw = std::lround(cyclicErrorTurns(q, hz) * 65536.0);
        lut[k] = static_cast<uint16_t>(static_cast<unsigned long>(raw) & 0xFFFFu);
    }
    return lut;
}

std::vector<uint16_t> SensorErrorModel::dsnuImage() const {
    std::vector<uint16_t> out(darkLevel_.size());
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<uint16_t>(std::lround(darkLevel_[i]));
    }
    return out;
}

std::vector<uint16_t> SensorErrorModel::prnuImage() const {
    std::vector<uint16_t> out(pixelGain_.size());
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<uint16_t>(std::lround(pixelGain_[i] * kPrnuScaleFactor));
    }
    return out;
}

}  // namespace ozrsim
