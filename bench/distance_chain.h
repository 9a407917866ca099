// Inputs and references of the benchmarks of the distance chain: a
// calibration of the frame size, four DCS images of a scene, and the stages
// of the DCS-to-distance graph and of the filter graph each run by itself on
// the inputs it gets in the graph (the sum of their own times, against which
// the graphs' dataflow overhead reads as a ratio).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kyr/calibration/calibrationDataRegistry.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/graphs/filterGraph.h"
#include "kyr/image.h"
#include "kyr/sink.h"
#include "kyr/source.h"

namespace benchchain {

using U16 = Image<uint16_t>;
using I16 = Image<int16_t>;
using PhaseImage = Image<PhaseType<uint16_t>>;

inline constexpr uint32_t FREQUENCY_HZ = 20000000;
inline constexpr size_t LUT_SIZE = 2048;
inline constexpr float TEMPERATURE_C = 40.0f;
inline constexpr float CALIBRATION_TEMP_C = 30.0f;
inline constexpr float SLOPE_MM_K = 22.0f;

// Calibration of the frame size: a random offset image and table.
struct BenchCalibration : CalibrationProviderIF<PhaseOffsetData>,
                          CalibrationProviderIF<PhaseErrorLUTData> {
    BenchCalibration(size_t w, size_t h);
    int getCalibrationData(uint32_t hz, PhaseOffsetData& data) override;
    int getCalibrationData(uint32_t, PhaseErrorLUTData& data) override;
    void getCalibratedFrequencies(FrequencyList& list) override { list = FrequencyList{}; }

    std::shared_ptr<PhaseImage> offset;
    std::vector<uint16_t> lut;
};

// Registers the calibration of the frame size for the stages built while it
// lives, silences the log, and restores the empty providers afterwards.
class CalibrationScope {
public:
    CalibrationScope(size_t w, size_t h);
    ~CalibrationScope();
    CalibrationScope(const CalibrationScope&) = delete;
    CalibrationScope& operator=(const CalibrationScope&) = delete;

private:
    BenchCalibration calibration;
};

// Four DCS images of a scene at 0.5 .. 5 m with noise.
std::vector<std::shared_ptr<U16>> dcsFrame(size_t w, size_t h);

// Every filter, the interference mask and its latch switched on.
void enableEveryFilter(FilterGraph& graph);

// One stage under test with a sink on its output: firing free-standing
// sources connected to its inputs runs it once, by itself.
template <typename Stage, typename Out>
struct Alone {
    template <typename... Args>
    explicit Alone(Args... args) : stage(args...) {
        output << stage;
    }
    std::shared_ptr<Out> take() { return output.value(); }
    Stage stage;
    Sink<Out> output;
};

// The stages of the DCS-to-distance graph, one after the other, each on the
// input it gets in the graph, each output dropped at once.
class DistanceStagesAlone {
public:
    explicit DistanceStagesAlone(const std::vector<std::shared_ptr<U16>>& frame);
    void run();
    // The graph's results for the frame, as inputs of the filter stages.
    std::shared_ptr<U16> distanceImage, amplitudeImage;

private:
    const std::vector<std::shared_ptr<U16>>& frame;
    Alone<Subtract, I16> diff31, diff20;
    Alone<Amplitude, U16> amplitude;
    Alone<Atan2CORDIC<int16_t>, PhaseImage> atan2;
    Alone<PhaseErrorLUTCompensation, PhaseImage> lut{FREQUENCY_HZ};
    Alone<PhaseOffsetCompensation, PhaseImage> offset{FREQUENCY_HZ};
    Alone<LinearTempCompensation, PhaseImage> drift{FREQUENCY_HZ};
    Alone<PhaseToDistance, U16> distance{FREQUENCY_HZ};
    Source<U16> dcs[4], dcsB[4];
    Source<I16> d31[2], d20[2];
    Source<PhaseImage> raw, table, offsetIn, driftIn;
    Source<float> temperature;
    std::shared_ptr<I16> in31, in20;
    std::shared_ptr<PhaseImage> inRaw, inTable, inOffset, inDrift;
};

// The stages of the filter graph with every filter and mask on, likewise.
class FilterStagesAlone {
public:
    FilterStagesAlone(std::shared_ptr<U16> distance, std::shared_ptr<U16> amplitude,
                      const std::vector<std::shared_ptr<U16>>& dcs);
    void run();

private:
    // Runs each stage once; with `keep` its output becomes the input of the
    // next ones.
    void pass(bool keep);

    std::shared_ptr<U16> distance, amplitude;
    std::vector<std::shared_ptr<U16>> dcs;
    Alone<MedianFilter, U16> median;
    Alone<AverageFilter, U16> average;
    Alone<TemporalFilter, U16> temporal;
    Alone<KalmanFilter, U16> kalman;
    Alone<EdgeFilter, U16> edge;
    Alone<SaturationMask<4>, U16> saturation;
    Alone<InterferenceMask, U16> interference;
    Alone<MinAmplitudeMask, U16> minAmplitude{FilterGraph::DEFAULT_MIN_AMPLITUDE};
    Alone<MergeErrorMasks<3>, U16> merged;
    Alone<ApplyErrorMask, U16> maskedDistance, maskedAmplitude;
    Alone<Latch<uint16_t>, U16> latch{true};
    // Sources feeding the inputs, in the order the stages are listed above.
    Source<U16> medianIn, averageIn, temporalIn, kalmanDist, kalmanAmp, edgeIn, satIn[4],
        interfIn[4], minAmpIn, mergedIn[3], maskedDistImage, maskedDistMask, maskedAmpImage,
        maskedAmpMask, latchIn, latchMask;
    // The inputs the graph hands over.
    std::shared_ptr<U16> medianOut, averageOut, temporalOut, kalmanOut, edgeOut, satOut, interfOut,
        minAmpOut, mergedOut, maskedDistOut;
};

}  // namespace benchchain
