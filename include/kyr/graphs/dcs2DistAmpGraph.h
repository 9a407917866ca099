// The fixed wiring from the four DCS images of one modulation period (and
// the sensor temperature) to amplitude, compensated phase and distance.
#pragma once

#include <cstdint>

#include "kyr/graphIF.h"
#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/source.h"
#include "kyr/stages/amplitude.h"
#include "kyr/stages/atan2CORDIC.h"
#include "kyr/stages/compensation/linearTempCompensation.h"
#include "kyr/stages/compensation/phaseErrorLUTCompensation.h"
#include "kyr/stages/compensation/phaseOffsetCompensation.h"
#include "kyr/stages/compensation/phaseToDistance.h"
#include "kyr/stages/subtract.h"

// amplitude = 0.5 * sqrt((DCS3 - DCS1)^2 + (DCS2 - DCS0)^2)
// phase     = atan2(DCS3 - DCS1, DCS2 - DCS0), then the phase error table,
//             the phase offset image and the temperature drift are removed,
// distance  = phase converted to millimetres for the modulation frequency.
class DCS2DistAmpGraph : public GraphIF {
public:
    explicit DCS2DistAmpGraph(uint32_t modulationFrequencyHz);

    DCS2DistAmpGraph(const DCS2DistAmpGraph&) = delete;
    DCS2DistAmpGraph& operator=(const DCS2DistAmpGraph&) = delete;

    // Connects the inputs, once: `dcs` points to the four DCS sources, index
    // 0 to 3; `temperature` publishes the sensor temperature in Celsius. A
    // missing source is logged and leaves its input unconnected.
    void connect(Source<Image<uint16_t>>** dcs, Source<float>* temperature);

    Source<Image<uint16_t>>* getAmplitudeSource() { return &amplitudeStage; }
    Source<Image<uint16_t>>* getDistanceSource() { return &phaseToDistStage; }
    // The phase after the phase error table and the phase offset, before the
    // temperature compensation.
    Source<Image<PhaseType<uint16_t>>>* getPhaseSource() { return &phaseOffsetStage; }

    // MODULATION_FREQ_HZ, ENABLE_DCS_ROLLING_MODE and the three
    // ENABLE_*_COMPENSATION controls (any non-zero value is on); 0, or
    // kyr::status::NOT_HANDLED for any other control.
    int setControl(ozr::ControlID id, int32_t value) override;
    int getControl(ozr::ControlID id, int& value) override;

    // Rolling mode recomputes as soon as any one DCS image is new, with the
    // most recent images of the other three.
    void setRollingMode(bool enable);

private:
    uint32_t modulationFrequencyHz;
    Subtract diffStages[2];  // [0] DCS3 - DCS1, [1] DCS2 - DCS0
    Amplitude amplitudeStage;
    Atan2CORDIC<int16_t> atan2Stage;
    PhaseOffsetCompensation phaseOffsetStage;
    PhaseErrorLUTCompensation phaseErrorLUTStage;
    LinearTempCompensation tempCompensationStage;
    PhaseToDistance phaseToDistStage;
    bool rollingModeEnabled = false;
};
