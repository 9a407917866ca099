// Sensor sources on the virtual sensor driver: builds a source the way the
// camera does (V4L2 device and hwmon channel from the model's
// configuration), collects what it publishes, and turns four DCS images into
// distance and amplitude with the textbook four-phase formulas.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <type_traits>
#include <vector>

#include "kyr/image.h"
#include "kyr/sensors/hwmonSensor.h"
#include "kyr/sensors/v4l2Sensor.h"
#include "kyr/sink.h"
#include "kyr/sources/ozr310Source.h"
#include "kyr/sources/ozr320Source.h"
#include "kyr/sources/ozrSensorSourceIF.h"
#include "kyr/stage.h"
#include "ozrsim.h"
#include "support/sim_config.h"

namespace testsupport {

// Collects the images and temperatures a source publishes.
class Collector {
public:
    struct ImageSink : Sink<Image<uint16_t>> {
        ImageSink(Collector& c, size_t index) : c(c), index(index) {}
        int action() override {
            c.images[index] = std::static_pointer_cast<Image<uint16_t>>(buffer_in);
            c.arrivals.push_back(index);
            return 0;
        }
        Collector& c;
        size_t index;
    };
    struct TempSink : Sink<float> {
        explicit TempSink(Collector& c) : c(c) {}
        int action() override {
            c.temperatures.push_back(*std::static_pointer_cast<float>(buffer_in));
            return 0;
        }
        Collector& c;
    };

    // Connects to DCS outputs 0 .. count-1 (or the grayscale output when
    // `grayscale`) and to the temperature output.
    Collector(OZRSensorSourceIF& source, size_t count, bool grayscale = false) : temp(*this) {
        images.resize(count);
        temp << *source.getTemperatureSource();
        for (size_t i = 0; i < count; ++i) {
            sinks.push_back(std::make_unique<ImageSink>(*this, i));
            Source<Image<uint16_t>>* out =
                grayscale ? source.getGrayscaleSource() : source.getDCSSource(i);
            EXPECT_NE(out, nullptr) << i;
            if (out != nullptr) {
                *sinks.back() << *out;
            }
        }
    }

    std::vector<std::shared_ptr<Image<uint16_t>>> images;
    std::vector<size_t> arrivals;
    std::vector<float> temperatures;
    std::vector<std::unique_ptr<ImageSink>> sinks;
    TempSink temp;
};

// Distance (mm) and amplitude (counts) of one pixel from its four DCS
// samples: phase = atan2(DCS3 - DCS1, DCS2 - DCS0), distance =
// phase * c / (4 pi f), amplitude = sqrt((DCS2 - DCS0)^2 + (DCS3 - DCS1)^2) / 2.
struct DistAmp {
    double distanceMm;
    double amplitude;
};

inline DistAmp fourPhase(const std::vector<std::shared_ptr<Image<uint16_t>>>& dcs, size_t first,
                         size_t pixel, double hz) {
    const double x = double(dcs[first + 2]->getData()[pixel]) - dcs[first]->getData()[pixel];
    const double y = double(dcs[first + 3]->getData()[pixel]) - dcs[first + 1]->getData()[pixel];
    double phase = std::atan2(y, x);
    if (phase < 0) {
        phase += 2 * std::numbers::pi;
    }
    const double c = ozrsim::kSpeedOfLightMps * 1000.0;
    return {phase * c / (4 * std::numbers::pi * hz), 0.5 * std::hypot(x, y)};
}

// Signed difference of two distances modulo the unambiguous range c / 2f.
inline double wrappedErrorMm(double measured, double truth, double hz) {
    const double range = ozrsim::kSpeedOfLightMps * 1000.0 / (2.0 * hz);
    return std::remainder(measured - truth, range);
}

// Writes a text depth map ("P2", millimetres) of w x h where pixel (x, y)
// holds fn(x, y).
template <typename Fn>
void writeDepthMap(const std::filesystem::path& path, uint32_t w, uint32_t h, Fn fn) {
    std::ofstream out(path);
    out << "P2\n" << w << " " << h << "\n65535\n";
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            out << fn(x, y) << (x + 1 == w ? "\n" : " ");
        }
    }
}

