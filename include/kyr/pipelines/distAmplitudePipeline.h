// The pipeline of DIST_AMP: four DCS images and the sensor temperature to
// calibrated, filtered and masked distance and amplitude.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/graphs/filterGraph.h"
#include "kyr/image.h"
#include "kyr/ozrSensorPipeline.h"
#include "kyr/phaseType.h"
#include "kyr/source.h"

class DistAmplitudePipeline : public OZRSensorPipeline {
public:
    static constexpr size_t DCS_COUNT_DIST_AMP = 4;
    static constexpr uint32_t INITIAL_MODULATION_FREQ_HZ = 10000000;

    // What an application sink connects to: outputs of the graphs and of
    // the sensor source.
    struct pipelineOutputs {
        Source<Image<uint16_t>>* amplitude = nullptr;
        Source<Image<uint16_t>>* distance = nullptr;
        std::array<Source<Image<uint16_t>>*, DCS_COUNT_DIST_AMP> dcs{};
        Source<Image<PhaseType<uint16_t>>>* phase = nullptr;
    };

    // Puts `source` in DIST_AMP and takes its modulation frequency; the
    // source must outlive the pipeline.
    explicit DistAmplitudePipeline(OZRSensorSourceIF& source);
    ~DistAmplitudePipeline() override;

    // ENABLE_HDR_ROLLING_MODE and ACQUISITION_MODE other than DIST_AMP are
    // refused (kyr::status::NOT_HANDLED). MODULATION_FREQ_HZ is set on the
    // source first and the frequency it reports goes on. Every other control
    // is offered to the DCS-to-distance graph, the filter graph and the
    // source, in that order; 0 when at least one took it, else NOT_HANDLED.
    int setControl(ozr::ControlID id, int32_t value) override;
    // Answered by the first of the same layers that knows the control;
    // NOT_HANDLED when none does.
    int getControl(ozr::ControlID id, int& value) override;

    const pipelineOutputs& getOutputs() const { return outputs; }

private:
    DCS2DistAmpGraph dcsToDistAmpGraph;
    FilterGraph filterGraph;
    pipelineOutputs outputs;
};
