// The pipeline of GRAYSCALE: the grayscale image corrected for dark signal
// (DSNU) and then photo response (PRNU) non-uniformity.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/ozrSensorPipeline.h"
#include "kyr/source.h"
#include "kyr/stages/compensation/dsnuCompensation.h"
#include "kyr/stages/compensation/prnuCompensation.h"

class GrayscalePipeline : public OZRSensorPipeline {
public:
    // Puts `source` in GRAYSCALE; both compensations start switched on. The
    // source must outlive the pipeline.
    explicit GrayscalePipeline(OZRSensorSourceIF& source);
    ~GrayscalePipeline() override;

    // The two grayscale compensation switches are the pipeline's own (any
    // non-zero value is on); ACQUISITION_MODE other than GRAYSCALE is refused
    // with kyr::status::INVALID_ARGUMENT; everything else is the source's.
    int setControl(ozr::ControlID id, int32_t value) override;
    int getControl(ozr::ControlID id, int& value) override;

    // The compensated grayscale image.
    Source<Image<uint16_t>>* getOutput() { return output; }

private:
    Source<Image<uint16_t>>* output;
    DSNUCompensation dsnuCompensationStage;
    PRNUCompensation prnuCompensationStage;
};
