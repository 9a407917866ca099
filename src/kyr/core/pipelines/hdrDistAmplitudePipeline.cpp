#include "kyr/pipelines/hdrDistAmplitudePipeline.h"

HDRDistAmplitudePipeline::HDRDistAmplitudePipeline(OZRSensorSourceIF& source)
    : DistAmpPipelineBase(source, ozr::AcquisitionMode::DIST_AMP_HDR,
                          ozr::ControlID::ENABLE_DCS_ROLLING_MODE, &dcs12To4HDRGraph) {
    dcs12To4HDRGraph.connect(outputs.dcs.data());
    Source<Image<uint16_t>>* merged[DCS12To4HDRGraph::DCS_COUNT_MERGED];
    for (size_t j = 0; j < DCS12To4HDRGraph::DCS_COUNT_MERGED; ++j) {
        merged[j] = dcs12To4HDRGraph.getDCSSource(j);
    }
    // The masks see the merged DCS images; the frame keeps the raw ones.
    connectDistance(merged);
}

HDRDistAmplitudePipeline::~HDRDistAmplitudePipeline() {
    // No stage may run while the graphs are torn down.
    stopStream(true);
}
