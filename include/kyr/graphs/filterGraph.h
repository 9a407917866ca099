// The last graph of both distance/amplitude pipelines: marks invalid pixels,
// smooths the distance image and writes the error codes into the results.
#pragma once

#include <cstdint>

#include "kyr/graphIF.h"
#include "kyr/image.h"
#include "kyr/source.h"
#include "kyr/stages/applyErrorMask.h"
#include "kyr/stages/filters/edgeFilter.h"
#include "kyr/stages/filters/interferenceMask.h"
#include "kyr/stages/filters/kalmanFilter.h"
#include "kyr/stages/filters/kernelFilter.h"
#include "kyr/stages/filters/latch.h"
#include "kyr/stages/filters/temporalFilter.h"
#include "kyr/stages/mergeErrorMasks.h"
#include "kyr/stages/minAmplitudeMask.h"
#include "kyr/stages/saturationMask.h"

// Distance: median -> average -> temporal -> Kalman (with the amplitude) ->
// edge filter -> merged error mask stamped in -> interference latch.
// Amplitude: saturation codes stamped in, nothing else; weak-signal and
// interference codes appear in the distance image only.
// Error mask: saturation (from the four DCS), minimum amplitude and
// interference (from the four DCS), merged.
//
// Every filter, the interference mask and the latch start switched off, so
// the distance output is the input distance with the error codes applied.
// The stages are wired to each other by address: a graph is built in place
// and never copied or moved.
class FilterGraph : public GraphIF {
public:
    static constexpr uint16_t DEFAULT_MIN_AMPLITUDE = 100;

    FilterGraph();

    FilterGraph(const FilterGraph&) = delete;
    FilterGraph& operator=(const FilterGraph&) = delete;

    // Connects the inputs, once: the distance and amplitude images and the
    // four DCS images (DCS0 to DCS3) the masks are made from. A missing
    // source is logged and leaves its inputs unconnected.
    void connect(Source<Image<uint16_t>>* distance, Source<Image<uint16_t>>* amplitude,
                 Source<Image<uint16_t>>** dcs);

    Source<Image<uint16_t>>* getAmplitudeSource() { return &maskedAmplitude; }
    Source<Image<uint16_t>>* getDistanceSource() { return &interferenceLatch; }

    // The filter and mask controls, and ENABLE_DCS_ROLLING_MODE for the
    // masks' DCS inputs (reported by the DCS-to-distance graph, not here).
    // Booleans are on for any non-zero value; 16-bit settings keep the low
    // 16 bits; TEMPORAL_FILTER_ALPHA is in percent. 0, or
    // kyr::status::NOT_HANDLED for any other control.
    int setControl(ozr::ControlID id, int32_t value) override;
    int getControl(ozr::ControlID id, int& value) override;

private:
    MedianFilter medianFilterStage;
    AverageFilter averageFilterStage;
    TemporalFilter temporalFilterStage;
    KalmanFilter kalmanFilterStage;
    EdgeFilter edgeFilterStage;
    SaturationMask<4> saturationMask;
    InterferenceMask interferenceMask;
    MinAmplitudeMask minAmplitudeMask{DEFAULT_MIN_AMPLITUDE};
    MergeErrorMasks<3> mergedErrorMask;
    ApplyErrorMask maskedAmplitude;
    ApplyErrorMask maskedDistance;
    Latch<uint16_t> interferenceLatch{false};
};
