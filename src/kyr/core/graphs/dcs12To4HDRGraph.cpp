#include "kyr/graphs/dcs12To4HDRGraph.h"

#include <cstdio>

#include "kyr/platform.h"
#include "kyr/status.h"

DCS12To4HDRGraph::DCS12To4HDRGraph() {
    // Per exposure: amplitude from its two differences, stamped with its
    // saturation mask; the selection mask picks an exposure per pixel and
    // every stitch takes its DCS from there.
    Subtract* diff31[EXPOSURES] = {&diff_3_1Stages, &diff_7_5Stages, &diff_11_9Stages};
    Subtract* diff20[EXPOSURES] = {&diff_2_0Stages, &diff_6_4Stages, &diff_10_8Stages};
    for (size_t e = 0; e < EXPOSURES; ++e) {
        amplitude[e].diff0 << *diff31[e];
        amplitude[e].diff1 << *diff20[e];
    }
    for (size_t e = 0; e < EXPOSURES; ++e) {
        maskedAmplitude[e].image << amplitude[e];
        maskedAmplitude[e].mask << saturationMask[e];
        hdrMask.amplitude[e] << maskedAmplitude[e];
    }
    for (auto& stitch : stitch_dcs) {
        stitch.inMask << hdrMask;
    }

    diff_2_0Stages.setName("Subtract (DCS2-0)");
    diff_3_1Stages.setName("Subtract (DCS3-1)");
    diff_6_4Stages.setName("Subtract (DCS6-4)");
    diff_7_5Stages.setName("Subtract (DCS7-5)");
    diff_10_8Stages.setName("Subtract (DCS10-8)");
    diff_11_9Stages.setName("Subtract (DCS11-9)");
    char name[StageBase::NAME_LENGTH];
    for (size_t e = 0; e < EXPOSURES; ++e) {
        std::snprintf(name, sizeof(name), "Amplitude (HDR%zu)", e + 1);
        amplitude[e].setName(name);
        std::snprintf(name, sizeof(name), "Sat. Mask (HDR%zu)", e + 1);
        saturationMask[e].setName(name);
        std::snprintf(name, sizeof(name), "Apply Errors (HDR%zu)", e + 1);
        maskedAmplitude[e].setName(name);
    }
    hdrMask.setName("HDRSelectionMask");
    for (size_t k = 0; k < DCS_COUNT_MERGED; ++k) {
        std::snprintf(name, sizeof(name), "Stitch (sDCS%zu)", k);
        stitch_dcs[k].setName(name);
    }
}

void DCS12To4HDRGraph::connect(Source<Image<uint16_t>>** dcs) {
    if (dcs == nullptr) {
        KYR_LOG_ERROR("DCS12To4HDRGraph: no DCS sources to connect");
        return;
    }
    auto attach = [dcs](Input<Image<uint16_t>>& input, size_t index) {
        if (dcs[index] == nullptr) {
            KYR_LOG_ERROR("DCS12To4HDRGraph: DCS source %zu is missing", index);
            return;
        }
        input.registerDependency(dcs[index]);
    };
    // Minuend before subtrahend, the pairs in member order.
    struct Pair {
        Subtract* stage;
        size_t minuend;
        size_t subtrahend;
    };
    const Pair pairs[] = {{&diff_2_0Stages, 2, 0},   {&diff_3_1Stages, 3, 1},
                          {&diff_6_4Stages, 6, 4},   {&diff_7_5Stages, 7, 5},
                          {&diff_10_8Stages, 10, 8}, {&diff_11_9Stages, 11, 9}};
    for (const Pair& p : pairs) {
        attach(p.stage->minuend, p.minuend);
        attach(p.stage->subtrahend, p.subtrahend);
    }
    for (size_t k = 0; k < DCS_COUNT_MERGED; ++k) {
        for (size_t e = 0; e < EXPOSURES; ++e) {
            attach(saturationMask[e].input[k], 4 * e + k);
        }
    }
    for (size_t k = 0; k < DCS_COUNT_MERGED; ++k) {
        for (size_t e = 0; e < EXPOSURES; ++e) {
            attach(stitch_dcs[k].amplitude[e], 4 * e + k);
        }
        // Registered again after the DCS: the mask arrow still exists once.
        stitch_dcs[k].inMask << hdrMask;
    }
}

int DCS12To4HDRGraph::setControl(ozr::ControlID id, int32_t value) {
    if (id != ozr::ControlID::ENABLE_HDR_ROLLING_MODE) {
        return kyr::status::NOT_HANDLED;
    }
    setRollingMode(value != 0);
    return 0;
}

int DCS12To4HDRGraph::getControl(ozr::ControlID id, int& value) {
    if (id != ozr::ControlID::ENABLE_HDR_ROLLING_MODE) {
        return kyr::status::NOT_HANDLED;
    }
    value = rollingModeEnabled ? 1 : 0;
    return 0;
}

void DCS12To4HDRGraph::setRollingMode(bool enable) {
    for (auto& input : hdrMask.amplitude) {
        input.setBuffered(enable);
    }
    for (auto& stitch : stitch_dcs) {
        for (auto& input : stitch.amplitude) {
            input.setBuffered(enable);
        }
    }
    rollingModeEnabled = enable;
}