// Comparison of a measured distance and amplitude image with the driver's
// ground truth, pixel by pixel, against the noise the driver adds.
//
// Each sample carries noise of sigma = noiseScale * sqrt(1 + A / 64) counts
// (A the pixel's true amplitude), bounded at 3.47 sigma, and a rounding
// error of at most half a count (variance 1/12). The differences
// DCS2 - DCS0 and DCS3 - DCS1 form a vector of length 2A; its error is at
// most sqrt(2) * (2 * 3.47 sigma + 1) long, so the phase error is at most
// asin(that / 2A) and the amplitude error at most half that length. Those
// are hard bounds: a pixel outside them was not delivered as rendered. For
// the statistics the phase error is about N(0, sqrt(2 (sigma^2 + 1/12)) / 2A).
struct TruthComparison {
    size_t compared = 0;
    size_t clipped = 0;    // excluded: a sample sat at 0 or 4095
    size_t unbounded = 0;  // excluded: noise may exceed the signal
    size_t outside = 0;    // distance or amplitude outside its hard bound
    double meanZ = 0.0;    // mean of error / predicted sigma
    double rmsZ = 0.0;     // root mean square of the same
    double maxErrorMm = 0.0;
};

inline TruthComparison compareWithTruth(const std::vector<std::shared_ptr<Image<uint16_t>>>& dcs,
                                        size_t first, const ozrsim::GroundTruth& truth, double hz,
                                        double noiseScale) {
    TruthComparison r;
    const double mmPerRad = ozrsim::kSpeedOfLightMps * 1000.0 / (4 * std::numbers::pi * hz);
    double sumZ = 0.0, sumZ2 = 0.0;
    const size_t n = truth.distanceMm.size();
    for (size_t i = 0; i < n; ++i) {
        if (truth.flags[i] & ozrsim::GroundTruth::kTruthClipped) {
            ++r.clipped;
            continue;
        }
        const double a = truth.amplitude[i];
        const double sigma = noiseScale * std::sqrt(1.0 + a / 64.0);
        const double worst = std::sqrt(2.0) * (2 * 3.47 * sigma + 1.0);
        if (!(worst < 2 * a)) {
            ++r.unbounded;
            continue;
        }
        const DistAmp m = fourPhase(dcs, first, i, hz);
        const double err = wrappedErrorMm(m.distanceMm, truth.distanceMm[i], hz);
        const double bound = std::asin(worst / (2 * a)) * mmPerRad;
        if (std::abs(err) > bound || std::abs(m.amplitude - a) > worst / 2) {
            ++r.outside;
        }
        const double sigmaMm = std::sqrt(2.0 * (sigma * sigma + 1.0 / 12.0)) / (2 * a) * mmPerRad;
        sumZ += err / sigmaMm;
        sumZ2 += (err / sigmaMm) * (err / sigmaMm);
        r.maxErrorMm = std::max(r.maxErrorMm, std::abs(err));
        ++r.compared;
    }
    if (r.compared > 0) {
        r.meanZ = sumZ / r.compared;
        r.rmsZ = std::sqrt(sumZ2 / r.compared);
    }
    return r;
}

// Median amplitude of each of the three exposures of an HDR frame (DCS
// images 4k to 4k + 3 for exposure k), over every seventh pixel.
inline std::array<double, 3> exposureAmplitudeMedians(
    const std::vector<std::shared_ptr<Image<uint16_t>>>& dcs, double hz) {
    std::array<double, 3> medians{};
    for (size_t k = 0; k < 3; ++k) {
        std::vector<double> amp;
        for (size_t i = 0; i < dcs[0]->pixelCount(); i += 7) {
            amp.push_back(fourPhase(dcs, 4 * k, i, hz).amplitude);
        }
        std::nth_element(amp.begin(), amp.begin() + amp.size() / 2, amp.end());
        medians[k] = amp[amp.size() / 2];
    }
    return medians;
}

// A source of model S on the virtual driver, built as the camera builds it.
template <typename S>
class SimSensorSource : public ::testing::Test {
protected:
    static constexpr bool IS_310 = std::is_same_v<S, OZR310Source>;

    static const OZRSensorConfig& paths() { return IS_310 ? ozr310Paths : ozr320Paths; }
    static ozrsim::Model model() { return IS_310 ? ozrsim::Model::OZR310 : ozrsim::Model::OZR320; }

    // Fast frames, a temperature that stays put, no systematic errors.
    static ozrsim::Config config() {
        ozrsim::Config c = testsupport::fastSimConfig(model());
        c.scene.systematicErrors = false;
        return c;
    }

    void start(const ozrsim::Config& c) {
        cfg = c;
        ASSERT_EQ(ozrsim::configure(c), 0);
        auto video =
            V4l2Sensor::acquire(paths().videoPath, paths().subdevPath, paths().nVideoBuffers);
        ASSERT_TRUE(video);
        auto temp = HwMonSensor::acquire(paths().tempPath, "/sys/class/hwmon");
        ASSERT_TRUE(temp);
        source = std::make_unique<S>(std::move(video), std::move(temp), 4);
    }
    void TearDown() override {
        source.reset();
        ozrsim::reset();
        if (!depthFile.empty()) {
            std::filesystem::remove(depthFile);
        }
    }

