// What the distance/amplitude pipelines share: the DCS-to-distance graph
// and the filter graph behind it, the outputs an application sink connects
// to, the start from the sensor's modulation frequency and the way controls
// go through the layers. NDCS is the number of DCS images the sensor source
// delivers per frame (4, or 12 in HDR).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "kyr/graphIF.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/graphs/filterGraph.h"
#include "kyr/image.h"
#include "kyr/ozrSensorPipeline.h"
#include "kyr/phaseType.h"
#include "kyr/source.h"
#include "ozr/controls.h"
#include "ozr/tofcam.h"

template <size_t NDCS>
class DistAmpPipelineBase : public OZRSensorPipeline {
public:
    static constexpr uint32_t INITIAL_MODULATION_FREQ_HZ = 10000000;

    // What an application sink connects to: outputs of the graphs and the
    // sensor source's raw DCS images.
    struct pipelineOutputs {
        Source<Image<uint16_t>>* amplitude = nullptr;
        Source<Image<uint16_t>>* distance = nullptr;
        std::array<Source<Image<uint16_t>>*, NDCS> dcs{};
        Source<Image<PhaseType<uint16_t>>>* phase = nullptr;
    };

    // `refused` and ACQUISITION_MODE other than the pipeline's mode are
    // refused (kyr::status::NOT_HANDLED). MODULATION_FREQ_HZ is set on the
    // source first and the frequency it reports goes on. Every other control
    // is offered to the front graph (if any), the DCS-to-distance graph, the
    // filter graph and the source, in that order; 0 when at least one took
    // it, else NOT_HANDLED.
    int setControl(ozr::ControlID id, int32_t value) override;
    // Answered by the first of the same layers that knows the control;
    // NOT_HANDLED when none does.
    int getControl(ozr::ControlID id, int& value) override;

    const pipelineOutputs& getOutputs() const { return outputs; }

protected:
    // Puts `source` in `mode`, starts the DCS-to-distance graph from the
    // frequency the source runs at and takes the source's raw DCS outputs.
    // `front`, when not null, is a graph before the DCS-to-distance graph
    // that the derived pipeline owns; it must be constructed already. The
    // source must outlive the pipeline.
    DistAmpPipelineBase(OZRSensorSourceIF& source, ozr::AcquisitionMode mode,
                        ozr::ControlID refused, GraphIF* front);

    // Wires the DCS-to-distance graph to the four DCS images `dcs` and the
    // source's temperature, and the filter graph behind it (its masks see
    // `dcs`), and takes distance, amplitude and phase as outputs.
    void connectDistance(Source<Image<uint16_t>>** dcs);

    pipelineOutputs outputs;
    DCS2DistAmpGraph dcsToDistAmpGraph;
    FilterGraph filterGraph;

private:
    const ozr::AcquisitionMode mode;
    const ozr::ControlID refused;
    GraphIF* const front;
};

extern template class DistAmpPipelineBase<4>;
extern template class DistAmpPipelineBase<12>;
