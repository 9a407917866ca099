// Device data into the sensor sources and the processing graphs: a fake
// video device of any frame size (0 and odd widths included) delivers any
// pixel values, and fails any request when the input says so, to an
// OZR310 or OZR320 source feeding the pipeline of one acquisition mode,
// with graph controls set from the input. Frames are captured on the
// fuzzer's thread, the way the streaming thread does.
//
// Input: model, mode, width, height, shift, up to eight (control, value)
// pairs, frame count; then the device's answers and pixel bytes as they
// are asked for.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fakeVideoDevice.h"
#include "fuzzLog.h"
#include "imageReader.h"
#include "kyr/pipelines/dcs4Pipeline.h"
#include "kyr/pipelines/distAmplitudePipeline.h"
#include "kyr/pipelines/grayscalePipeline.h"
#include "kyr/pipelines/hdrDistAmplitudePipeline.h"
#include "kyr/sources/ozr310Source.h"
#include "kyr/sources/ozr320Source.h"
#include "ozr/controls.h"

namespace {

// Frame sizes stay small so that an execution takes microseconds.
constexpr uint32_t MAX_WIDTH = 67;
constexpr uint32_t MAX_HEIGHT = 33;
constexpr int MAX_CONTROLS = 8;
constexpr int MAX_FRAMES = 4;

struct Readers {
    fuzz::ImageReader<uint16_t> distance, amplitude, grayscale;
    fuzz::ImageReader<PhaseType<uint16_t>> phase;
    fuzz::ImageReader<uint16_t> dcs[HDRDistAmplitudePipeline::NDCS];
};

template <class Outputs>
void connectDistAmp(Readers& r, const Outputs& out) {
    r.distance.connect(out.distance);
    r.amplitude.connect(out.amplitude);
    r.phase.connect(out.phase);
    for (size_t i = 0; i < out.dcs.size(); ++i) r.dcs[i].connect(out.dcs[i]);
}

std::unique_ptr<Pipeline> makePipeline(ozr::AcquisitionMode mode, OZRSensorSourceIF& source,
                                       Readers& r) {
    switch (mode) {
        case ozr::AcquisitionMode::GRAYSCALE: {
            auto p = std::make_unique<GrayscalePipeline>(source);
            r.grayscale.connect(p->getOutput());
            return p;
        }
        case ozr::AcquisitionMode::DIST_AMP_HDR: {
            auto p = std::make_unique<HDRDistAmplitudePipeline>(source);
            connectDistAmp(r, p->getOutputs());
            return p;
        }
        case ozr::AcquisitionMode::DCS4: {
            auto p = std::make_unique<DCS4Pipeline>(source);
            for (size_t i = 0; i < p->getOutputs().dcs.size(); ++i)
                r.dcs[i].connect(p->getOutputs().dcs[i]);
            return p;
        }
        default: {
            auto p = std::make_unique<DistAmplitudePipeline>(source);
            connectDistAmp(r, p->getOutputs());
            return p;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool ozr310 = in.ConsumeBool();
    static constexpr ozr::AcquisitionMode modes[] = {
        ozr::AcquisitionMode::DIST_AMP, ozr::AcquisitionMode::GRAYSCALE,
        ozr::AcquisitionMode::DIST_AMP_HDR, ozr::AcquisitionMode::DCS4};
    const ozr::AcquisitionMode mode = in.PickValueInArray(modes);
    const uint32_t width = in.ConsumeIntegralInRange<uint32_t>(0, MAX_WIDTH);
    const uint32_t height = in.ConsumeIntegralInRange<uint32_t>(0, MAX_HEIGHT);
    const uint8_t shift = in.ConsumeIntegralInRange<uint8_t>(0, 15);
    const int nControls = in.ConsumeIntegralInRange<int>(0, MAX_CONTROLS);
    struct Setting {
        ozr::ControlID id;
        int32_t value;
    } settings[MAX_CONTROLS];
    for (int i = 0; i < nControls; ++i) {
        settings[i].id = static_cast<ozr::ControlID>(in.ConsumeIntegral<uint8_t>());
        settings[i].value = in.ConsumeIntegral<int32_t>();
    }
    const int nFrames = in.ConsumeIntegralInRange<int>(1, MAX_FRAMES);

    auto device = std::make_unique<fuzz::FakeVideoDevice>(in, width, height);
    auto temp = std::make_unique<fuzz::FakeTempSensor>(in);
    std::unique_ptr<OZRSensorSourceIF> source;
    if (ozr310) {
        source = std::make_unique<OZR310Source>(std::move(device), std::move(temp), shift);
    } else {
        source = std::make_unique<OZR320Source>(std::move(device), std::move(temp), shift);
    }

    Readers readers;
    std::unique_ptr<Pipeline> pipeline = makePipeline(mode, *source, readers);
    for (int i = 0; i < nControls; ++i) {
        int value = 0;
        (void)pipeline->setControl(settings[i].id, settings[i].value);
        (void)pipeline->getControl(settings[i].id, value);
    }

    // The streaming thread's sequence for a stream of nFrames frames.
    if (source->setupStreaming() == 0 && source->fetchNext() == 0) {
        for (int f = 0; f < nFrames; ++f) {
            if (source->captureNext(f + 1 < nFrames) != 0) break;
        }
    }
    (void)source->stopStreaming();

    // A distance image has the size of the DCS images it was made of.
    for (const auto* out : {&readers.distance, &readers.amplitude}) {
        if (out->images != 0 && readers.dcs[0].images != 0 &&
            (out->lastWidth != readers.dcs[0].lastWidth ||
             out->lastHeight != readers.dcs[0].lastHeight)) {
            __builtin_trap();
        }
    }
    pipeline.reset();
    return 0;
}
