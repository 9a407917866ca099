// The HDR graph on synthetic exposures: its control and rolling mode (the
// choice of exposure is checked end to end in the camera's tests).
#include "kyr/graphs/dcs12To4HDRGraph.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "kyr/core/stages/compensation/compensationTestUtil.h"

namespace {

using ozr::ControlID;
using testsupport::Catcher;

struct HdrRig {
    HdrRig() {
        Source<Image<uint16_t>>* dcs[12];
        for (size_t i = 0; i < 12; ++i) dcs[i] = &in[i];
        graph.connect(dcs);
        for (size_t k = 0; k < 4; ++k) {
            out.push_back(std::make_unique<Catcher<Image<uint16_t>>>(*graph.getDCSSource(k)));
        }
    }
    // Exposure e of pixel i has amplitude amp[i]: DCS0 and DCS2 lie a below
    // and above 2048, DCS1 = DCS3 = 2048 + e names the exposure.
    void fire(size_t e, const std::vector<int>& amp) {
        for (size_t k = 0; k < 4; ++k) {
            auto img = Image<uint16_t>::createNewBuffer(amp.size(), 1);
            for (size_t i = 0; i < amp.size(); ++i) {
                const int a = amp[i];
                const int v[4] = {2048 - a, 2048 + int(e), 2048 + a, 2048 + int(e)};
                img->getData()[i] = static_cast<uint16_t>(v[k]);
            }
            in[4 * e + k].fire(std::move(img));
        }
    }
    DCS12To4HDRGraph graph;
    Source<Image<uint16_t>> in[12];
    std::vector<std::unique_ptr<Catcher<Image<uint16_t>>>> out;
};

TEST(DCS12To4HDRGraph, RollingModeRemergesOnEveryExposure) {
    HdrRig rig;
    int value = -1;
    EXPECT_EQ(rig.graph.getControl(ControlID::ENABLE_HDR_ROLLING_MODE, value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(rig.graph.setControl(ControlID::ENABLE_DCS_ROLLING_MODE, 1), -1);
    for (int rolling : {0, 5}) {
        SCOPED_TRACE(rolling);
        ASSERT_EQ(rig.graph.setControl(ControlID::ENABLE_HDR_ROLLING_MODE, rolling), 0);
        EXPECT_EQ(rig.graph.getControl(ControlID::ENABLE_HDR_ROLLING_MODE, value), 0);
        EXPECT_EQ(value, rolling != 0 ? 1 : 0);
        for (size_t e = 0; e < 3; ++e) rig.fire(e, {100});
        for (auto& o : rig.out) ASSERT_TRUE(o->take());
        // A new HDR2 alone: re-merged with the held HDR1 and HDR3 only in
        // rolling mode; there HDR2 now wins.
        rig.fire(1, {900});
        const auto img = rig.out[1]->take();
        ASSERT_EQ(img != nullptr, rolling != 0);
        if (img) {
            EXPECT_EQ(img->getData()[0], 2049);
        }
    }
}

}  // namespace
