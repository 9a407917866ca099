#include "distance_chain.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "frame_counters.h"
#include "kyr/platform.h"

namespace benchchain {

namespace {
template <typename T>
std::shared_ptr<T> share(const std::shared_ptr<T>& image) {
    return std::shared_ptr<T>(image);
}
}  // namespace

BenchCalibration::BenchCalibration(size_t w, size_t h)
    : offset(PhaseImage::createNewBuffer(w, h)), lut(LUT_SIZE) {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> small(0, 3000);
    for (size_t i = 0; i < offset->pixelCount(); ++i) {
        offset->getData()[i] = PhaseType<uint16_t>(static_cast<uint16_t>(small(rng)));
    }
    for (auto& v : lut) v = static_cast<uint16_t>(small(rng));
}

int BenchCalibration::getCalibrationData(uint32_t hz, PhaseOffsetData& data) {
    data.offsetImage = offset;
    data.calibrationTemp_C = CALIBRATION_TEMP_C;
    data.sensorTempSlope_mm_K = SLOPE_MM_K;
    data.calibratedFrequency_Hz = hz;
    return 0;
}

int BenchCalibration::getCalibrationData(uint32_t, PhaseErrorLUTData& data) {
    data.lut = std::make_unique<PhaseType<uint16_t>[]>(lut.size());
    for (size_t k = 0; k < lut.size(); ++k) data.lut[k] = PhaseType<uint16_t>(lut[k]);
    data.lutSize = lut.size();
    return 0;
}

CalibrationScope::CalibrationScope(size_t w, size_t h) : calibration(w, h) {
    auto& registry = CalibrationDataRegistry::getInstance();
    registry.registerProvider<PhaseOffsetData>(calibration);
    registry.registerProvider<PhaseErrorLUTData>(calibration);
    kyr::platform::register_log_function(&benchcount::quiet);
}

CalibrationScope::~CalibrationScope() {
    kyr::platform::register_log_function(nullptr);
    auto& registry = CalibrationDataRegistry::getInstance();
    registry.registerProvider<PhaseOffsetData>(DefaultProvider<PhaseOffsetData>::getInstance());
    registry.registerProvider<PhaseErrorLUTData>(DefaultProvider<PhaseErrorLUTData>::getInstance());
}

std::vector<std::shared_ptr<U16>> dcsFrame(size_t w, size_t h) {
    std::mt19937 rng(static_cast<unsigned>(w));
    std::uniform_real_distribution<double> phase(0.0, 6.283);
    std::uniform_real_distribution<double> amplitude(50.0, 1500.0);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<std::shared_ptr<U16>> dcs;
    for (int k = 0; k < 4; ++k) dcs.push_back(U16::createNewBuffer(w, h));
    for (size_t i = 0; i < w * h; ++i) {
        const double p = phase(rng), a = amplitude(rng);
        for (int k = 0; k < 4; ++k) {
            const double v = 2048.0 + a * std::cos(p + k * 1.5707963) + noise(rng);
            dcs[k]->getData()[i] = static_cast<uint16_t>(std::clamp(v, 0.0, 4095.0));
        }
    }
    return dcs;
}

void enableEveryFilter(FilterGraph& graph) {
    using ozr::ControlID;
    for (ControlID id : {ControlID::MEDIAN_FILTER_ENABLE, ControlID::AVERAGE_FILTER_ENABLE,
                         ControlID::TEMPORAL_FILTER_ENABLE, ControlID::KALMAN_FILTER_ENABLE,
                         ControlID::EDGE_FILTER_ENABLE, ControlID::INTERFERENCE_DETECTION_ENABLE,
                         ControlID::INTERFERENCE_ENABLE_LATCHING}) {
        graph.setControl(id, 1);
    }
}

DistanceStagesAlone::DistanceStagesAlone(const std::vector<std::shared_ptr<U16>>& frame)
    : frame(frame) {
    diff31.stage.minuend << dcs[3];
    diff31.stage.subtrahend << dcs[1];
    diff20.stage.minuend << dcsB[2];
    diff20.stage.subtrahend << dcsB[0];
    amplitude.stage.diff0 << d31[0];
    amplitude.stage.diff1 << d20[0];
    atan2.stage.nominator << d31[1];
    atan2.stage.denominator << d20[1];
    lut.stage.input << raw;
    offset.stage.input << table;
    drift.stage.phaseInput << offsetIn;
    drift.stage.tempInput << temperature;
    distance.stage.phaseInput << driftIn;

    // The inputs of each stage, as the graph hands them over.
    temperature.fire(std::make_shared<float>(TEMPERATURE_C));
    dcs[3].fire(share(frame[3]));
    dcs[1].fire(share(frame[1]));
    dcsB[2].fire(share(frame[2]));
    dcsB[0].fire(share(frame[0]));
    in31 = diff31.take();
    in20 = diff20.take();
    d31[0].fire(share(in31));
    d20[0].fire(share(in20));
    amplitudeImage = amplitude.take();
    d31[1].fire(share(in31));
    d20[1].fire(share(in20));
    inRaw = atan2.take();
    raw.fire(share(inRaw));
    inTable = lut.take();
    table.fire(share(inTable));
    inOffset = offset.take();
    offsetIn.fire(share(inOffset));
    inDrift = drift.take();
    driftIn.fire(share(inDrift));
    distanceImage = distance.take();
}

void DistanceStagesAlone::run() {
    dcs[3].fire(share(frame[3]));
    dcs[1].fire(share(frame[1]));
    dcsB[2].fire(share(frame[2]));
    dcsB[0].fire(share(frame[0]));
    benchmark::DoNotOptimize(diff31.take().get());
    benchmark::DoNotOptimize(diff20.take().get());
    d31[0].fire(share(in31));
    d20[0].fire(share(in20));
    benchmark::DoNotOptimize(amplitude.take().get());
    d31[1].fire(share(in31));
    d20[1].fire(share(in20));
    benchmark::DoNotOptimize(atan2.take().get());
    raw.fire(share(inRaw));
    benchmark::DoNotOptimize(lut.take().get());
    table.fire(share(inTable));
    benchmark::DoNotOptimize(offset.take().get());
    offsetIn.fire(share(inOffset));
    benchmark::DoNotOptimize(drift.take().get());
    driftIn.fire(share(inDrift));
    benchmark::DoNotOptimize(distance.take().get());
}

FilterStagesAlone::FilterStagesAlone(std::shared_ptr<U16> distanceIn,
                                     std::shared_ptr<U16> amplitudeIn,
                                     const std::vector<std::shared_ptr<U16>>& dcsIn)
    : distance(std::move(distanceIn)), amplitude(std::move(amplitudeIn)), dcs(dcsIn) {
    median.stage.input << medianIn;
    average.stage.input << averageIn;
    temporal.stage.input << temporalIn;
    kalman.stage.inputDistance << kalmanDist;
    kalman.stage.inputAmplitude << kalmanAmp;
    edge.stage.input << edgeIn;
    for (size_t i = 0; i < 4; ++i) {
        saturation.stage.input[i] << satIn[i];
        interference.stage.input[i] << interfIn[i];
    }
    minAmplitude.stage.amplitude << minAmpIn;
    for (size_t i = 0; i < 3; ++i) merged.stage.input[i] << mergedIn[i];
    maskedDistance.stage.image << maskedDistImage;
    maskedDistance.stage.mask << maskedDistMask;
    maskedAmplitude.stage.image << maskedAmpImage;
    maskedAmplitude.stage.mask << maskedAmpMask;
    latch.stage.input << latchIn;
    latch.stage.mask << latchMask;
    median.stage.setEnabled(true);
    average.stage.setEnabled(true);
    temporal.stage.setEnabled(true);
    kalman.stage.setEnabled(true);
    edge.stage.setEnabled(true);
    interference.stage.setEnabled(true);
    pass(true);
}

void FilterStagesAlone::run() {
    pass(false);
}

void FilterStagesAlone::pass(bool keep) {
    const auto result = [keep](auto& alone, std::shared_ptr<U16>& into) {
        auto out = alone.take();
        benchmark::DoNotOptimize(out.get());
        if (keep) into = std::move(out);
    };
    medianIn.fire(share(distance));
    result(median, medianOut);
    averageIn.fire(share(medianOut));
    result(average, averageOut);
    temporalIn.fire(share(averageOut));
    result(temporal, temporalOut);
    kalmanDist.fire(share(temporalOut));
    kalmanAmp.fire(share(amplitude));
    result(kalman, kalmanOut);
    edgeIn.fire(share(kalmanOut));
    result(edge, edgeOut);
    for (size_t i = 0; i < 4; ++i) satIn[i].fire(share(dcs[i]));
    result(saturation, satOut);
    for (size_t i = 0; i < 4; ++i) interfIn[i].fire(share(dcs[i]));
    result(interference, interfOut);
    minAmpIn.fire(share(amplitude));
    result(minAmplitude, minAmpOut);
    mergedIn[0].fire(share(satOut));
    mergedIn[1].fire(share(minAmpOut));
    mergedIn[2].fire(share(interfOut));
    result(merged, mergedOut);
    maskedDistImage.fire(share(edgeOut));
    maskedDistMask.fire(share(mergedOut));
    result(maskedDistance, maskedDistOut);
    maskedAmpImage.fire(share(amplitude));
    maskedAmpMask.fire(share(satOut));
    std::shared_ptr<U16> unused;
    result(maskedAmplitude, unused);
    latchIn.fire(share(maskedDistOut));
    latchMask.fire(share(interfOut));
    result(latch, unused);
}

}  // namespace benchchain
