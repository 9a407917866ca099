// The pipeline of DIST_AMP_HDR: twelve DCS images of three exposures merged
// into four, then the path of the four-DCS pipeline to distance and
// amplitude.
#pragma once

#include <cstddef>

#include "kyr/graphs/dcs12To4HDRGraph.h"
#include "kyr/pipelines/distAmpPipelineBase.h"

// The merging graph, in a base of its own so that it is built before and
// torn down after the graphs it feeds.
struct HDRMergeGraphHolder {
    DCS12To4HDRGraph dcs12To4HDRGraph;
};

// The DCS outputs are the twelve raw images; distance, amplitude and phase
// come from the merged ones.
class HDRDistAmplitudePipeline : private HDRMergeGraphHolder, public DistAmpPipelineBase<12> {
public:
    static constexpr size_t NDCS = 12;

    // Puts `source` in DIST_AMP_HDR and takes its modulation frequency; the
    // source must outlive the pipeline. ENABLE_DCS_ROLLING_MODE is refused
    // as a control; every other one goes to the HDR graph first, then as in
    // DistAmpPipelineBase::setControl.
    explicit HDRDistAmplitudePipeline(OZRSensorSourceIF& source);
    ~HDRDistAmplitudePipeline() override;
};
