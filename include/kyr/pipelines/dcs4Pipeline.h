// The raw DCS pipeline: the four DCS images of the sensor source, unprocessed.
#pragma once

#include <array>

#include "kyr/image.h"
#include "kyr/ozrSensorPipeline.h"
#include "kyr/source.h"

class DCS4Pipeline : public OZRSensorPipeline {
public:
    static constexpr size_t DCS_COUNT_DCS4 = 4;

    struct pipelineOutputs {
        std::array<Source<Image<uint16_t>>*, DCS_COUNT_DCS4> dcs{};
    };

    explicit DCS4Pipeline(OZRSensorSourceIF& source);
    ~DCS4Pipeline() override;

    int setControl(ozr::ControlID id, int32_t value) override;
    int getControl(ozr::ControlID id, int& value) override;

    const pipelineOutputs& getOutputs() const { return outputs; }

private:
    pipelineOutputs outputs;
};
