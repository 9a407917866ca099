#include "kyr/pipelines/distAmplitudePipeline.h"

DistAmplitudePipeline::DistAmplitudePipeline(OZRSensorSourceIF& source)
    : DistAmpPipelineBase(source, ozr::AcquisitionMode::DIST_AMP,
                          ozr::ControlID::ENABLE_HDR_ROLLING_MODE, nullptr) {
    // The masks see the raw DCS images.
    connectDistance(outputs.dcs.data());
}

DistAmplitudePipeline::~DistAmplitudePipeline() {
    // No stage may run while the graphs are torn down.
    stopStream(true);
}
