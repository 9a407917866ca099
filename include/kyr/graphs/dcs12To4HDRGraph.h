// Merges the twelve DCS images of one HDR acquisition (four for each of three
// integration times) into one set of four DCS images.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kyr/graphIF.h"
#include "kyr/image.h"
#include "kyr/source.h"
#include "kyr/stages/amplitude.h"
#include "kyr/stages/applyErrorMask.h"
#include "kyr/stages/hdrSelectionMask.h"
#include "kyr/stages/saturationMask.h"
#include "kyr/stages/stitch.h"
#include "kyr/stages/subtract.h"

// Exposure e (0 = HDR1, 1 = HDR2, 2 = HDR3) owns DCS 4e ... 4e+3. Per pixel,
// merged DCSk is DCSk of the exposure with the largest amplitude among those
// whose four samples are neither 0 nor 4095; ties go to the earlier exposure,
// and HDR1 is taken when every exposure is saturated.
//
// The stages are wired to each other by address: a graph is built in place
// and never copied or moved.
class DCS12To4HDRGraph : public GraphIF {
public:
    static constexpr size_t EXPOSURES = 3;
    static constexpr size_t DCS_COUNT_HDR = 12;
    static constexpr size_t DCS_COUNT_MERGED = 4;

    DCS12To4HDRGraph();

    DCS12To4HDRGraph(const DCS12To4HDRGraph&) = delete;
    DCS12To4HDRGraph& operator=(const DCS12To4HDRGraph&) = delete;

    // Connects the inputs, once: `dcs` points to the twelve DCS sources,
    // index 0 to 11. A missing source is logged and leaves its inputs
    // unconnected.
    void connect(Source<Image<uint16_t>>** dcs);

    // The merged DCSi, i = 0 ... 3.
    Source<Image<uint16_t>>* getDCSSource(size_t i) { return &stitch_dcs[i]; }

    // ENABLE_HDR_ROLLING_MODE only (any non-zero value is on); 0, or
    // kyr::status::NOT_HANDLED for any other control.
    int setControl(ozr::ControlID id, int32_t value) override;
    int getControl(ozr::ControlID id, int& value) override;

    // Rolling mode re-merges as soon as the images of any one exposure are
    // new, with the most recent data of the other two.
    void setRollingMode(bool enable);

private:
    Subtract diff_2_0Stages;
    Subtract diff_3_1Stages;
    Subtract diff_6_4Stages;
    Subtract diff_7_5Stages;
    Subtract diff_10_8Stages;
    Subtract diff_11_9Stages;
    Amplitude amplitude[EXPOSURES];
    SaturationMask<4> saturationMask[EXPOSURES];
    ApplyErrorMask maskedAmplitude[EXPOSURES];
    HDRSelectionMask<EXPOSURES> hdrMask;
    Stitch<EXPOSURES, uint16_t> stitch_dcs[DCS_COUNT_MERGED];
    bool rollingModeEnabled = false;
};
