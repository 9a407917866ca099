// The pipeline of DIST_AMP: four DCS images and the sensor temperature to
// calibrated, filtered and masked distance and amplitude.
#pragma once

#include <cstddef>

#include "kyr/pipelines/distAmpPipelineBase.h"

class DistAmplitudePipeline : public DistAmpPipelineBase<4> {
public:
    static constexpr size_t DCS_COUNT_DIST_AMP = 4;

    // Puts `source` in DIST_AMP and takes its modulation frequency; the
    // source must outlive the pipeline. ENABLE_HDR_ROLLING_MODE is refused
    // as a control; the rest is DistAmpPipelineBase::setControl.
    explicit DistAmplitudePipeline(OZRSensorSourceIF& source);
    ~DistAmplitudePipeline() override;
};