    // The default configuration with a noiseless scene whose distance
    // differs along both axes (1200 + 2x + 3y mm), at 320 x 240, the size of
    // the published image: any row or half out of place shows.
    ozrsim::Config gradientScene() {
        ozrsim::Config c = config();
        c.scene.noiseScale = 0.0f;
        c.scene.reflectivity = 1.0f;
        depthFile = std::filesystem::temp_directory_path() /
                    (std::string(ozrsim::modelName(model())) + "_layout_" +
                     std::to_string(::getpid()) + ".pgm");
        writeDepthMap(depthFile, 320, 240,
                      [](uint32_t x, uint32_t y) { return 1200 + 2 * x + 3 * y; });
        c.scene.name = "file:" + depthFile.string();
        return c;
    }

    // Size of the published images.
    void publishedSize(uint32_t& w, uint32_t& h) const {
        uint32_t dw = cfg.width, dh = cfg.height;
        if (dw == 0 || dh == 0) {
            ozrsim::defaultFormat(cfg.model, dw, dh);
        }
        ASSERT_TRUE(ozrsim::processedSize(cfg.model, dw, dh, w, h));
    }

    // Triggers the first frame of a stream and waits until the driver has
    // delivered it: the first frame after configuration also sets up the
    // scene, which may take longer than a frame time-out under sanitizers.
    void triggerFirst() {
        ASSERT_EQ(source->fetchNext(), 0);
        ASSERT_TRUE(ozrsim::waitIdle(std::chrono::seconds(20)));
    }

    // Streams `frames` frames as a pipeline does: trigger once, then each
    // capture triggers the next, except the last.
    void stream(int frames) {
        ASSERT_EQ(source->setupStreaming(), 0);
        triggerFirst();
        for (int i = 0; i < frames; ++i) {
            ASSERT_EQ(source->captureNext(i + 1 < frames), 0) << i;
        }
        ASSERT_EQ(source->stopStreaming(), 0);
    }

    // Starts a stream and triggers its first frame; from then on the driver
    // fails the request `fault` names.
    void failAfterFirstTrigger(const ozrsim::IoctlFault& fault) {
        ASSERT_EQ(source->setupStreaming(), 0);
        triggerFirst();
        ozrsim::FaultConfig f;
        f.ioctls.push_back(fault);
        ozrsim::setFaults(f);
    }

    // Starts a stream on a sensor that accepts triggers but delivers no
    // image, and triggers a frame.
    void stallAfterTrigger() {
        ASSERT_EQ(source->setupStreaming(), 0);
        ozrsim::FaultConfig f;
        f.stall = true;
        ozrsim::setFaults(f);
        ASSERT_EQ(source->fetchNext(), 0);
    }

    // Checks the DCS images `got` collected over `frames` frames of the
    // "boxes" scene against the driver's ground truth of the last frame.
    void expectTrueDistancesWithinTheNoise(const Collector& got, size_t frames) {
        const ozrsim::GroundTruth truth = ozrsim::lastTruth();
        const double hz = ozrsim::lastState().modulationHz;
        const TruthComparison r = compareWithTruth(got.images, 0, truth, hz, 1.0);
        RecordProperty("compared", static_cast<int>(r.compared));
        RecordProperty("meanZ", std::to_string(r.meanZ));
        RecordProperty("rmsZ", std::to_string(r.rmsZ));
        RecordProperty("maxErrorMm", std::to_string(r.maxErrorMm));
        // Nearly the whole image is compared; only the saturating patch clips
        // and only the dark patch is too faint for a bound.
        EXPECT_GT(r.compared, truth.distanceMm.size() * 9 / 10);
        EXPECT_EQ(r.outside, 0u);
        // Errors scaled by their predicted sigma: unbiased and of unit spread
        // (over some 75000 pixels the standard errors are about 0.004).
        EXPECT_LT(std::abs(r.meanZ), 0.02);
        EXPECT_GT(r.rmsZ, 0.95);
        EXPECT_LT(r.rmsZ, 1.05);
        // The temperature of each frame came from the driver's hwmon channel.
        ASSERT_EQ(got.temperatures.size(), frames);
        EXPECT_NEAR(got.temperatures.back(), ozrsim::temperature(), 0.001);
    }

    ozrsim::Config cfg;
    std::unique_ptr<S> source;
    std::filesystem::path depthFile;  // scene file of gradientScene(), removed at the end
};

}  // namespace testsupport
