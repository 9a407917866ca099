// Virtual sensor: what the simulated camera looks at and how it renders it.
//
// The renderer is pure computation: it knows nothing of device nodes or
// ioctls. The device emulation (driver/device.h, driver/interpose.cpp) keeps the sensor
// state that the controls set, asks the renderer for the images of a frame
// when the shutter is triggered, and copies them into the driver buffers.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ozrsim {

enum class Model { OZR310, OZR320 };

// Driver acquisition types, as written to the ACQUISITION_MODE control.
enum class AcqType : int { FourDcs = 0, Grayscale = 1, Hdr = 2 };

// Images of one frame: 4 DCS images, 1 grayscale image, or 12 DCS images in
// three exposures; 0 for an unknown type.
constexpr uint32_t imagesPerFrame(AcqType acq) {
    switch (acq) {
        case AcqType::FourDcs:
            return 4;
        case AcqType::Grayscale:
            return 1;
        case AcqType::Hdr:
            return 12;
    }
    return 0;
}

// Scene description. `name` is a built-in ("wall", "boxes", "tilted",
// "uniform") or "file:PATH" for a depth map file (see SceneLoader in
// scene.cpp).
struct SceneConfig {
    std::string name = "wall";
    float wallDistanceMm = 1500.0f;  // distance of the wall for "wall"
    float reflectivity = 0.6f;       // base reflectivity 0..1
    bool interference = false;       // a foreign light source disturbs a region
    // Additions:
    float noiseScale = 1.0f;       // multiplies the temporal noise; 0 renders noiseless
    bool systematicErrors = true;  // phase offset, cyclic error and temperature drift
    // With `interference`: the foreign light shines from the frame of this
    // index (SensorState::frameIndex) on; earlier frames are undisturbed.
    uint64_t interferenceFromFrame = 0;
    // No illumination: the DCS images show the dark level and noise only,
    // the grayscale image the dark signal (a camera under a dark cloth).
    bool dark = false;
};

// Constants of the sensor model that the calibration written by
// writeCalibration() describes.
constexpr double kSpeedOfLightMps = 299792458.0;
constexpr float kCalibrationTempC = 30.0f;  // die temperature of the calibration
constexpr float kTempDriftMmPerK = 22.0f;   // distance drift per kelvin above it
// The illumination is delayed by LED_DELAY_STEP x this time: a coarse delay
// line whose 255 steps span 63.75 ns, one modulation period at 15.7 MHz.
constexpr double kLedDelayStepSeconds = 250e-12;
// The device's range, 5 MHz to 100 MHz, with at most 20 MHz between entries.
constexpr uint32_t kCalibratedFrequenciesHz[] = {5000000,  10000000, 20000000, 40000000,
                                                 60000000, 80000000, 100000000};
constexpr uint32_t kPhaseLutSize = 2048;     // entries of each phase error table
constexpr uint16_t kPrnuScaleFactor = 1000;  // gain value meaning 1.0
// Temporal noise of a sample of expected signal A counts (amplitude or
// grayscale intensity, after pixel gain): sigma = noiseScale x
// sqrt(kReadNoiseVariance + kShotNoisePerCount x A) counts, drawn from a
// bell-shaped distribution bounded at kNoiseBoundSigma x sigma, before the
// sample is rounded to an integer.
constexpr float kReadNoiseVariance = 1.0f;
constexpr float kShotNoisePerCount = 1.0f / 64.0f;
constexpr float kNoiseBoundSigma = 3.4641f;  // sqrt(12): four uniforms summed

// Size of the image the library processes for a device buffer of
// width x height: the OZR310 unfolds W x H into W/2 x 2H. Returns false for
// sizes that cannot be rendered (zero, too large, OZR310 narrower than 2).
bool processedSize(Model model, uint32_t width, uint32_t height, uint32_t& outWidth,
                   uint32_t& outHeight);

