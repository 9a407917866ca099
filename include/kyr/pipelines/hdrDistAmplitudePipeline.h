// The pipeline of DIST_AMP_HDR: twelve DCS images of three exposures merged
// into four, then the path of the four-DCS pipeline to distance and
// amplitude.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "kyr/graphs/dcs12To4HDRGraph.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/graphs/filterGraph.h"
#include "kyr/image.h"
#include "kyr/ozrSensorPipeline.h"
#include "kyr/phaseType.h"
#include "kyr/source.h"

class HDRDistAmplitudePipeline : public OZRSensorPipeline {
public:
    static constexpr size_t NDCS = 12;
    static constexpr uint32_t INITIAL_MODULATION_FREQ_HZ = 10000000;

    // What an application sink connects to. The DCS images are the twelve
    // raw ones; distance, amplitude and phase come from the merged images.
    struct pipelineOutputs {
        Source<Image<uint16_t>>* amplitude = nullptr;
        Source<Image<uint16_t>>* distance = nullptr;
        std::array<Source<Image<uint16_t>>*, NDCS> dcs{};
        Source<Image<PhaseType<uint16_t>>>* phase = nullptr;
    };

    // Puts `source` in DIST_AMP_HDR and takes its modulation frequency; the
    // source must outlive the pipeline.
    explicit HDRDistAmplitudePipeline(OZRSensorSourceIF& source);
    ~HDRDistAmplitudePipeline() override;

    // ENABLE_DCS_ROLLING_MODE and ACQUISITION_MODE other than DIST_AMP_HDR
    // are refused (kyr::status::NOT_HANDLED). MODULATION_FREQ_HZ is set on
    // the source first and the frequency it reports goes on. Every other
    // control is offered to the HDR graph, the DCS-to-distance graph, the
    // filter graph and the source, in that order; 0 when at least one took
    // it, else NOT_HANDLED.
    int setControl(ozr::ControlID id, int32_t value) override;
    // Answered by the first of the same layers that knows the control;
    // NOT_HANDLED when none does.
    int getControl(ozr::ControlID id, int& value) override;

    const pipelineOutputs& getOutputs() const { return outputs; }

private:
    pipelineOutputs outputs;
    DCS12To4HDRGraph dcs12To4HDRGraph;
    DCS2DistAmpGraph dcsToDistAmpGraph;
    FilterGraph filterGraph;
};