// Everything the rendering of one frame depends on, set by the device
// emulation from its controls and clock.
struct SensorState {
    Model model = Model::OZR320;
    uint32_t width = 320;  // device buffer format (OZR310: folded, 640x120)
    uint32_t height = 240;
    AcqType acq = AcqType::FourDcs;
    uint32_t modulationHz = 24000000;
    int exposureUs = 500;
    int hdrTimesUs[3] = {100, 500, 2000};
    int gain = 1;
    float temperatureC = 35.0f;  // sensor die temperature for this frame
    int ledDelayStep = 0;        // LED_DELAY_STEP: illumination delay in steps
    uint64_t frameIndex = 0;     // counts triggered frames, seeds the noise
};

// True values of the last rendered frame, one entry per pixel of the
// unfolded sensor image (OZR310: width/2 x 2*height), row-major.
struct GroundTruth {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<float> distanceMm;  // true radial distance
    std::vector<float> amplitude;   // expected amplitude in 12-bit counts
    // Additions:
    // Per-pixel flags: kTruthClipped when an expected sample of the frame sits
    // at 0 or 4095, kTruthInterference inside the disturbed region.
    std::vector<uint8_t> flags;
    static constexpr uint8_t kTruthClipped = 1;
    static constexpr uint8_t kTruthInterference = 2;
    // The unit ray of every pixel through the lens (x right, y down, z
    // forward; three values a pixel), shared by the frames of one size.
    std::shared_ptr<const std::vector<float>> rays;

    // The true point seen by pixel (x, y), millimetres in the camera frame
    // (distance along the pixel's ray); zeros outside the image.
    std::array<float, 3> pointMm(uint32_t x, uint32_t y) const {
        if (x >= width || y >= height || !rays) return {0.0f, 0.0f, 0.0f};
        const size_t i = static_cast<size_t>(y) * width + x;
        if (i >= distanceMm.size() || 3 * i + 2 >= rays->size()) return {0.0f, 0.0f, 0.0f};
        const float d = distanceMm[i];
        return {d * (*rays)[3 * i], d * (*rays)[3 * i + 1], d * (*rays)[3 * i + 2]};
    }
};

class Renderer {
public:
    Renderer(const SceneConfig& scene, uint64_t seed);

    // Images of one triggered frame in the order the driver delivers them:
    // 4 in 4DCS, 1 in grayscale, 12 in HDR. Each holds width*height 16-bit
    // words in device layout with the 12-bit sample in the upper bits.
    std::vector<std::vector<uint16_t>> renderFrame(const SensorState& state);

    const GroundTruth& truth() const { return truth_; }

    // Sets up the per-pixel terms of a device format ahead of the first
    // frame, so that frame comes out as fast as the ones after it. False for
    // a format the renderer cannot render.
    bool prepare(Model model, uint32_t width, uint32_t height);

    // Additions: a renderer is used by one thread at a time (it caches the
    // per-pixel terms of the last size and frequency); copies are independent.
    // valid() is false when the scene could not be set up (unknown built-in,
    // unreadable depth file); renderFrame() then returns no images, as it
    // does for a state it cannot render (zero or oversized format).
    bool valid() const { return error_.empty(); }
    const std::string& error() const { return error_; }

private:
    SceneConfig scene_;
    uint64_t seed_;
    GroundTruth truth_;
    // Additions.
    struct Geometry;
    struct Static;
    void prepareStatic(Model model, uint32_t w, uint32_t h);
    std::string error_;
    std::shared_ptr<const Geometry> geometry_;          // scene at its native size, if any
    std::shared_ptr<const Static> static_;              // per-pixel terms for the current size
    std::shared_ptr<const std::vector<float>> cyclic_;  // cyclic error table
    uint32_t cyclicHz_ = 0;
};

// Writes a calibration directory describing the errors the renderer models,
// for the given model and sensor size, at several modulation frequencies.
// Returns 0 or a negative errno value.
// width x height is the device buffer format, as in SensorState; the images
// are written at the size the library processes (see processedSize()). The
// directory is created when missing.
int writeCalibration(const std::string& dir, Model model, uint32_t width, uint32_t height,
                     uint64_t seed);

}  // namespace ozrsim
